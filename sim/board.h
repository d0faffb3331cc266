// The card model: the VexoLite card on a PCI bus and its driver, in plain C++.
//
// The card and the VexoLite driver in front of it, with fault injection and a trace of everything
// that reaches them.
//
// One model serves two ways:
//   - host tests link the library against sim/host/host_platform.cpp, which routes every
//     platform call of the library to the machine sim/host/host_machine.h installs around a Board;
//   - built for Windows it is the card of vexolite.vxd, the driver module Wine loads for the
//     device path (sim/vxd/), whose card state lives in a file every process maps.
//
// Plain C++: the caller gives the board its state and its memories and decides where they live.
// Everything the card keeps (CardState) is plain data of fixed size, so that it can lie in a file
// that several processes map and change in place. The model knows nothing of the library: it
// answers bus cycles and control codes the way the card and its driver do.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "driver_protocol.h"
#include "pci_config.h"

namespace vexo::sim {

// ---- trace ---------------------------------------------------------------------------------

enum class Op : std::uint8_t {
    PortRead,       // where = port, width = 8/16/32, value = value read
    PortWrite,      // where = port, width, value = value written
    WindowLoad,     // where = window address, width, value = value loaded
    WindowStore,    // where = window address, width 32, value = value stored
    DriverOpen,     // where = 0, value = 1 when the open succeeded; name = the path asked for
    DriverRequest,  // where = control code, value = 1 when the request succeeded; input = bytes in
    DriverClose,    // where = 0, value = 1 when the handle was open
    RegistryOpen,   // where = the registry's result code, value = 1 when the key was opened;
                    // name = the subkey asked for
    RegistryQuery,  // where = the registry's result code, value = 1 when the query succeeded;
                    // name = value name, width = the buffer size offered, in bytes
    RegistryClose,  // value = 1 when the key was open
};

struct Event {
    Op op;
    std::uint8_t width = 0;   // bits, bus accesses only
    std::uint32_t where = 0;  // port, window address or control code
    std::uint32_t value = 0;
    std::vector<std::uint8_t> input = {};  // DriverRequest: the request's input bytes
    std::string name = {};                 // DriverOpen/RegistryOpen/RegistryQuery: path or name

    bool IsBusAccess() const { return op <= Op::WindowStore; }
};

// The bits an access of `width` bits (8, 16 or 32) carries.
constexpr std::uint32_t WidthMask(int width) {
    return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
}

// ---- PCI ------------------------------------------------------------------------------------

constexpr std::uint32_t kCardId = pci::kCardId;
constexpr std::uint16_t kConfigAddressPort = pci::kConfigAddressPort;
constexpr std::uint16_t kConfigDataPort = pci::kConfigDataPort;

// Where a card sits at power-on: function 1 of this bus and device.
constexpr std::uint8_t kPowerOnBus = 2;
constexpr std::uint8_t kPowerOnDevice = 5;

// Power-on contents of the card's base address registers, flag bits included:
// BAR0 external memory (32-bit, prefetchable), BAR1 internal memory, BAR2/BAR3 I/O.
constexpr std::uint32_t kDefaultBars[4] = {0xE8000008u, 0xE9800000u, 0x0000D001u, 0x0000D401u};

constexpr std::uint32_t kIoRangeSize = 256;

// One function in configuration space. Register 0 is read-only; register 4 holds command
// (low half) and status (high half); BAR0-BAR5 (0x10-0x24) hold whatever was last written, but
// for the card's own BAR0-BAR3, which keep their wired bits.
struct PciFunction {
    std::uint8_t bus = 0, device = 0, function = 1;
    std::uint8_t isCard = 1;     // answers the card's I/O ranges when decoding is on
    std::uint32_t id = kCardId;  // register 0
    std::uint32_t commandStatus = 0;
    std::uint32_t bars[6] = {
        kDefaultBars[0], kDefaultBars[1], kDefaultBars[2], kDefaultBars[3], 0, 0};
    // The configuration double words without a field above, by register offset / 4; writable.
    std::uint32_t plainRegisters[64] = {};

    // The card's two I/O ranges: 256 byte-wide registers each, little-endian for 16/32-bit
    // accesses, reading back what was written.
    std::uint8_t io[2][kIoRangeSize] = {};

    bool IoDecoding() const { return commandStatus & 1u; }
    std::uint32_t IoBase(int range) const { return bars[2 + range] & pci::kIoBarAddressMask; }
    // A register of an I/O range read the way a bus access of `width` bits would, without
    // tracing: for tests that check what reached the card.
    std::uint32_t IoRegister(int range, std::uint32_t offset, int width = 32) const;

    // A configuration double word by register offset (low two bits ignored), as a config cycle
    // reads it, and a config cycle's write.
    std::uint32_t ConfigRead(std::uint32_t reg) const;
    void ConfigWrite(std::uint32_t reg, std::uint32_t value);
};

// Functions in a fixed number of slots, in the order they were added.
template <std::size_t kSlots>
struct FunctionList {
    std::uint32_t count = 0;
    PciFunction slots[kSlots] = {};

    static constexpr std::size_t Capacity() { return kSlots; }
    PciFunction* begin() { return slots; }
    PciFunction* end() { return slots + count; }
    const PciFunction* begin() const { return slots; }
    const PciFunction* end() const { return slots + count; }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    void clear() { count = 0; }
    // The added copy, or null when every slot is taken.
    PciFunction* Append(const PciFunction& f) {
        if (count == kSlots) return nullptr;
        slots[count] = f;
        return &slots[count++];
    }
    template <typename Predicate>
    void RemoveIf(Predicate matches) {
        count = static_cast<std::uint32_t>(std::remove_if(begin(), end(), matches) - begin());
    }
};

// ---- driver ---------------------------------------------------------------------------------

using BaseAddressRecord = driver::BaseAddressRecord;

constexpr std::size_t kMaxFailingCodes = 32;

// The control codes the driver refuses, at most kMaxFailingCodes of them.
struct CodeSet {
    std::uint32_t count = 0;
    std::uint32_t codes[kMaxFailingCodes] = {};

    const std::uint32_t* begin() const { return codes; }
    const std::uint32_t* end() const { return codes + count; }
    std::size_t size() const { return count; }
    bool Contains(std::uint32_t code) const { return std::find(begin(), end(), code) != end(); }
    // False when the set is full and `code` is not in it.
    bool insert(std::uint32_t code);
    void erase(std::uint32_t code);
    void clear() { count = 0; }
    CodeSet& operator=(std::initializer_list<std::uint32_t> list);
};

// Bytes the driver answers code 15 with in place of configuration space.
struct ConfigReply {
    std::uint32_t length = 0;
    std::uint8_t bytes[driver::kPciConfigReplySize] = {};

    // Keeps the first kPciConfigReplySize bytes.
    void assign(const std::uint8_t* first, const std::uint8_t* last);
    void clear() { length = 0; }
    ConfigReply& operator=(std::initializer_list<std::uint8_t> list) {
        assign(list.begin(), list.end());
        return *this;
    }
};

struct Driver {
    std::uint8_t present = 1;  // host: CreateFileA on the device path succeeds; vexolite.vxd:
                               // requests are answered (the module is loaded, so the path opens)
    std::uint32_t deviceId = pci::kCardDeviceId;
    std::uint32_t vendorId = pci::kCardVendorId;
    std::uint32_t driverInfo = 0x00010203;
    CodeSet failingCodes;                     // control codes refused with DeviceIoControl = 0
    std::uint8_t overridePciConfigReply = 0;  // code 15: first 256 bytes of the card's config
    ConfigReply pciConfigReply;               // space, or these bytes when overridden
    std::uint8_t basesKnown = 0;              // set by code 16; codes 6 and 7 fail until then
    BaseAddressRecord bases = {};             // what code 16 delivered last
};

// ---- the card's state -----------------------------------------------------------------------

constexpr std::size_t kMaxFunctions = 48;  // functions on the bus
constexpr std::size_t kMaxCardsAside = 4;  // cards taken off the bus, kept to put back

// Everything the card and its driver keep while powered, plain data of fixed size.
struct CardState {
    std::uint32_t configAddress = 0;  // the port 0xCF8 latch
    FunctionList<kMaxFunctions> functions;
    FunctionList<kMaxCardsAside> aside;   // cards taken off the bus, as they were
    std::uint8_t placeBus = kPowerOnBus;  // where the card sits, also while off the bus
    std::uint8_t placeDevice = kPowerOnDevice;
    Driver driver;
};

// ---- the board ------------------------------------------------------------------------------

constexpr std::uint32_t kIntMemSize = 0x10000;    // 64 KiB window
constexpr std::uint32_t kExtMemSize = 0x1000000;  // exactly 16 MiB window

struct Board {
    // The card of `state`, whose memories are kIntMemSize and kExtMemSize bytes at `intMemory`
    // and `extMemory`; all three stay the caller's. Its windows are at address 0 until the caller
    // places them.
    Board(CardState& state, std::uint8_t* intMemory, std::uint8_t* extMemory);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    CardState& state;
    // The parts of `state` the model's users reach most, by their own names.
    std::uint32_t& configAddress;
    FunctionList<kMaxFunctions>& functions;
    Driver& driver;

    std::uint8_t* intMem;  // kIntMemSize bytes
    std::uint8_t* extMem;  // kExtMemSize bytes
    // The 32-bit addresses codes 6 and 7 return: under Windows the memories' own addresses in the
    // process, on the host made-up ones that only the host platform layer resolves.
    std::uint32_t intWindowAddress = 0;
    std::uint32_t extWindowAddress = 0;

    bool tracing = true;
    std::vector<Event> trace;
    // When non-zero, events past this many are counted in traceDropped instead of kept, so a
    // long run (the demo under Wine) cannot exhaust memory.
    std::size_t traceLimit = 0;
    std::size_t traceDropped = 0;

    // Adds a card (identity kCardId) at function 1 of bus/device; null when the bus is full.
    PciFunction* AddCard(std::uint8_t bus, std::uint8_t device);
    // Adds any function; null when the bus is full.
    PciFunction* AddFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                             std::uint32_t id);
    PciFunction* FindFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function);
    // The first function that is a card: the one the driver answers code 15 about.
    PciFunction* FirstCard();

    // The card and driver at power-on: one card at the power-on place with power-on registers,
    // the driver answering as the card's, no failing codes, no bases received. The memories are
    // the caller's to clear.
    void PowerOn();
    // Takes the cards off the bus, keeping their registers (at most kMaxCardsAside), or puts them
    // back as they were: a power-on card at the card's place when none was kept.
    void SetCardPresent(bool present);
    bool CardPresent() const;
    // Moves the card to function 1 of bus/device, on the bus or off it; false when the place is
    // out of range or another function sits there.
    bool PlaceCard(std::uint32_t bus, std::uint32_t device);

    // Bus cycles. Width in bits (8, 16, 32), each traced. A 32-bit access to 0xCF8 reads or
    // writes the configuration address latch; one to 0xCFC reads or writes the selected
    // configuration double word (all ones when the latch is disabled or nothing answers). Other
    // accesses to 0xCF8-0xCFF do nothing. Every other byte of an access goes to the I/O range
    // that decodes its port; ports nobody decodes read all ones, writes to them vanish.
    // `owner`, when not null, gets who answered the access's first port (see OwnerOf), as the
    // bus decoded it for the access itself.
    enum class PortOwner { Config, Io1, Io2, Nobody };
    std::uint32_t PortRead(std::uint16_t port, int width, PortOwner* owner = nullptr);
    void PortWrite(std::uint16_t port, int width, std::uint32_t value, PortOwner* owner = nullptr);

    // Who answers `port`: one of the configuration ports 0xCF8-0xCFF, I/O range 0 or 1 of a card
    // (the first card whose decoding range holds it), or nobody.
    PortOwner OwnerOf(std::uint16_t port) const;

    // Control codes, as the driver answers them, traced. Returns the DeviceIoControl result;
    // *returned (when not null) gets the count of reply bytes, 0 on failure.
    bool DriverRequest(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned);

    // Window accesses by window address. Returns null for an address (or an access of `bytes`
    // bytes) not wholly inside a window; callers treat that as a fault.
    std::uint8_t* WindowByte(std::uint32_t address, std::uint32_t bytes);

    // Trace helpers.
    void Record(Event e);
    std::vector<Event> BusAccesses() const;  // PortRead/PortWrite/WindowLoad/WindowStore only
    std::vector<Event> DriverRequests() const;
    void ClearTrace() {
        trace.clear();
        traceDropped = 0;
    }
};

// Whether a state read from outside (a file) keeps every count and place within its bounds, so
// that the model can run on it.
bool StateIsSound(const CardState& state);

}  // namespace vexo::sim
