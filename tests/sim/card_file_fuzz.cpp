// libFuzzer target: the check of a card file read from disk. An input's first three words are
// the file's size, how many of its first bytes there are, and where the rest of the input lies in
// them: over the head of a card file as the module makes it, so that short inputs reach every
// field of the header and the state. Whatever the check lets through as a card must be a
// state the card model runs on safely: every function's configuration space is read and written,
// the I/O ranges its registers place are read and written, every control code is asked, and the
// card is taken off the bus, moved and put back; the state must still pass the check after all
// that. AddressSanitizer and UndefinedBehaviorSanitizer catch what the model would do wrong.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board.h"
#include "card_file.h"
#include "host_machine.h"

namespace {

using vexo::sim::Board;
using vexo::sim::card_file::Judge;
using vexo::sim::card_file::Layout;
using vexo::sim::card_file::Verdict;

void Exercise(Board& board) {
    for (std::uint32_t i = 0; i < board.functions.size(); ++i) {
        const vexo::sim::PciFunction f = board.functions.slots[i];
        const std::uint32_t select = vexo::pci::ConfigAddress(f.bus, f.device, f.function, 0);
        for (std::uint32_t reg = 0; reg < 0x100; reg += 4) {
            board.PortWrite(vexo::pci::kConfigAddressPort, 32, select | reg);
            const std::uint32_t value = board.PortRead(vexo::pci::kConfigDataPort, 32);
            board.PortWrite(vexo::pci::kConfigDataPort, 32, value);
        }
        for (int range = 0; range < 2; ++range) {
            const auto base = static_cast<std::uint16_t>(f.IoBase(range));
            for (std::uint32_t offset : {0u, 1u, 0xFEu, 0xFFu, 0x100u}) {
                const auto port = static_cast<std::uint16_t>(base + offset);
                board.PortWrite(port, 32, board.PortRead(port, 32) ^ 0x5Au);
                board.OwnerOf(port);
            }
        }
    }
    std::uint8_t reply[vexo::driver::kPciConfigReplySize] = {};
    const std::uint8_t record[16] = {};
    for (std::uint32_t code = 0; code <= 17; ++code) {
        std::uint32_t returned = 0;
        board.DriverRequest(code, record, sizeof record, reply, sizeof reply, &returned);
        if (returned > sizeof reply) std::abort();
    }
    board.SetCardPresent(false);
    board.PlaceCard(board.state.placeBus, 31);
    board.SetCardPresent(true);
    board.FirstCard();
}

}  // namespace

std::uint32_t Word(const std::uint8_t* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

// The first bytes of a card file as the module leaves it after a power-on.
const Layout& MadeCard() {
    static const Layout made = [] {
        Layout layout;
        static vexo::sim::GuardedMemory intMemory(vexo::sim::kIntMemSize);
        static vexo::sim::GuardedMemory extMemory(vexo::sim::kExtMemSize);
        Board board(layout.state, intMemory.Bytes(), extMemory.Bytes());
        board.PowerOn();
        vexo::sim::card_file::CompleteHeader(layout.header);
        return layout;
    }();
    return made;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSettings = 12;
    if (size < kSettings) return 0;
    const std::uint32_t fileSize = Word(data);
    const std::size_t headSize = Word(data + 4) % (sizeof(Layout) + 1);
    const std::size_t at = Word(data + 8) % sizeof(Layout);
    static std::uint8_t head[sizeof(Layout)];
    std::memcpy(head, &MadeCard(), sizeof head);
    std::memcpy(head + at, data + kSettings, std::min(size - kSettings, sizeof head - at));
    if (Judge(head, headSize, fileSize) != Verdict::Card) return 0;
    static vexo::sim::GuardedMemory intMemory(vexo::sim::kIntMemSize);
    static vexo::sim::GuardedMemory extMemory(vexo::sim::kExtMemSize);
    static Layout layout;
    std::memcpy(&layout, head, sizeof layout);
    Board board(layout.state, intMemory.Bytes(), extMemory.Bytes());
    board.tracing = false;
    Exercise(board);
    if (!vexo::sim::StateIsSound(layout.state)) {
        std::fprintf(stderr, "the model left the card's state out of bounds\n");
        std::abort();
    }
    return 0;
}
