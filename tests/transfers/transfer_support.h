// Shared by the map and transfer tests: a simulated card with decoding on, a board context wired
// to it by hand, and a compact spelling of the bus trace that makes expected sequences readable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "address_map.h"
#include "board.h"
#include "board_context.h"
#include "host_machine.h"
#include "little_endian.h"

namespace vexo::testing {

constexpr std::uint32_t kIo1Base = 0xC000;
constexpr std::uint32_t kIo2Base = 0xC400;
constexpr int kPauseReads = map::kPauseReads;

// A card whose I/O ranges decode at the given bases, and a context that reaches it through the
// simulator's windows, as cVexoOpen would have left it.
struct WiredBoard {
    sim::HostMachine machine;
    std::optional<BoardContext> context;

    explicit WiredBoard(std::uint32_t io1Base = kIo1Base, std::uint32_t io2Base = kIo2Base) {
        sim::PciFunction& card = machine.Card();
        card.commandStatus = 3;
        card.bars[2] = io1Base | 1u;
        card.bars[3] = io2Base | 1u;
        context.emplace();
        context->ready = 1;
        context->intMemWindow = machine.board.intWindowAddress;
        context->extMemWindow = machine.board.extWindowAddress;
        context->io1Base = io1Base;
        context->io2Base = io2Base;
        machine.board.ClearTrace();
    }

    sim::Board& Sim() { return machine.board; }
    BoardContext& Context() { return *context; }
    std::uint8_t* Io(int range) { return machine.Card().io[range]; }

    std::uint32_t IntWord(std::uint32_t offset) const {
        return Word(machine.board.intMem + offset);
    }
    std::uint32_t ExtWord(std::uint32_t offset) const {
        return Word(machine.board.extMem + offset);
    }
    void SetIntWord(std::uint32_t offset, std::uint32_t value) {
        PutWord(machine.board.intMem + offset, value);
    }
    void SetExtWord(std::uint32_t offset, std::uint32_t value) {
        PutWord(machine.board.extMem + offset, value);
    }

    static std::uint32_t Word(const std::uint8_t* bytes) {
        return vexo::little_endian::Load32(bytes);
    }
    static void PutWord(std::uint8_t* bytes, std::uint32_t value) {
        vexo::little_endian::Store32(bytes, value);
    }

    // The bus accesses since the last ClearTrace, one token each:
    //   "pause"                 50 8-bit reads of port io1Base in a row
    //   "in16 C402"             a port read (width, port)
    //   "out8 C07F=AB"          a port write (width, port, value)
    //   "load16 int+C0FF"       a window load (width, window, offset)
    //   "store32 ext+0=1122AB44" a window store
    // Reads of io1Base that do not make up whole pauses are spelt one by one, so a pause of
    // the wrong length shows.
    std::vector<std::string> Bus() const {
        const std::vector<sim::Event> events = machine.board.BusAccesses();
        std::vector<std::string> tokens;
        std::size_t i = 0;
        while (i < events.size()) {
            std::size_t run = 0;
            while (i + run < events.size() && IsPauseRead(events[i + run])) ++run;
            for (std::size_t p = 0; p < run / kPauseReads; ++p) tokens.push_back("pause");
            for (std::size_t r = run - run % kPauseReads; r < run; ++r) {
                tokens.push_back(Spell(events[i + r]));
            }
            i += run;
            if (run == 0) tokens.push_back(Spell(events[i++]));
        }
        return tokens;
    }

  private:
    bool IsPauseRead(const sim::Event& e) const {
        return e.op == sim::Op::PortRead && e.width == 8 && e.where == (context->io1Base & 0xFFFF);
    }

    std::string Window(std::uint32_t address) const {
        char text[32];
        const sim::Board& b = machine.board;
        if (address - b.intWindowAddress < sim::kIntMemSize) {
            std::snprintf(text, sizeof text, "int+%X", address - b.intWindowAddress);
        } else if (address - b.extWindowAddress < sim::kExtMemSize) {
            std::snprintf(text, sizeof text, "ext+%X", address - b.extWindowAddress);
        } else {
            std::snprintf(text, sizeof text, "?%08X", address);
        }
        return text;
    }

    std::string Spell(const sim::Event& e) const {
        char text[64];
        switch (e.op) {
            case sim::Op::PortRead:
                std::snprintf(text, sizeof text, "in%d %X", e.width, e.where);
                break;
            case sim::Op::PortWrite:
                std::snprintf(text, sizeof text, "out%d %X=%X", e.width, e.where, e.value);
                break;
            case sim::Op::WindowLoad:
                std::snprintf(text, sizeof text, "load%d %s", e.width, Window(e.where).c_str());
                break;
            case sim::Op::WindowStore:
                std::snprintf(text, sizeof text, "store%d %s=%08X", e.width,
                              Window(e.where).c_str(), e.value);
                break;
            default:
                std::snprintf(text, sizeof text, "other");
                break;
        }
        return text;
    }
};

inline std::string Hex8(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// `n` copies of `token`, for expected traces of many elements.
inline std::vector<std::string> Repeat(std::size_t n, const std::string& token) {
    return std::vector<std::string>(n, token);
}

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace vexo::testing
