// The board address map's layout: which board addresses lead to the internal memory, the I/O
// ranges and the external memory. The addresses applications name are published in VexoDLL.h
// and taken from there; the rest of the layout is the library's own. The library translates
// with it (lib/address_map.h); the tool prints it and checks transfers against it.
#pragma once

#include <cstdint>

#include "VexoDLL.h"

namespace vexo::map {

// Internal memory: three blocks of 256 bytes, reached at window offset = board address.
constexpr std::uint32_t kIntBlock0First = VEXO_INTMEM_BLOCK0;
constexpr std::uint32_t kIntBlock1First = VEXO_INTMEM_BLOCK1;
constexpr std::uint32_t kIntBlock2First = VEXO_INTMEM_BLOCK2;
constexpr std::uint32_t kIntBlockSize = VEXO_INTMEM_BLOCK_SIZE;

// The I/O area: I/O range 1 and I/O range 2 in eight blocks of 128 board addresses.
constexpr std::uint32_t kIoAreaFirst = VEXO_IO1_AREA;
constexpr std::uint32_t kIoAreaLast = VEXO_IO_AREA_END;

// External memory: 16 MiB, reached at window offset = board address - kExtMemFirst.
constexpr std::uint32_t kExtMemFirst = VEXO_EXTMEM_START;
constexpr std::uint32_t kExtMemLast = VEXO_EXTMEM_START + VEXO_EXTMEM_SIZE - 1;

// No transfer reaches a board address above this one.
constexpr std::uint32_t kMapLimit = VEXO_MAP_LIMIT;
static_assert(kMapLimit == kExtMemLast, "the external memory ends the map");

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

// The published addresses of the I/O ranges follow the same layout.
static_assert(VEXO_IO2_AREA == kIoAreaFirst + kIoBlocksPerRange * kIoBlockSize,
              "I/O range 2 starts at block 4");
static_assert(kIoAreaLast == kIoAreaFirst + 2 * kIoBlocksPerRange * kIoBlockSize - 1,
              "the I/O area is eight blocks");
static_assert(VEXO_IO_ADDRESS(VEXO_IO1_AREA, kPortsPerIoBlock) == kIoAreaFirst + kIoBlockSize,
              "each block carries 64 ports");

}  // namespace vexo::map
