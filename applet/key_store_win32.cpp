// The board configuration key through advapi32: held open while the applet's dialog is open,
// and for the duration of one of vexotool's `key` commands.
#include "key_store_win32.h"

#include <windows.h>

#include "board_key.h"
#include "key_store.h"

namespace vexo::applet::key_store {

// Kept while the module is loaded; each opening replaces it.
HKEY keyHandle = nullptr;

void Close() {
    if (keyHandle != nullptr) RegCloseKey(keyHandle);
    keyHandle = nullptr;
}

bool Open() {
    Close();
    HKEY key = nullptr;
    DWORD disposition = 0;  // created or opened: either is fine
    // The class parameter is declared writable but only read.
    char* keyClass = const_cast<char*>(board_key::kClass);
    const LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, board_key::kPath, 0, keyClass, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) return false;
    keyHandle = key;
    return true;
}

bool ReadValue(const char* name, void* data, std::uint32_t size) {
    DWORD dataSize = size;
    return RegQueryValueExA(keyHandle, name, nullptr, nullptr, static_cast<BYTE*>(data),
                            &dataSize) == ERROR_SUCCESS;
}

bool WriteDword(const char* name, std::uint32_t value) {
    return RegSetValueExA(keyHandle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

}  // namespace vexo::applet::key_store
