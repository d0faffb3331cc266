#include "pci_scan.h"

#include "pci_config.h"
#include "platform.h"

namespace vexo::pci {

std::uint32_t ReadConfig(const CardLocation& card, std::uint32_t reg) {
    platform::PortWrite32(kConfigAddressPort,
                          ConfigAddress(card.bus, card.device, kCardFunction, reg));
    return platform::PortRead32(kConfigDataPort);
}

void WriteConfig(const CardLocation& card, std::uint32_t reg, std::uint32_t value) {
    platform::PortWrite32(kConfigAddressPort,
                          ConfigAddress(card.bus, card.device, kCardFunction, reg));
    platform::PortWrite32(kConfigDataPort, value);
}

int ProbePciFunction(std::uint32_t expectedId, std::uint32_t device, std::uint32_t bus,
                     std::uint32_t function) {
    platform::PortWrite32(kConfigAddressPort, ConfigAddress(bus, device, function, kIdRegister));
    return platform::PortRead32(kConfigDataPort) == expectedId ? 1 : 0;
}

bool ScanForBoard(CardLocation* found) {
    for (std::uint32_t device = 0; device < kDeviceCount; ++device) {
        for (std::uint32_t bus = 0; bus < kBusCount; ++bus) {
            if (ProbePciFunction(kCardId, device, bus, kCardFunction)) {
                *found = {bus, device};
                return true;
            }
        }
    }
    return false;
}

}  // namespace vexo::pci
