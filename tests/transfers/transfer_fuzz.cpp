// libFuzzer target: every 8 bytes of input become one block transfer, run on the library and on
// the independent model; any difference aborts with its description.
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "transfer_model.h"

namespace {

using vexo::model::Transfer;

struct Rig {
    vexo::testing::WiredBoard wired;
    vexo::model::Machine machine;
    Rig() : machine(vexo::model::Snapshot(wired)) {}
};

std::uint32_t Word(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// flags, four address bytes, two count bytes, one more byte that picks the data.
Transfer Decode(const std::uint8_t* record) {
    const std::uint8_t flags = record[0];
    const std::uint32_t raw = Word(record + 1);
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
    t.count = (std::uint32_t{record[5]} | std::uint32_t{record[6]} << 8) % 512;
    t.nullBuffer = (flags >> 5) == 7;
    t.buffer.resize(std::size_t{t.count} * t.size + 8);
    std::uint32_t data = record[7] * 0x01000193u + 1;
    for (std::uint8_t& byte : t.buffer) {
        data = data * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(data >> 24);
    }
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        const Transfer t = Decode(data + at);
        const std::string difference = vexo::model::Compare(rig.wired, rig.machine, t);
        if (!difference.empty()) {
            std::fprintf(stderr, "%s of %u x %u bytes at 0x%08X%s: %s\n",
                         t.write ? "write" : "read", t.count, t.size, t.address,
                         t.nullBuffer ? " from a null buffer" : "", difference.c_str());
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
