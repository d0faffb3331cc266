// The card on the PCI bus: the scan that finds it and the configuration accesses to its function,
// all through the platform's ports. The library opens the card with them; vexotool repeats the
// same steps with them when it explains why the card cannot be opened.
#pragma once

#include <cstdint>

namespace vexo::pci {

// Where the scan found the card; the function is always kCardFunction.
struct CardLocation {
    std::uint32_t bus;
    std::uint32_t device;
};

// Configuration register `reg` of the card's function: one write to the address port, then one
// read from or write to the data port.
std::uint32_t ReadConfig(const CardLocation& card, std::uint32_t reg);
void WriteConfig(const CardLocation& card, std::uint32_t reg, std::uint32_t value);

// Reads register 0 of one function and compares it with the whole of `expectedId`; an absent
// function's all-ones answer simply does not match. Two port accesses, nothing else.
int ProbePciFunction(std::uint32_t expectedId, std::uint32_t device, std::uint32_t bus,
                     std::uint32_t function);

// Probes the card's function for the card's identity, lowest device first and within a device
// the lowest bus. True, with *found set, at the first match.
bool ScanForBoard(CardLocation* found);

}  // namespace vexo::pci
