// An independent model of the board address map and the block transfers, written from the map's
// table and the transfer rules, never from the library's code. It predicts, for one transfer,
// the result, the caller's buffer afterwards, both memories, the card's I/O registers and every
// bus access in order. The differential test and the fuzz target run it beside the library on
// the simulated card and compare everything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer_support.h"

namespace vexo::model {

// Where random transfers start: near every edge of the map, where faults live.
constexpr std::uint32_t kInterestingStarts[] = {
    0x0000,     0x00FF,     0x0100,     0x7FFF,     0x8000,     0x80FF,     0x8100,  0xBFFF,
    0xC000,     0xC0FF,     0xC100,     0xFFFF,     0x10000,    0x1003F,    0x10040, 0x10080,
    0x100C0,    0x10100,    0x10140,    0x10180,    0x101C0,    0x10200,    0x10240, 0x10280,
    0x102C0,    0x10300,    0x10340,    0x10380,    0x103C0,    0x103FF,    0x10400, 0x07FFFFFF,
    0x08000000, 0x08001000, 0x08800000, 0x08FFFFFF, 0x09000000, 0xFFFFFFFF,
};

struct BusAccess {
    enum Kind : std::uint8_t { PortRead, PortWrite, Load, Store } kind;
    std::uint8_t width;
    std::uint32_t where;  // 16-bit port, or window address
    std::uint32_t value;

    bool operator==(const BusAccess& o) const {
        return kind == o.kind && width == o.width && where == o.where && value == o.value;
    }
};

// The machine as the model sees it: two memory windows, the card's two I/O ranges of 256
// byte-wide registers (little-endian for wider accesses, ports nobody decodes read all ones).
struct Machine {
    std::uint32_t intWindow = 0, extWindow = 0, io1Base = 0, io2Base = 0;
    std::vector<std::uint8_t> intMem, extMem;
    std::uint8_t io[2][256] = {};
    std::vector<BusAccess> bus;  // what the last transfer did
};

struct Transfer {
    bool write = false;
    std::uint32_t address = 0;
    std::uint32_t count = 0;
    std::uint16_t size = 1;            // 1, 2 or 4
    bool nullBuffer = false;           // pass a null buffer instead of `buffer`
    std::vector<std::uint8_t> buffer;  // count * size bytes and a few guard bytes after them
};

// The model's copy of the simulated machine's current state.
Machine Snapshot(testing::WiredBoard& wired);

// What the six block exports do, by the model. Returns 1 or 0; updates `machine` and `buffer`.
int Run(Machine& machine, const Transfer& transfer, std::vector<std::uint8_t>& buffer);

// Runs the transfer on the library (through the wired context) and on the model, and compares
// result, bus trace, buffer, the words stored and the I/O registers. Empty when they agree,
// otherwise a description of the first difference.
std::string Compare(testing::WiredBoard& wired, Machine& machine, const Transfer& transfer);

// Both memories in full, simulated against modelled; too slow to run after every transfer.
std::string CompareMemories(testing::WiredBoard& wired, const Machine& machine);

}  // namespace vexo::model
