// The door to the registry for everything that writes the board configuration key: the applet's
// dialog, which holds the key open (created if need be) while it is open, and vexotool's `key`
// command. key_store_win32.cpp implements it with advapi32 for both; on the host, vexotool's
// build implements it on the simulator's key and the applet's tests on a fake key.
#pragma once

#include <cstdint>

namespace vexo::applet::key_store {

// RegCreateKeyExA on the board configuration key under HKEY_LOCAL_MACHINE (class "VEXOLITE",
// non-volatile, read and write access), replacing any key this module still holds. True when
// the key is open.
bool Open();
// RegOpenKeyExA on the board configuration key for reading and writing, never creating it,
// replacing any key this module still holds. True when the key is open; *missing tells a key
// that does not exist from one that cannot be opened.
bool OpenExisting(bool* missing);
// RegCloseKey on the open key, if any.
void Close();

// RegQueryValueExA on the open key: no type asked, `size` bytes read straight into `data`.
// True when the read succeeded.
bool ReadValue(const char* name, void* data, std::uint32_t size);
// RegSetValueExA on the open key: `value` as a 4-byte REG_DWORD. True when it was written.
bool WriteDword(const char* name, std::uint32_t value);
// RegDeleteValueA on the open key. True when the value is gone, also when there was none.
bool DeleteValue(const char* name);

}  // namespace vexo::applet::key_store
