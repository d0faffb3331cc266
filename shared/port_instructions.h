// The x86 port instructions, inline, for 32-bit Windows code: the library's port access and the
// tests that drive trapped port instructions use the same forms. The port always goes in DX, as
// it does for a port known only at run time, even where a constant would fit in the instruction.
#pragma once

#include <cstdint>

namespace vexo::port_instructions {

inline std::uint8_t In8(std::uint16_t port) {
    std::uint8_t value;
    asm volatile("inb %w1, %b0" : "=a"(value) : "d"(port));
    return value;
}

inline std::uint16_t In16(std::uint16_t port) {
    std::uint16_t value;
    asm volatile("inw %w1, %w0" : "=a"(value) : "d"(port));
    return value;
}

inline std::uint32_t In32(std::uint16_t port) {
    std::uint32_t value;
    asm volatile("inl %w1, %0" : "=a"(value) : "d"(port));
    return value;
}

inline void Out8(std::uint16_t port, std::uint8_t value) {
    asm volatile("outb %b0, %w1" : : "a"(value), "d"(port));
}

inline void Out16(std::uint16_t port, std::uint16_t value) {
    asm volatile("outw %w0, %w1" : : "a"(value), "d"(port));
}

inline void Out32(std::uint16_t port, std::uint32_t value) {
    asm volatile("outl %0, %w1" : : "a"(value), "d"(port));
}

}  // namespace vexo::port_instructions
