// The library's one door to the machine. Every driver request, registry read, port access and
// memory-window load or store goes through these functions, and nothing else in the library
// touches the platform. Three implementations exist and one is chosen at link time:
//   lib/platform_win32.cpp   - the real thing (kernel32, advapi32, in/out, volatile loads/stores),
//                              in VexoDLL.dll and in vexotool.exe; the DLL's heap functions are
//                              in lib/dll_runtime.cpp, since the tool allocates through its C
//                              runtime;
//   sim/host/host_platform.cpp - the board simulator, for the host tests and the host build of
//                              vexotool, with a trace of every access;
//   bench/platform_null.cpp  - a bus that does nothing but count, for the transfer benchmark.
// Each function's contract is written beside it; every implementation keeps it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexo::platform {

// An opened driver. Holds a Win32 HANDLE in the real build.
using DriverHandle = std::uintptr_t;
// What CreateFileA returns on failure (INVALID_HANDLE_VALUE, all bits set).
constexpr DriverHandle kInvalidDriverHandle = ~DriverHandle{0};

// An opened registry key. Holds a Win32 HKEY in the real build.
using RegistryKey = std::uintptr_t;

// --- driver -------------------------------------------------------------------------------

// Opens the driver's device path with CreateFileA(path, 0, 0, NULL, 0, 0, NULL).
// Returns the handle, or kInvalidDriverHandle when it cannot be opened.
DriverHandle OpenDriver(const char* devicePath);

// One synchronous DeviceIoControl request (never overlapped). `in` may be null with inSize 0,
// `out` null with outSize 0. A place for the count of bytes returned is supplied and not
// examined. Returns true when DeviceIoControl returned nonzero.
bool DriverRequest(DriverHandle driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize);

// CloseHandle. Never called with kInvalidDriverHandle.
void CloseDriver(DriverHandle driver);

// --- registry -----------------------------------------------------------------------------

// RegOpenKeyA(HKEY_LOCAL_MACHINE, subkey). Returns true and sets *key when the result is 0.
bool OpenMachineKey(const char* subkey, RegistryKey* key);

// RegQueryValueExA(key, name, NULL, NULL /* no type asked */, data, &size) with size set to
// `size` before the call; the registry writes the data straight into `data`.
// Returns true when the result is 0. On failure `data` may or may not have been written.
bool QueryValue(RegistryKey key, const char* name, void* data, std::uint32_t size);

// RegCloseKey.
void CloseKey(RegistryKey key);

// --- port I/O -----------------------------------------------------------------------------
// Direct port input and output on the calling thread (in/out instructions). Port numbers are
// 16 bits wide: callers pass a computed 32-bit port number truncated to its low 16 bits.

std::uint8_t PortRead8(std::uint16_t port);
std::uint16_t PortRead16(std::uint16_t port);
std::uint32_t PortRead32(std::uint16_t port);
void PortWrite8(std::uint16_t port, std::uint8_t value);
void PortWrite16(std::uint16_t port, std::uint16_t value);
void PortWrite32(std::uint16_t port, std::uint32_t value);

// `count` 8-bit reads of `port` in a row, the values discarded: the bus cycles of `count` calls
// of PortRead8, with nothing in between. The real build issues them as one straight run of in
// instructions, which an emulator that traps port instructions can take in one trap.
void PortReadRun8(std::uint16_t port, int count);

// --- memory windows -----------------------------------------------------------------------
// `address` is a 32-bit process-linear address inside a window the driver returned (codes 6
// and 7). Each call is exactly one access of the stated width at exactly that address, never
// split, merged, cached or reordered (volatile). The library only ever stores 32-bit words.

std::uint8_t WindowLoad8(std::uint32_t address);
std::uint16_t WindowLoad16(std::uint32_t address);
std::uint32_t WindowLoad32(std::uint32_t address);
void WindowStore32(std::uint32_t address, std::uint32_t value);

// --- process heap -------------------------------------------------------------------------

// Allocates `size` bytes from the process heap; null when the heap refuses.
void* HeapAllocate(std::size_t size);
// Returns memory from HeapAllocate to the process heap.
void HeapRelease(void* memory);

}  // namespace vexo::platform
