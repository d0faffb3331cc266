// libFuzzer target: an input's first 8 bytes set the card up (the two I/O bases, among them
// bases whose ranges wrap past port 0xFFFF, and the memories' and registers' contents); every
// further 8 bytes become one block transfer, run on the library and on the independent model.
// Any difference aborts with its description.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "little_endian.h"
#include "transfer_model.h"

namespace {

using vexo::model::Transfer;

struct Rig {
    vexo::testing::WiredBoard wired;
    vexo::model::Machine machine;
    std::uint8_t setUp[8] = {};
    Rig() : machine(vexo::model::Snapshot(wired)) {}
};

// flags, four address bytes, two count bytes, one more byte that picks the data.
Transfer Decode(const std::uint8_t* record) {
    const std::uint8_t flags = record[0];
    const std::uint32_t raw = vexo::little_endian::Load32(record + 1);
    Transfer t;
    t.write = flags & 1;
    t.size = static_cast<std::uint16_t>(1u << ((flags >> 1) & 3) % 3);
    switch ((flags >> 3) & 3) {
        case 0: {
            const std::uint32_t anchor =
                vexo::model::kInterestingStarts[raw % std::size(vexo::model::kInterestingStarts)];
            t.address = anchor + static_cast<std::uint32_t>(static_cast<std::int8_t>(raw >> 24));
            break;
        }
        case 1:
            t.address = raw % 0x10400;
            break;
        case 2:
            t.address = 0x08000000 + raw % 0x01000000;
            break;
        default:
            t.address = raw;
            break;
    }
    t.count = vexo::little_endian::Load16(record + 5) % 512u;
    t.nullBuffer = (flags >> 5) == 7;
    t.buffer.resize(std::size_t{t.count} * t.size + 8);
    std::uint32_t data = record[7] * 0x01000193u + 1;
    for (std::uint8_t& byte : t.buffer) {
        data = data * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(data >> 24);
    }
    return t;
}

// The parts of external memory that transfers reach most: its edges and the model's anchors.
constexpr std::uint32_t kExtFillStarts[] = {0x000000, 0x001000, 0x7FF000, 0x800000, 0xFFE000};
constexpr std::uint32_t kExtFillLength = 0x2000;

// Fills `size` bytes at the same place of the simulated card and of the model with the stream
// that `state` starts.
void Fill(std::uint8_t* simulated, std::uint8_t* modelled, std::size_t size, std::uint32_t& state) {
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        simulated[i] = modelled[i] = static_cast<std::uint8_t>(state >> 24);
    }
}

// The host bridge's configuration ports, 0xCF8-0xCFF: a range over them is no card's any more.
constexpr std::uint32_t kConfigPorts = 0xCF8;

// Whether the 256 ports from `base` on (wrapping past 0xFFFF) include the 8 from `ports` on.
bool Covers(std::uint32_t base, std::uint32_t ports) {
    return ((ports - base) & 0xFFFF) < 0x100 || ((ports + 7 - base) & 0xFFFF) < 0x100;
}

// Applies an input's set-up bytes: I/O bases anywhere in port space on a 64-port grid (the two
// ranges apart, neither over the configuration ports), and
// internal memory, the I/O registers and the busy parts of external memory filled from a seed.
// Both sides get the same state, so nothing is copied between them.
void SetUp(Rig& rig, const std::uint8_t* setUp) {
    if (std::memcmp(rig.setUp, setUp, sizeof rig.setUp) == 0) return;
    std::memcpy(rig.setUp, setUp, sizeof rig.setUp);
    std::uint32_t io1Base = (vexo::little_endian::Load32(setUp) & 0x3FF) * 0x40;
    std::uint32_t io2Base =
        (io1Base + 0x100 + (vexo::little_endian::Load32(setUp) >> 10) % 0x3F8 * 0x40) & 0xFFFF;
    if (Covers(io1Base, kConfigPorts) || Covers(io2Base, kConfigPorts)) {
        io1Base = vexo::testing::kIo1Base;
        io2Base = vexo::testing::kIo2Base;
    }
    std::uint32_t state = vexo::little_endian::Load32(setUp + 4);

    vexo::sim::PciFunction& card = rig.wired.machine.Card();
    card.bars[2] = io1Base | 1u;
    card.bars[3] = io2Base | 1u;
    rig.wired.Context().io1Base = rig.machine.io1Base = io1Base;
    rig.wired.Context().io2Base = rig.machine.io2Base = io2Base;

    vexo::sim::Board& board = rig.wired.Sim();
    Fill(board.intMem, rig.machine.intMem.data(), vexo::sim::kIntMemSize, state);
    Fill(&card.io[0][0], &rig.machine.io[0][0], sizeof card.io, state);
    for (const std::uint32_t start : kExtFillStarts) {
        Fill(board.extMem + start, rig.machine.extMem.data() + start, kExtFillLength, state);
    }
    board.ClearTrace();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    if (size < sizeof rig.setUp) return 0;
    SetUp(rig, data);
    for (std::size_t at = sizeof rig.setUp; at + 8 <= size; at += 8) {
        const Transfer t = Decode(data + at);
        const std::string difference = vexo::model::Compare(rig.wired, rig.machine, t);
        if (!difference.empty()) {
            std::fprintf(stderr, "I/O bases 0x%04X, 0x%04X; %s of %u x %u bytes at 0x%08X%s: %s\n",
                         rig.machine.io1Base, rig.machine.io2Base, t.write ? "write" : "read",
                         t.count, t.size, t.address, t.nullBuffer ? " from a null buffer" : "",
                         difference.c_str());
            std::abort();
        }
    }
    // The memories in full now and then: a store the trace shows in the right place but that
    // landed elsewhere as well would otherwise go unseen.
    static unsigned inputs = 0;
    if (++inputs % 256 == 0) {
        const std::string difference = vexo::model::CompareMemories(rig.wired, rig.machine);
        if (!difference.empty()) {
            std::fprintf(stderr, "%s\n", difference.c_str());
            std::abort();
        }
    }
    return 0;
}
