// The card's state as the card file keeps it: taking the card off the bus and back, moving it,
// the power cycle, the driver's fixed-size settings, and the check of a card file read from disk.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "board.h"
#include "card_file.h"
#include "host_machine.h"
#include "platform.h"

namespace vexo::sim {
namespace {

namespace pf = vexo::platform;

constexpr std::uint32_t kCardRegister0 =
    0x80000000u | (kPowerOnBus << 16) | (kPowerOnDevice << 11) | (pci::kCardFunction << 8);

TEST(SimCardPresence, RemovedCardAnswersNothingAndComesBackAsItWas) {
    HostMachine machine;
    machine.Card().commandStatus = 1;
    machine.Card().bars[2] = 0xC001u;
    pf::PortWrite8(0xC010, 0x5A);
    machine.board.SetCardPresent(false);
    EXPECT_FALSE(machine.board.CardPresent());
    EXPECT_EQ(pf::PortRead8(0xC010), 0xFFu);
    pf::PortWrite32(0xCF8, kCardRegister0);
    EXPECT_EQ(pf::PortRead32(0xCFC), 0xFFFFFFFFu);
    machine.board.SetCardPresent(true);
    EXPECT_EQ(pf::PortRead32(0xCFC), kCardId);
    EXPECT_EQ(pf::PortRead8(0xC010), 0x5Au) << "the card's registers were kept off the bus";
    // Put back twice, it is still one card.
    machine.board.SetCardPresent(true);
    EXPECT_EQ(machine.board.functions.size(), 1u);
}

TEST(SimCardPresence, InsertingWithNoCardKeptAddsAPowerOnCardAtItsPlace) {
    HostMachine machine;
    machine.board.functions.clear();
    ASSERT_TRUE(machine.board.PlaceCard(7, 3));
    machine.board.SetCardPresent(true);
    ASSERT_NE(machine.board.FindFunction(7, 3, 1), nullptr);
    EXPECT_EQ(machine.board.FindFunction(7, 3, 1)->bars[0], kDefaultBars[0]);
}

TEST(SimCardPlace, MovesTheCardOnAndOffTheBusButNotOntoAnotherFunction) {
    HostMachine machine;
    machine.board.AddFunction(9, 9, 1, 0x12348086u);
    EXPECT_FALSE(machine.board.PlaceCard(9, 9));
    EXPECT_FALSE(machine.board.PlaceCard(256, 0));
    EXPECT_FALSE(machine.board.PlaceCard(0, 32));
    machine.board.SetCardPresent(false);
    EXPECT_TRUE(machine.board.PlaceCard(4, 6));
    machine.board.SetCardPresent(true);
    EXPECT_NE(machine.board.FindFunction(4, 6, 1), nullptr);
    EXPECT_EQ(machine.board.state.placeBus, 4u);
    EXPECT_EQ(machine.board.state.placeDevice, 6u);
}

TEST(SimPowerOn, OneCardAtThePowerOnPlaceAndTheDriverAsShipped) {
    HostMachine machine(9, 9);
    machine.board.AddFunction(0, 1, 0, 0x12348086u);
    machine.board.driver.failingCodes = {6, 7};
    machine.board.driver.present = 0;
    machine.board.configAddress = 0x80000010u;
    machine.board.PowerOn();
    ASSERT_EQ(machine.board.functions.size(), 1u);
    EXPECT_NE(machine.board.FindFunction(kPowerOnBus, kPowerOnDevice, 1), nullptr);
    EXPECT_EQ(machine.board.driver.failingCodes.size(), 0u);
    EXPECT_EQ(machine.board.driver.present, 1u);
    EXPECT_EQ(machine.board.configAddress, 0u);
}

TEST(SimDriverSettings, FailingCodesAndTheConfigReplyKeepTheirBounds) {
    CodeSet codes;
    for (std::uint32_t code = 0; code < kMaxFailingCodes; ++code) EXPECT_TRUE(codes.insert(code));
    EXPECT_TRUE(codes.insert(3)) << "a code already in the set";
    EXPECT_FALSE(codes.insert(1000));
    codes.erase(5);
    EXPECT_FALSE(codes.Contains(5));
    EXPECT_TRUE(codes.insert(1000));
    EXPECT_EQ(codes.size(), kMaxFailingCodes);

    ConfigReply reply;
    const std::vector<std::uint8_t> longer(300, 0xAB);
    reply.assign(longer.data(), longer.data() + longer.size());
    EXPECT_EQ(reply.length, driver::kPciConfigReplySize);
}

TEST(SimBusFull, AddingPastTheLastSlotAddsNothing) {
    HostMachine machine;
    for (std::size_t i = machine.board.functions.size(); i < kMaxFunctions; ++i) {
        EXPECT_NE(machine.board.AddFunction(1, static_cast<std::uint8_t>(i % 32), 0, 1), nullptr);
    }
    EXPECT_EQ(machine.board.AddCard(3, 3), nullptr);
    EXPECT_EQ(machine.board.functions.size(), kMaxFunctions);
}

// ---- the card file's check ----------------------------------------------------------------------

std::vector<std::uint8_t> CardFileHead() {
    card_file::Layout layout;
    layout.state.functions.Append(PciFunction{});
    card_file::CompleteHeader(layout.header);
    std::vector<std::uint8_t> bytes(sizeof layout);
    std::memcpy(bytes.data(), &layout, sizeof layout);
    return bytes;
}

TEST(SimCardFile, OnlyEmptyFilesAndTheCardsOwnAreTaken) {
    using card_file::Judge;
    using card_file::Verdict;
    std::vector<std::uint8_t> head = CardFileHead();
    EXPECT_EQ(Judge(head.data(), head.size(), card_file::kSize), Verdict::Card);
    EXPECT_EQ(Judge(nullptr, 0, 0), Verdict::Blank);
    EXPECT_EQ(Judge(head.data(), 8, 8), Verdict::Blank) << "the magic alone: a card being made";
    EXPECT_EQ(Judge(head.data(), head.size(), 4096), Verdict::Blank) << "cut short";
    const std::vector<std::uint8_t> text(4200, 'x');
    EXPECT_EQ(Judge(text.data(), text.size(), text.size()), Verdict::Foreign);
    EXPECT_EQ(Judge(head.data(), 5, 5), Verdict::Foreign) << "shorter than the magic";

    card_file::Layout layout;
    std::memcpy(&layout, head.data(), sizeof layout);
    layout.header.version = 1;
    std::memcpy(head.data(), &layout, sizeof layout);
    EXPECT_EQ(Judge(head.data(), head.size(), card_file::kSize), Verdict::Blank)
        << "an older layout of its own";
    layout.header.version = card_file::kVersion;
    layout.state.functions.count = kMaxFunctions + 1;
    std::memcpy(head.data(), &layout, sizeof layout);
    EXPECT_EQ(Judge(head.data(), head.size(), card_file::kSize), Verdict::Blank)
        << "a count out of bounds";
}

// Whether a file must be made whole before it is mapped: its size and header decide, never the
// state, which another program may be changing.
TEST(SimCardFile, AFileIsMadeWholeUnlessItsHeaderAndSizeSayItWas) {
    using card_file::IsMade;
    std::vector<std::uint8_t> head = CardFileHead();
    EXPECT_TRUE(IsMade(head.data(), head.size(), card_file::kSize));
    EXPECT_FALSE(IsMade(head.data(), head.size(), card_file::kSize - 1)) << "cut short";
    EXPECT_FALSE(IsMade(nullptr, 0, 0)) << "empty";
    card_file::Layout layout;
    std::memcpy(&layout, head.data(), sizeof layout);
    layout.state.functions.count = kMaxFunctions + 1;
    std::memcpy(head.data(), &layout, sizeof layout);
    EXPECT_TRUE(IsMade(head.data(), head.size(), card_file::kSize)) << "the state does not count";
    layout.header.version = 2;
    std::memcpy(head.data(), &layout, sizeof layout);
    EXPECT_FALSE(IsMade(head.data(), head.size(), card_file::kSize)) << "an older layout";
    layout.header = card_file::MadeHeader();
    std::memcpy(head.data(), &layout, sizeof layout);
    EXPECT_TRUE(IsMade(head.data(), head.size(), card_file::kSize)) << "made, not yet powered on";
    EXPECT_EQ(card_file::Judge(head.data(), head.size(), card_file::kSize),
              card_file::Verdict::Blank);
}

}  // namespace
}  // namespace vexo::sim
