// The x86 instructions the simulated machine performs in place of the CPU, decoded: port
// instructions, and the library's loads and stores of a window when window accesses are traced.
// Pure functions of the bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexo::sim::vxd {

// One decoded in/out instruction.
struct PortInstruction {
    bool isInput;
    bool prefixed;  // 0x66 present
    bool viaDx;     // the port is DX, not an immediate byte
    int width;      // bits
    std::uint16_t port;
    std::uint32_t length;  // bytes, prefix included
};

constexpr std::uint8_t kOperandSizePrefix = 0x66;
constexpr std::size_t kLongestPortInstruction = 3;  // 66 E5 ib

// Decodes the instruction in the `available` bytes at `code`; false for anything that is not a
// port instruction or does not fit. Bytes past the opcode are read only for a port instruction.
//   E4 ib / E5 ib   in al/eax, imm8        EC / ED   in al/eax, dx
//   E6 ib / E7 ib   out imm8, al/eax       EE / EF   out dx, al/eax
// A 0x66 prefix turns the eax forms into ax forms; the byte forms ignore it, as the CPU does.
inline bool DecodePortInstruction(const std::uint8_t* code, std::size_t available,
                                  std::uint32_t edx, PortInstruction* out) {
    std::uint32_t at = 0;
    if (available == 0) return false;
    const bool operand16 = code[at] == kOperandSizePrefix;
    if (operand16 && ++at == available) return false;
    const std::uint8_t opcode = code[at++];
    const bool immediate = opcode >= 0xE4 && opcode <= 0xE7;
    const bool viaDx = opcode >= 0xEC && opcode <= 0xEF;
    if (!immediate && !viaDx) return false;
    if (immediate && at == available) return false;
    const bool wide = (opcode & 1u) != 0;
    out->isInput = (opcode & 2u) == 0;
    out->prefixed = operand16;
    out->viaDx = viaDx;
    out->width = !wide ? 8 : (operand16 ? 16 : 32);
    out->port = immediate ? code[at++] : static_cast<std::uint16_t>(edx);
    out->length = at;
    return true;
}

// EAX after an input of `width` bits: the bytes the input does not write keep their value.
inline std::uint32_t MergeIntoEax(std::uint32_t eax, std::uint32_t value, int width) {
    if (width == 8) return (eax & 0xFFFFFF00u) | (value & 0xFFu);
    if (width == 16) return (eax & 0xFFFF0000u) | (value & 0xFFFFu);
    return value;
}

// One decoded load or store of a window: the forms a compiler emits for a load through a pointer
// in EAX into EAX, and a store of EDX through a pointer in EAX.
//   8B 00  mov eax, [eax]              89 10     mov [eax], edx
//   0F B7 00  movzx eax, word [eax]    66 89 10  mov [eax], dx
//   0F B6 00  movzx eax, byte [eax]    88 10     mov [eax], dl
struct WindowInstruction {
    bool isLoad;
    int width;  // bits
    std::uint32_t length;
};

constexpr std::size_t kLongestWindowInstruction = 3;

// Decodes the instruction in the `available` bytes at `code`; false for any other.
inline bool DecodeWindowInstruction(const std::uint8_t* code, std::size_t available,
                                    WindowInstruction* out) {
    struct Form {
        std::uint8_t bytes[3];
        std::uint32_t length;
        bool isLoad;
        int width;
    };
    static constexpr Form kForms[] = {
        {{0x8B, 0x00}, 2, true, 32},        {{0x0F, 0xB7, 0x00}, 3, true, 16},
        {{0x0F, 0xB6, 0x00}, 3, true, 8},   {{0x89, 0x10}, 2, false, 32},
        {{0x66, 0x89, 0x10}, 3, false, 16}, {{0x88, 0x10}, 2, false, 8},
    };
    // Byte by byte, stopping at the first that differs: no byte past the instruction is read.
    for (const Form& form : kForms) {
        std::uint32_t same = 0;
        while (same < form.length && same < available && code[same] == form.bytes[same]) ++same;
        if (same == form.length) {
            *out = {form.isLoad, form.width, form.length};
            return true;
        }
    }
    return false;
}

}  // namespace vexo::sim::vxd
