// The platform seam on Windows: kernel32 for the driver, advapi32 for the registry, in/out
// instructions for ports and volatile accesses for the memory windows. Only functions that
// Windows 95 and 98 provide are used, in their ANSI forms. The process heap is in
// dll_runtime.cpp, with the DLL's entry point: vexotool links this file and has a C runtime.
#include <windows.h>

#include "platform.h"
#include "port_instructions.h"

namespace vexo::platform {
namespace {

HANDLE AsHandle(DriverHandle driver) {
    return reinterpret_cast<HANDLE>(driver);
}
HKEY AsKey(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}

// Window addresses are the 32-bit values the driver returned; this is the one place where such
// a value becomes a pointer.
template <typename T>
volatile T* WindowPointer(std::uint32_t address) {
    return reinterpret_cast<volatile T*>(static_cast<std::uintptr_t>(address));
}

}  // namespace

DriverHandle OpenDriver(const char* devicePath) {
    const HANDLE driver = CreateFileA(devicePath, 0, 0, nullptr, 0, 0, nullptr);
    return reinterpret_cast<DriverHandle>(driver);
}

bool DriverRequest(DriverHandle driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize) {
    DWORD returned = 0;
    return DeviceIoControl(AsHandle(driver), code, const_cast<void*>(in), inSize, out, outSize,
                           &returned, nullptr) != 0;
}

void CloseDriver(DriverHandle driver) {
    CloseHandle(AsHandle(driver));
}

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, subkey, &opened) != ERROR_SUCCESS) return false;
    *key = reinterpret_cast<RegistryKey>(opened);
    return true;
}

bool QueryValue(RegistryKey key, const char* name, void* data, std::uint32_t size) {
    DWORD dataSize = size;
    return RegQueryValueExA(AsKey(key), name, nullptr, nullptr, static_cast<BYTE*>(data),
                            &dataSize) == ERROR_SUCCESS;
}

void CloseKey(RegistryKey key) {
    RegCloseKey(AsKey(key));
}

std::uint8_t PortRead8(std::uint16_t port) {
    return port_instructions::In8(port);
}

namespace {

// Fifty reads by consecutive instructions in a function of their own, called with the standard
// convention (noipa keeps the compiler from changing it): the plainest shape a run of port reads
// can have, which a simulator trapping port instructions can take whole.
constexpr int kReadsPerRun = 50;
__attribute__((noipa)) void PortReadRunOf50(std::uint16_t port) {
    asm volatile(".rept 50\n\tinb %w0, %%al\n\t.endr" : : "d"(port) : "eax");
}

}  // namespace

void PortReadRun8(std::uint16_t port, int count) {
    for (; count >= kReadsPerRun; count -= kReadsPerRun) PortReadRunOf50(port);
    for (; count > 0; --count) asm volatile("inb %w0, %%al" : : "d"(port) : "eax");
}

std::uint16_t PortRead16(std::uint16_t port) {
    return port_instructions::In16(port);
}
std::uint32_t PortRead32(std::uint16_t port) {
    return port_instructions::In32(port);
}
void PortWrite8(std::uint16_t port, std::uint8_t value) {
    port_instructions::Out8(port, value);
}
void PortWrite16(std::uint16_t port, std::uint16_t value) {
    port_instructions::Out16(port, value);
}
void PortWrite32(std::uint16_t port, std::uint32_t value) {
    port_instructions::Out32(port, value);
}

std::uint8_t WindowLoad8(std::uint32_t address) {
    return *WindowPointer<std::uint8_t>(address);
}
std::uint16_t WindowLoad16(std::uint32_t address) {
    return *WindowPointer<std::uint16_t>(address);
}
std::uint32_t WindowLoad32(std::uint32_t address) {
    return *WindowPointer<std::uint32_t>(address);
}
void WindowStore32(std::uint32_t address, std::uint32_t value) {
    *WindowPointer<std::uint32_t>(address) = value;
}

}  // namespace vexo::platform
