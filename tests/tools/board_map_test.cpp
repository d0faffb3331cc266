// The tool's map against the library's: every board address of the internal memory and the I/O
// area, and the edges of the external memory, lead where the tool's table says, and a transfer
// may start exactly where the library accepts a start.
#include "board_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "address_map.h"
#include "board_context.h"

namespace {

using vexotool::MapRegion;
using vexotool::RegionKind;

// Distinct window addresses and port bases, so that a translation into the wrong one shows.
constexpr std::uint32_t kIntWindow = 0x10000000u;
constexpr std::uint32_t kExtWindow = 0x20000000u;
constexpr std::uint32_t kIo1Base = 0x1000;
constexpr std::uint32_t kIo2Base = 0x2400;

struct Translation {
    std::uint32_t memory = vexo::kNotMapped;
    std::uint32_t port = vexo::kNotMapped;
    bool operator==(const Translation& other) const {
        return memory == other.memory && port == other.port;
    }
};

// What the tool's table says `address` leads to.
Translation FromToolTable(std::uint32_t address) {
    Translation leads;
    for (const MapRegion& region : vexotool::kMapRegions) {
        if (address < region.first || address > region.last) continue;
        const std::uint32_t at = region.offset + (address - region.first);
        switch (region.kind) {
            case RegionKind::InternalMemory:
                leads.memory = kIntWindow + at;
                break;
            case RegionKind::ExternalMemory:
                leads.memory = kExtWindow + at;
                break;
            case RegionKind::IoRange1:
                leads.port = kIo1Base + at;
                break;
            case RegionKind::IoRange2:
                leads.port = kIo2Base + at;
                break;
        }
    }
    return leads;
}

class ToolMap : public ::testing::Test {
  protected:
    ToolMap() {
        board.intMemWindow = kIntWindow;
        board.extMemWindow = kExtWindow;
        board.io1Base = kIo1Base;
        board.io2Base = kIo2Base;
    }

    Translation FromLibrary(std::uint32_t address) {
        return {board.MapMemoryAddress(address), board.MapIoAddress(address)};
    }

    // No simulated machine is installed: the pauses' port reads answer all ones and go nowhere.
    vexo::BoardContext board;
};

// Below the I/O area, all of it, then the edges of the external memory and of the address space.
std::vector<std::uint32_t> AddressesToCompare() {
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t a = 0; a <= vexo::map::kIoAreaLast + 0x100; ++a) addresses.push_back(a);
    for (std::uint32_t edge : {vexo::map::kExtMemFirst, vexo::map::kExtMemLast + 1}) {
        for (std::uint32_t a = edge - 4; a != edge + 4; ++a) addresses.push_back(a);
    }
    for (std::uint32_t a = vexo::map::kExtMemFirst; a < vexo::map::kExtMemLast; a += 0x10000) {
        addresses.push_back(a + 0x1234);
    }
    addresses.push_back(0x7FFFFFFFu);
    addresses.push_back(0xFFFFFFFFu);
    return addresses;
}

TEST_F(ToolMap, EveryAddressLeadsWhereTheLibraryTranslatesIt) {
    int differences = 0;
    for (std::uint32_t address : AddressesToCompare()) {
        const Translation tool = FromToolTable(address);
        const Translation library = FromLibrary(address);
        if (tool == library) continue;
        ADD_FAILURE() << std::hex << "board address 0x" << address << ": the tool's table says "
                      << "window 0x" << tool.memory << ", port 0x" << tool.port
                      << "; the library translates to window 0x" << library.memory << ", port 0x"
                      << library.port;
        if (++differences == 10) return;
    }
}

TEST_F(ToolMap, TransfersStartWhereTheLibraryAcceptsAStart) {
    int differences = 0;
    for (std::uint32_t address : AddressesToCompare()) {
        const bool tool = vexotool::FindTransferArea(address) != nullptr;
        if (tool == vexo::BoardContext::AcceptsStart(address)) continue;
        ADD_FAILURE() << std::hex << "board address 0x" << address << ": the tool "
                      << (tool ? "accepts" : "refuses") << " a start, the library does not";
        if (++differences == 10) return;
    }
}

}  // namespace
