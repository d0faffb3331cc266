// The three set-up registers cVexoOpen writes once the memory windows are known: one 32-bit port
// write each, at a fixed offset from the base of an I/O range. The library writes them from
// here; the tool checks from here where a pair of I/O bases would send them.
#pragma once

#include <cstdint>

namespace vexo::set_up {

enum class IoRange { First, Second };

struct SetUpWrite {
    IoRange range;         // whose base the offset is added to
    std::uint32_t offset;  // ports past that base
    std::uint32_t value;   // written as one 32-bit access
};

// In the order the library writes them.
constexpr SetUpWrite kWrites[3] = {
    {IoRange::First, 0xC4, 0x0000000Eu},
    {IoRange::Second, 0x00, 0x6B19D4A7u},
    {IoRange::Second, 0x10, 0x00018000u},
};

// Bytes one write covers.
constexpr std::uint32_t kWriteBytes = 4;

}  // namespace vexo::set_up
