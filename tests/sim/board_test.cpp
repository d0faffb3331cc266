// The simulator's own behaviour that the library's tests rely on: if the model is wrong, every
// test built on it proves nothing.
#include "board.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host_machine.h"
#include "platform.h"

namespace vexo::sim {
namespace {

namespace pf = vexo::platform;

std::uint32_t ConfigRead(std::uint8_t bus, std::uint8_t dev, std::uint8_t fn, std::uint32_t reg) {
    pf::PortWrite32(0xCF8, 0x80000000u | (bus << 16) | (dev << 11) | (fn << 8) | reg);
    return pf::PortRead32(0xCFC);
}

void ConfigWrite(std::uint8_t bus, std::uint8_t dev, std::uint8_t fn, std::uint32_t reg,
                 std::uint32_t value) {
    pf::PortWrite32(0xCF8, 0x80000000u | (bus << 16) | (dev << 11) | (fn << 8) | reg);
    pf::PortWrite32(0xCFC, value);
}

// ---- PCI configuration mechanism ---------------------------------------------------------------

TEST(SimPciConfig, IdentityAndAllOnesCases) {
    HostMachine machine(7, 19);
    machine.board.AddFunction(0, 3, 0, 0x12348086u);
    EXPECT_EQ(ConfigRead(7, 19, 1, 0), kCardId);
    EXPECT_EQ(ConfigRead(0, 3, 0, 0), 0x12348086u);
    // Function 0 of the card's device, a neighbour bus and an empty slot are absent.
    EXPECT_EQ(ConfigRead(7, 19, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ConfigRead(6, 19, 1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ConfigRead(0, 0, 0, 0), 0xFFFFFFFFu);
    // A latch without the enable bit selects nothing.
    pf::PortWrite32(0xCF8, machine.ConfigAddress(0) & 0x7FFFFFFFu);
    EXPECT_EQ(pf::PortRead32(0xCFC), 0xFFFFFFFFu);
    // The latch reads back.
    pf::PortWrite32(0xCF8, machine.ConfigAddress(0x10));
    EXPECT_EQ(pf::PortRead32(0xCF8), machine.ConfigAddress(0x10));
}

TEST(SimPciConfig, OnlyDoubleWordAccessesReachConfigSpace) {
    HostMachine machine;
    pf::PortWrite32(0xCF8, machine.ConfigAddress(0));
    EXPECT_EQ(pf::PortRead16(0xCFC), 0xFFFFu);
    EXPECT_EQ(pf::PortRead8(0xCFC), 0xFFu);
    pf::PortWrite16(0xCF8, 0);  // vanishes: the latch keeps its value
    EXPECT_EQ(pf::PortRead32(0xCF8), machine.ConfigAddress(0));
    EXPECT_EQ(pf::PortRead32(0xCFC), kCardId);
}

TEST(SimPciConfig, RegistersHoldWhatIsWrittenExceptIdentityAndWiredBarBits) {
    HostMachine machine;
    const std::uint8_t b = machine.bus, d = machine.device;
    EXPECT_EQ(ConfigRead(b, d, 1, 0x10), 0xE8000008u);  // power-on BARs carry their flag bits
    EXPECT_EQ(ConfigRead(b, d, 1, 0x18), 0x0000D001u);
    ConfigWrite(b, d, 1, 0x00, 0);
    ConfigWrite(b, d, 1, 0x04, 0x00000003u);
    ConfigWrite(b, d, 1, 0x10, 0xEA000000u);
    ConfigWrite(b, d, 1, 0x14, 0xE9000000u);
    ConfigWrite(b, d, 1, 0x18, 0x0000C000u);
    ConfigWrite(b, d, 1, 0x1C, 0x0000C400u);
    ConfigWrite(b, d, 1, 0x3C, 0x0000010Bu);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x00), kCardId);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x04), 3u);
    // The flag bits are wired: BAR0 stays prefetchable, BAR2/BAR3 stay I/O.
    EXPECT_EQ(ConfigRead(b, d, 1, 0x10), 0xEA000008u);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x14), 0xE9000000u);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x18), 0x0000C001u);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x1C), 0x0000C401u);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x3C), 0x0000010Bu);
    // Sizing: all ones reads back each range's size mask with its flags; a base below the
    // range's size is rounded down to it.
    const std::uint32_t sizeMasks[4] = {0xFF000008u, 0xFFFF0000u, 0xFFFFFF01u, 0xFFFFFF01u};
    for (std::uint32_t bar = 0; bar < 4; ++bar) {
        ConfigWrite(b, d, 1, 0x10 + 4 * bar, 0xFFFFFFFFu);
        EXPECT_EQ(ConfigRead(b, d, 1, 0x10 + 4 * bar), sizeMasks[bar]) << "BAR" << bar;
    }
    ConfigWrite(b, d, 1, 0x18, 0x0000C0FEu);
    EXPECT_EQ(ConfigRead(b, d, 1, 0x18), 0x0000C001u);
    ConfigWrite(b, d, 1, 0x20, 0x12345678u);  // BAR4 is no range of the card's: plain storage
    EXPECT_EQ(ConfigRead(b, d, 1, 0x20), 0x12345678u);
    // A write to an absent function vanishes.
    ConfigWrite(0, 0, 1, 0x10, 0x12345678u);
    EXPECT_EQ(ConfigRead(0, 0, 1, 0x10), 0xFFFFFFFFu);
}

TEST(SimPciConfig, ConfigCyclesAreTracedInOrder) {
    HostMachine machine;
    ConfigRead(machine.bus, machine.device, 1, 0);
    const std::vector<Event> bus = machine.board.BusAccesses();
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(bus[0].op, Op::PortWrite);
    EXPECT_EQ(bus[0].width, 32);
    EXPECT_EQ(bus[0].where, 0xCF8u);
    EXPECT_EQ(bus[0].value, machine.ConfigAddress(0));
    EXPECT_EQ(bus[1].op, Op::PortRead);
    EXPECT_EQ(bus[1].where, 0xCFCu);
    EXPECT_EQ(bus[1].value, kCardId);
}

// ---- the card's I/O ranges ---------------------------------------------------------------------

TEST(SimIoRanges, DecodeOnlyWhenEnabledAndOnlyAtProgrammedBases) {
    HostMachine machine;
    PciFunction& card = machine.Card();
    card.bars[2] = 0xC001u;
    card.bars[3] = 0xC401u;
    pf::PortWrite8(0xC000, 0x5A);  // decoding off: vanishes
    EXPECT_EQ(pf::PortRead8(0xC000), 0xFFu);
    EXPECT_EQ(card.io[0][0], 0u);

    card.commandStatus = 1;
    pf::PortWrite32(0xC0C4, 0x0000000Eu);
    pf::PortWrite32(0xC400, 0x6B19D4A7u);
    pf::PortWrite32(0xC410, 0x00018000u);
    EXPECT_EQ(card.IoRegister(0, 0xC4), 0x0000000Eu);
    EXPECT_EQ(card.IoRegister(1, 0x00), 0x6B19D4A7u);
    EXPECT_EQ(card.IoRegister(1, 0x10), 0x00018000u);
    EXPECT_EQ(card.io[1][0], 0xA7u);  // little-endian byte registers
    EXPECT_EQ(pf::PortRead16(0xC402), 0x6B19u);
    EXPECT_EQ(pf::PortRead8(0xC4FF), 0u);
    EXPECT_EQ(pf::PortRead8(0xC500), 0xFFu);  // one past the range
    EXPECT_EQ(pf::PortRead8(0xBFFF), 0xFFu);
    // An access straddling the end of a range: the bytes past it read all ones.
    card.io[0][0xFF] = 0x11;
    EXPECT_EQ(pf::PortRead32(0xC0FF), 0xFFFFFF11u);

    // Reprogramming the base moves the range.
    card.bars[2] = 0xE001u;
    EXPECT_EQ(pf::PortRead8(0xC0C4), 0xFFu);
    EXPECT_EQ(pf::PortRead8(0xE0C4), 0x0Eu);
}

TEST(SimIoRanges, AnAccessReportsWhoAnsweredItsFirstPort) {
    HostMachine machine;
    Board& board = machine.board;
    PciFunction& card = machine.Card();
    card.bars[2] = 0xC001u;
    card.bars[3] = 0xC401u;
    using Owner = Board::PortOwner;
    const auto readOwner = [&](std::uint16_t port, int width) {
        Owner owner = Owner::Io2;  // overwritten by every access
        board.PortRead(port, width, &owner);
        EXPECT_EQ(owner, board.OwnerOf(port)) << std::hex << port;
        return owner;
    };
    const auto writeOwner = [&](std::uint16_t port, int width) {
        Owner owner = Owner::Io2;
        board.PortWrite(port, width, 0, &owner);
        EXPECT_EQ(owner, board.OwnerOf(port)) << std::hex << port;
        return owner;
    };
    EXPECT_EQ(readOwner(0xC000, 8), Owner::Nobody);  // decoding off
    card.commandStatus = 1;
    EXPECT_EQ(readOwner(0xCF8, 32), Owner::Config);
    EXPECT_EQ(readOwner(0xCFE, 8), Owner::Config);
    EXPECT_EQ(writeOwner(0xCFC, 16), Owner::Config);
    EXPECT_EQ(readOwner(0xC000, 8), Owner::Io1);
    EXPECT_EQ(readOwner(0xC0FF, 32), Owner::Io1);  // straddles the range's end
    EXPECT_EQ(writeOwner(0xC4FF, 8), Owner::Io2);
    EXPECT_EQ(readOwner(0xC500, 16), Owner::Nobody);
    EXPECT_EQ(writeOwner(0x0300, 32), Owner::Nobody);
    EXPECT_EQ(readOwner(0xC3FF, 32), Owner::Nobody);  // only the bytes past the first decode
}

TEST(SimIoRanges, UndecodedWritesAreTracedButVanish) {
    HostMachine machine;
    pf::PortWrite16(0x0300, 0xBEEF);
    EXPECT_EQ(pf::PortRead16(0x0300), 0xFFFFu);
    const std::vector<Event> bus = machine.board.BusAccesses();
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(bus[0].op, Op::PortWrite);
    EXPECT_EQ(bus[0].width, 16);
    EXPECT_EQ(bus[0].value, 0xBEEFu);
    EXPECT_EQ(bus[1].value, 0xFFFFu);
}

TEST(SimIoRanges, NoBoardMeansAllOnesAndNoDriver) {
    Install(nullptr);
    EXPECT_EQ(pf::PortRead32(0xCFC), 0xFFFFFFFFu);
    EXPECT_EQ(pf::PortRead8(0xC000), 0xFFu);
    EXPECT_EQ(pf::OpenDriver("\\\\.\\VexoLite.vxd"), pf::kInvalidDriverHandle);
    pf::RegistryKey key = 0;
    EXPECT_FALSE(pf::OpenMachineKey("System\\CurrentControlSet\\Services\\Class\\VexoLite", &key));
}

// ---- the driver --------------------------------------------------------------------------------

struct SimDriver : ::testing::Test {
    HostMachine machine;
    pf::DriverHandle handle = pf::OpenDriver("\\\\.\\VexoLite.vxd");

    bool Ask(std::uint32_t code, std::uint32_t* reply) {
        return pf::DriverRequest(handle, code, nullptr, 0, reply, 4);
    }
    bool SendBases(const BaseAddressRecord& record) {
        return pf::DriverRequest(handle, 16, &record, sizeof record, nullptr, 0);
    }
};

TEST_F(SimDriver, OpensOnlyTheExactPathWhenPresent) {
    ASSERT_NE(handle, pf::kInvalidDriverHandle);
    EXPECT_EQ(pf::OpenDriver("\\\\.\\VexoLite"), pf::kInvalidDriverHandle);
    EXPECT_EQ(pf::OpenDriver("VexoLite.vxd"), pf::kInvalidDriverHandle);
    EXPECT_EQ(machine.driverHandles.open, 1);
    pf::CloseDriver(handle);
    EXPECT_EQ(machine.driverHandles.open, 0);
    std::uint32_t reply = 0;
    EXPECT_FALSE(Ask(3, &reply));  // closed handle
    pf::CloseDriver(handle);       // a second close is traced as not open
    EXPECT_EQ(machine.board.trace.back().op, Op::DriverClose);
    EXPECT_EQ(machine.board.trace.back().value, 0u);

    machine.board.driver.present = false;
    EXPECT_EQ(pf::OpenDriver("\\\\.\\VexoLite.vxd"), pf::kInvalidDriverHandle);
}

TEST_F(SimDriver, IdentityCodesAnswerFromTheConfiguration) {
    std::uint32_t reply = 0;
    ASSERT_TRUE(Ask(3, &reply));
    EXPECT_EQ(reply, 0x2004u);
    ASSERT_TRUE(Ask(2, &reply));
    EXPECT_EQ(reply, 0x10CFu);
    machine.board.driver.driverInfo = 0xCAFEF00Du;
    ASSERT_TRUE(Ask(1, &reply));
    EXPECT_EQ(reply, 0xCAFEF00Du);
    machine.board.driver.deviceId = 0x12004u;
    ASSERT_TRUE(Ask(3, &reply));
    EXPECT_EQ(reply, 0x12004u);

    machine.board.driver.failingCodes = {1};
    reply = 0x55u;
    EXPECT_FALSE(Ask(1, &reply));
    EXPECT_EQ(reply, 0x55u);
    EXPECT_TRUE(Ask(2, &reply));

    // A reply buffer too small to take the word is refused; unknown codes are refused.
    std::uint8_t small[2] = {};
    EXPECT_FALSE(pf::DriverRequest(handle, 3, nullptr, 0, small, 2));
    EXPECT_FALSE(Ask(4, &reply));
}

TEST_F(SimDriver, WindowsFollowTheBaseAddressRecord) {
    std::uint32_t window = 0;
    EXPECT_FALSE(Ask(6, &window));
    EXPECT_FALSE(Ask(7, &window));

    EXPECT_FALSE(pf::DriverRequest(handle, 16, nullptr, 0, nullptr, 0));
    const std::uint8_t shortRecord[12] = {};
    EXPECT_FALSE(pf::DriverRequest(handle, 16, shortRecord, 12, nullptr, 0));
    EXPECT_FALSE(machine.board.driver.basesKnown);

    ASSERT_TRUE(SendBases({0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u}));
    const BaseAddressRecord& got = machine.board.driver.bases;
    EXPECT_EQ(got.intMemBase, 0xE9000000u);
    EXPECT_EQ(got.extMemBase, 0xEA000000u);
    EXPECT_EQ(got.io1Base, 0xC000u);
    EXPECT_EQ(got.io2Base, 0xC400u);
    ASSERT_TRUE(Ask(6, &window));
    EXPECT_EQ(window, machine.board.intWindowAddress);
    ASSERT_TRUE(Ask(7, &window));
    EXPECT_EQ(window, machine.board.extWindowAddress);

    const Event sent = machine.board.DriverRequests()[4];
    EXPECT_EQ(sent.where, 16u);
    EXPECT_EQ(sent.value, 1u);
    ASSERT_EQ(sent.input.size(), 16u);
    EXPECT_EQ(sent.input[0], 0x00u);
    EXPECT_EQ(sent.input[3], 0xE9u);
    EXPECT_EQ(sent.input[9], 0xC0u);
}

TEST_F(SimDriver, PciConfigReplyIsTheCardsConfigSpace) {
    machine.board.AddFunction(0, 1, 0, 0x70008086u);  // not a card: ignored by the driver
    machine.Card().commandStatus = 3;
    std::uint8_t reply[256];
    ASSERT_TRUE(pf::DriverRequest(handle, 15, nullptr, 0, reply, sizeof reply));
    std::uint32_t words[3];
    std::memcpy(words, reply, sizeof words);
    EXPECT_EQ(words[0], kCardId);
    EXPECT_EQ(words[1], 3u);
    std::memcpy(words, reply + 0x10, 4);
    EXPECT_EQ(words[0], kDefaultBars[0]);
    EXPECT_FALSE(pf::DriverRequest(handle, 15, nullptr, 0, reply, 255));

    machine.board.driver.overridePciConfigReply = true;
    machine.board.driver.pciConfigReply = {0x78, 0x56, 0x34, 0x12};
    ASSERT_TRUE(pf::DriverRequest(handle, 15, nullptr, 0, reply, sizeof reply));
    std::memcpy(words, reply, 4);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(reply[4], 0u);
}

// ---- the registry key --------------------------------------------------------------------------

struct SimRegistry : ::testing::Test {
    HostMachine machine;
    pf::RegistryKey key = 0;
    static constexpr const char* kPath = "System\\CurrentControlSet\\Services\\Class\\VexoLite";
};

TEST_F(SimRegistry, MissingKeyAndWrongPathDoNotOpen) {
    EXPECT_FALSE(pf::OpenMachineKey(kPath, &key));
    machine.registry.SetDword("Io1BaseAddress", 0xC000u);
    EXPECT_FALSE(pf::OpenMachineKey("System\\CurrentControlSet\\Services\\VexoLite", &key));
    ASSERT_TRUE(pf::OpenMachineKey("SYSTEM\\CurrentControlSet\\Services\\Class\\VexoLite", &key));
    EXPECT_EQ(machine.registry.openKeys, 1);
    pf::CloseKey(key);
    EXPECT_EQ(machine.registry.openKeys, 0);
}

TEST_F(SimRegistry, QueriesBehaveLikeTheWindowsRegistry) {
    Registry& reg = machine.registry;
    reg.SetDword("Io1BaseAddress", 0xC000u);
    reg.SetString("ExtMemBaseAddress", "E9000000");
    reg.SetBytes("Io2BaseAddress", {0x00, 0xC4}, kRegBinary);
    reg.SetBytes("IntMemBaseAddress", {}, kRegBinary);
    ASSERT_TRUE(pf::OpenMachineKey(kPath, &key));

    std::uint32_t field = 0xAAAAAAAAu;
    EXPECT_TRUE(pf::QueryValue(key, "Io1BaseAddress", &field, 4));
    EXPECT_EQ(field, 0xC000u);

    field = 0xAAAAAAAAu;  // nine bytes do not fit: refused, nothing written
    EXPECT_FALSE(pf::QueryValue(key, "ExtMemBaseAddress", &field, 4));
    EXPECT_EQ(field, 0xAAAAAAAAu);
    EXPECT_EQ(machine.board.trace.back().where, kErrorMoreData);

    EXPECT_TRUE(pf::QueryValue(key, "Io2BaseAddress", &field, 4));  // exactly two bytes written
    EXPECT_EQ(field, 0xAAAAC400u);

    field = 0xAAAAAAAAu;
    EXPECT_TRUE(pf::QueryValue(key, "IntMemBaseAddress", &field, 4));  // empty value
    EXPECT_EQ(field, 0xAAAAAAAAu);

    EXPECT_FALSE(pf::QueryValue(key, "Missing", &field, 4));
    EXPECT_EQ(machine.board.trace.back().where, kErrorFileNotFound);
    EXPECT_EQ(machine.board.trace.back().name, "Missing");
    pf::CloseKey(key);
    EXPECT_FALSE(pf::QueryValue(key, "Io1BaseAddress", &field, 4));  // key closed
}

// ---- memory windows ----------------------------------------------------------------------------

TEST(SimWindows, LoadsAndStoresReachTheMemoriesLittleEndian) {
    HostMachine machine;
    Board& board = machine.board;
    pf::WindowStore32(board.intWindowAddress + 0xC0FC, 0x11223344u);
    EXPECT_EQ(board.intMem[0xC0FC], 0x44u);
    EXPECT_EQ(pf::WindowLoad16(board.intWindowAddress + 0xC0FD), 0x2233u);
    const std::uint32_t lastWord = board.extWindowAddress + kExtMemSize - 4;
    pf::WindowStore32(lastWord, 0xA1B2C3D4u);
    EXPECT_EQ(pf::WindowLoad8(board.extWindowAddress + kExtMemSize - 1), 0xA1u);
    EXPECT_EQ(pf::WindowLoad32(lastWord), 0xA1B2C3D4u);
    const std::vector<Event> bus = board.BusAccesses();
    ASSERT_EQ(bus.size(), 5u);
    EXPECT_EQ(bus[0].op, Op::WindowStore);
    EXPECT_EQ(bus[1].op, Op::WindowLoad);
    EXPECT_EQ(bus[1].width, 16);
    EXPECT_EQ(bus[1].where, board.intWindowAddress + 0xC0FD);
}

TEST(SimWindowsDeathTest, AccessPastTheExternalWindowFaults) {
    HostMachine machine;
    const std::uint32_t end = machine.board.extWindowAddress + kExtMemSize;
    EXPECT_DEATH(pf::WindowLoad32(end - 2), "window fault: 32-bit load at 0x50FFFFFE");
    EXPECT_DEATH(pf::WindowLoad8(end), "window fault");
    EXPECT_DEATH(pf::WindowStore32(machine.board.intWindowAddress - 4, 0), "window fault");
}

TEST(SimTrace, LimitKeepsTheFirstEventsAndCountsTheRest) {
    HostMachine machine;
    machine.board.traceLimit = 2;
    for (int i = 0; i < 5; ++i) pf::PortWrite8(0x80, static_cast<std::uint8_t>(i));
    ASSERT_EQ(machine.board.trace.size(), 2u);
    EXPECT_EQ(machine.board.trace[1].value, 1u);
    EXPECT_EQ(machine.board.traceDropped, 3u);
    machine.board.ClearTrace();
    pf::PortWrite8(0x80, 9);
    EXPECT_EQ(machine.board.trace.size(), 1u);
    EXPECT_EQ(machine.board.traceDropped, 0u);
}

TEST(SimHeap, FailsOnceWhenAsked) {
    HostMachine machine;
    machine.failNextAllocation = true;
    EXPECT_EQ(pf::HeapAllocate(28), nullptr);
    void* block = pf::HeapAllocate(28);
    EXPECT_NE(block, nullptr);
    pf::HeapRelease(block);
}

}  // namespace
}  // namespace vexo::sim
