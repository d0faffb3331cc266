// The benchmark's bus that does nothing (platform_null.cpp): what it counts and what it answers.
#pragma once

#include <cstdint>

#include "pci_config.h"

namespace vexo::bench {

struct BusCounts {
    std::uint64_t portReads = 0;  // pauses' reads included
    std::uint64_t portWrites = 0;
    std::uint64_t windowLoads = 0;
    std::uint64_t windowStores = 0;
};

// Configuration address of register 0 of the one function that answers with the card's identity.
constexpr std::uint32_t ConfigAddressOf(std::uint32_t bus, std::uint32_t device) {
    return pci::ConfigAddress(bus, device, pci::kCardFunction, pci::kIdRegister);
}
constexpr std::uint32_t kFirstSlot = ConfigAddressOf(0, 0);
// The scan's last probe.
constexpr std::uint32_t kLastSlot = ConfigAddressOf(pci::kBusCount - 1, pci::kDeviceCount - 1);
extern std::uint32_t cardSlot;

// Every access the library makes through the platform layer, since the last reset.
extern BusCounts counts;

// The window addresses the driver hands out and the bases the registry holds.
constexpr std::uint32_t kIntWindow = 0x10000000u;
constexpr std::uint32_t kExtWindow = 0x20000000u;
constexpr std::uint32_t kIo1Base = 0xC000;
constexpr std::uint32_t kIo2Base = 0xC400;

}  // namespace vexo::bench
