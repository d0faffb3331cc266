// The board address map: every 32-bit board address an application names leads to one byte of
// the internal or external memory window, to one port of I/O range 1 or 2, or nowhere. The map
// is fixed; only the two window addresses and the two port bases come from cVexoOpen. Nothing is
// cached: every element of a transfer is translated anew.
#include "address_map.h"

#include "board_context.h"
#include "platform.h"

namespace vexo {

namespace {

bool InRange(std::uint32_t address, std::uint32_t first, std::uint32_t last) {
    return address - first <= last - first;
}

// The I/O area is eight blocks of 128 board addresses. In a block that maps, the lower 64
// addresses are 64 consecutive ports and the upper 64 lead nowhere. Blocks 0-3 carry I/O range 1
// (ports 0x00-0xFF), blocks 4-7 I/O range 2, whose block 5 leads nowhere: its ports 0x40-0x7F
// have no board address.
constexpr std::uint32_t kIoBlockSize = 0x80;
constexpr std::uint32_t kPortsPerBlock = 0x40;
constexpr std::uint32_t kBlocksPerRange = 4;
constexpr std::uint32_t kUnmappedIoBlock = 5;

}  // namespace

std::uint32_t BoardContext::MapMemoryAddress(std::uint32_t address) {
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

std::uint32_t BoardContext::MapIoAddress(std::uint32_t address) const {
    if (!InRange(address, map::kIoAreaFirst, map::kIoAreaLast)) return kNotMapped;
    const std::uint32_t offset = address - map::kIoAreaFirst;
    if (offset % kIoBlockSize >= kPortsPerBlock) return kNotMapped;
    const std::uint32_t block = offset / kIoBlockSize;
    if (block == kUnmappedIoBlock) return kNotMapped;
    const std::uint32_t base = block < kBlocksPerRange ? io1Base : io2Base;
    const std::uint32_t portOffset =
        (block % kBlocksPerRange) * kPortsPerBlock + offset % kPortsPerBlock;
    return base + portOffset;
}

void BoardContext::AccessPause() {
    // The pause is the time its port reads take; the values read mean nothing.
    const auto port = static_cast<std::uint16_t>(io1Base);
    for (int i = 0; i < map::kPauseReads; ++i) platform::PortRead8(port);
}

bool BoardContext::AcceptsStart(std::uint32_t address) {
    return InRange(address, map::kIntBlock0First, 0xFFFF) ||
           InRange(address, map::kExtMemFirst, map::kExtMemLast) ||
           InRange(address, map::kIoAreaFirst, map::kIoAreaLast);
}

}  // namespace vexo
