// The instruction decoders: pure functions of the bytes of the x86 instructions the module meets.
//
// The instructions the simulated machine performs in place of the CPU: port instructions, and the
// library's loads and stores of a window when window accesses are traced; the accessor functions
// around them, whose calls are redirected (accessor_calls.h); and the memory operand of any
// instruction, for faults reported without the address they touched.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// ---- accessor functions ----------------------------------------------------------------------
//
// Compiled code reaches ports and windows through small accessor functions: load the port (and for
// an output the value) or the address (and for a store the value) from the stack, one port or
// window instruction, or a run of the same port instruction, then ret.

// The port instructions a run goes on through, after a trap or in an accessor: the forms compilers
// emit for port access. A prefixed byte form is left to a trap of its own.
inline bool BatchableForm(const PortInstruction& instruction) {
    return !(instruction.prefixed && instruction.width == 8);
}

// How an accessor loads a register from one of its stack arguments.
enum class Load : std::uint8_t { None, Dword, Word, Byte };

// A register as an accessor loads it, or not at all.
struct RegisterLoad {
    Load load = Load::None;
    int argument = 0;  // 0: [esp+4], 1: [esp+8]
};

// The register's value after `load` of `argument`.
inline std::uint32_t AsLoaded(Load load, std::uint32_t argument) {
    if (load == Load::Word) return argument & 0xFFFFu;
    if (load == Load::Byte) return argument & 0xFFu;
    return argument;
}

constexpr std::size_t kLongestAccessorLoads = 10;
constexpr std::uint32_t kLongestAccessorRun = 64;  // identical port instructions in a row
constexpr std::size_t kLongestAccessorInstruction =
    std::max(kLongestPortInstruction, kLongestWindowInstruction);
constexpr std::size_t kLongestAccessor =
    kLongestAccessorLoads + kLongestAccessorRun * kLongestAccessorInstruction + 1;
constexpr std::uint8_t kRet = 0xC3;

// A decoded accessor. Three kinds:
//   port:         port (argument 0) into EDX, for an output the value (argument 1) into EAX;
//                 a port instruction through DX, or a run of the same one (a pause's reads)
//   window load:  address (argument 0) into EAX; a load through EAX into EAX
//   window store: address (argument 0) into EAX, value (argument 1) into EDX; a store of EDX
struct AccessorForm {
    std::uint32_t length;  // bytes, ret included
    bool isPort;
    PortInstruction port;  // the port comes from EDX at each call
    std::uint32_t repeat;  // times the port instruction follows itself
    WindowInstruction window;
    RegisterLoad eax;
    RegisterLoad edx;
};

namespace accessor_detail {

struct LoadForm {
    std::uint8_t bytes[5];
    std::uint8_t length;
    bool intoEdx;  // else EAX
    int argument;
    Load load;
};

// The loads an accessor may start with, each register loaded at most once, in either order.
constexpr LoadForm kLoadForms[] = {
    {{0x8B, 0x54, 0x24, 0x04}, 4, true, 0, Load::Dword},        // mov edx, [esp+4]
    {{0x0F, 0xB7, 0x54, 0x24, 0x04}, 5, true, 0, Load::Word},   // movzx edx, word [esp+4]
    {{0x8B, 0x54, 0x24, 0x08}, 4, true, 1, Load::Dword},        // mov edx, [esp+8]
    {{0x0F, 0xB7, 0x54, 0x24, 0x08}, 5, true, 1, Load::Word},   // movzx edx, word [esp+8]
    {{0x0F, 0xB6, 0x54, 0x24, 0x08}, 5, true, 1, Load::Byte},   // movzx edx, byte [esp+8]
    {{0x8B, 0x44, 0x24, 0x04}, 4, false, 0, Load::Dword},       // mov eax, [esp+4]
    {{0x8B, 0x44, 0x24, 0x08}, 4, false, 1, Load::Dword},       // mov eax, [esp+8]
    {{0x0F, 0xB7, 0x44, 0x24, 0x08}, 5, false, 1, Load::Word},  // movzx eax, word [esp+8]
    {{0x0F, 0xB6, 0x44, 0x24, 0x08}, 5, false, 1, Load::Byte},  // movzx eax, byte [esp+8]
};

inline bool LoadsArgument(const RegisterLoad& r, int argument) {
    return r.load != Load::None && r.argument == argument;
}

// Whether the loads before the instruction are the ones its kind needs (see AccessorForm).
inline bool LoadsFit(const AccessorForm& a) {
    const bool none = a.eax.load == Load::None, noEdx = a.edx.load == Load::None;
    if (a.isPort)
        return LoadsArgument(a.edx, 0) && (a.port.isInput ? none : LoadsArgument(a.eax, 1));
    if (!LoadsArgument(a.eax, 0) || a.eax.load != Load::Dword) return false;
    return a.window.isLoad ? noEdx : LoadsArgument(a.edx, 1);
}

// How many times the `length` bytes at `code` follow each other before `end`, at most
// kLongestAccessorRun.
inline std::uint32_t Repeats(const std::uint8_t* code, std::uint32_t length,
                             const std::uint8_t* end) {
    std::uint32_t repeat = 1;
    while (repeat < kLongestAccessorRun && code + (repeat + 1) * length <= end &&
           std::memcmp(code, code + repeat * length, length) == 0) {
        ++repeat;
    }
    return repeat;
}

}  // namespace accessor_detail

// Decodes the accessor in the `available` bytes at `start` whose port or window instruction is
// `loadsLength` bytes in: loads only up to it, then a port instruction through DX (the prefixed
// byte forms aside) or a run of it, or a window instruction, then ret. False for anything else.
inline bool DecodeAccessor(const std::uint8_t* start, std::size_t loadsLength,
                           std::size_t available, AccessorForm* out) {
    using namespace accessor_detail;
    *out = AccessorForm{};
    out->repeat = 1;
    if (loadsLength > available) return false;
    const std::uint8_t* at = start;
    const std::uint8_t* end = start + loadsLength;
    const std::uint8_t* last = start + available;
    while (at < end) {
        const LoadForm* form = nullptr;
        for (const LoadForm& candidate : kLoadForms) {
            if (candidate.length <= end - at &&
                std::memcmp(at, candidate.bytes, candidate.length) == 0) {
                form = &candidate;
            }
        }
        if (form == nullptr) return false;
        RegisterLoad& target = form->intoEdx ? out->edx : out->eax;
        if (target.load != Load::None) return false;
        target = {form->load, form->argument};
        at += form->length;
    }
    const std::size_t instructionBytes =
        std::min<std::size_t>(kLongestAccessorInstruction, last - end);
    std::uint32_t length = 0;
    if (DecodePortInstruction(end, instructionBytes, 0, &out->port)) {
        if (!out->port.viaDx || !BatchableForm(out->port)) return false;
        out->isPort = true;
        out->repeat = Repeats(end, out->port.length, last);
        length = out->port.length * out->repeat;
    } else if (DecodeWindowInstruction(end, instructionBytes, &out->window)) {
        length = out->window.length;
    } else {
        return false;
    }
    if (!LoadsFit(*out) || end + length >= last || end[length] != kRet) return false;
    out->length = static_cast<std::uint32_t>(loadsLength) + length + 1;
    return true;
}

// ---- the memory operand of any faulting instruction ------------------------------------------
//
// Where the system reports a fault without the address it touched (an emulated i386 CPU reports
// every access fault as an illegal instruction), the address comes from the instruction itself.

// The general registers in the CPU's encoding order.
enum GeneralRegister { kEax, kEcx, kEdx, kEbx, kEsp, kEbp, kEsi, kEdi };

// Which segment an access goes through: every one but FS and GS is flat in a Win32 process, so
// the default segment (SS for an EBP or ESP base, DS otherwise) adds nothing.
enum class Segment { kFlat, kFs, kGs };

struct MemoryAccess {
    std::uint32_t offset;  // within the segment
    Segment segment;
    bool store;  // writes without reading first; an access that reads (first) is a load
};

// The accesses of one instruction: one, or two for a string instruction (source first).
struct MemoryAccesses {
    MemoryAccess access[2];
    int count;
};

namespace decoding {

constexpr bool IsPrefix(std::uint8_t b) {
    return b == 0xF0 || b == 0xF2 || b == 0xF3 || b == 0x26 || b == 0x2E || b == 0x36 ||
           b == 0x3E || b == 0x64 || b == 0x65 || b == kOperandSizePrefix || b == 0x67;
}

// One-byte opcodes with a ModRM byte whose memory form touches memory (lea does not).
constexpr bool HasMemoryModRm(std::uint8_t op) {
    if (op < 0x40) return (op & 7u) < 4;
    return op == 0x62 || op == 0x63 || op == 0x69 || op == 0x6B ||
           (op >= 0x80 && op <= 0x8F && op != 0x8D) || op == 0xC0 || op == 0xC1 || op == 0xC4 ||
           op == 0xC5 || op == 0xC6 || op == 0xC7 || (op >= 0xD0 && op <= 0xD3) ||
           (op >= 0xD8 && op <= 0xDF) || op == 0xF6 || op == 0xF7 || op == 0xFE || op == 0xFF;
}

// Two-byte opcodes (after 0F) with a ModRM byte whose memory form touches memory: all but the
// ones without ModRM and the hints that never fault (prefetch, nop r/m).
constexpr bool HasMemoryModRm0F(std::uint8_t op) {
    const bool noModRm = (op >= 0x05 && op <= 0x0C) || op == 0x0E || (op >= 0x30 && op <= 0x3F) ||
                         op == 0x77 || (op >= 0x80 && op <= 0x8F) || (op >= 0xA0 && op <= 0xA2) ||
                         (op >= 0xA8 && op <= 0xAA) || (op >= 0xC8 && op <= 0xCF);
    const bool hint = op == 0x0D || (op >= 0x18 && op <= 0x1F);
    return !noModRm && !hint;
}

// Whether a one-byte opcode's memory form only writes. x87: the stores of D9, DB, DD and DF by
// their ModRM reg field.
constexpr bool OnlyWrites(std::uint8_t op, int reg) {
    switch (op) {
        case 0x88:
        case 0x89:
        case 0x8C:
        case 0x8F:
        case 0xC6:
        case 0xC7:
            return true;
        case 0xD9:
            return reg == 2 || reg == 3 || reg == 6 || reg == 7;
        case 0xDB:
            return reg == 1 || reg == 2 || reg == 3 || reg == 7;
        case 0xDD:
        case 0xDF:
            return reg == 1 || reg == 2 || reg == 3 || reg == 6 || reg == 7;
        default:
            return false;
    }
}

// The same after 0F: SSE and MMX stores, setcc, movnti, fxsave and stmxcsr.
constexpr bool OnlyWrites0F(std::uint8_t op, int reg, bool repPrefix) {
    if (op >= 0x90 && op <= 0x9F) return true;
    if (op == 0x7E) return !repPrefix;  // F3 0F 7E is a load (movq xmm, m64)
    if (op == 0xAE) return reg == 0 || reg == 3;
    return op == 0x11 || op == 0x13 || op == 0x17 || op == 0x29 || op == 0x2B || op == 0x7F ||
           op == 0xC3 || op == 0xD6 || op == 0xE7;
}

// A little-endian 32-bit displacement or offset.
constexpr std::uint32_t Dword(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Reads the ModRM operand's offset at `code` (the ModRM byte); false for a register operand or
// bytes that do not fit.
inline bool ModRmOffset(const std::uint8_t* code, std::size_t available,
                        const std::uint32_t (&registers)[8], std::uint32_t* offset) {
    if (available < 1) return false;
    const int mod = code[0] >> 6, rm = code[0] & 7;
    if (mod == 3) return false;
    std::size_t at = 1;
    std::uint32_t address = 0;
    bool disp32 = mod == 2;
    if (rm == kEsp) {
        if (available < 2) return false;
        const std::uint8_t sib = code[at++];
        const int scale = sib >> 6, index = (sib >> 3) & 7, base = sib & 7;
        if (index != kEsp) address = registers[index] << scale;
        if (base == kEbp && mod == 0) {
            disp32 = true;
        } else {
            address += registers[base];
        }
    } else if (rm == kEbp && mod == 0) {
        disp32 = true;
    } else {
        address = registers[rm];
    }
    if (mod == 1) {
        if (available < at + 1) return false;
        address += static_cast<std::uint32_t>(
            static_cast<std::int32_t>(static_cast<std::int8_t>(code[at])));
    } else if (disp32) {
        if (available < at + 4) return false;
        address += Dword(code + at);
    }
    *offset = address;
    return true;
}

}  // namespace decoding

constexpr std::size_t kLongestX86Instruction = 15;  // bytes, prefixes included

// Decodes the memory accesses of the instruction in the `available` bytes at `code`, with the
// registers as the CPU had them: every ModRM form of 32-bit addressing, the moffs forms of mov,
// xlat, and the string instructions. False for an instruction without a memory operand, 16-bit
// addressing (0x67), or bytes that do not fit.
inline bool DecodeMemoryAccesses(const std::uint8_t* code, std::size_t available,
                                 const std::uint32_t (&registers)[8], MemoryAccesses* out) {
    std::size_t at = 0;
    Segment segment = Segment::kFlat;
    bool repPrefix = false;
    for (; at < available && decoding::IsPrefix(code[at]); ++at) {
        if (code[at] == 0x67) return false;
        if (code[at] == 0x64) segment = Segment::kFs;
        if (code[at] == 0x65) segment = Segment::kGs;
        if (code[at] == 0xF3) repPrefix = true;
        if (code[at] == 0x26 || code[at] == 0x2E || code[at] == 0x36 || code[at] == 0x3E) {
            segment = Segment::kFlat;
        }
    }
    if (at >= available) return false;
    const std::uint8_t op = code[at++];
    out->count = 1;
    MemoryAccess& first = out->access[0];
    first.segment = segment;
    if (op == 0x0F) {
        if (at >= available) return false;
        const std::uint8_t op2 = code[at++];
        if (op2 == 0x38 || op2 == 0x3A) {
            if (at++ >= available) return false;  // the third opcode byte
        } else if (!decoding::HasMemoryModRm0F(op2)) {
            return false;
        }
        const int reg = at < available ? (code[at] >> 3) & 7 : 0;
        first.store = op2 != 0x38 && op2 != 0x3A && decoding::OnlyWrites0F(op2, reg, repPrefix);
        return decoding::ModRmOffset(code + at, available - at, registers, &first.offset);
    }
    if (decoding::HasMemoryModRm(op)) {
        const int reg = at < available ? (code[at] >> 3) & 7 : 0;
        first.store = decoding::OnlyWrites(op, reg);
        return decoding::ModRmOffset(code + at, available - at, registers, &first.offset);
    }
    if (op >= 0xA0 && op <= 0xA3) {  // mov al/eax, moffs and back
        if (available < at + 4) return false;
        first.offset = decoding::Dword(code + at);
        first.store = op >= 0xA2;
        return true;
    }
    if (op == 0xD7) {  // xlat: [ebx + al]
        first.offset = registers[kEbx] + (registers[kEax] & 0xFFu);
        first.store = false;
        return true;
    }
    // String instructions: the source at DS:ESI (overridable), the destination at ES:EDI.
    const MemoryAccess source = {registers[kEsi], segment, false};
    const MemoryAccess destination = {registers[kEdi], Segment::kFlat, false};
    switch (op) {
        case 0xA4:
        case 0xA5:  // movs
            out->access[0] = source;
            out->access[1] = destination;
            out->access[1].store = true;
            out->count = 2;
            return true;
        case 0xA6:
        case 0xA7:  // cmps
            out->access[0] = source;
            out->access[1] = destination;
            out->count = 2;
            return true;
        case 0xAA:
        case 0xAB:  // stos
            out->access[0] = destination;
            out->access[0].store = true;
            return true;
        case 0xAC:
        case 0xAD:  // lods
            out->access[0] = source;
            return true;
        case 0xAE:
        case 0xAF:  // scas
            out->access[0] = destination;
            return true;
        default:
            return false;
    }
}

}  // namespace vexo::sim::vxd
