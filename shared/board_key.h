// The board configuration key: where the applet and vexotool store the four base addresses and
// where the library reads them on every cVexoOpen. The DLLs and the tool name the key, its
// values, their defaults, their alignment and the card registers they go to only through here.
#pragma once

#include <cstdint>

#include "pci_config.h"

namespace vexo::board_key {

// Under HKEY_LOCAL_MACHINE.
constexpr char kPath[] = "System\\CurrentControlSet\\Services\\Class\\VexoLite";
// The class string the key is created with.
constexpr char kClass[] = "VEXOLITE";

constexpr char kIntMemBase[] = "IntMemBaseAddress";
constexpr char kExtMemBase[] = "ExtMemBaseAddress";
constexpr char kIo1Base[] = "Io1BaseAddress";
constexpr char kIo2Base[] = "Io2BaseAddress";

// The alignment forced on an edited value: a memory base is a multiple of 16 MiB, an I/O base a
// multiple of 256 ports below 0x10000.
constexpr std::uint32_t kMemoryBaseMask = 0xFF000000u;
constexpr std::uint32_t kIoBaseMask = 0x0000FF00u;

// What a base address register decodes.
enum class Space { Memory, Io };

// One base of the card: the registry value that holds it, what vexotool calls it, the card
// register it is programmed into, and the value written when none can be read.
struct BaseAddress {
    const char* valueName;      // the registry value
    const char* name;           // vexotool's name for it: "intmem", ...
    const char* what;           // how vexotool's info describes it
    const char* bar;            // the card register, as the tool names it
    std::uint32_t barRegister;  // that register's configuration offset
    Space space;
    std::uint32_t defaultValue;  // what a value that cannot be read is set to when edited

    // The bits of the card register that are address, not flags.
    constexpr std::uint32_t AddressBits(std::uint32_t registerValue) const {
        return registerValue &
               (space == Space::Io ? pci::kIoBarAddressMask : pci::kMemoryBarAddressMask);
    }
    // An edited value forced onto the base's alignment.
    constexpr std::uint32_t Aligned(std::uint32_t value) const {
        return value & (space == Space::Io ? kIoBaseMask : kMemoryBaseMask);
    }
};

constexpr int kValueCount = 4;

// The order in which the DLLs and the tool read and write the values, and in which the driver
// takes them; every table indexed by a value follows it. The card's registers are in another
// order (BAR0 is the external memory).
inline constexpr BaseAddress kBases[kValueCount] = {
    {kIntMemBase, "intmem", "internal memory", "BAR1", pci::kBar1Register, Space::Memory,
     0xE9000000u},
    {kExtMemBase, "extmem", "external memory", "BAR0", pci::kBar0Register, Space::Memory,
     0xEA000000u},
    {kIo1Base, "io1", "I/O range 1", "BAR2", pci::kBar2Register, Space::Io, 0xC000u},
    {kIo2Base, "io2", "I/O range 2", "BAR3", pci::kBar3Register, Space::Io, 0xC400u},
};

// The value names and defaults of kBases as arrays, for code that hands all four on at once.
inline constexpr const char* kValueNames[kValueCount] = {kBases[0].valueName, kBases[1].valueName,
                                                         kBases[2].valueName, kBases[3].valueName};
inline constexpr std::uint32_t kDefaults[kValueCount] = {
    kBases[0].defaultValue, kBases[1].defaultValue, kBases[2].defaultValue, kBases[3].defaultValue};

// The index in kBases of the base programmed into configuration register `barRegister`; -1 when
// none is.
constexpr int IndexOfRegister(std::uint32_t barRegister) {
    for (int i = 0; i < kValueCount; ++i) {
        if (kBases[i].barRegister == barRegister) return i;
    }
    return -1;
}
// The library programs BAR0 to BAR3 in turn; each must hold one of the bases.
static_assert(IndexOfRegister(pci::kBar0Register) >= 0 &&
                  IndexOfRegister(pci::kBar1Register) >= 0 &&
                  IndexOfRegister(pci::kBar2Register) >= 0 &&
                  IndexOfRegister(pci::kBar3Register) >= 0,
              "every base address register has a base");

}  // namespace vexo::board_key
