// The card's PCI configuration space decoded and printed for `config`.
#include "config_space.h"

#include <string>

#include "little_endian.h"
#include "pci_config.h"

namespace vexotool {
namespace {

namespace pci = vexo::pci;

// Where the fields of a PCI configuration header lie, beyond the registers the library itself
// touches (pci_config.h).
enum HeaderOffset : std::uint32_t {
    kStatusOffset = pci::kCommandStatusRegister + 2,
    kRevisionOffset = 0x08,
    kClassCodeOffset = 0x09,  // three bytes: interface, subclass, base class
    kHeaderTypeOffset = 0x0E,
    kSubsystemVendorOffset = 0x2C,
    kSubsystemOffset = 0x2E,
    kExpansionRomOffset = 0x30,
    kInterruptLineOffset = 0x3C,
    kInterruptPinOffset = 0x3D,
};

// Base address registers each header layout has: six for a device, two for a PCI-to-PCI bridge,
// none at 0x10 for a CardBus bridge.
constexpr unsigned kBarCounts[3] = {6, 2, 0};

constexpr std::uint32_t kHeaderMultiFunction = 0x80;
constexpr std::uint32_t kHeaderLayoutMask = 0x7F;

constexpr std::uint32_t kBarIsIo = 0x1;
constexpr std::uint32_t kBarMemoryTypeShift = 1;  // two bits: 0 32-bit, 1 below 1 MiB, 2 64-bit
constexpr std::uint32_t kBarMemoryType64 = 2;
constexpr std::uint32_t kBarPrefetchable = 0x8;
constexpr std::uint32_t kRomEnabled = 0x1;
constexpr std::uint32_t kRomAddressMask = 0xFFFFF800u;

struct Flag {
    unsigned bit;
    const char* name;
};

// The command and status bits by their lspci names.
constexpr Flag kCommandFlags[] = {{0, "I/O"},       {1, "Mem"},      {2, "BusMaster"},
                                  {3, "SpecCycle"}, {4, "MemWINV"},  {5, "VGASnoop"},
                                  {6, "ParErr"},    {7, "Stepping"}, {8, "SERR"},
                                  {9, "FastB2B"},   {10, "DisINTx"}};
constexpr Flag kStatusFlags[] = {{3, "INTx"},     {4, "Cap"},    {5, "66MHz"},    {6, "UDF"},
                                 {7, "FastB2B"},  {8, "ParErr"}, {11, ">TAbort"}, {12, "<TAbort"},
                                 {13, "<MAbort"}, {14, ">SERR"}, {15, "<PERR"}};
constexpr unsigned kDevselShift = 9;  // two bits of the status word: fast, medium, slow
constexpr const char* kDevselTimings[4] = {"fast", "medium", "slow", "reserved"};

std::uint32_t Byte(const std::uint8_t (&space)[kConfigSpaceSize], std::uint32_t offset) {
    return space[offset];
}
std::uint32_t Word(const std::uint8_t (&space)[kConfigSpaceSize], std::uint32_t offset) {
    return vexo::little_endian::Load16(space + offset);
}
std::uint32_t Dword(const std::uint8_t (&space)[kConfigSpaceSize], std::uint32_t offset) {
    return vexo::little_endian::Load32(space + offset);
}

// "I/O+ Mem+ BusMaster-"
template <std::size_t N>
std::string Flags(std::uint32_t value, const Flag (&flags)[N]) {
    std::string text;
    for (const Flag& flag : flags) {
        text += std::string(text.empty() ? "" : " ") + flag.name +
                ((value >> flag.bit & 1) != 0 ? "+" : "-");
    }
    return text;
}

// One base address register; returns how many registers it used (two for a 64-bit one).
unsigned PrintBar(std::FILE* out, const std::uint8_t (&space)[kConfigSpaceSize], unsigned index,
                  unsigned count) {
    const std::uint32_t offset = pci::kBar0Register + 4 * index;
    const std::uint32_t value = Dword(space, offset);
    std::fprintf(out, "  BAR%u             0x%08X  ", index, static_cast<unsigned>(value));
    if (value == 0) {
        std::fprintf(out, "unused\n");
        return 1;
    }
    if ((value & kBarIsIo) != 0) {
        std::fprintf(out, "I/O ports at 0x%04X\n",
                     static_cast<unsigned>(value & pci::kIoBarAddressMask));
        return 1;
    }
    const char* prefetch = (value & kBarPrefetchable) != 0 ? "prefetchable" : "non-prefetchable";
    const std::uint32_t type = value >> kBarMemoryTypeShift & 3;
    if (type != kBarMemoryType64) {
        const char* size = type == 0 ? "32-bit" : type == 1 ? "below 1 MiB" : "reserved type";
        std::fprintf(out, "memory at 0x%08X (%s, %s)\n",
                     static_cast<unsigned>(value & pci::kMemoryBarAddressMask), size, prefetch);
        return 1;
    }
    if (index + 1 >= count) {
        std::fprintf(out, "memory (64-bit, %s), but no register follows for the upper half\n",
                     prefetch);
        return 1;
    }
    const std::uint64_t address =
        std::uint64_t{Dword(space, offset + 4)} << 32 | (value & pci::kMemoryBarAddressMask);
    std::fprintf(out, "memory at 0x%016llX (64-bit, %s)\n",
                 static_cast<unsigned long long>(address), prefetch);
    std::fprintf(out, "  BAR%u             0x%08X  upper half of BAR%u\n", index + 1,
                 static_cast<unsigned>(Dword(space, offset + 4)), index);
    return 2;
}

void PrintInterrupt(std::FILE* out, std::uint32_t line, std::uint32_t pin) {
    const auto linePart = static_cast<unsigned>(line);
    if (pin == 0) {
        std::fprintf(out, "  interrupt        no pin (line 0x%02X)\n", linePart);
    } else if (pin > 4) {
        std::fprintf(out,
                     "  interrupt        pin 0x%02X is no pin (1-4 name INTA-INTD), line 0x%02X\n",
                     static_cast<unsigned>(pin), linePart);
    } else if (line == 0xFF) {
        // What the firmware leaves when it routed the pin to no interrupt it knows.
        std::fprintf(out, "  interrupt        pin %c routed to no known IRQ (line 0xFF)\n",
                     static_cast<char>('A' + pin - 1));
    } else {
        std::fprintf(out, "  interrupt        pin %c routed to IRQ %u\n",
                     static_cast<char>('A' + pin - 1), linePart);
    }
}

void PrintHex(std::FILE* out, const std::uint8_t (&space)[kConfigSpaceSize]) {
    for (std::uint32_t line = 0; line < kConfigSpaceSize; line += 16) {
        std::fprintf(out, "%02x:", static_cast<unsigned>(line));
        for (std::uint32_t i = line; i < line + 16; ++i) {
            std::fprintf(out, " %02x", static_cast<unsigned>(space[i]));
        }
        std::fprintf(out, "\n");
    }
}

}  // namespace

void PrintConfigSpace(std::FILE* out, std::uint32_t bus, std::uint32_t device,
                      std::uint32_t function, const std::uint8_t (&space)[kConfigSpaceSize]) {
    const std::uint32_t id = Dword(space, pci::kIdRegister);
    std::fprintf(out, "PCI configuration space at bus %u, device %u, function %u%s\n",
                 static_cast<unsigned>(bus), static_cast<unsigned>(device),
                 static_cast<unsigned>(function), id == pci::kCardId ? ": VexoLite card" : "");
    std::fprintf(out, "  vendor id        0x%04X\n", static_cast<unsigned>(id & 0xFFFF));
    std::fprintf(out, "  device id        0x%04X\n", static_cast<unsigned>(id >> 16));
    const std::uint32_t command = Word(space, pci::kCommandStatusRegister);
    const std::uint32_t status = Word(space, kStatusOffset);
    std::fprintf(out, "  command          0x%04X  %s\n", static_cast<unsigned>(command),
                 Flags(command, kCommandFlags).c_str());
    std::fprintf(out, "  status           0x%04X  %s DEVSEL=%s\n", static_cast<unsigned>(status),
                 Flags(status, kStatusFlags).c_str(), kDevselTimings[status >> kDevselShift & 3]);
    std::fprintf(out, "  revision         0x%02X\n",
                 static_cast<unsigned>(Byte(space, kRevisionOffset)));
    std::fprintf(out,
                 "  class code       0x%02X%02X%02X  (base class 0x%02X, subclass 0x%02X, "
                 "programming interface 0x%02X)\n",
                 static_cast<unsigned>(Byte(space, kClassCodeOffset + 2)),
                 static_cast<unsigned>(Byte(space, kClassCodeOffset + 1)),
                 static_cast<unsigned>(Byte(space, kClassCodeOffset)),
                 static_cast<unsigned>(Byte(space, kClassCodeOffset + 2)),
                 static_cast<unsigned>(Byte(space, kClassCodeOffset + 1)),
                 static_cast<unsigned>(Byte(space, kClassCodeOffset)));
    const std::uint32_t header = Byte(space, kHeaderTypeOffset);
    const std::uint32_t layout = header & kHeaderLayoutMask;
    static const char* const kLayouts[3] = {"device", "PCI-to-PCI bridge", "CardBus bridge"};
    std::fprintf(out, "  header type      0x%02X  (%s layout, %s)\n", static_cast<unsigned>(header),
                 layout < 3 ? kLayouts[layout] : "unknown",
                 (header & kHeaderMultiFunction) != 0 ? "multi-function" : "single function");
    const unsigned bars = layout < 3 ? kBarCounts[layout] : 0;
    for (unsigned index = 0; index < bars;) index += PrintBar(out, space, index, bars);
    if (layout == 0) {
        std::fprintf(out, "  subsystem        vendor 0x%04X, device 0x%04X\n",
                     static_cast<unsigned>(Word(space, kSubsystemVendorOffset)),
                     static_cast<unsigned>(Word(space, kSubsystemOffset)));
        const std::uint32_t rom = Dword(space, kExpansionRomOffset);
        std::fprintf(out, "  expansion ROM    0x%08X  ", static_cast<unsigned>(rom));
        if (rom == 0) {
            std::fprintf(out, "unused\n");
        } else {
            std::fprintf(out, "at 0x%08X, %s\n", static_cast<unsigned>(rom & kRomAddressMask),
                         (rom & kRomEnabled) != 0 ? "enabled" : "disabled");
        }
    }
    PrintInterrupt(out, Byte(space, kInterruptLineOffset), Byte(space, kInterruptPinOffset));
    PrintHex(out, space);
}

}  // namespace vexotool
