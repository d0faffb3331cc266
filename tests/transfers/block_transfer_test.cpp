// Block transfers element by element, asserted on the bus trace: the pauses, the lane merging of
// narrow writes, exact-address reads, port widths, elements that lead nowhere, the start filter
// and the stop at the map limit.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "VexoDLL.h"
#include "transfer_support.h"

namespace vexo::testing {
namespace {

using Tokens = std::vector<std::string>;

// ---- pauses per element, by region and operation ---------------------------------------------

struct PauseCase {
    const char* what;
    bool write;
    std::uint16_t size;
    std::uint32_t address;
    Tokens bus;  // with every memory word 0 and the element's bytes 0xAB
};

TEST(BlockTransferPauses, EachElementPausesAsItsRegionAndOperationRequire) {
    const PauseCase cases[] = {
        {"read int byte", false, 1, 0x8001, {"load8 int+8001"}},
        {"read int short", false, 2, 0x0002, {"load16 int+2"}},
        {"read int long", false, 4, 0xC004, {"load32 int+C004"}},
        {"read ext byte", false, 1, 0x08000001, {"pause", "load8 ext+1"}},
        {"read ext short", false, 2, 0x08000002, {"pause", "load16 ext+2"}},
        {"read ext long", false, 4, 0x08000004, {"pause", "load32 ext+4"}},
        {"read io1 byte", false, 1, 0x10005, {"in8 C005"}},
        {"read io2 short", false, 2, 0x10302, {"in16 C482"}},
        {"read io1 long", false, 4, 0x10104, {"in32 C084"}},
        {"read nowhere long", false, 4, 0x4000, {}},
        {"write int byte", true, 1, 0x0001, {"load32 int+0", "pause", "store32 int+0=0000AB00"}},
        {"write int short",
         true,
         2,
         0x8002,
         {"load32 int+8000", "pause", "store32 int+8000=ABAB0000"}},
        {"write int long", true, 4, 0xC000, {"pause", "store32 int+C000=ABABABAB"}},
        {"write ext byte",
         true,
         1,
         0x08000003,
         {"pause", "load32 ext+0", "pause", "store32 ext+0=AB000000"}},
        {"write ext short",
         true,
         2,
         0x08000000,
         {"pause", "load32 ext+0", "pause", "store32 ext+0=0000ABAB"}},
        {"write ext long", true, 4, 0x08000004, {"pause", "pause", "store32 ext+4=ABABABAB"}},
        {"write io1 byte", true, 1, 0x1013F, {"out8 C0BF=AB"}},
        {"write io2 short", true, 2, 0x10200, {"out16 C400=ABAB"}},
        {"write io2 long", true, 4, 0x10380, {"out32 C4C0=ABABABAB"}},
        {"write nowhere byte", true, 1, 0x10040, {}},
    };
    for (const PauseCase& c : cases) {
        SCOPED_TRACE(c.what);
        WiredBoard wired;
        std::array<std::uint8_t, 4> element;
        element.fill(0xAB);
        const int result = c.write
                               ? wired.Context().WriteBlock(c.address, element.data(), 1, c.size)
                               : wired.Context().ReadBlock(c.address, element.data(), 1, c.size);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(wired.Bus(), c.bus);
    }
}

TEST(BlockTransferPauses, EveryElementPausesAgainAndNothingIsCachedBetweenCalls) {
    WiredBoard wired;
    std::uint8_t bytes[3] = {1, 2, 3};
    ASSERT_EQ(wired.Context().WriteBlock(0x08000010, bytes, 3, 1), 1);
    ASSERT_EQ(wired.Context().ReadBlock(0x08000010, bytes, 2, 1), 1);
    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "load32 ext+10", "pause", "store32 ext+10=00000001",
                                   "pause", "load32 ext+10", "pause", "store32 ext+10=00000201",
                                   "pause", "load32 ext+10", "pause", "store32 ext+10=00030201",
                                   "pause", "load8 ext+10", "pause", "load8 ext+11"}));
}

// ---- lane merging of narrow writes, Long writes at unaligned addresses -------------------------

struct LaneCase {
    std::uint32_t address;
    std::uint32_t element;
    std::uint32_t wordAfter;  // the word at window offset 0 (ext) or 0xC004 (int), was 0x11223344
};

TEST(BlockTransferLanes, ByteWritesReplaceOnlyTheirLane) {
    const LaneCase cases[] = {
        {0, 0xAB, 0x112233AB}, {1, 0xAB, 0x1122AB44}, {2, 0xAB, 0x11AB3344}, {3, 0xAB, 0xAB223344}};
    for (const LaneCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "lane " << c.address);
        WiredBoard wired;
        wired.SetExtWord(0, 0x11223344);
        wired.SetIntWord(0xC004, 0x11223344);
        const std::uint8_t element = static_cast<std::uint8_t>(c.element);
        ASSERT_EQ(wired.Context().WriteBlock(0x08000000 + c.address, &element, 1, 1), 1);
        ASSERT_EQ(wired.Context().WriteBlock(0xC004 + c.address, &element, 1, 1), 1);
        EXPECT_EQ(wired.ExtWord(0), c.wordAfter);
        EXPECT_EQ(wired.IntWord(0xC004), c.wordAfter);
        EXPECT_EQ(wired.ExtWord(4), 0u);
        EXPECT_EQ(wired.IntWord(0xC008), 0u);
    }
}

TEST(BlockTransferLanes, ShortWritesReplaceTheHalfThatBitOneSelects) {
    // Bit 0 of the address is ignored: 0x..1 writes the lower half, 0x..3 the upper.
    const LaneCase cases[] = {{0, 0xBEEF, 0x1122BEEF},
                              {1, 0xBEEF, 0x1122BEEF},
                              {2, 0xBEEF, 0xBEEF3344},
                              {3, 0xBEEF, 0xBEEF3344}};
    for (const LaneCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << c.address);
        WiredBoard wired;
        wired.SetExtWord(0, 0x11223344);
        wired.SetIntWord(0xC004, 0x11223344);
        const std::uint8_t element[2] = {0xEF, 0xBE};
        ASSERT_EQ(wired.Context().WriteBlock(0x08000000 + c.address, element, 1, 2), 1);
        ASSERT_EQ(wired.Context().WriteBlock(0xC004 + c.address, element, 1, 2), 1);
        EXPECT_EQ(wired.ExtWord(0), c.wordAfter);
        EXPECT_EQ(wired.IntWord(0xC004), c.wordAfter);
        EXPECT_EQ(wired.Bus(),
                  (Tokens{"pause", "load32 ext+0", "pause", "store32 ext+0=" + Hex8(c.wordAfter),
                          "load32 int+C004", "pause", "store32 int+C004=" + Hex8(c.wordAfter)}));
    }
}

TEST(BlockTransferLanes, LongWritesAtUnalignedAddressesStoreTheWholeAlignedWord) {
    for (std::uint32_t misalignment = 1; misalignment < 4; ++misalignment) {
        SCOPED_TRACE(::testing::Message() << "misalignment " << misalignment);
        WiredBoard wired;
        wired.SetExtWord(0, 0x11223344);
        wired.SetExtWord(4, 0x55667788);
        const std::uint8_t element[4] = {0x01, 0x02, 0x03, 0x04};
        ASSERT_EQ(wired.Context().WriteBlock(0x08000000 + misalignment, element, 1, 4), 1);
        EXPECT_EQ(wired.ExtWord(0), 0x04030201u);
        EXPECT_EQ(wired.ExtWord(4), 0x55667788u);
        EXPECT_EQ(wired.Bus(), (Tokens{"pause", "pause", "store32 ext+0=04030201"}));
    }
}

TEST(BlockTransferLanes, ElementsOfABlockWriteLandOneAfterAnother) {
    // Shorts from an odd start: every element merges into the word its own address selects.
    WiredBoard wired;
    const std::uint8_t elements[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    ASSERT_EQ(wired.Context().WriteBlock(0x8001, elements, 3, 2), 1);
    EXPECT_EQ(wired.IntWord(0x8000), 0x44332211u);
    EXPECT_EQ(wired.IntWord(0x8004), 0x00006655u);
}

// ---- reads at exact addresses -----------------------------------------------------------------

TEST(BlockTransferReads, LoadAtTheExactAddressWhateverTheAlignment) {
    WiredBoard wired;
    for (std::uint32_t k = 0; k < 8; ++k)
        wired.Sim().extMem[k] = static_cast<std::uint8_t>(0x10 + k);
    for (std::uint32_t k = 0; k < 8; ++k)
        wired.Sim().intMem[0xC0FC + k] = static_cast<std::uint8_t>(0xA0 + k);

    std::uint32_t longValue = 0;
    ASSERT_EQ(wired.Context().ReadBlock(0x08000002, &longValue, 1, 4), 1);
    EXPECT_EQ(longValue, 0x15141312u);

    // Internal memory blocks are read past their end: the window reaches on.
    std::uint16_t shortValue = 0;
    ASSERT_EQ(wired.Context().ReadBlock(0xC0FF, &shortValue, 1, 2), 1);
    EXPECT_EQ(shortValue, 0xA4A3u);
    ASSERT_EQ(wired.Context().ReadBlock(0xC0FD, &longValue, 1, 4), 1);
    EXPECT_EQ(longValue, 0xA4A3A2A1u);

    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "load32 ext+2", "load16 int+C0FF", "load32 int+C0FD"}));
}

TEST(BlockTransferReads, ElementsLandInTheBufferInOrderAtAnyBufferAlignment) {
    WiredBoard wired;
    for (std::uint32_t k = 0; k < 16; ++k) wired.Sim().intMem[k] = static_cast<std::uint8_t>(k);
    std::uint8_t buffer[17] = {};
    ASSERT_EQ(wired.Context().ReadBlock(0x0000, buffer + 1, 4, 4), 1);
    for (std::uint32_t k = 0; k < 16; ++k) EXPECT_EQ(buffer[1 + k], k);
    EXPECT_EQ(buffer[0], 0);
}

// ---- I/O ranges -------------------------------------------------------------------------------

TEST(BlockTransferIo, PortsHaveTheElementsWidthAndAdvanceByItsSize) {
    WiredBoard wired;
    for (int k = 0; k < 256; ++k) {
        wired.Io(0)[k] = static_cast<std::uint8_t>(k);
        wired.Io(1)[k] = static_cast<std::uint8_t>(0xFF - k);
    }
    std::uint32_t longs[4] = {};
    ASSERT_EQ(wired.Context().ReadBlock(0x10000, longs, 4, 4), 1);
    EXPECT_EQ(longs[0], 0x03020100u);
    EXPECT_EQ(longs[3], 0x0F0E0D0Cu);

    std::uint16_t shorts[2] = {};
    ASSERT_EQ(wired.Context().ReadBlock(0x10300, shorts, 2, 2), 1);
    EXPECT_EQ(shorts[0], 0x7E7Fu);
    EXPECT_EQ(shorts[1], 0x7C7Du);

    std::uint8_t byte = 0;
    ASSERT_EQ(wired.Context().ReadBlock(0x100BF, &byte, 1, 1), 1);
    EXPECT_EQ(byte, 0x7F);

    EXPECT_EQ(wired.Bus(), (Tokens{"in32 C000", "in32 C004", "in32 C008", "in32 C00C", "in16 C480",
                                   "in16 C482", "in8 C07F"}));
}

TEST(BlockTransferIo, WritesGoToTheExactPortAndSkipTheUnmappedHalfOfABlock) {
    WiredBoard wired;
    const std::uint8_t shorts[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    // 0x1023E reaches port 0x3E of range 2; 0x10240 and 0x10242 lead nowhere.
    ASSERT_EQ(wired.Context().WriteBlock(0x1023E, shorts, 3, 2), 1);
    // Long at an unaligned I/O address: the port is not rounded down.
    const std::uint8_t longValue[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(wired.Context().WriteBlock(0x10181, longValue, 1, 4), 1);
    EXPECT_EQ(wired.Bus(), (Tokens{"out16 C43E=201", "out32 C0C1=EFBEADDE"}));
    EXPECT_EQ(wired.Io(1)[0x3E], 0x01);
    EXPECT_EQ(wired.Io(1)[0x3F], 0x02);
    EXPECT_EQ(wired.Io(0)[0xC1], 0xDE);
}

TEST(BlockTransferIo, ByteReadOfABlockReadsItsPortsThenAllOnes) {
    WiredBoard wired;
    for (int k = 0; k < 64; ++k) wired.Io(0)[k] = static_cast<std::uint8_t>(k + 1);
    std::uint8_t buffer[128] = {};
    ASSERT_EQ(wired.Context().ReadBlock(0x10000, buffer, 128, 1), 1);
    Tokens expected;
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(buffer[k], k + 1);
        EXPECT_EQ(buffer[64 + k], 0xFF);
        char token[16];
        std::snprintf(token, sizeof token, "in8 %X", 0xC000 + k);
        expected.push_back(token);
    }
    EXPECT_EQ(wired.Bus(), expected);
}

TEST(BlockTransferIo, PortNumbersWrapToSixteenBits) {
    WiredBoard wired(0xFFC0, kIo2Base);
    std::uint8_t byte = 0x5A;
    ASSERT_EQ(wired.Context().WriteBlock(0x10080, &byte, 1, 1), 1);
    EXPECT_EQ(wired.Bus(), (Tokens{"out8 0=5A"}));
}

// ---- elements that lead nowhere ---------------------------------------------------------------

TEST(BlockTransferNowhere, ReadsDeliverAllOnesOfTheWidthAndWritesSkip) {
    WiredBoard wired;
    std::uint8_t bytes[32] = {};
    EXPECT_EQ(wired.Context().ReadBlock(0x103F0, bytes, 32, 1), 1);  // runs on past 0x103FF
    for (std::uint8_t b : bytes) EXPECT_EQ(b, 0xFF);

    std::uint16_t shortValue = 0;
    EXPECT_EQ(wired.Context().ReadBlock(0x10280, &shortValue, 1, 2), 1);
    EXPECT_EQ(shortValue, 0xFFFFu);

    std::uint8_t written = 0x12;
    EXPECT_EQ(wired.Context().WriteBlock(0x10280, &written, 1, 1), 1);
    EXPECT_EQ(wired.Context().WriteBlock(0x0100, &written, 1, 1), 1);
    EXPECT_TRUE(wired.Bus().empty());

    // A Long read across the end of internal block 2 into the I/O area.
    wired.Io(0)[0] = 0x78;
    std::uint32_t longs[2] = {};
    EXPECT_EQ(wired.Context().ReadBlock(0xFFFC, longs, 2, 4), 1);
    EXPECT_EQ(longs[0], 0xFFFFFFFFu);
    EXPECT_EQ(longs[1] & 0xFF, 0x78u);
    EXPECT_EQ(wired.Bus(), (Tokens{"in32 C000"}));
}

// ---- start filter, count 0, map limit ---------------------------------------------------------

// A transfer that ends before it reaches the bus, and what it returns.
struct Unmoved {
    bool write;
    std::uint32_t address;
    std::uint32_t count;
    int result;
};

// Each transfer in each width, on `buffer`: each returns its result and none reaches the bus.
void ExpectNoneReachesTheBus(void* buffer, std::initializer_list<Unmoved> transfers) {
    WiredBoard wired;
    for (std::uint16_t size : {1, 2, 4}) {
        for (const Unmoved& t : transfers) {
            const int result = t.write
                                   ? wired.Context().WriteBlock(t.address, buffer, t.count, size)
                                   : wired.Context().ReadBlock(t.address, buffer, t.count, size);
            EXPECT_EQ(result, t.result)
                << (t.write ? "write " : "read ") << t.count << " elements of " << size
                << " bytes at 0x" << std::hex << t.address;
        }
    }
    EXPECT_TRUE(wired.Bus().empty());
}

TEST(BlockTransferLimits, StartFilterAndEmptyTransfers) {
    std::uint8_t buffer[4] = {0x11, 0x22, 0x33, 0x44};
    ExpectNoneReachesTheBus(buffer, {
                                        {false, 0x0000, 0, 1},
                                        {true, 0x08000000, 0, 1},
                                        {false, 0x10400, 0, 0},
                                        {true, 0x10400, 1, 0},
                                        {false, 0x07FFFFFF, 1, 0},
                                        {false, 0x09000000, 1, 0},
                                        {true, 0xFFFFFFFF, 1, 0},
                                    });
    EXPECT_EQ(WiredBoard::Word(buffer), 0x44332211u);
}

TEST(BlockTransferLimits, TransfersStopAtTheMapLimitAndLeaveTheRestUntouched) {
    WiredBoard wired;
    wired.Sim().extMem[0xFFFFFF] = 0x5C;
    std::uint8_t bytes[2] = {0x00, 0x99};
    EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFF, bytes, 2, 1), 0);
    EXPECT_EQ(bytes[0], 0x5C);
    EXPECT_EQ(bytes[1], 0x99);
    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "load8 ext+FFFFFF"}));

    wired.Sim().ClearTrace();
    const std::uint32_t longs[3] = {0x01010101, 0x02020202, 0x03030303};
    EXPECT_EQ(wired.Context().WriteBlock(0x08FFFFF8, longs, 3, 4), 0);
    EXPECT_EQ(wired.ExtWord(0xFFFFF8), 0x01010101u);
    EXPECT_EQ(wired.ExtWord(0xFFFFFC), 0x02020202u);
    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "pause", "store32 ext+FFFFF8=01010101", "pause",
                                   "pause", "store32 ext+FFFFFC=02020202"}));
}

TEST(BlockTransferLimits, RunningFromTheIoAreaIntoTheGapIsNoStop) {
    WiredBoard wired;
    std::uint32_t longs[8] = {};
    EXPECT_EQ(wired.Context().ReadBlock(0x103F0, longs, 8, 4), 1);
    for (std::uint32_t value : longs) EXPECT_EQ(value, 0xFFFFFFFFu);
}

// ---- the end of the external window ----------------------------------------------------------

TEST(BlockTransferWindowEnd, ReadsRunningPastTheExternalWindowLoadOnlyTheBytesInside) {
    WiredBoard wired;
    wired.SetExtWord(0xFFFFFC, 0x44332211);  // bytes 11 22 33 44 at the window's last four

    std::uint16_t shortValue = 0;
    EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFF, &shortValue, 1, 2), 1);
    EXPECT_EQ(shortValue, 0xFF44u);
    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "load8 ext+FFFFFF"}));

    const std::uint32_t expected[3] = {0xFF443322u, 0xFFFF4433u, 0xFFFFFF44u};
    for (std::uint32_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(::testing::Message() << "Long at 0x08FFFFF" << std::hex << (0xD + k));
        wired.Sim().ClearTrace();
        std::uint32_t longValue = 0;
        EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFD + k, &longValue, 1, 4), 1);
        EXPECT_EQ(longValue, expected[k]);
        Tokens bus{"pause"};
        for (std::uint32_t b = 0xFFFFFD + k; b <= 0xFFFFFF; ++b) {
            char token[32];
            std::snprintf(token, sizeof token, "load8 ext+%X", b);
            bus.push_back(token);
        }
        EXPECT_EQ(wired.Bus(), bus);
    }

    // The last whole word and the last whole half are ordinary loads.
    wired.Sim().ClearTrace();
    std::uint32_t longValue = 0;
    EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFC, &longValue, 1, 4), 1);
    EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFE, &shortValue, 1, 2), 1);
    EXPECT_EQ(longValue, 0x44332211u);
    EXPECT_EQ(shortValue, 0x4433u);
    EXPECT_EQ(wired.Bus(), (Tokens{"pause", "load32 ext+FFFFFC", "pause", "load16 ext+FFFFFE"}));
}

TEST(BlockTransferWindowEnd, AShortReadOfTwoAtTheLastByteHandlesOneThenStops) {
    WiredBoard wired;
    wired.Sim().extMem[0xFFFFFF] = 0x44;
    std::uint16_t shorts[2] = {0, 0x1234};
    EXPECT_EQ(wired.Context().ReadBlock(0x08FFFFFF, shorts, 2, 2), 0);
    EXPECT_EQ(shorts[0], 0xFF44u);
    EXPECT_EQ(shorts[1], 0x1234u);
}

// ---- a null buffer ----------------------------------------------------------------------------

TEST(BlockTransferNullBuffer, IsRefusedWithElementsToMoveAndHarmlessWithNone) {
    ExpectNoneReachesTheBus(nullptr, {
                                         {false, 0x0000, 1, 0},
                                         {true, 0x08000000, 4, 0},
                                         {false, 0x10000, 0, 1},
                                         {true, 0x08000000, 0, 1},
                                         {true, 0x10400, 0, 0},
                                     });
}

// ---- through the exports, on a board opened by cVexoOpen --------------------------------------

TEST(BlockTransferExports, TheSixExportsMoveTheirWidthThroughTheOpenBoard) {
    sim::HostMachine machine;
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(cVexoOpen(), 1);
    const std::uint8_t pattern[8] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87};

    EXPECT_EQ(cVexoWriteBlockByte(0x8000, pattern, 8), 1);
    EXPECT_EQ(cVexoWriteBlockShort(0x08000100, pattern, 4), 1);
    EXPECT_EQ(cVexoWriteBlockLong(0x10200 + 0x20, pattern, 2), 1);

    std::uint8_t bytes[8] = {};
    std::uint16_t shorts[4] = {};
    std::uint32_t longs[2] = {};
    EXPECT_EQ(cVexoReadBlockLong(0x8000, longs, 2), 1);
    EXPECT_EQ(longs[0], 0x43322110u);
    EXPECT_EQ(longs[1], 0x87766554u);
    EXPECT_EQ(cVexoReadBlockByte(0x08000100, bytes, 8), 1);
    EXPECT_EQ(std::memcmp(bytes, pattern, 8), 0);
    EXPECT_EQ(cVexoReadBlockShort(0x10220, shorts, 4), 1);
    EXPECT_EQ(shorts[0], 0x2110u);
    EXPECT_EQ(shorts[3], 0x8776u);
    EXPECT_EQ(machine.Card().IoRegister(1, 0x20, 32), 0x43322110u);

    // The null buffer is refused at the export as well.
    EXPECT_EQ(cVexoReadBlockByte(0x8000, nullptr, 1), 0);
    ASSERT_EQ(cVexoClose(), 1);
    EXPECT_EQ(cVexoReadBlockByte(0x8000, bytes, 1), 0);
}

}  // namespace
}  // namespace vexo::testing
