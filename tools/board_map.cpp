// The board address map's regions and transfer areas, laid out from the library's map.
#include "board_map.h"

namespace vexotool {
namespace {

namespace map = vexo::map;

constexpr MapRegion InternalBlock(std::uint32_t first, const char* name) {
    // Internal memory is reached at the board address itself.
    return {first, first + map::kIntBlockSize - 1, RegionKind::InternalMemory, first, name};
}

// Block `block` of the I/O area: its lower half reaches the ports, its upper half nothing.
constexpr MapRegion IoBlock(std::uint32_t block) {
    const std::uint32_t first = map::kIoAreaFirst + block * map::kIoBlockSize;
    const bool range1 = block < map::kIoBlocksPerRange;
    return {first, first + map::kPortsPerIoBlock - 1,
            range1 ? RegionKind::IoRange1 : RegionKind::IoRange2,
            block % map::kIoBlocksPerRange * map::kPortsPerIoBlock,
            range1 ? "I/O range 1" : "I/O range 2"};
}

static_assert(map::kUnmappedIoBlock == 5, "the table below leaves out block 5");

const TransferArea kTransferAreas[] = {
    // The internal memory's 64 KiB run on into the I/O area.
    {map::kIntBlock0First, map::kIoAreaLast, "internal memory and I/O area"},
    {map::kExtMemFirst, map::kExtMemLast, "external memory"},
};

}  // namespace

const MapRegion kMapRegions[kMapRegionCount] = {
    InternalBlock(map::kIntBlock0First, "internal memory block 0"),
    InternalBlock(map::kIntBlock1First, "internal memory block 1"),
    InternalBlock(map::kIntBlock2First, "internal memory block 2"),
    IoBlock(0),
    IoBlock(1),
    IoBlock(2),
    IoBlock(3),
    IoBlock(4),
    IoBlock(6),
    IoBlock(7),
    {map::kExtMemFirst, map::kExtMemLast, RegionKind::ExternalMemory, 0, "external memory"},
};

const TransferArea* FindTransferArea(std::uint32_t address) {
    for (const TransferArea& area : kTransferAreas) {
        if (address >= area.first && address <= area.last) return &area;
    }
    return nullptr;
}

}  // namespace vexotool
