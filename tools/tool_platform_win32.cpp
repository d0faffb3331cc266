// The tool's machine access on Windows. The tool checks the driver and the PCI bus the same way
// the library does, with its own handle and its own port accesses, so that it can tell which step
// keeps the card from opening.
#include <io.h>
#include <windows.h>

#include "board_key.h"
#include "tool_platform.h"

namespace vexotool::sys {

Driver OpenDriver() {
    const HANDLE driver = CreateFileA("\\\\.\\VexoLite.vxd", 0, 0, nullptr, 0, 0, nullptr);
    return driver == INVALID_HANDLE_VALUE ? kNoDriver : reinterpret_cast<Driver>(driver);
}

bool DriverRequest(Driver driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize) {
    DWORD returned = 0;
    return DeviceIoControl(reinterpret_cast<HANDLE>(driver), code, const_cast<void*>(in), inSize,
                           out, outSize, &returned, nullptr) != 0;
}

void CloseDriver(Driver driver) {
    CloseHandle(reinterpret_cast<HANDLE>(driver));
}

std::uint32_t ReadConfig(std::uint32_t configAddress) {
    const std::uint16_t addressPort = 0xCF8, dataPort = 0xCFC;
    std::uint32_t value;
    asm volatile("outl %0, %w1" : : "a"(configAddress), "Nd"(addressPort));
    asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(dataPort));
    return value;
}

bool ReadBoardKeyValue(const char* name, std::uint32_t* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD data = 0, size = sizeof data;
    const bool read = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (read) *value = data;
    return read;
}

bool IsConsole(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

double NowSeconds() {
    return GetTickCount() / 1000.0;
}

}  // namespace vexotool::sys
