// The board address map: every 32-bit board address an application names leads to one byte of
// the internal or external memory window, to one port of I/O range 1 or 2, or nowhere. The map
// is fixed (its layout is in address_map_layout.h); only the two window addresses and the two
// port bases come from cVexoOpen. Nothing is cached: every element of a transfer is translated
// anew.
//
// The two translations run for every element of every transfer, so they are defined here,
// inline, where the element loops see them; every caller includes this header.
#pragma once

#include <cstdint>

#include "address_map_layout.h"
#include "board_context.h"

namespace vexo::map {

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
