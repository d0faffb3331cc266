// The board simulator: a model of the VexoLite card on a PCI bus, of the VexoLite driver and of
// the board configuration key, with fault injection and a trace of everything that reaches them.
//
// One model serves three ways:
//   - host tests link the library against sim/platform_sim.cpp, which routes every platform call
//     of the library to the Board installed with sim::Install();
//   - built for Windows it becomes vexolite.vxd, the driver module Wine loads for the device path,
//     with a handler that emulates in/out instructions against the same model (sim/vxd/);
//   - the demo runs on that module when no card is fitted.
//
// The model knows nothing of the library: it answers bus cycles and control codes the way the
// card and its driver do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

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

// ---- PCI ------------------------------------------------------------------------------------

constexpr std::uint32_t kCardId = 0x200410CFu;  // device 0x2004, vendor 0x10CF
constexpr std::uint16_t kConfigAddressPort = 0xCF8;
constexpr std::uint16_t kConfigDataPort = 0xCFC;

// Power-on contents of the card's base address registers, flag bits included:
// BAR0 external memory (32-bit, prefetchable), BAR1 internal memory, BAR2/BAR3 I/O.
constexpr std::uint32_t kDefaultBars[4] = {0xE8000008u, 0xE9800000u, 0x0000D001u, 0x0000D401u};

// One function in configuration space. Register 0 is read-only; register 4 holds command
// (low half) and status (high half); BAR0-BAR5 (0x10-0x24) hold whatever was last written.
struct PciFunction {
    std::uint8_t bus = 0, device = 0, function = 1;
    std::uint32_t id = kCardId;  // register 0
    std::uint32_t commandStatus = 0;
    std::uint32_t bars[6] = {
        kDefaultBars[0], kDefaultBars[1], kDefaultBars[2], kDefaultBars[3], 0, 0};
    std::uint32_t other[64] = {};  // every other register, word-indexed, writable
    bool isCard = true;            // answers the card's I/O ranges when decoding is on

    // The card's two I/O ranges: 256 byte-wide registers each, little-endian for 16/32-bit
    // accesses, reading back what was written.
    std::uint8_t io[2][256] = {};

    bool IoDecoding() const { return commandStatus & 1u; }
    std::uint32_t IoBase(int range) const { return bars[2 + range] & ~0x3u; }
    // A register of an I/O range read the way a bus access of `width` bits would, without
    // tracing: for tests that check what reached the card.
    std::uint32_t IoRegister(int range, std::uint32_t offset, int width = 32) const;

    // A configuration double word by register offset (low two bits ignored), as a config cycle
    // reads it, and a config cycle's write.
    std::uint32_t ConfigRead(std::uint32_t reg) const;
    void ConfigWrite(std::uint32_t reg, std::uint32_t value);
};

// ---- driver ---------------------------------------------------------------------------------

struct BaseAddressRecord {
    std::uint32_t intMemBase, extMemBase, io1Base, io2Base;
};

struct Driver {
    bool present = true;  // host: CreateFileA on the device path succeeds; vexolite.vxd: requests
                          // are answered (the module is loaded already, so the path opens)
    std::uint32_t deviceId = 0x2004;
    std::uint32_t vendorId = 0x10CF;
    std::uint32_t driverInfo = 0x00010203;
    std::set<std::uint32_t> failingCodes;  // control codes refused with DeviceIoControl = 0
    bool overridePciConfigReply = false;   // code 15: first 256 bytes of the card's config space,
    std::vector<std::uint8_t> pciConfigReply;  // or these bytes when overridden
    bool basesKnown = false;                   // set by code 16; codes 6 and 7 fail until then
    BaseAddressRecord bases = {};              // what code 16 delivered last
    int openHandles = 0;                       // handles opened and not yet closed
    std::set<std::uint32_t> liveHandles;       // which handles those are (host platform layer)
    std::uint32_t handlesEverOpened = 0;       // numbers the next handle
};

// ---- registry ------------------------------------------------------------------------------

constexpr std::uint32_t kRegDword = 4;   // REG_DWORD
constexpr std::uint32_t kRegSz = 1;      // REG_SZ
constexpr std::uint32_t kRegBinary = 3;  // REG_BINARY

struct RegistryValue {
    std::uint32_t type = kRegDword;
    std::vector<std::uint8_t> data;
};

// The board configuration key as the host tests see it (Windows-side tests use Wine's registry).
struct Registry {
    bool keyPresent = false;
    std::map<std::string, RegistryValue> values;  // names compare case-sensitively here
    int openKeys = 0;                             // keys opened and not yet closed

    // Each setter also makes the key present: a value cannot exist without its key.
    void SetDword(const std::string& name, std::uint32_t value);
    void SetString(const std::string& name, const std::string& text);  // REG_SZ with its zero
    void SetBytes(const std::string& name, std::vector<std::uint8_t> bytes, std::uint32_t type);

    // RegQueryValueExA on the key: 0 and the stored bytes copied when they fit in `size`,
    // 2 (ERROR_FILE_NOT_FOUND) for a missing key or value, 234 (ERROR_MORE_DATA) without
    // writing anything when the data is larger than `size`. *written gets the bytes copied.
    std::uint32_t Query(const std::string& name, void* data, std::uint32_t size,
                        std::uint32_t* written) const;
};

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorMoreData = 234;

// ---- the board ------------------------------------------------------------------------------

constexpr std::uint32_t kIntMemSize = 0x10000;    // 64 KiB window
constexpr std::uint32_t kExtMemSize = 0x1000000;  // exactly 16 MiB window

struct Board {
    Board();
    // A board on memories it does not own (a mapped file's): kIntMemSize and kExtMemSize bytes,
    // each followed by an inaccessible page, taken as they are and left to their owner.
    Board(std::uint8_t* intMemory, std::uint8_t* extMemory);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The PCI bus: any functions at any bus/device/function. A deque, so that a reference
    // returned by AddCard stays valid when more functions are added.
    std::deque<PciFunction> functions;
    Driver driver;
    Registry registry;

    // Zero-filled at construction, each followed by an inaccessible page.
    std::uint8_t* intMem = nullptr;  // kIntMemSize bytes
    std::uint8_t* extMem = nullptr;  // kExtMemSize bytes
    bool ownsMemories = true;
    // The 32-bit addresses codes 6 and 7 return. On Windows the real addresses of intMem/extMem;
    // on the host, made-up addresses that only platform_sim resolves. Tests may change them.
    std::uint32_t intWindowAddress = 0;
    std::uint32_t extWindowAddress = 0;

    bool failNextAllocation = false;  // HeapAllocate returns null once

    bool tracing = true;
    std::vector<Event> trace;
    // When non-zero, events past this many are counted in traceDropped instead of kept, so a
    // long run (the demo under Wine) cannot exhaust memory.
    std::size_t traceLimit = 0;
    std::size_t traceDropped = 0;

    // The port 0xCF8 latch.
    std::uint32_t configAddress = 0;

    // Adds a card (identity kCardId) at function 1 of bus/device and returns it.
    PciFunction& AddCard(std::uint8_t bus, std::uint8_t device);
    // Adds any function.
    PciFunction& AddFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                             std::uint32_t id);
    PciFunction* FindFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function);
    // The first function that is a card: the one the driver answers code 15 about.
    PciFunction* FirstCard();

    // Bus cycles. Width in bits (8, 16, 32), each traced. A 32-bit access to 0xCF8 reads or
    // writes the configuration address latch; one to 0xCFC reads or writes the selected
    // configuration double word (all ones when the latch is disabled or nothing answers). Other
    // accesses to 0xCF8-0xCFF do nothing. Every other byte of an access goes to the I/O range
    // that decodes its port; ports nobody decodes read all ones, writes to them vanish.
    std::uint32_t PortRead(std::uint16_t port, int width);
    void PortWrite(std::uint16_t port, int width, std::uint32_t value);

    // Who answers `port`: one of the configuration ports 0xCF8-0xCFF, I/O range 0 or 1 of a card
    // (the first card whose decoding range holds it), or nobody.
    enum class PortOwner { Config, Io1, Io2, Nobody };
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

// Which Board the host platform layer talks to (null: no driver, no card, ports all ones).
void Install(Board* board);
Board* Installed();

}  // namespace vexo::sim
