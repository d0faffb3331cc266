// The host machine: the card and everything else the library's platform calls meet on the host.
//
// One Board with its state and memories, and besides the card the board configuration key, the
// driver's handles and the process heap, installed for the platform layer (host_platform.cpp)
// while it lives.
// Free of any test framework so every test folder can use it.
//
//   sim::HostMachine machine;              // card at function 1 of bus 2, device 5
//   machine.registry.SetDword(...);        // shape the machine
//   ... call the library, then assert machine.board.trace ...
//
// It resets nothing in the library: tests close the board (cVexoClose) themselves.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "board.h"
#include "board_key.h"
#include "little_endian.h"
#include "pci_config.h"

namespace vexo::sim {

// Where HostMachine puts its card unless told otherwise: neither bus nor device 0, so that
// code which only ever looks at the first slot is caught.
constexpr std::uint8_t kDefaultCardBus = kPowerOnBus;
constexpr std::uint8_t kDefaultCardDevice = kPowerOnDevice;

// Host window addresses: plausible 32-bit linear addresses that no real pointer is taken for.
constexpr std::uint32_t kHostIntWindow = 0x40000000u;
constexpr std::uint32_t kHostExtWindow = 0x50000000u;

// ---- registry ------------------------------------------------------------------------------

constexpr std::uint32_t kRegDword = 4;   // REG_DWORD
constexpr std::uint32_t kRegSz = 1;      // REG_SZ
constexpr std::uint32_t kRegBinary = 3;  // REG_BINARY

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorMoreData = 234;

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
    void SetDword(const std::string& name, std::uint32_t value) {
        std::vector<std::uint8_t> bytes(4);
        little_endian::Store32(bytes.data(), value);
        SetBytes(name, std::move(bytes), kRegDword);
    }
    // REG_SZ with its zero.
    void SetString(const std::string& name, const std::string& text) {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        SetBytes(name, std::move(bytes), kRegSz);
    }
    void SetBytes(const std::string& name, std::vector<std::uint8_t> bytes, std::uint32_t type) {
        keyPresent = true;
        values[name] = RegistryValue{type, std::move(bytes)};
    }

    // RegQueryValueExA on the key: 0 and the stored bytes copied when they fit in `size`,
    // 2 (ERROR_FILE_NOT_FOUND) for a missing key or value, 234 (ERROR_MORE_DATA) without
    // writing anything when the data is larger than `size`. *written gets the bytes copied.
    std::uint32_t Query(const std::string& name, void* data, std::uint32_t size,
                        std::uint32_t* written) const;
};

// ---- driver handles ------------------------------------------------------------------------

struct DriverHandles {
    int open = 0;                  // handles opened and not yet closed
    std::set<std::uint32_t> live;  // which handles those are
    std::uint32_t everOpened = 0;  // numbers the next handle
};

// ---- memory --------------------------------------------------------------------------------

// Zero-filled memory for a window, followed by an inaccessible page so that a load or store
// running past the window's end faults at once instead of reading a neighbour. Fresh anonymous
// pages cost nothing until touched, which keeps a 16 MiB board cheap for tests that make
// hundreds of them.
class GuardedMemory {
  public:
    explicit GuardedMemory(std::size_t size) : size_(size) {
        void* memory = mmap(nullptr, size + Page(), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        bytes_ = static_cast<std::uint8_t*>(memory);
        mprotect(bytes_ + size, Page(), PROT_NONE);
    }
    ~GuardedMemory() { munmap(bytes_, size_ + Page()); }
    GuardedMemory(const GuardedMemory&) = delete;
    GuardedMemory& operator=(const GuardedMemory&) = delete;

    std::uint8_t* Bytes() const { return bytes_; }

  private:
    static std::size_t Page() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

    std::size_t size_;
    std::uint8_t* bytes_ = nullptr;
};

// ---- the machine ---------------------------------------------------------------------------

struct HostMachine;
// Which machine the host platform layer talks to (null: no driver, no card, ports all ones).
void Install(HostMachine* machine);
HostMachine* Installed();

struct HostMachine {
    CardState state;
    GuardedMemory intMemory{kIntMemSize};
    GuardedMemory extMemory{kExtMemSize};
    Board board{state, intMemory.Bytes(), extMemory.Bytes()};
    Registry registry;
    DriverHandles driverHandles;
    bool failNextAllocation = false;  // HeapAllocate returns null once
    std::uint8_t bus;
    std::uint8_t device;

    explicit HostMachine(std::uint8_t cardBus = kDefaultCardBus,
                         std::uint8_t cardDevice = kDefaultCardDevice)
        : bus(cardBus), device(cardDevice) {
        board.intWindowAddress = kHostIntWindow;
        board.extWindowAddress = kHostExtWindow;
        board.AddCard(bus, device);
        Install(this);
    }
    ~HostMachine() {
        if (Installed() == this) Install(nullptr);
    }
    HostMachine(const HostMachine&) = delete;
    HostMachine& operator=(const HostMachine&) = delete;

    // The card added at construction.
    PciFunction& Card() { return *board.FindFunction(bus, device, pci::kCardFunction); }

    // The configuration address the library writes to 0xCF8 for register `reg` of the card.
    std::uint32_t ConfigAddress(std::uint32_t reg) const {
        return pci::ConfigAddress(bus, device, pci::kCardFunction, reg);
    }

    // The card's four registry values in one go (internal, external, I/O 1, I/O 2).
    void SetRegistryBases(std::uint32_t intMem, std::uint32_t extMem, std::uint32_t io1,
                          std::uint32_t io2) {
        registry.SetDword(board_key::kIntMemBase, intMem);
        registry.SetDword(board_key::kExtMemBase, extMem);
        registry.SetDword(board_key::kIo1Base, io1);
        registry.SetDword(board_key::kIo2Base, io2);
    }
};

}  // namespace vexo::sim
