// The board address map as the tool presents and checks it, laid out from the library's map
// (address_map_layout.h): the regions to print, and the areas a transfer may start and run in.
#pragma once

#include <cstdint>

#include "address_map_layout.h"

namespace vexotool {

enum class RegionKind { InternalMemory, ExternalMemory, IoRange1, IoRange2 };

// One stretch of board addresses that leads somewhere.
struct MapRegion {
    std::uint32_t first, last;  // board addresses, inclusive
    RegionKind kind;
    std::uint32_t offset;  // window offset or port offset that `first` reaches
    const char* name;
};

// Three internal memory blocks, the seven I/O blocks that map, the external memory.
constexpr int kMapRegionCount = 11;
extern const MapRegion kMapRegions[kMapRegionCount];

// A stretch in which a transfer may start and run.
struct TransferArea {
    std::uint32_t first, last;
    const char* name;
};

// The area holding `address`, or null when no transfer may start there.
const TransferArea* FindTransferArea(std::uint32_t address);

// The three 256-byte blocks of internal memory and the 16 MiB of external memory.
constexpr std::uint32_t kInternalBlocks[3] = {
    vexo::map::kIntBlock0First, vexo::map::kIntBlock1First, vexo::map::kIntBlock2First};
constexpr std::uint32_t kInternalBlockSize = vexo::map::kIntBlockSize;
constexpr std::uint32_t kExternalFirst = vexo::map::kExtMemFirst;
constexpr std::uint32_t kExternalSize = vexo::map::kExtMemLast - vexo::map::kExtMemFirst + 1;

}  // namespace vexotool
