// The board address map as the tool presents and checks it. These are the library's fixed
// constants; the tool repeats them to print the map and to refuse a transfer before it starts.
#pragma once

#include <cstdint>

namespace vexotool {

enum class RegionKind { InternalMemory, ExternalMemory, IoRange1, IoRange2 };

// One stretch of board addresses that leads somewhere.
struct MapRegion {
    std::uint32_t first, last;  // board addresses, inclusive
    RegionKind kind;
    std::uint32_t offset;  // window offset or port offset that `first` reaches
    const char* name;
};

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
constexpr std::uint32_t kInternalBlocks[3] = {0x0000, 0x8000, 0xC000};
constexpr std::uint32_t kInternalBlockSize = 0x100;
constexpr std::uint32_t kExternalFirst = 0x08000000u;
constexpr std::uint32_t kExternalSize = 0x01000000u;

}  // namespace vexotool
