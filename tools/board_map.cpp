#include "board_map.h"

namespace vexotool {

const MapRegion kMapRegions[kMapRegionCount] = {
    {0x00000, 0x000FF, RegionKind::InternalMemory, 0x0000, "internal memory block 0"},
    {0x08000, 0x080FF, RegionKind::InternalMemory, 0x8000, "internal memory block 1"},
    {0x0C000, 0x0C0FF, RegionKind::InternalMemory, 0xC000, "internal memory block 2"},
    {0x10000, 0x1003F, RegionKind::IoRange1, 0x00, "I/O range 1"},
    {0x10080, 0x100BF, RegionKind::IoRange1, 0x40, "I/O range 1"},
    {0x10100, 0x1013F, RegionKind::IoRange1, 0x80, "I/O range 1"},
    {0x10180, 0x101BF, RegionKind::IoRange1, 0xC0, "I/O range 1"},
    {0x10200, 0x1023F, RegionKind::IoRange2, 0x00, "I/O range 2"},
    {0x10300, 0x1033F, RegionKind::IoRange2, 0x80, "I/O range 2"},
    {0x10380, 0x103BF, RegionKind::IoRange2, 0xC0, "I/O range 2"},
    {0x08000000, 0x08FFFFFF, RegionKind::ExternalMemory, 0, "external memory"},
};

namespace {

const TransferArea kTransferAreas[] = {
    {0x00000, 0x103FF, "internal memory and I/O area"},
    {0x08000000, 0x08FFFFFF, "external memory"},
};

}  // namespace

const TransferArea* FindTransferArea(std::uint32_t address) {
    for (const TransferArea& area : kTransferAreas) {
        if (address >= area.first && address <= area.last) return &area;
    }
    return nullptr;
}

}  // namespace vexotool
