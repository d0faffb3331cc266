// The host platform layer: every platform call of the library lands on the installed Board and
// is traced there. With no board installed there is no driver, no key, and every port reads
// all ones.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board.h"
#include "board_key.h"
#include "platform.h"

namespace vexo::platform {

namespace {

using sim::Board;
using sim::Event;
using sim::Op;

constexpr char kDevicePath[] = "\\\\.\\VexoLite.vxd";

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
    Board* board = sim::Installed();
    std::uint8_t* byte = board ? board->WindowByte(address, width / 8) : nullptr;
    if (byte == nullptr) WindowFault(what, address, width);
    return byte;
}

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes, int width) {
    std::uint32_t value = 0;
    for (int k = 0; k < width / 8; ++k) value |= static_cast<std::uint32_t>(bytes[k]) << (8 * k);
    return value;
}

std::uint32_t WindowLoad(std::uint32_t address, int width) {
    const std::uint8_t* bytes = ResolveWindow("load", address, width);
    const std::uint32_t value = LoadLittleEndian(bytes, width);
    Event e{Op::WindowLoad};
    e.width = static_cast<std::uint8_t>(width);
    e.where = address;
    e.value = value;
    RecordOn(sim::Installed(), std::move(e));
    return value;
}

std::uint32_t PortRead(std::uint16_t port, int width) {
    Board* board = sim::Installed();
    if (board == nullptr) return width == 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
    return board->PortRead(port, width);
}

void PortWrite(std::uint16_t port, int width, std::uint32_t value) {
    Board* board = sim::Installed();
    if (board != nullptr) board->PortWrite(port, width, value);
}

bool IsOpenDriverHandle(const Board* board, DriverHandle driver) {
    return board != nullptr && driver <= 0xFFFFFFFFu &&
           board->driver.liveHandles.count(static_cast<std::uint32_t>(driver)) != 0;
}

}  // namespace

// ---- driver ------------------------------------------------------------------------------------

DriverHandle OpenDriver(const char* devicePath) {
    Board* board = sim::Installed();
    const bool opens = board != nullptr && board->driver.present && devicePath != nullptr &&
                       std::strcmp(devicePath, kDevicePath) == 0;
    Event e{Op::DriverOpen};
    e.value = opens ? 1 : 0;
    e.name = devicePath ? devicePath : "";
    RecordOn(board, std::move(e));
    if (!opens) return kInvalidDriverHandle;
    const std::uint32_t handle = kFirstDriverHandle + board->driver.handlesEverOpened++;
    board->driver.liveHandles.insert(handle);
    ++board->driver.openHandles;
    return handle;
}

bool DriverRequest(DriverHandle driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize) {
    Board* board = sim::Installed();
    if (!IsOpenDriverHandle(board, driver)) {
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
    Board* board = sim::Installed();
    const bool wasOpen = IsOpenDriverHandle(board, driver);
    if (wasOpen) {
        board->driver.liveHandles.erase(static_cast<std::uint32_t>(driver));
        --board->driver.openHandles;
    }
    Event e{Op::DriverClose};
    e.value = wasOpen ? 1 : 0;
    RecordOn(board, std::move(e));
}

// ---- registry ----------------------------------------------------------------------------------

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    Board* board = sim::Installed();
    // Registry paths compare without regard to case, as on Windows.
    const bool opens = board != nullptr && board->registry.keyPresent && subkey != nullptr &&
                       strcasecmp(subkey, board_key::kPath) == 0;
    Event e{Op::RegistryOpen};
    e.where = opens ? 0 : sim::kErrorFileNotFound;
    e.value = opens ? 1 : 0;
    e.name = subkey ? subkey : "";
    RecordOn(board, std::move(e));
    if (!opens) return false;
    ++board->registry.openKeys;
    *key = kBoardKeyHandle;
    return true;
}

bool QueryValue(RegistryKey key, const char* name, void* data, std::uint32_t size) {
    Board* board = sim::Installed();
    constexpr std::uint32_t kErrorInvalidHandle = 6;
    std::uint32_t result = kErrorInvalidHandle;
    if (board != nullptr && key == kBoardKeyHandle && board->registry.openKeys > 0) {
        std::uint32_t written = 0;
        result = board->registry.Query(name ? name : "", data, size, &written);
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
    Board* board = sim::Installed();
    const bool wasOpen = board != nullptr && key == kBoardKeyHandle && board->registry.openKeys > 0;
    if (wasOpen) --board->registry.openKeys;
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
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
    Event e{Op::WindowStore};
    e.width = 32;
    e.where = address;
    e.value = value;
    RecordOn(sim::Installed(), std::move(e));
}

// ---- process heap ------------------------------------------------------------------------------

void* HeapAllocate(std::size_t size) {
    Board* board = sim::Installed();
    if (board != nullptr && board->failNextAllocation) {
        board->failNextAllocation = false;
        return nullptr;
    }
    // The process heap hands out a distinct block even for zero bytes.
    return std::malloc(size != 0 ? size : 1);
}

void HeapRelease(void* memory) {
    std::free(memory);
}

}  // namespace vexo::platform
