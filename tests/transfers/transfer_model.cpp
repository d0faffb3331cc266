#include "transfer_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "little_endian.h"

namespace vexo::model {
namespace {

enum class Region { Int, Ext, Io1, Io2, Nowhere };

// The board address map, row by row as it is documented: bounds inclusive, the amount that is
// subtracted before adding the base, and whether a transfer may start in the row.
struct Row {
    std::uint32_t first, last;
    Region region;
    std::uint32_t subtract;
    bool start;
};

constexpr Row kMap[] = {
    {0x0000, 0x00FF, Region::Int, 0, true},
    {0x0100, 0x7FFF, Region::Nowhere, 0, true},
    {0x8000, 0x80FF, Region::Int, 0, true},
    {0x8100, 0xBFFF, Region::Nowhere, 0, true},
    {0xC000, 0xC0FF, Region::Int, 0, true},
    {0xC100, 0xFFFF, Region::Nowhere, 0, true},
    {0x10000, 0x1003F, Region::Io1, 0x10000, true},
    {0x10040, 0x1007F, Region::Nowhere, 0, true},
    {0x10080, 0x100BF, Region::Io1, 0x10040, true},
    {0x100C0, 0x100FF, Region::Nowhere, 0, true},
    {0x10100, 0x1013F, Region::Io1, 0x10080, true},
    {0x10140, 0x1017F, Region::Nowhere, 0, true},
    {0x10180, 0x101BF, Region::Io1, 0x100C0, true},
    {0x101C0, 0x101FF, Region::Nowhere, 0, true},
    {0x10200, 0x1023F, Region::Io2, 0x10200, true},
    {0x10240, 0x102FF, Region::Nowhere, 0, true},
    {0x10300, 0x1033F, Region::Io2, 0x10280, true},
    {0x10340, 0x1037F, Region::Nowhere, 0, true},
    {0x10380, 0x103BF, Region::Io2, 0x102C0, true},
    {0x103C0, 0x103FF, Region::Nowhere, 0, true},
    {0x10400, 0x07FFFFFF, Region::Nowhere, 0, false},
    {0x08000000, 0x08FFFFFF, Region::Ext, 0x08000000, true},
    {0x09000000, 0xFFFFFFFF, Region::Nowhere, 0, false},
};

constexpr std::uint32_t kLimit = 0x08FFFFFF;

const Row& RowOf(std::uint32_t address) {
    for (const Row& row : kMap) {
        if (address >= row.first && address <= row.last) return row;
    }
    std::abort();  // the table covers every 32-bit address
}

std::uint32_t Ones(int bytes) {
    return bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1u;
}

struct Model {
    Machine& m;

    void Pause() {
        for (int i = 0; i < 50; ++i) PortIn(m.io1Base, 1);
    }

    std::uint8_t* IoByte(std::uint32_t port) {
        for (int range = 0; range < 2; ++range) {
            const std::uint64_t base = range == 0 ? m.io1Base : m.io2Base;
            if (port >= base && port < base + 256) return &m.io[range][port - base];
        }
        return nullptr;
    }

    std::uint32_t PortIn(std::uint32_t port32, int bytes) {
        const std::uint32_t port = port32 & 0xFFFF;
        std::uint32_t value = 0;
        for (int k = 0; k < bytes; ++k) {
            const std::uint8_t* reg = IoByte((port + k) & 0xFFFF);
            value |= std::uint32_t{reg ? *reg : std::uint8_t{0xFF}} << (8 * k);
        }
        m.bus.push_back({BusAccess::PortRead, static_cast<std::uint8_t>(8 * bytes), port, value});
        return value;
    }

    void PortOut(std::uint32_t port32, int bytes, std::uint32_t value) {
        const std::uint32_t port = port32 & 0xFFFF;
        m.bus.push_back({BusAccess::PortWrite, static_cast<std::uint8_t>(8 * bytes), port, value});
        for (int k = 0; k < bytes; ++k) {
            std::uint8_t* reg = IoByte((port + k) & 0xFFFF);
            if (reg) *reg = static_cast<std::uint8_t>(value >> (8 * k));
        }
    }

    // Memory by (region, offset into the window); the load is recorded at its window address.
    std::uint32_t Load(Region region, std::uint32_t offset, int bytes) {
        const std::vector<std::uint8_t>& mem = region == Region::Int ? m.intMem : m.extMem;
        const std::uint32_t window = region == Region::Int ? m.intWindow : m.extWindow;
        std::uint32_t value = 0;
        for (int k = 0; k < bytes; ++k) value |= std::uint32_t{mem.at(offset + k)} << (8 * k);
        m.bus.push_back(
            {BusAccess::Load, static_cast<std::uint8_t>(8 * bytes), window + offset, value});
        return value;
    }

    void Store(Region region, std::uint32_t offset, std::uint32_t value) {
        std::vector<std::uint8_t>& mem = region == Region::Int ? m.intMem : m.extMem;
        const std::uint32_t window = region == Region::Int ? m.intWindow : m.extWindow;
        m.bus.push_back({BusAccess::Store, 32, window + offset, value});
        for (int k = 0; k < 4; ++k)
            mem.at(offset + k) = static_cast<std::uint8_t>(value >> (8 * k));
    }

    std::uint32_t ReadOne(std::uint32_t a, int bytes) {
        const Row& row = RowOf(a);
        switch (row.region) {
            case Region::Int:
                return Load(Region::Int, a, bytes);
            case Region::Ext: {
                Pause();
                const std::uint32_t offset = a - row.subtract;
                const std::uint32_t inside = std::min<std::uint32_t>(bytes, 0x1000000 - offset);
                if (inside == static_cast<std::uint32_t>(bytes))
                    return Load(Region::Ext, offset, bytes);
                // Past the window's end: the bytes inside one by one, 0xFF for the others.
                std::uint32_t value = Ones(4);
                for (std::uint32_t k = 0; k < inside; ++k) {
                    value &= ~(0xFFu << (8 * k));
                    value |= Load(Region::Ext, offset + k, 1) << (8 * k);
                }
                return value & Ones(bytes);
            }
            case Region::Io1:
                return PortIn(m.io1Base + (a - row.subtract), bytes);
            case Region::Io2:
                return PortIn(m.io2Base + (a - row.subtract), bytes);
            case Region::Nowhere:
                return Ones(bytes);
        }
        return 0;
    }

    void WriteOne(std::uint32_t a, int bytes, std::uint32_t element) {
        const std::uint32_t w = a & ~3u;
        const Row& wordRow = RowOf(w);
        if (wordRow.region == Region::Int || wordRow.region == Region::Ext) {
            const Region region = wordRow.region;
            const std::uint32_t offset = w - wordRow.subtract;
            if (region == Region::Ext) Pause();
            std::uint32_t word = element;
            if (bytes == 1) {
                const std::uint32_t lane = a & 3;
                word = Load(region, offset, 4);
                word = (word & ~(0xFFu << (8 * lane))) | (element << (8 * lane));
            } else if (bytes == 2) {
                word = Load(region, offset, 4);
                word = (a & 2) ? (word & 0x0000FFFFu) | (element << 16)
                               : (word & 0xFFFF0000u) | element;
            }
            Pause();
            Store(region, offset, word);
            return;
        }
        const Row& row = RowOf(a);
        if (row.region == Region::Io1) PortOut(m.io1Base + (a - row.subtract), bytes, element);
        if (row.region == Region::Io2) PortOut(m.io2Base + (a - row.subtract), bytes, element);
    }
};

std::string Describe(const BusAccess& a) {
    static const char* const kKinds[] = {"in", "out", "load", "store"};
    char text[64];
    std::snprintf(text, sizeof text, "%s%d %08X=%08X", kKinds[a.kind], a.width, a.where, a.value);
    return text;
}

std::vector<BusAccess> LibraryBus(const sim::Board& board) {
    std::vector<BusAccess> bus;
    for (const sim::Event& e : board.BusAccesses()) {
        BusAccess::Kind kind = BusAccess::PortRead;
        if (e.op == sim::Op::PortWrite) kind = BusAccess::PortWrite;
        if (e.op == sim::Op::WindowLoad) kind = BusAccess::Load;
        if (e.op == sim::Op::WindowStore) kind = BusAccess::Store;
        bus.push_back({kind, e.width, e.where, e.value});
    }
    return bus;
}

std::string FirstDifference(const std::vector<std::uint8_t>& library,
                            const std::vector<std::uint8_t>& model, const char* what) {
    const auto mismatch = std::mismatch(library.begin(), library.end(), model.begin());
    if (mismatch.first == library.end()) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%s differs at offset 0x%zX: library %02X, model %02X", what,
                  static_cast<std::size_t>(mismatch.first - library.begin()), *mismatch.first,
                  *mismatch.second);
    return text;
}

}  // namespace

Machine Snapshot(testing::WiredBoard& wired) {
    Machine m;
    const sim::Board& board = wired.Sim();
    m.intWindow = board.intWindowAddress;
    m.extWindow = board.extWindowAddress;
    m.io1Base = wired.Context().io1Base;
    m.io2Base = wired.Context().io2Base;
    m.intMem.assign(board.intMem, board.intMem + sim::kIntMemSize);
    m.extMem.assign(board.extMem, board.extMem + sim::kExtMemSize);
    std::memcpy(m.io, wired.machine.Card().io, sizeof m.io);
    return m;
}

int Run(Machine& machine, const Transfer& t, std::vector<std::uint8_t>& buffer) {
    machine.bus.clear();
    if (!RowOf(t.address).start) return 0;
    if (t.nullBuffer && t.count > 0) return 0;
    Model model{machine};
    std::uint32_t a = t.address;
    for (std::uint32_t i = 0; i < t.count; ++i, a += t.size) {
        if (a > kLimit) return 0;
        std::uint8_t* element = buffer.data() + std::size_t{i} * t.size;
        if (t.write) {
            model.WriteOne(a, t.size, vexo::little_endian::Load(element, t.size));
        } else {
            vexo::little_endian::Store(element, t.size, model.ReadOne(a, t.size));
        }
    }
    return 1;
}

std::string Compare(testing::WiredBoard& wired, Machine& machine, const Transfer& t) {
    std::vector<std::uint8_t> libraryBuffer = t.buffer;
    std::vector<std::uint8_t> modelBuffer = t.buffer;
    void* buffer = t.nullBuffer ? nullptr : libraryBuffer.data();

    wired.Sim().ClearTrace();
    const int libraryResult = t.write
                                  ? wired.Context().WriteBlock(t.address, buffer, t.count, t.size)
                                  : wired.Context().ReadBlock(t.address, buffer, t.count, t.size);
    const int modelResult = Run(machine, t, modelBuffer);

    if (libraryResult != modelResult) {
        return "result: library " + std::to_string(libraryResult) + ", model " +
               std::to_string(modelResult);
    }
    const std::vector<BusAccess> libraryBus = LibraryBus(wired.Sim());
    const std::size_t common = std::min(libraryBus.size(), machine.bus.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (!(libraryBus[i] == machine.bus[i])) {
            return "bus access " + std::to_string(i) + ": library " + Describe(libraryBus[i]) +
                   ", model " + Describe(machine.bus[i]);
        }
    }
    if (libraryBus.size() != machine.bus.size()) {
        return "bus accesses: library " + std::to_string(libraryBus.size()) + ", model " +
               std::to_string(machine.bus.size());
    }
    std::string difference = FirstDifference(libraryBuffer, modelBuffer, "buffer");
    if (!difference.empty()) return difference;

    // The trace above already holds every store; here the words they reached are compared.
    sim::Board& board = wired.Sim();
    for (const BusAccess& access : machine.bus) {
        if (access.kind != BusAccess::Store) continue;
        const bool internal = access.where - machine.intWindow < sim::kIntMemSize;
        const std::uint8_t* modelled = internal ? &machine.intMem[access.where - machine.intWindow]
                                                : &machine.extMem[access.where - machine.extWindow];
        const std::uint8_t* simulated = board.WindowByte(access.where, 4);
        if (simulated == nullptr || std::memcmp(simulated, modelled, 4) != 0) {
            return "the memory word of " + Describe(access) + " differs from the model's";
        }
    }
    if (std::memcmp(wired.machine.Card().io, machine.io, sizeof machine.io) != 0) {
        return "I/O registers differ";
    }
    return {};
}

std::string CompareMemories(testing::WiredBoard& wired, const Machine& machine) {
    const sim::Board& board = wired.Sim();
    if (std::memcmp(board.intMem, machine.intMem.data(), sim::kIntMemSize) != 0) {
        return FirstDifference({board.intMem, board.intMem + sim::kIntMemSize}, machine.intMem,
                               "internal memory");
    }
    if (std::memcmp(board.extMem, machine.extMem.data(), sim::kExtMemSize) != 0) {
        return FirstDifference({board.extMem, board.extMem + sim::kExtMemSize}, machine.extMem,
                               "external memory");
    }
    return {};
}

}  // namespace vexo::model
