// The board configuration key in the registry of the Wine prefix, as the Windows-side tests shape
// and read it before and after the library or the applet has opened it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "board_key.h"

namespace board_key_registry {

inline void DeleteBoardKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath);
}

inline bool BoardKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Any type and size, for values the applet must cope with; creates the key if need be.
inline bool SetBoardKeyValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok =
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

inline bool SetBoardKeyValue(const char* name, DWORD value) {
    return SetBoardKeyValue(name, REG_DWORD, &value, sizeof value);
}

// All four bases, in the order the library reads them.
inline bool WriteBoardKey(std::uint32_t intMem, std::uint32_t extMem, std::uint32_t io1,
                          std::uint32_t io2) {
    const DWORD values[4] = {intMem, extMem, io1, io2};
    bool ok = true;
    for (int i = 0; i < 4; ++i)
        ok = ok && SetBoardKeyValue(vexo::board_key::kValueNames[i], values[i]);
    return ok;
}

// A value as stored: its type and bytes, whatever they are.
struct StoredValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<unsigned char> bytes;

    bool IsDword() const { return exists && type == REG_DWORD && bytes.size() == 4; }
    // A marker no test stores when the value is not 4 bytes long.
    DWORD Dword() const {
        DWORD value = 0xBAD0BAD0;
        if (bytes.size() == 4) std::memcpy(&value, bytes.data(), 4);
        return value;
    }
};

inline StoredValue ReadBoardKeyValue(const char* name) {
    StoredValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return value;
    }
    unsigned char data[64];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &value.type, data, &size) == ERROR_SUCCESS) {
        value.exists = true;
        value.bytes.assign(data, data + size);
    }
    RegCloseKey(key);
    return value;
}

}  // namespace board_key_registry
