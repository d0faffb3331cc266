// The host platform layer: the library's platform calls, answered by the installed host machine.
//
// Every platform call lands on the machine host_machine.h installs and is traced on its board. With
// no machine installed there is no driver, no key, and every port reads all ones.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board.h"
#include "board_key.h"
#include "driver_protocol.h"
#include "host_machine.h"
#include "little_endian.h"
#include "platform.h"

namespace vexo::platform {

namespace {

using sim::Board;
using sim::Event;
using sim::HostMachine;
using sim::Op;

HostMachine* installed = nullptr;

Board* InstalledBoard() {
    return installed != nullptr ? &installed->board : nullptr;
}

// Handle numbers the simulated driver and key hand out: recognisable in a debugger and never
// the invalid handle value.
constexpr std::uint32_t kFirstDriverHandle = 0x0D000001u;
constexpr RegistryKey kBoardKeyHandle = 0x0000BEE5u;

void RecordOn(Board* board, Event e) {
    if (board != nullptr) board->Record(std::move(e));
}

// An access the library should never make. Stopping here makes the test that caused it fail
// with the address in its output, instead of reading or corrupting unrelated memory.
[[noreturn]] void WindowFault(const char* what, std::uint32_t address, int width) {
    std::fprintf(stderr,
                 "board simulator: window fault: %d-bit %s at 0x%08X is not wholly inside a "
                 "memory window\n",
                 width, what, static_cast<unsigned>(address));
    std::fflush(stderr);
    std::abort();
}

std::uint8_t* ResolveWindow(const char* what, std::uint32_t address, int width) {
    Board* board = InstalledBoard();
    std::uint8_t* byte = board ? board->WindowByte(address, width / 8) : nullptr;
    if (byte == nullptr) WindowFault(what, address, width);
    return byte;
}

std::uint32_t WindowLoad(std::uint32_t address, int width) {
    const std::uint8_t* bytes = ResolveWindow("load", address, width);
    const std::uint32_t value = little_endian::Load(bytes, static_cast<unsigned>(width / 8));
    Event e{Op::WindowLoad};
    e.width = static_cast<std::uint8_t>(width);
    e.where = address;
    e.value = value;
    RecordOn(InstalledBoard(), std::move(e));
    return value;
}

std::uint32_t PortRead(std::uint16_t port, int width) {
    Board* board = InstalledBoard();
    if (board == nullptr) return sim::WidthMask(width);
    return board->PortRead(port, width);
}

void PortWrite(std::uint16_t port, int width, std::uint32_t value) {
    Board* board = InstalledBoard();
    if (board != nullptr) board->PortWrite(port, width, value);
}

bool IsOpenDriverHandle(DriverHandle driver) {
    return installed != nullptr && driver <= 0xFFFFFFFFu &&
           installed->driverHandles.live.count(static_cast<std::uint32_t>(driver)) != 0;
}

}  // namespace

// ---- driver ------------------------------------------------------------------------------------

DriverHandle OpenDriver(const char* devicePath) {
    Board* board = InstalledBoard();
    const bool opens = board != nullptr && board->driver.present && devicePath != nullptr &&
                       std::strcmp(devicePath, driver::kDevicePath) == 0;
    Event e{Op::DriverOpen};
    e.value = opens ? 1 : 0;
    e.name = devicePath ? devicePath : "";
    RecordOn(board, std::move(e));
    if (!opens) return kInvalidDriverHandle;
    sim::DriverHandles& handles = installed->driverHandles;
    const std::uint32_t handle = kFirstDriverHandle + handles.everOpened++;
    handles.live.insert(handle);
    ++handles.open;
    return handle;
}

bool DriverRequest(DriverHandle driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize) {
    Board* board = InstalledBoard();
    if (!IsOpenDriverHandle(driver)) {
        // DeviceIoControl on a handle that is not open fails without reaching any driver.
        Event e{Op::DriverRequest};
        e.where = code;
        if (in != nullptr && inSize != 0) {
            const auto* bytes = static_cast<const std::uint8_t*>(in);
            e.input.assign(bytes, bytes + inSize);
        }
        RecordOn(board, std::move(e));
        return false;
    }
    std::uint32_t returned = 0;
    return board->DriverRequest(code, in, inSize, out, outSize, &returned);
}

void CloseDriver(DriverHandle driver) {
    Board* board = InstalledBoard();
    const bool wasOpen = IsOpenDriverHandle(driver);
    if (wasOpen) {
        installed->driverHandles.live.erase(static_cast<std::uint32_t>(driver));
        --installed->driverHandles.open;
    }
    Event e{Op::DriverClose};
    e.value = wasOpen ? 1 : 0;
    RecordOn(board, std::move(e));
}

// ---- registry ----------------------------------------------------------------------------------

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    Board* board = InstalledBoard();
    // Registry paths compare without regard to case, as on Windows.
    const bool opens = board != nullptr && installed->registry.keyPresent && subkey != nullptr &&
                       strcasecmp(subkey, board_key::kPath) == 0;
    Event e{Op::RegistryOpen};
    e.where = opens ? 0 : sim::kErrorFileNotFound;
    e.value = opens ? 1 : 0;
    e.name = subkey ? subkey : "";
    RecordOn(board, std::move(e));
    if (!opens) return false;
    ++installed->registry.openKeys;
    *key = kBoardKeyHandle;
    return true;
}

bool QueryValue(RegistryKey key, const char* name, void* data, std::uint32_t size) {
    Board* board = InstalledBoard();
    constexpr std::uint32_t kErrorInvalidHandle = 6;
    std::uint32_t result = kErrorInvalidHandle;
    if (board != nullptr && key == kBoardKeyHandle && installed->registry.openKeys > 0) {
        std::uint32_t written = 0;
        result = installed->registry.Query(name ? name : "", data, size, &written);
    }
    Event e{Op::RegistryQuery};
    e.where = result;
    e.value = result == 0 ? 1 : 0;
    e.width = static_cast<std::uint8_t>(size > 255 ? 255 : size);
    e.name = name ? name : "";
    RecordOn(board, std::move(e));
    return result == 0;
}

void CloseKey(RegistryKey key) {
    Board* board = InstalledBoard();
    const bool wasOpen =
        board != nullptr && key == kBoardKeyHandle && installed->registry.openKeys > 0;
    if (wasOpen) --installed->registry.openKeys;
    Event e{Op::RegistryClose};
    e.value = wasOpen ? 1 : 0;
    RecordOn(board, std::move(e));
}

// ---- port I/O ----------------------------------------------------------------------------------

std::uint8_t PortRead8(std::uint16_t port) {
    return static_cast<std::uint8_t>(PortRead(port, 8));
}
void PortReadRun8(std::uint16_t port, int count) {
    for (int i = 0; i < count; ++i) PortRead(port, 8);
}
std::uint16_t PortRead16(std::uint16_t port) {
    return static_cast<std::uint16_t>(PortRead(port, 16));
}
std::uint32_t PortRead32(std::uint16_t port) {
    return PortRead(port, 32);
}
void PortWrite8(std::uint16_t port, std::uint8_t value) {
    PortWrite(port, 8, value);
}
void PortWrite16(std::uint16_t port, std::uint16_t value) {
    PortWrite(port, 16, value);
}
void PortWrite32(std::uint16_t port, std::uint32_t value) {
    PortWrite(port, 32, value);
}

// ---- memory windows ----------------------------------------------------------------------------

std::uint8_t WindowLoad8(std::uint32_t address) {
    return static_cast<std::uint8_t>(WindowLoad(address, 8));
}
std::uint16_t WindowLoad16(std::uint32_t address) {
    return static_cast<std::uint16_t>(WindowLoad(address, 16));
}
std::uint32_t WindowLoad32(std::uint32_t address) {
    return WindowLoad(address, 32);
}

void WindowStore32(std::uint32_t address, std::uint32_t value) {
    std::uint8_t* bytes = ResolveWindow("store", address, 32);
    little_endian::Store32(bytes, value);
    Event e{Op::WindowStore};
    e.width = 32;
    e.where = address;
    e.value = value;
    RecordOn(InstalledBoard(), std::move(e));
}

// ---- process heap ------------------------------------------------------------------------------

void* HeapAllocate(std::size_t size) {
    if (installed != nullptr && installed->failNextAllocation) {
        installed->failNextAllocation = false;
        return nullptr;
    }
    // The process heap hands out a distinct block even for zero bytes.
    return std::malloc(size != 0 ? size : 1);
}

void HeapRelease(void* memory) {
    std::free(memory);
}

}  // namespace vexo::platform

namespace vexo::sim {

void Install(HostMachine* machine) {
    platform::installed = machine;
}

HostMachine* Installed() {
    return platform::installed;
}

std::uint32_t Registry::Query(const std::string& name, void* data, std::uint32_t size,
                              std::uint32_t* written) const {
    if (written != nullptr) *written = 0;
    if (!keyPresent) return kErrorFileNotFound;
    const auto found = values.find(name);
    if (found == values.end()) return kErrorFileNotFound;
    const std::vector<std::uint8_t>& stored = found->second.data;
    if (stored.size() > size) return kErrorMoreData;
    if (data != nullptr && !stored.empty()) std::memcpy(data, stored.data(), stored.size());
    if (written != nullptr) *written = static_cast<std::uint32_t>(stored.size());
    return 0;
}

}  // namespace vexo::sim
