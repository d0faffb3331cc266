// PCI configuration mechanism #1 as the library uses it: an address written to one port selects
// a configuration double word, which is then read from or written to the other port.
#pragma once

#include <cstdint>

namespace vexo::pci {

constexpr std::uint16_t kConfigAddressPort = 0xCF8;
constexpr std::uint16_t kConfigDataPort = 0xCFC;

// The card answers at function 1 of its device, never at function 0.
constexpr std::uint32_t kCardFunction = 1;
// Register 0 of the card: device 0x2004 in the upper half, vendor 0x10CF in the lower.
constexpr std::uint32_t kCardId = 0x200410CFu;
constexpr std::uint32_t kCardDeviceId = 0x2004;
constexpr std::uint32_t kCardVendorId = 0x10CF;

constexpr std::uint32_t kDeviceCount = 32;
constexpr std::uint32_t kBusCount = 256;

// Configuration registers the library touches.
constexpr std::uint32_t kIdRegister = 0x00;
constexpr std::uint32_t kCommandStatusRegister = 0x04;
constexpr std::uint32_t kBar0Register = 0x10;  // external memory
constexpr std::uint32_t kBar1Register = 0x14;  // internal memory
constexpr std::uint32_t kBar2Register = 0x18;  // I/O range 1
constexpr std::uint32_t kBar3Register = 0x1C;  // I/O range 2

// Command word 3 turns on I/O and memory decoding and leaves bus mastering off; the upper half
// writes 0 to the status word.
constexpr std::uint32_t kDecodeIoAndMemory = 0x00000003u;

// The low bits of a base address register are flags, not address: bit 0 (and reserved bit 1)
// in an I/O register, bits 0-3 in a memory register.
constexpr std::uint32_t kIoBarAddressMask = ~0x3u;
constexpr std::uint32_t kMemoryBarAddressMask = ~0xFu;

// The value written to the address port to select `reg` of bus/device/function. Arguments
// beyond their field widths would spill into neighbouring fields; callers stay within them.
constexpr std::uint32_t ConfigAddress(std::uint32_t bus, std::uint32_t device,
                                      std::uint32_t function, std::uint32_t reg) {
    return 0x80000000u | bus << 16 | device << 11 | function << 8 | reg;
}

}  // namespace vexo::pci
