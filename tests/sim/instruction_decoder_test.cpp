// The instruction decoders the driver module relies on, each fed exactly the bytes of an
// instruction on the heap, so that a read past them is a sanitizer error.
//
// The decoder of a faulting instruction's memory operand, used where faults arrive without the
// address they touched: every ModRM and SIB form of 32-bit addressing is checked against the CPU
// itself (the offset decoded for `mov eax, [operand]` must be what `lea eax, [operand]` computes
// from the same registers); the other forms (prefixes, segments, stores, moffs, strings) and what
// the decoder refuses are checked from a table. The port, window and accessor decoders are checked
// from tables of the forms they take and the ones they must refuse.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "emulated_instructions.h"

namespace {

using vexo::sim::vxd::AccessorForm;
using vexo::sim::vxd::DecodeAccessor;
using vexo::sim::vxd::DecodeMemoryAccesses;
using vexo::sim::vxd::DecodePortInstruction;
using vexo::sim::vxd::DecodeWindowInstruction;
using vexo::sim::vxd::Load;
using vexo::sim::vxd::MemoryAccesses;
using vexo::sim::vxd::PortInstruction;
using vexo::sim::vxd::Segment;
using vexo::sim::vxd::WindowInstruction;
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

TEST(PortInstruction, FormsGiveDirectionWidthPortAndLength) {
    struct Form {
        const char* name;
        Bytes bytes;
        bool isInput;
        int width;
        std::uint16_t port;
        std::uint32_t length;
    };
    constexpr std::uint32_t kEdx = 0x1234D004u;  // only DX is the port
    const Form forms[] = {
        {"in al, 0x12", {0xE4, 0x12}, true, 8, 0x12, 2},
        {"in eax, 0x34", {0xE5, 0x34}, true, 32, 0x34, 2},
        {"in ax, 0x34", {0x66, 0xE5, 0x34}, true, 16, 0x34, 3},
        {"out 0x80, al", {0xE6, 0x80}, false, 8, 0x80, 2},
        {"in al, dx", {0xEC}, true, 8, 0xD004, 1},
        {"in eax, dx", {0xED}, true, 32, 0xD004, 1},
        {"in ax, dx", {0x66, 0xED}, true, 16, 0xD004, 2},
        {"out dx, eax", {0xEF}, false, 32, 0xD004, 1},
        {"out dx, ax", {0x66, 0xEF}, false, 16, 0xD004, 2},
        {"66 out dx, al: the prefix changes nothing", {0x66, 0xEE}, false, 8, 0xD004, 2},
    };
    for (const Form& form : forms) {
        const Bytes exact(form.bytes);
        PortInstruction decoded = {};
        ASSERT_TRUE(DecodePortInstruction(exact.data(), exact.size(), kEdx, &decoded)) << form.name;
        EXPECT_EQ(decoded.isInput, form.isInput) << form.name;
        EXPECT_EQ(decoded.width, form.width) << form.name;
        EXPECT_EQ(decoded.port, form.port) << form.name;
        EXPECT_EQ(decoded.length, form.length) << form.name;
        EXPECT_EQ(decoded.viaDx, form.bytes.back() >= 0xEC) << form.name;
        for (std::size_t cut = 0; cut < exact.size(); ++cut) {
            const Bytes shorter(exact.begin(), exact.begin() + cut);
            EXPECT_FALSE(DecodePortInstruction(shorter.data(), cut, kEdx, &decoded)) << form.name;
        }
    }
    const Bytes others[] = {{0x90}, {0x8B, 0x00}, {0x66, 0x66, 0xEC}, {0xE8, 0, 0, 0, 0}};
    for (const Bytes& other : others) {
        PortInstruction decoded = {};
        EXPECT_FALSE(DecodePortInstruction(other.data(), other.size(), kEdx, &decoded));
    }
}

TEST(PortInstruction, InputKeepsTheBytesOfEaxItDoesNotWrite) {
    EXPECT_EQ(vexo::sim::vxd::MergeIntoEax(0x11223344u, 0xFFFFFFABu, 8), 0x112233ABu);
    EXPECT_EQ(vexo::sim::vxd::MergeIntoEax(0x11223344u, 0xFFFFABCDu, 16), 0x1122ABCDu);
    EXPECT_EQ(vexo::sim::vxd::MergeIntoEax(0x11223344u, 0xA1B2C3D4u, 32), 0xA1B2C3D4u);
}

TEST(WindowInstruction, DecodesTheCompilersFormsOnly) {
    struct Form {
        Bytes bytes;
        bool isLoad;
        int width;
    };
    const Form forms[] = {
        {{0x8B, 0x00}, true, 32},  {{0x0F, 0xB7, 0x00}, true, 16},  {{0x0F, 0xB6, 0x00}, true, 8},
        {{0x89, 0x10}, false, 32}, {{0x66, 0x89, 0x10}, false, 16}, {{0x88, 0x10}, false, 8},
    };
    for (const Form& form : forms) {
        const Bytes exact(form.bytes);
        WindowInstruction decoded = {};
        ASSERT_TRUE(DecodeWindowInstruction(exact.data(), exact.size(), &decoded));
        EXPECT_EQ(decoded.isLoad, form.isLoad);
        EXPECT_EQ(decoded.width, form.width);
        EXPECT_EQ(decoded.length, exact.size());
        for (std::size_t cut = 0; cut < exact.size(); ++cut) {
            const Bytes shorter(exact.begin(), exact.begin() + cut);
            EXPECT_FALSE(DecodeWindowInstruction(shorter.data(), cut, &decoded));
        }
    }
    // Other registers or addressing: mov eax, [ecx]; mov [eax], ecx; mov eax, [eax+4].
    const Bytes others[] = {{0x8B, 0x01}, {0x89, 0x08}, {0x8B, 0x40, 0x04}, {0x0F, 0xBF, 0x00}};
    for (const Bytes& other : others) {
        WindowInstruction decoded = {};
        EXPECT_FALSE(DecodeWindowInstruction(other.data(), other.size(), &decoded));
    }
}

// The accessor in `bytes`, its port or window instruction `loads` bytes in.
bool DecodeAccessorIn(const Bytes& bytes, std::size_t loads, AccessorForm* out) {
    const Bytes exact(bytes);
    return DecodeAccessor(exact.data(), loads, exact.size(), out);
}

Bytes Repeated(std::uint8_t byte, std::size_t times) {
    return Bytes(times, byte);
}

Bytes Concatenated(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kPortIntoEdx = {0x8B, 0x54, 0x24, 0x04};     // mov edx, [esp+4]
const Bytes kAddressIntoEax = {0x8B, 0x44, 0x24, 0x04};  // mov eax, [esp+4]
const Bytes kRet = {0xC3};

TEST(Accessor, PortAccessorsGiveTheirLoadsInstructionAndRun) {
    AccessorForm a = {};
    // in al, dx
    ASSERT_TRUE(DecodeAccessorIn(Concatenated({kPortIntoEdx, {0xEC}, kRet}), 4, &a));
    EXPECT_TRUE(a.isPort);
    EXPECT_TRUE(a.port.isInput);
    EXPECT_EQ(a.port.width, 8);
    EXPECT_EQ(a.repeat, 1u);
    EXPECT_EQ(a.length, 6u);
    EXPECT_EQ(a.edx.load, Load::Dword);
    EXPECT_EQ(a.edx.argument, 0);
    EXPECT_EQ(a.eax.load, Load::None);

    // Value loaded first, then the port: movzx eax, word [esp+8]; movzx edx, word [esp+4];
    // out dx, ax.
    const Bytes out16 = {0x0F, 0xB7, 0x44, 0x24, 0x08, 0x0F, 0xB7, 0x54, 0x24, 0x04, 0x66, 0xEF};
    ASSERT_TRUE(DecodeAccessorIn(Concatenated({out16, kRet}), 10, &a));
    EXPECT_FALSE(a.port.isInput);
    EXPECT_EQ(a.port.width, 16);
    EXPECT_EQ(a.eax.load, Load::Word);
    EXPECT_EQ(a.eax.argument, 1);
    EXPECT_EQ(a.edx.load, Load::Word);
    EXPECT_EQ(a.length, 13u);
    EXPECT_EQ(vexo::sim::vxd::AsLoaded(a.eax.load, 0x1234ABCDu), 0xABCDu);
    EXPECT_EQ(vexo::sim::vxd::AsLoaded(Load::Byte, 0x1234ABCDu), 0xCDu);

    // A pause: a run of reads of one port, counted up to its end.
    ASSERT_TRUE(DecodeAccessorIn(Concatenated({kPortIntoEdx, Repeated(0xEC, 12), kRet}), 4, &a));
    EXPECT_EQ(a.repeat, 12u);
    EXPECT_EQ(a.length, 4u + 12u + 1u);
    // A run longer than the longest one is none.
    EXPECT_FALSE(DecodeAccessorIn(Concatenated({kPortIntoEdx, Repeated(0xEC, 70), kRet}), 4, &a));
}

TEST(Accessor, WindowAccessorsGiveTheirLoadsAndInstruction) {
    AccessorForm a = {};
    // mov eax, [eax]
    ASSERT_TRUE(DecodeAccessorIn(Concatenated({kAddressIntoEax, {0x8B, 0x00}, kRet}), 4, &a));
    EXPECT_FALSE(a.isPort);
    EXPECT_TRUE(a.window.isLoad);
    EXPECT_EQ(a.window.width, 32);
    EXPECT_EQ(a.length, 7u);
    // movzx edx, word [esp+8]; mov [eax], dx
    const Bytes store16 = {0x0F, 0xB7, 0x54, 0x24, 0x08, 0x66, 0x89, 0x10};
    ASSERT_TRUE(DecodeAccessorIn(Concatenated({kAddressIntoEax, store16, kRet}), 9, &a));
    EXPECT_FALSE(a.window.isLoad);
    EXPECT_EQ(a.window.width, 16);
    EXPECT_EQ(a.edx.load, Load::Word);
    EXPECT_EQ(a.edx.argument, 1);
}

TEST(Accessor, RefusesWhatIsNoAccessor) {
    const Bytes valueIntoEax = {0x8B, 0x44, 0x24, 0x08};  // mov eax, [esp+8]
    const Bytes valueIntoEdx = {0x8B, 0x54, 0x24, 0x08};  // mov edx, [esp+8]
    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t loads;
    };
    const Case cases[] = {
        {"in without the port loaded", Concatenated({{0xEC}, kRet}), 0},
        {"out without the value loaded", Concatenated({kPortIntoEdx, {0xEE}, kRet}), 4},
        {"in with EAX loaded", Concatenated({kPortIntoEdx, valueIntoEax, {0xEC}, kRet}), 8},
        {"immediate port", Concatenated({kPortIntoEdx, {0xE4, 0x12}, kRet}), 4},
        {"prefixed byte form", Concatenated({kPortIntoEdx, {0x66, 0xEC}, kRet}), 4},
        {"EDX loaded twice", Concatenated({kPortIntoEdx, kPortIntoEdx, {0xEC}, kRet}), 8},
        {"instruction inside a load", Concatenated({kPortIntoEdx, {0xEC}, kRet}), 3},
        {"another load", Concatenated({{0x8B, 0x4C, 0x24, 0x04}, {0xEC}, kRet}), 4},
        {"no ret", Concatenated({kPortIntoEdx, {0xEC, 0x90}}), 4},
        {"ret past the readable bytes", Concatenated({kPortIntoEdx, {0xEC}}), 4},
        {"loads past the readable bytes", kPortIntoEdx, 5},
        {"window load with EDX loaded",
         Concatenated({kAddressIntoEax, valueIntoEdx, {0x8B, 0x00}, kRet}), 8},
        {"window store without the value", Concatenated({kAddressIntoEax, {0x89, 0x10}, kRet}), 4},
        {"window address not a dword",
         Concatenated({{0x0F, 0xB6, 0x44, 0x24, 0x08}, {0x8B, 0x00}, kRet}), 5},
    };
    for (const Case& c : cases) {
        AccessorForm a = {};
        EXPECT_FALSE(DecodeAccessorIn(c.bytes, c.loads, &a)) << c.name;
    }
}

}  // namespace
