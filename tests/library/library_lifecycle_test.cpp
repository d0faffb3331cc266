// Opening and closing the board, and what every export answers with and without one.
#include <cstring>

#include "block_exports.h"
#include "library_fixture.h"

namespace vexo::test {
namespace {

using sim::Op;

// Every export but cVexoOpen must answer its "no board" value and leave driver, registry and
// card alone. `info` must come back untouched.
void ExpectEveryExportRefuses() {
    std::uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(block_exports::Succeeding(0, buffer, 1), "");
    EXPECT_EQ(0, cVexoBuffAlloc());
    EXPECT_EQ(0, cVexoBuffFree());
    EXPECT_EQ(0, cVexoReadBuffByte());
    EXPECT_EQ(0, cVexoReadBuffShort());
    EXPECT_EQ(0, cVexoReadBuffLong());
    EXPECT_EQ(0, cVexoWriteBuffByte());
    EXPECT_EQ(0, cVexoWriteBuffShort());
    EXPECT_EQ(0, cVexoWriteBuffLong());
    EXPECT_EQ(-1, cVexoGetINTA());
    EXPECT_EQ(0, cVexoPciConfig());
    EXPECT_EQ(0, cVexoClose());
    DeviceInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(0, cVexoDeviceInfo(&info));
    for (std::size_t i = 0; i < sizeof info; ++i) {
        EXPECT_EQ(0xA5, reinterpret_cast<const std::uint8_t*>(&info)[i]) << "byte " << i;
    }
    const std::uint8_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(buffer, untouched, sizeof buffer));
}

TEST_F(LibraryTest, WithoutABoardEveryExportRefusesAndTouchesNothing) {
    ExpectEveryExportRefuses();
    EXPECT_TRUE(board.trace.empty());
}

TEST_F(LibraryTest, AMissingDriverFailsTheOpenWithoutClosingAnInvalidHandle) {
    board.driver.present = false;
    EXPECT_EQ(0, cVexoOpen());
    ASSERT_EQ(1u, board.trace.size());
    EXPECT_EQ(Op::DriverOpen, board.trace[0].op);
    EXPECT_EQ("\\\\.\\VexoLite.vxd", board.trace[0].name);
    board.ClearTrace();
    ExpectEveryExportRefuses();
    EXPECT_TRUE(board.trace.empty());
}

TEST_F(LibraryTest, AFailedAllocationOpensNothingAndALaterOpenWorks) {
    machine.failNextAllocation = true;
    EXPECT_EQ(0, cVexoOpen());
    EXPECT_TRUE(board.trace.empty());
    EXPECT_EQ(-1, cVexoGetINTA());
    EXPECT_EQ(1, cVexoOpen());
}

TEST_F(LibraryTest, AnOpenBoardIsReportedByTheBufferExportsAndGetINTA) {
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    EXPECT_EQ(0, cVexoGetINTA());
    EXPECT_EQ(1, cVexoBuffAlloc());
    EXPECT_EQ(1, cVexoBuffFree());
    EXPECT_EQ(1, cVexoReadBuffByte());
    EXPECT_EQ(1, cVexoReadBuffShort());
    EXPECT_EQ(1, cVexoReadBuffLong());
    EXPECT_EQ(1, cVexoWriteBuffByte());
    EXPECT_EQ(1, cVexoWriteBuffShort());
    EXPECT_EQ(1, cVexoWriteBuffLong());
    EXPECT_TRUE(board.trace.empty());
}

TEST_F(LibraryTest, ASecondOpenSucceedsWithoutAnyRequestOrAccess) {
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    EXPECT_EQ(1, cVexoOpen());
    EXPECT_TRUE(board.trace.empty());
    EXPECT_EQ(1, machine.driverHandles.open);
}

TEST_F(LibraryTest, CloseOnlyClosesTheHandleAndLeavesTheCardConfigured) {
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    EXPECT_EQ(1, cVexoClose());
    ASSERT_EQ(1u, board.trace.size());
    EXPECT_EQ(Op::DriverClose, board.trace[0].op);
    EXPECT_EQ(1u, board.trace[0].value);
    EXPECT_EQ(0, machine.driverHandles.open);
    EXPECT_EQ(3u, machine.Card().commandStatus);
    EXPECT_EQ(0xEA000008u, machine.Card().bars[0]);
    EXPECT_EQ(0x0000000Eu, machine.Card().IoRegister(0, 0xC4));
    EXPECT_EQ(0, cVexoClose());
    EXPECT_EQ(1u, board.trace.size());
}

TEST_F(LibraryTest, OpenCloseOpenRunsDiscoveryAgainAndReadsTheKeyAfresh) {
    ASSERT_EQ(1, cVexoOpen());  // no key: the bases come from the card
    EXPECT_EQ(0x0000D000u, DeviceInfoWords()[5]);
    ASSERT_EQ(1, cVexoClose());
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    board.ClearTrace();

    ASSERT_EQ(1, cVexoOpen());
    EXPECT_EQ(Op::DriverOpen, board.trace.front().op);
    EXPECT_EQ((std::vector<std::uint32_t>{3, 2, 1, 16, 6, 7}), RequestCodes());
    EXPECT_EQ(1u, CountOf(Op::RegistryOpen));
    EXPECT_EQ(2u, machine.driverHandles.everOpened);
    const std::vector<std::uint32_t> info = DeviceInfoWords();
    EXPECT_EQ((std::vector<std::uint32_t>{0xE9000000, 0xEA000000, 0xC000, 0xC400}),
              std::vector<std::uint32_t>(info.begin() + 3, info.end()));
    EXPECT_EQ(0xEA000008u, machine.Card().bars[0]);
    EXPECT_EQ(0xE9000000u, machine.Card().bars[1]);
    EXPECT_EQ(0x0000C001u, machine.Card().bars[2]);
    EXPECT_EQ(0x0000C401u, machine.Card().bars[3]);
}

// The record is an interface with applications: seven little-endian words, 28 bytes, nothing
// past them, and never the window addresses.
TEST_F(LibraryTest, DeviceInfoFillsExactly28BytesInItsDocumentedOrder) {
    board.driver.driverInfo = 0xA1B2C3D4;
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(1, cVexoOpen());
    std::uint8_t bytes[40];
    std::memset(bytes, 0x5A, sizeof bytes);
    EXPECT_EQ(1, cVexoDeviceInfo(reinterpret_cast<DeviceInfo*>(bytes)));
    const std::uint32_t expected[7] = {0xA1B2C3D4, 0x2004, 0x10CF, 0xE9000000,
                                       0xEA000000, 0xC000, 0xC400};
    for (int word = 0; word < 7; ++word) {
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(static_cast<std::uint8_t>(expected[word] >> (8 * k)), bytes[word * 4 + k])
                << "word " << word << " byte " << k;
        }
    }
    for (std::size_t i = 28; i < sizeof bytes; ++i) EXPECT_EQ(0x5A, bytes[i]) << "byte " << i;
}

TEST_F(LibraryTest, DeviceInfoRefusesANullRecord) {
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    EXPECT_EQ(0, cVexoDeviceInfo(nullptr));
    EXPECT_TRUE(board.trace.empty());
}

TEST_F(LibraryTest, PciConfigReportsTheFirstWordOfTheDriversReply) {
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    EXPECT_EQ(0x200410CF, cVexoPciConfig());  // the card's register 0
    ASSERT_EQ(1u, board.trace.size());
    EXPECT_EQ(15u, board.trace[0].where);
    EXPECT_TRUE(board.trace[0].input.empty());

    board.driver.overridePciConfigReply = true;
    board.driver.pciConfigReply = {0xEF, 0xBE, 0xAD, 0xDE, 0x11, 0x22};
    EXPECT_EQ(static_cast<int>(0xDEADBEEFu), cVexoPciConfig());
    board.driver.pciConfigReply = {0, 0, 0, 0};
    EXPECT_EQ(0, cVexoPciConfig());

    board.driver.failingCodes = {15};
    EXPECT_EQ(0, cVexoPciConfig());
    EXPECT_EQ(4u, board.DriverRequests().size());
    EXPECT_TRUE(board.BusAccesses().empty());
}

// Each block export hands its own element width to the transfer: one element to I/O range 1
// shows up as one port access of that width.
struct BlockExport {
    const char* name;
    int (*call)(std::uint32_t address, std::uint8_t* buffer);
    Op op;
    int width;
};

const BlockExport kBlockExports[] = {
    {"ReadByte", [](std::uint32_t a, std::uint8_t* b) { return cVexoReadBlockByte(a, b, 1); },
     Op::PortRead, 8},
    {"ReadShort", [](std::uint32_t a, std::uint8_t* b) { return cVexoReadBlockShort(a, b, 1); },
     Op::PortRead, 16},
    {"ReadLong", [](std::uint32_t a, std::uint8_t* b) { return cVexoReadBlockLong(a, b, 1); },
     Op::PortRead, 32},
    {"WriteByte", [](std::uint32_t a, std::uint8_t* b) { return cVexoWriteBlockByte(a, b, 1); },
     Op::PortWrite, 8},
    {"WriteShort", [](std::uint32_t a, std::uint8_t* b) { return cVexoWriteBlockShort(a, b, 1); },
     Op::PortWrite, 16},
    {"WriteLong", [](std::uint32_t a, std::uint8_t* b) { return cVexoWriteBlockLong(a, b, 1); },
     Op::PortWrite, 32},
};

void PrintTo(const BlockExport& e, std::ostream* os) {
    *os << e.name;
}

class BlockExportTest : public LibraryTest, public ::testing::WithParamInterface<BlockExport> {};

TEST_P(BlockExportTest, PassesItsElementWidthToTheTransfer) {
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(1, cVexoOpen());
    board.ClearTrace();
    std::uint8_t buffer[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(1, GetParam().call(VEXO_IO_ADDRESS(VEXO_IO1_AREA, 0x08), buffer));
    const std::vector<sim::Event> bus = board.BusAccesses();
    ASSERT_EQ(1u, bus.size());
    EXPECT_EQ(GetParam().op, bus[0].op);
    EXPECT_EQ(GetParam().width, bus[0].width);
    EXPECT_EQ(0xC008u, bus[0].where);
}

INSTANTIATE_TEST_SUITE_P(Exports, BlockExportTest, ::testing::ValuesIn(kBlockExports),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexo::test
