// The board address map: every 32-bit board address an application names leads to one byte of
// the internal or external memory window, to one port of I/O range 1 or 2, or nowhere. The map
// is fixed; only the two window addresses and the two port bases come from cVexoOpen. Nothing is
// cached: every element of a transfer is translated anew.
//
// The two translations run for every element of every transfer, so they are defined here,
// inline, where the element loops see them; every caller includes this header.
#pragma once

#include <cstdint>

#include "board_context.h"

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

// The I/O area is eight blocks of 128 board addresses. In a block that maps, the lower 64
// addresses are 64 consecutive ports and the upper 64 lead nowhere. Blocks 0-3 carry I/O range 1
// (ports 0x00-0xFF), blocks 4-7 I/O range 2, whose block 5 leads nowhere: its ports 0x40-0x7F
// have no board address.
constexpr std::uint32_t kIoBlockSize = 0x80;
constexpr std::uint32_t kPortsPerIoBlock = 0x40;
constexpr std::uint32_t kIoBlocksPerRange = 4;
constexpr std::uint32_t kUnmappedIoBlock = 5;

inline bool InRange(std::uint32_t address, std::uint32_t first, std::uint32_t last) {
    return address - first <= last - first;
}

}  // namespace vexo::map

namespace vexo {

inline std::uint32_t BoardContext::MapMemoryAddress(std::uint32_t address) {
    using map::InRange;
    // Internal memory is reached at the board address itself, not at its distance from the
    // block's start: 0x8000 is window offset 0x8000.
    if (InRange(address, map::kIntBlock0First, map::kIntBlock0First + map::kIntBlockSize - 1) ||
        InRange(address, map::kIntBlock1First, map::kIntBlock1First + map::kIntBlockSize - 1) ||
        InRange(address, map::kIntBlock2First, map::kIntBlock2First + map::kIntBlockSize - 1)) {
        return intMemWindow + address;
    }
    if (InRange(address, map::kExtMemFirst, map::kExtMemLast)) {
        const std::uint32_t windowAddress = extMemWindow + (address - map::kExtMemFirst);
        // The external memory needs time between accesses: every translation into it pauses.
        AccessPause();
        return windowAddress;
    }
    return kNotMapped;
}

inline std::uint32_t BoardContext::MapIoAddress(std::uint32_t address) const {
    if (!map::InRange(address, map::kIoAreaFirst, map::kIoAreaLast)) return kNotMapped;
    const std::uint32_t offset = address - map::kIoAreaFirst;
    if (offset % map::kIoBlockSize >= map::kPortsPerIoBlock) return kNotMapped;
    const std::uint32_t block = offset / map::kIoBlockSize;
    if (block == map::kUnmappedIoBlock) return kNotMapped;
    const std::uint32_t base = block < map::kIoBlocksPerRange ? io1Base : io2Base;
    const std::uint32_t portOffset =
        (block % map::kIoBlocksPerRange) * map::kPortsPerIoBlock + offset % map::kPortsPerIoBlock;
    return base + portOffset;
}

}  // namespace vexo
