// Opening the board configuration key without creating it, and deleting its values: what
// vexotool's `key clear` needs beyond the applet. A file of its own, so that the applet, which
// links key_store_win32.cpp alone, imports nothing it never calls.
#include <windows.h>

#include "board_key.h"
#include "key_store.h"
#include "key_store_win32.h"

namespace vexo::applet::key_store {

bool OpenExisting(bool* missing) {
    Close();
    HKEY key = nullptr;
    const LONG result =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, board_key::kPath, 0, KEY_READ | KEY_WRITE, &key);
    *missing = result == ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS) return false;
    keyHandle = key;
    return true;
}

bool DeleteValue(const char* name) {
    const LONG result = RegDeleteValueA(keyHandle, name);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

}  // namespace vexo::applet::key_store
