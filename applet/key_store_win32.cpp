// The board configuration key through advapi32, held open while the dialog is open.
#include <windows.h>

#include "board_key.h"
#include "key_store.h"

namespace vexo::applet::key_store {
namespace {

// Kept while the applet is loaded; each opening of the dialog replaces it.
HKEY keyHandle = nullptr;

}  // namespace

void Close() {
    if (keyHandle != nullptr) RegCloseKey(keyHandle);
    keyHandle = nullptr;
}

bool Open() {
    Close();
    HKEY key = nullptr;
    DWORD disposition = 0;  // created or opened: either is fine
    char keyClass[] = "VEXOLITE";
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
