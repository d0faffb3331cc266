// The decoder of a faulting instruction's memory operand, which the driver module relies on where
// faults arrive without the address they touched. Every ModRM and SIB form of 32-bit addressing
// is checked against the CPU itself: the offset decoded for `mov eax, [operand]` must be what
// `lea eax, [operand]` computes from the same registers. The other forms (prefixes, segments,
// stores, moffs, strings) and what the decoder refuses are checked from a table.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "emulated_instructions.h"

namespace {

using vexo::sim::vxd::DecodeMemoryAccesses;
using vexo::sim::vxd::MemoryAccesses;
using vexo::sim::vxd::Segment;
using Bytes = std::vector<std::uint8_t>;

// Distinct in every byte, so that a wrong register, scale or sign shows. ESP is the real stack
// pointer's low half, whatever it is when `lea` runs.
constexpr std::uint32_t kRegisters[8] = {0x10203041u, 0x2A000302u, 0x30050003u, 0x47000104u,
                                         0u,          0x6000F066u, 0x70C00707u, 0x8000F808u};
constexpr std::uint8_t kDisp8 = 0x90;  // -112
constexpr std::uint32_t kDisp32 = 0xF0E0D0C0u;

// `lea eax, [operand]` with 32-bit addressing (prefix 0x67) in generated code, run on this
// 64-bit CPU with the general registers loaded as kRegisters.
class LeaOnThisCpu {
  public:
    LeaOnThisCpu() {
        page_ = mmap(nullptr, kSize, PROT_READ | PROT_WRITE | PROT_EXEC,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    ~LeaOnThisCpu() {
        if (page_ != MAP_FAILED) munmap(page_, kSize);
    }
    bool Ready() const { return page_ != MAP_FAILED; }

    struct Result {
        std::uint32_t offset;
        std::uint32_t esp;
        std::uint32_t nextInstruction;  // where the lea ends, for the one EIP-relative form
    };

    Result Run(const Bytes& operand) {
        Bytes code = {0x53, 0x55};  // push rbx; push rbp
        for (int r = 0; r < 8; ++r) {
            if (r == vexo::sim::vxd::kEsp) continue;
            code.push_back(static_cast<std::uint8_t>(0xB8 + r));  // mov r32, imm32
            for (int b = 0; b < 4; ++b) code.push_back(kRegisters[r] >> (8 * b) & 0xFF);
        }
        code.insert(code.end(), {0x41, 0x89, 0xE0});  // mov r8d, esp
        code.insert(code.end(), {0x67, 0x8D});        // lea eax, [operand]
        code.insert(code.end(), operand.begin(), operand.end());
        const std::size_t next = code.size();
        code.insert(code.end(), {0x49, 0xC1, 0xE0, 0x20,  // shl r8, 32
                                 0x89, 0xC0,              // mov eax, eax
                                 0x4C, 0x09, 0xC0,        // or rax, r8
                                 0x5D, 0x5B, 0xC3});      // pop rbp; pop rbx; ret
        std::memcpy(page_, code.data(), code.size());
        std::uint64_t (*lea)() = nullptr;
        std::memcpy(&lea, &page_, sizeof lea);
        const std::uint64_t both = lea();
        const auto base = reinterpret_cast<std::uintptr_t>(page_);
        return {static_cast<std::uint32_t>(both), static_cast<std::uint32_t>(both >> 32),
                static_cast<std::uint32_t>(base + next)};
    }

  private:
    static constexpr std::size_t kSize = 4096;
    void* page_;
};

// Every memory operand of 32-bit addressing with the ModRM reg field 0: mod 0-2, each r/m, and
// for r/m 4 every SIB byte, followed by the displacement its form takes.
std::vector<Bytes> EveryMemoryOperand() {
    std::vector<Bytes> operands;
    for (int mod = 0; mod < 3; ++mod) {
        for (int rm = 0; rm < 8; ++rm) {
            const auto modrm = static_cast<std::uint8_t>(mod << 6 | rm);
            for (int sib = 0; sib < (rm == 4 ? 256 : 1); ++sib) {
                Bytes operand = {modrm};
                if (rm == 4) operand.push_back(static_cast<std::uint8_t>(sib));
                const bool noBase = mod == 0 && (rm == 4 ? (sib & 7) == 5 : rm == 5);
                if (mod == 1) operand.push_back(kDisp8);
                if (mod == 2 || noBase) {
                    for (int b = 0; b < 4; ++b) operand.push_back(kDisp32 >> (8 * b) & 0xFF);
                }
                operands.push_back(operand);
            }
        }
    }
    return operands;
}

bool Decode(const Bytes& instruction, const std::uint32_t (&registers)[8], MemoryAccesses* out) {
    // Exactly the instruction's bytes on the heap: a read past them is a sanitizer error.
    const std::vector<std::uint8_t> exact(instruction);
    return DecodeMemoryAccesses(exact.data(), exact.size(), registers, out);
}

TEST(MemoryOperand, EveryAddressingFormGivesTheOffsetTheCpuComputes) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the generated lea is x86-64 code";
#endif
    LeaOnThisCpu cpu;
    ASSERT_TRUE(cpu.Ready());
    int checked = 0;
    for (const Bytes& operand : EveryMemoryOperand()) {
        const LeaOnThisCpu::Result lea = cpu.Run(operand);
        std::uint32_t registers[8];
        std::memcpy(registers, kRegisters, sizeof registers);
        registers[vexo::sim::vxd::kEsp] = lea.esp;
        // In 64-bit mode mod 0 r/m 5 counts from the next instruction; 32-bit code reads it as
        // the absolute displacement alone.
        const bool eipRelative = operand[0] == 0x05;
        const std::uint32_t expected = eipRelative ? lea.offset - lea.nextInstruction : lea.offset;

        Bytes mov = {0x8B};  // mov eax, [operand]
        mov.insert(mov.end(), operand.begin(), operand.end());
        MemoryAccesses decoded = {};
        ASSERT_TRUE(Decode(mov, registers, &decoded)) << "ModRM " << int{operand[0]};
        EXPECT_EQ(decoded.count, 1);
        EXPECT_EQ(decoded.access[0].offset, expected)
            << "ModRM " << int{operand[0]} << (operand.size() > 1 ? " SIB " : "")
            << (operand.size() > 1 ? int{operand[1]} : 0);
        EXPECT_FALSE(decoded.access[0].store);
        // Cut anywhere, the instruction is refused without a byte past the cut being read.
        for (std::size_t cut = 0; cut < mov.size(); ++cut) {
            EXPECT_FALSE(Decode(Bytes(mov.begin(), mov.begin() + cut), registers, &decoded));
        }
        ++checked;
    }
    EXPECT_EQ(checked, 3 * 7 + 3 * 256);
}

TEST(MemoryOperand, InstructionFormsGiveTheirAccessesSegmentsAndDirections) {
    constexpr std::uint32_t r[8] = {0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000, 0x7000, 0x8000};
    struct Access {
        std::uint32_t offset;
        Segment segment;
        bool store;
    };
    struct Form {
        const char* name;
        Bytes bytes;
        std::vector<Access> accesses;
    };
    const Segment flat = Segment::kFlat;
    const Form forms[] = {
        {"mov eax, [eax]", {0x8B, 0x00}, {{0x1000, flat, false}}},
        {"mov [eax], edx", {0x89, 0x10}, {{0x1000, flat, true}}},
        {"mov [eax], dx", {0x66, 0x89, 0x10}, {{0x1000, flat, true}}},
        {"mov [eax], dl", {0x88, 0x10}, {{0x1000, flat, true}}},
        {"mov byte [ecx+4], 0x12", {0xC6, 0x41, 0x04, 0x12}, {{0x2004, flat, true}}},
        {"movzx eax, byte [esi]", {0x0F, 0xB6, 0x06}, {{0x7000, flat, false}}},
        {"lock add [ebx], eax", {0xF0, 0x01, 0x03}, {{0x4000, flat, false}}},
        {"push dword [edx]", {0xFF, 0x32}, {{0x3000, flat, false}}},
        {"fstp dword [eax]", {0xD9, 0x18}, {{0x1000, flat, true}}},
        {"fld dword [eax]", {0xD9, 0x00}, {{0x1000, flat, false}}},
        {"sete [edi]", {0x0F, 0x94, 0x07}, {{0x8000, flat, true}}},
        {"movups [eax], xmm0", {0x0F, 0x11, 0x00}, {{0x1000, flat, true}}},
        {"movd [eax], xmm0", {0x66, 0x0F, 0x7E, 0x00}, {{0x1000, flat, true}}},
        {"movq xmm0, [eax]", {0xF3, 0x0F, 0x7E, 0x00}, {{0x1000, flat, false}}},
        {"pshufb xmm0, [eax]", {0x66, 0x0F, 0x38, 0x00, 0x00}, {{0x1000, flat, false}}},
        {"mov eax, fs:[0x18]", {0x64, 0xA1, 0x18, 0, 0, 0}, {{0x18, Segment::kFs, false}}},
        {"mov [0x12345678], eax", {0xA3, 0x78, 0x56, 0x34, 0x12}, {{0x12345678, flat, true}}},
        {"mov eax, gs:[eax]", {0x65, 0x8B, 0x00}, {{0x1000, Segment::kGs, false}}},
        {"mov eax, fs:ds:[eax]", {0x64, 0x3E, 0x8B, 0x00}, {{0x1000, flat, false}}},
        {"xlat", {0xD7}, {{0x4000, flat, false}}},
        {"rep movsd", {0xF3, 0xA5}, {{0x7000, flat, false}, {0x8000, flat, true}}},
        {"fs: movsb", {0x64, 0xA4}, {{0x7000, Segment::kFs, false}, {0x8000, flat, true}}},
        {"repe cmpsb", {0xF3, 0xA6}, {{0x7000, flat, false}, {0x8000, flat, false}}},
        {"rep stosd", {0xF3, 0xAB}, {{0x8000, flat, true}}},
        {"lodsb", {0xAC}, {{0x7000, flat, false}}},
        {"scasb", {0xAE}, {{0x8000, flat, false}}},
        // No memory access: a register operand, lea, a prefetch hint, a port instruction, a
        // 16-bit address, bare prefixes.
        {"mov eax, eax", {0x8B, 0xC0}, {}},
        {"lea eax, [eax]", {0x8D, 0x00}, {}},
        {"prefetchnta [eax]", {0x0F, 0x18, 0x00}, {}},
        {"in al, dx", {0xEC}, {}},
        {"mov eax, [bx+si]", {0x67, 0x8B, 0x00}, {}},
        {"nop", {0x90}, {}},
        {"prefixes only", {0x66, 0xF3}, {}},
    };
    for (const Form& form : forms) {
        MemoryAccesses decoded = {};
        const bool found = Decode(form.bytes, r, &decoded);
        ASSERT_EQ(found, !form.accesses.empty()) << form.name;
        if (!found) continue;
        ASSERT_EQ(decoded.count, static_cast<int>(form.accesses.size())) << form.name;
        for (int i = 0; i < decoded.count; ++i) {
            EXPECT_EQ(decoded.access[i].offset, form.accesses[i].offset) << form.name;
            EXPECT_EQ(decoded.access[i].segment, form.accesses[i].segment) << form.name;
            EXPECT_EQ(decoded.access[i].store, form.accesses[i].store) << form.name;
        }
    }
}

}  // namespace
