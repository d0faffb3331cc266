// The board address map: both sides of every boundary of the map's table, the start filter, and
// which translations pause.
#include <gtest/gtest.h>

#include "transfer_support.h"

namespace vexo::testing {
namespace {

enum class Leads { Int, Ext, Io1, Io2, Nowhere };

struct MapCase {
    std::uint32_t address;
    Leads leads;
    std::uint32_t offset;  // window offset or port offset from the range's base
    bool acceptedAsStart;
};

// Every row boundary of the map, first and last address of each row.
constexpr MapCase kBoundaries[] = {
    {0x0000, Leads::Int, 0x0000, true},       {0x00FF, Leads::Int, 0x00FF, true},
    {0x0100, Leads::Nowhere, 0, true},        {0x7FFF, Leads::Nowhere, 0, true},
    {0x8000, Leads::Int, 0x8000, true},       {0x80FF, Leads::Int, 0x80FF, true},
    {0x8100, Leads::Nowhere, 0, true},        {0xBFFF, Leads::Nowhere, 0, true},
    {0xC000, Leads::Int, 0xC000, true},       {0xC0FF, Leads::Int, 0xC0FF, true},
    {0xC100, Leads::Nowhere, 0, true},        {0xFFFF, Leads::Nowhere, 0, true},
    {0x10000, Leads::Io1, 0x00, true},        {0x1003F, Leads::Io1, 0x3F, true},
    {0x10040, Leads::Nowhere, 0, true},       {0x1007F, Leads::Nowhere, 0, true},
    {0x10080, Leads::Io1, 0x40, true},        {0x100BF, Leads::Io1, 0x7F, true},
    {0x100C0, Leads::Nowhere, 0, true},       {0x100FF, Leads::Nowhere, 0, true},
    {0x10100, Leads::Io1, 0x80, true},        {0x1013F, Leads::Io1, 0xBF, true},
    {0x10140, Leads::Nowhere, 0, true},       {0x1017F, Leads::Nowhere, 0, true},
    {0x10180, Leads::Io1, 0xC0, true},        {0x101BF, Leads::Io1, 0xFF, true},
    {0x101C0, Leads::Nowhere, 0, true},       {0x101FF, Leads::Nowhere, 0, true},
    {0x10200, Leads::Io2, 0x00, true},        {0x1023F, Leads::Io2, 0x3F, true},
    {0x10240, Leads::Nowhere, 0, true},       {0x10280, Leads::Nowhere, 0, true},
    {0x102BF, Leads::Nowhere, 0, true},       {0x102FF, Leads::Nowhere, 0, true},
    {0x10300, Leads::Io2, 0x80, true},        {0x1033F, Leads::Io2, 0xBF, true},
    {0x10340, Leads::Nowhere, 0, true},       {0x1037F, Leads::Nowhere, 0, true},
    {0x10380, Leads::Io2, 0xC0, true},        {0x103BF, Leads::Io2, 0xFF, true},
    {0x103C0, Leads::Nowhere, 0, true},       {0x103FF, Leads::Nowhere, 0, true},
    {0x10400, Leads::Nowhere, 0, false},      {0x07FFFFFF, Leads::Nowhere, 0, false},
    {0x08000000, Leads::Ext, 0x000000, true}, {0x08FFFFFF, Leads::Ext, 0xFFFFFF, true},
    {0x09000000, Leads::Nowhere, 0, false},   {0xFFFFFFFF, Leads::Nowhere, 0, false},
};

TEST(BoardAddressMap, EveryBoundaryTranslatesFiltersAndPausesAsTheTableSays) {
    WiredBoard wired;
    BoardContext& board = wired.Context();
    const std::uint32_t intWindow = wired.Sim().intWindowAddress;
    const std::uint32_t extWindow = wired.Sim().extWindowAddress;

    for (const MapCase& c : kBoundaries) {
        SCOPED_TRACE(::testing::Message() << "board address 0x" << std::hex << c.address);
        std::uint32_t memory = kNotMapped;
        std::uint32_t port = kNotMapped;
        switch (c.leads) {
            case Leads::Int:
                memory = intWindow + c.offset;
                break;
            case Leads::Ext:
                memory = extWindow + c.offset;
                break;
            case Leads::Io1:
                port = kIo1Base + c.offset;
                break;
            case Leads::Io2:
                port = kIo2Base + c.offset;
                break;
            case Leads::Nowhere:
                break;
        }

        wired.Sim().ClearTrace();
        EXPECT_EQ(board.MapMemoryAddress(c.address), memory);
        const std::vector<std::string> expected =
            c.leads == Leads::Ext ? std::vector<std::string>{"pause"} : std::vector<std::string>{};
        EXPECT_EQ(wired.Bus(), expected);

        wired.Sim().ClearTrace();
        EXPECT_EQ(board.MapIoAddress(c.address), port);
        EXPECT_TRUE(wired.Sim().trace.empty());

        EXPECT_EQ(BoardContext::AcceptsStart(c.address), c.acceptedAsStart);
    }
}

TEST(BoardAddressMap, PortNumbersAreTheFullSumOfBaseAndOffset) {
    // The translation keeps all 32 bits; only the port access takes the low 16.
    WiredBoard wired(0xFFC0, 0xFFFFFF00);
    EXPECT_EQ(wired.Context().MapIoAddress(0x10080), 0x10000u);
    EXPECT_EQ(wired.Context().MapIoAddress(0x10380), 0xFFFFFFC0u);
    EXPECT_EQ(wired.Context().MapIoAddress(0x10200), 0xFFFFFF00u);
}

TEST(BoardAddressMap, PauseReadsTheLowHalfOfIo1BaseFiftyTimes) {
    WiredBoard wired(0x1C000, kIo2Base);
    wired.Context().AccessPause();
    const std::vector<sim::Event> bus = wired.Sim().BusAccesses();
    ASSERT_EQ(bus.size(), 50u);
    for (const sim::Event& e : bus) {
        EXPECT_EQ(e.op, sim::Op::PortRead);
        EXPECT_EQ(e.width, 8);
        EXPECT_EQ(e.where, 0xC000u);
    }
}

TEST(BoardAddressMap, TranslationsAddWhateverWindowsAndBasesTheyWereGiven) {
    WiredBoard wired;
    BoardContext& board = wired.Context();
    board.intMemWindow = 0;
    board.extMemWindow = 0xFF800000;
    EXPECT_EQ(board.MapMemoryAddress(0xC0FF), 0xC0FFu);
    // The external window's sum wraps like any 32-bit addition.
    EXPECT_EQ(board.MapMemoryAddress(0x08FFFFFF), 0x007FFFFFu);
}

}  // namespace
}  // namespace vexo::testing
