// Test fixtures' helper: a simulated machine with one card, installed for the platform layer
// while the helper lives. Free of any test framework so every test folder can use it.
//
//   sim::ScopedBoard machine;               // card at function 1 of bus 2, device 5
//   machine.board.registry.SetDword(...);   // shape the machine
//   ... call the library, then assert machine.board.trace ...
//
// It resets nothing in the library: tests close the board (cVexoClose) themselves.
#pragma once

#include <cstdint>

#include "board.h"
#include "board_key.h"
#include "pci_config.h"

namespace vexo::sim {

// Where ScopedBoard puts its card unless told otherwise: neither bus nor device 0, so that
// code which only ever looks at the first slot is caught.
constexpr std::uint8_t kDefaultCardBus = 2;
constexpr std::uint8_t kDefaultCardDevice = 5;

struct ScopedBoard {
    Board board;
    std::uint8_t bus;
    std::uint8_t device;

    explicit ScopedBoard(std::uint8_t cardBus = kDefaultCardBus,
                         std::uint8_t cardDevice = kDefaultCardDevice)
        : bus(cardBus), device(cardDevice) {
        board.AddCard(bus, device);
        Install(&board);
    }
    ~ScopedBoard() {
        if (Installed() == &board) Install(nullptr);
    }
    ScopedBoard(const ScopedBoard&) = delete;
    ScopedBoard& operator=(const ScopedBoard&) = delete;

    // The card added at construction.
    PciFunction& Card() { return *board.FindFunction(bus, device, pci::kCardFunction); }

    // The configuration address the library writes to 0xCF8 for register `reg` of the card.
    std::uint32_t ConfigAddress(std::uint32_t reg) const {
        return pci::ConfigAddress(bus, device, pci::kCardFunction, reg);
    }

    // The card's four registry values in one go (internal, external, I/O 1, I/O 2).
    void SetRegistryBases(std::uint32_t intMem, std::uint32_t extMem, std::uint32_t io1,
                          std::uint32_t io2) {
        board.registry.SetDword(board_key::kIntMemBase, intMem);
        board.registry.SetDword(board_key::kExtMemBase, extMem);
        board.registry.SetDword(board_key::kIo1Base, io1);
        board.registry.SetDword(board_key::kIo2Base, io2);
    }
};

}  // namespace vexo::sim
