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
// result, buffer, both memories, the I/O registers and the bus trace. Empty when they agree,
// otherwise a description of the first difference.
std::string Compare(testing::WiredBoard& wired, Machine& machine, const Transfer& transfer);

}  // namespace vexo::model
