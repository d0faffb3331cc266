// Discovery and handshake as seen from outside: driver requests, registry reads, and every
// access that reaches the bus, in order.
#include "library_fixture.h"
#include "pci_config.h"

namespace vexo::test {
namespace {

using sim::Op;

constexpr std::uint32_t kCf8 = 0xCF8;
constexpr std::uint32_t kCfc = 0xCFC;

std::vector<std::string> ProbeTrace(std::uint32_t probes, std::uint32_t answerOfLast) {
    std::vector<std::string> lines;
    for (std::uint32_t n = 0; n < probes; ++n) {
        const std::uint32_t device = n / 256, bus = n % 256;
        lines.push_back(Out32(kCf8, pci::ConfigAddress(bus, device, 1, 0)));
        lines.push_back(In32(kCfc, n + 1 == probes ? answerOfLast : 0xFFFFFFFFu));
    }
    return lines;
}

std::vector<std::string> SetUpWrites(std::uint32_t io1Base, std::uint32_t io2Base) {
    return {Out32((io1Base + 0xC4) & 0xFFFF, 0x0000000E), Out32(io2Base & 0xFFFF, 0x6B19D4A7),
            Out32((io2Base + 0x10) & 0xFFFF, 0x00018000)};
}

// ---- the handshake ---------------------------------------------------------------------------

// One word per event, with runs of bus accesses folded into one "bus".
std::vector<std::string> Outline(const std::vector<sim::Event>& trace) {
    std::vector<std::string> words;
    for (const sim::Event& e : trace) {
        std::string word;
        switch (e.op) {
            case Op::DriverOpen:
                word = "open";
                break;
            case Op::DriverRequest:
                word = "code" + std::to_string(e.where);
                break;
            case Op::DriverClose:
                word = "close";
                break;
            case Op::RegistryOpen:
                word = "key";
                break;
            case Op::RegistryQuery:
                word = e.name;
                break;
            case Op::RegistryClose:
                word = "/key";
                break;
            default:
                word = "bus";
                break;
        }
        if (word == "bus" && !words.empty() && words.back() == "bus") continue;
        words.push_back(word);
    }
    return words;
}

TEST_F(LibraryTest, OpenRunsTheHandshakeStepsInOrder) {
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(1, cVexoOpen());
    EXPECT_EQ(
        (std::vector<std::string>{"open", "code3", "code2", "code1", "key", "IntMemBaseAddress",
                                  "ExtMemBaseAddress", "Io1BaseAddress", "Io2BaseAddress", "/key",
                                  "bus", "code16", "code6", "code7", "bus"}),
        Outline(board.trace));
    EXPECT_EQ("\\\\.\\VexoLite.vxd", board.trace[0].name);
    EXPECT_EQ("System\\CurrentControlSet\\Services\\Class\\VexoLite", board.trace[4].name);
    for (const sim::Event& e : board.trace) {
        if (e.op == Op::RegistryQuery) {
            EXPECT_EQ(4, e.width) << e.name;
        }
        if (e.op == Op::DriverRequest && e.where != 16) {
            EXPECT_TRUE(e.input.empty()) << e.where;
        }
    }
    EXPECT_EQ((std::vector<std::uint32_t>{0xE9000000, 0xEA000000, 0xC000, 0xC400}),
              BaseAddressRecordSent());
}

// A failure at any request stops the open there; the handle is closed and what was already
// done to the card and told to the driver stays.
class RequestFailureTest : public LibraryTest,
                           public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RequestFailureTest, StopsAtTheFailingCodeAndLeavesEarlierChanges) {
    const std::uint32_t failing = GetParam();
    const std::vector<std::uint32_t> order = {3, 2, 1, 16, 6, 7};
    const bool pastConfiguration = failing == 16 || failing == 6 || failing == 7;
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    board.driver.failingCodes = {failing};

    EXPECT_EQ(0, cVexoOpen());

    std::vector<std::uint32_t> sent;
    for (std::uint32_t code : order) {
        sent.push_back(code);
        if (code == failing) break;
    }
    EXPECT_EQ(sent, RequestCodes());
    EXPECT_EQ(Op::DriverClose, board.trace.back().op);
    EXPECT_EQ(0, machine.driverHandles.open);
    EXPECT_EQ(-1, cVexoGetINTA());

    EXPECT_EQ(pastConfiguration ? 1u : 0u, CountOf(Op::RegistryOpen));
    const sim::PciFunction& card = machine.Card();
    EXPECT_EQ(pastConfiguration ? 3u : 0u, card.commandStatus);
    EXPECT_EQ(pastConfiguration ? 0xEA000008u : sim::kDefaultBars[0], card.bars[0]);
    EXPECT_EQ(pastConfiguration ? 0x0000C401u : sim::kDefaultBars[3], card.bars[3]);
    EXPECT_EQ(failing == 6 || failing == 7, board.driver.basesKnown);
    // The set-up registers are written only after every request has succeeded.
    EXPECT_EQ(0u, card.IoRegister(0, 0xC4));
    EXPECT_EQ(0u, card.IoRegister(1, 0x00));
    EXPECT_EQ(0u, card.IoRegister(1, 0x10));
    if (!pastConfiguration) {
        EXPECT_TRUE(board.BusAccesses().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, RequestFailureTest, ::testing::Values(3u, 2u, 1u, 16u, 6u, 7u),
                         [](const auto& info) { return "Code" + std::to_string(info.param); });

struct Identity {
    std::uint32_t deviceId, vendorId;
};

class WrongIdentityTest : public LibraryTest, public ::testing::WithParamInterface<Identity> {};

TEST_P(WrongIdentityTest, FailsBeforeTheKeyOrTheBusIsTouched) {
    board.driver.deviceId = GetParam().deviceId;
    board.driver.vendorId = GetParam().vendorId;
    EXPECT_EQ(0, cVexoOpen());
    EXPECT_EQ((std::vector<std::uint32_t>{3, 2, 1}), RequestCodes());
    EXPECT_EQ(0u, CountOf(Op::RegistryOpen));
    EXPECT_TRUE(board.BusAccesses().empty());
    EXPECT_EQ(0, machine.driverHandles.open);
}

// The whole 32-bit replies are compared: a stray upper bit is a different identity.
INSTANTIATE_TEST_SUITE_P(Identities, WrongIdentityTest,
                         ::testing::Values(Identity{0x2005, 0x10CF}, Identity{0x2004, 0x10CE},
                                           Identity{0x12004, 0x10CF}, Identity{0x2004, 0x810CF},
                                           Identity{0x10CF, 0x2004}, Identity{0x200410CF, 0}));

// ---- the board configuration key and the base address registers ---------------------------

struct KeyCase {
    const char* name;
    void (*shape)(sim::Registry&);
    std::uint32_t bars[4];  // the card's BAR0-BAR3 before the open
    // intMemBase, extMemBase, io1Base, io2Base as reported afterwards, and whether each was
    // programmed into its register (true) or taken from it (false).
    std::uint32_t bases[4];
    bool programmed[4];
};

void AllFour(sim::Registry& r) {
    r.SetDword("IntMemBaseAddress", 0xE9000000);
    r.SetDword("ExtMemBaseAddress", 0xEA000000);
    r.SetDword("Io1BaseAddress", 0xC000);
    r.SetDword("Io2BaseAddress", 0xC400);
}

#define DEFAULT_BARS \
    { 0xE8000008u, 0xE9800000u, 0x0000D001u, 0x0000D401u }

const KeyCase kKeyCases[] = {
    {"KeyMissing",
     [](sim::Registry&) {},
     DEFAULT_BARS,
     {0xE9800000, 0xE8000000, 0xD000, 0xD400},
     {false, false, false, false}},
    {"KeyWithoutValues",
     [](sim::Registry& r) { r.keyPresent = true; },
     DEFAULT_BARS,
     {0xE9800000, 0xE8000000, 0xD000, 0xD400},
     {false, false, false, false}},
    {"EveryFlagBitSet",
     [](sim::Registry&) {},
     {0xE800000Fu, 0xE980000Fu, 0x0000D003u, 0x0000D403u},
     {0xE9800000, 0xE8000000, 0xD000, 0xD400},
     {false, false, false, false}},
    {"AllFourValues",
     AllFour,
     DEFAULT_BARS,
     {0xE9000000, 0xEA000000, 0xC000, 0xC400},
     {true, true, true, true}},
    {"ValuesAreWrittenUnmasked",
     [](sim::Registry& r) {
         AllFour(r);
         r.SetDword("ExtMemBaseAddress", 0xEA000008);
         r.SetDword("Io1BaseAddress", 0xC001);
     },
     DEFAULT_BARS,
     {0xE9000000, 0xEA000008, 0xC001, 0xC400},
     {true, true, true, true}},
    {"OneValueZero",
     [](sim::Registry& r) {
         AllFour(r);
         r.SetDword("Io1BaseAddress", 0);
     },
     DEFAULT_BARS,
     {0xE9000000, 0xEA000000, 0xD000, 0xC400},
     {true, true, false, true}},
    {"OneValueMissing",
     [](sim::Registry& r) {
         AllFour(r);
         r.values.erase("ExtMemBaseAddress");
     },
     DEFAULT_BARS,
     {0xE9000000, 0xE8000000, 0xC000, 0xC400},
     {true, false, true, true}},
    {"StringLongerThanFourBytes",
     [](sim::Registry& r) {
         AllFour(r);
         r.SetString("IntMemBaseAddress", "E9000000");
     },
     DEFAULT_BARS,
     {0xE9800000, 0xEA000000, 0xC000, 0xC400},
     {false, true, true, true}},
    {"TwoByteValue",
     [](sim::Registry& r) {
         AllFour(r);
         r.SetBytes("Io2BaseAddress", {0x34, 0x12}, sim::kRegDword);
     },
     DEFAULT_BARS,
     {0xE9000000, 0xEA000000, 0xC000, 0x1234},
     {true, true, true, true}},
    {"BinaryValueOfFourBytes",
     [](sim::Registry& r) {
         AllFour(r);
         r.SetBytes("Io1BaseAddress", {0x00, 0xC8, 0x00, 0x00}, sim::kRegBinary);
     },
     DEFAULT_BARS,
     {0xE9000000, 0xEA000000, 0xC800, 0xC400},
     {true, true, true, true}},
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyTest : public LibraryTest, public ::testing::WithParamInterface<KeyCase> {};

// Register of each base, in the order the bases are listed (internal memory first).
constexpr std::uint32_t kBarOfBase[4] = {0x14, 0x10, 0x18, 0x1C};

TEST_P(KeyTest, ProgramsOrTakesEachBaseAndReportsIt) {
    const KeyCase& c = GetParam();
    c.shape(machine.registry);
    for (int i = 0; i < 4; ++i) machine.Card().bars[i] = c.bars[i];
    ASSERT_EQ(1, cVexoOpen());

    // Decoding on first, then BAR0-BAR3, each either written or read, then the set-up writes.
    std::vector<std::string> expected = {Out32(kCf8, machine.ConfigAddress(0x04)),
                                         Out32(kCfc, 0x00000003)};
    for (int bar = 0; bar < 4; ++bar) {
        const int base = bar == 0 ? 1 : bar == 1 ? 0 : bar;
        expected.push_back(Out32(kCf8, machine.ConfigAddress(kBarOfBase[base])));
        expected.push_back(c.programmed[base] ? Out32(kCfc, c.bases[base])
                                              : In32(kCfc, c.bars[bar]));
    }
    for (const std::string& line : SetUpWrites(c.bases[2], c.bases[3])) expected.push_back(line);
    EXPECT_EQ(expected, BusTraceAfterScan());

    const std::vector<std::uint32_t> bases(c.bases, c.bases + 4);
    EXPECT_EQ(bases, BaseAddressRecordSent());
    const std::vector<std::uint32_t> info = DeviceInfoWords();
    EXPECT_EQ(bases, std::vector<std::uint32_t>(info.begin() + 3, info.end()));
    // A programmed register holds the base within the range's size, with the card's wired
    // flag bits (16 MiB prefetchable, 64 KiB, 256 ports, 256 ports).
    constexpr std::uint32_t kAddressBits[4] = {0xFF000000, 0xFFFF0000, 0xFFFFFF00, 0xFFFFFF00};
    constexpr std::uint32_t kFlagBits[4] = {0x8, 0x0, 0x1, 0x1};
    for (int base = 0; base < 4; ++base) {
        const int bar = base == 0 ? 1 : base == 1 ? 0 : base;
        const std::uint32_t held = (c.bases[base] & kAddressBits[bar]) | kFlagBits[bar];
        EXPECT_EQ(c.programmed[base] ? held : c.bars[bar], machine.Card().bars[bar])
            << "BAR" << bar;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTest, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the set-up registers ----------------------------------------------------------------

struct SetUpCase {
    const char* name;
    std::uint32_t io1Base, io2Base;
    std::uint16_t ports[3];
};

void PrintTo(const SetUpCase& c, std::ostream* os) {
    *os << c.name;
}

class SetUpTest : public LibraryTest, public ::testing::WithParamInterface<SetUpCase> {};

TEST_P(SetUpTest, WritesThreeRegistersAfterTheWindowsAreKnown) {
    const SetUpCase& c = GetParam();
    machine.SetRegistryBases(0xE9000000, 0xEA000000, c.io1Base, c.io2Base);
    ASSERT_EQ(1, cVexoOpen());
    const std::vector<std::string> bus = BusTrace();
    ASSERT_GE(bus.size(), 3u);
    EXPECT_EQ(
        (std::vector<std::string>{Out32(c.ports[0], 0x0000000E), Out32(c.ports[1], 0x6B19D4A7),
                                  Out32(c.ports[2], 0x00018000)}),
        std::vector<std::string>(bus.end() - 3, bus.end()));
    // Nothing but those three follows the last request.
    std::size_t afterLastRequest = 0;
    for (std::size_t i = 0; i < board.trace.size(); ++i) {
        if (board.trace[i].op == Op::DriverRequest) afterLastRequest = board.trace.size() - i - 1;
    }
    EXPECT_EQ(3u, afterLastRequest);
    EXPECT_EQ(7u, RequestCodes().back());
}

// A port number is 16 bits wide: bases near the top of the range wrap around to port 0.
INSTANTIATE_TEST_SUITE_P(
    Bases, SetUpTest,
    ::testing::Values(SetUpCase{"Usual", 0xC000, 0xC400, {0xC0C4, 0xC400, 0xC410}},
                      SetUpCase{"NearTheTop", 0xFF40, 0xFFF0, {0x0004, 0xFFF0, 0x0000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryTest, SetUpRegistersOfTheCardHoldTheirValues) {
    machine.SetRegistryBases(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    ASSERT_EQ(1, cVexoOpen());
    EXPECT_EQ(0x0000000Eu, machine.Card().IoRegister(0, 0xC4));
    EXPECT_EQ(0x6B19D4A7u, machine.Card().IoRegister(1, 0x00));
    EXPECT_EQ(0x00018000u, machine.Card().IoRegister(1, 0x10));
}

// ---- the scan ------------------------------------------------------------------------------

// With no card at function 1 anywhere, every device and bus is probed exactly once, device by
// device, and nothing else reaches the bus.
TEST_F(LibraryTest, AFullScanProbesEveryDeviceAndBusOnceAndFindsNoCardAtFunctionZero) {
    sim::PciFunction& card = machine.Card();
    card.function = 0;
    EXPECT_EQ(0, cVexoOpen());
    const std::vector<std::string> bus = BusTrace();
    EXPECT_EQ(16384u, bus.size());
    EXPECT_EQ(ProbeTrace(8192, 0xFFFFFFFF), bus);
    EXPECT_EQ(pci::ConfigAddress(255, 31, 1, 0), board.configAddress);
    EXPECT_EQ((std::vector<std::uint32_t>{3, 2, 1}), RequestCodes());
    EXPECT_EQ(0u, card.commandStatus);
    EXPECT_EQ(0, machine.driverHandles.open);
}

TEST_F(LibraryTest, TheLowestDeviceWinsThenTheLowestBus) {
    board.AddCard(0, 4);
    board.AddCard(5, 3);
    board.AddCard(9, 3);
    ASSERT_EQ(1, cVexoOpen());
    const std::vector<std::string> bus = BusTrace();
    const std::size_t probes = ProbesToFind(5, 3);
    const std::vector<std::string> scan(bus.begin(), bus.begin() + 2 * probes);
    EXPECT_EQ(ProbeTrace(probes, 0x200410CF), scan);
    EXPECT_EQ(Out32(kCf8, pci::ConfigAddress(5, 3, 1, 0x04)), bus[2 * probes]);
    EXPECT_EQ(3u, board.FindFunction(5, 3, 1)->commandStatus);
    EXPECT_EQ(0u, board.FindFunction(0, 4, 1)->commandStatus);
    EXPECT_EQ(0u, board.FindFunction(9, 3, 1)->commandStatus);
    EXPECT_EQ(0u, machine.Card().commandStatus);
}

// Only the whole identity at function 1 matches.
TEST_F(LibraryTest, TheScanSkipsFunctionsThatAreNotTheCard) {
    board.AddFunction(0, 0, 1, 0x200510CF);
    board.AddFunction(0, 1, 1, 0x10CF2004);
    board.AddFunction(1, 1, 0, 0x200410CF);
    board.AddFunction(0, 2, 1, 0x200410CE);
    ASSERT_EQ(1, cVexoOpen());
    const std::vector<std::string> bus = BusTrace();
    EXPECT_EQ(Out32(kCf8, machine.ConfigAddress(0x04)),
              bus.at(2 * ProbesToFind(machine.bus, machine.device)));
}

// A whole open, card at bus 2, device 5: the probes up to the card, ten configuration accesses,
// three set-up writes, all 32-bit ports; no window is touched.
TEST_F(LibraryTest, AFullOpenMakesExactlyTheExpectedPortAccesses) {
    ASSERT_EQ(1, cVexoOpen());
    const std::size_t probes = ProbesToFind(2, 5);
    EXPECT_EQ(1283u, probes);
    const std::vector<sim::Event> bus = board.BusAccesses();
    EXPECT_EQ(2 * probes + 10 + 3, bus.size());
    EXPECT_EQ(2579u, bus.size());
    for (const sim::Event& e : bus) {
        EXPECT_TRUE(e.op == Op::PortRead || e.op == Op::PortWrite) << Describe(e);
        EXPECT_EQ(32, e.width) << Describe(e);
    }
    const std::vector<std::string> lines = BusTrace();
    EXPECT_EQ(ProbeTrace(probes, 0x200410CF),
              std::vector<std::string>(lines.begin(), lines.begin() + 2 * probes));
}

}  // namespace
}  // namespace vexo::test
