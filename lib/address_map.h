// Constants of the board address map, shared by the map's translations and the block transfers.
// All bounds are inclusive.
#pragma once

#include <cstdint>

namespace vexo::map {

// Internal memory: three blocks of 256 bytes, reached at window offset = board address.
constexpr std::uint32_t kIntBlock0First = 0x0000;
constexpr std::uint32_t kIntBlock1First = 0x8000;
constexpr std::uint32_t kIntBlock2First = 0xC000;
constexpr std::uint32_t kIntBlockSize = 0x100;

// The I/O area: I/O range 1 and I/O range 2 in eight blocks of 128 board addresses.
constexpr std::uint32_t kIoAreaFirst = 0x10000;
constexpr std::uint32_t kIoAreaLast = 0x103FF;

// External memory: 16 MiB, reached at window offset = board address - kExtMemFirst.
constexpr std::uint32_t kExtMemFirst = 0x08000000;
constexpr std::uint32_t kExtMemLast = 0x08FFFFFF;

// No transfer reaches a board address above this one.
constexpr std::uint32_t kMapLimit = kExtMemLast;

// Port reads that make up one AccessPause.
constexpr int kPauseReads = 50;

}  // namespace vexo::map
