// The applet's door to the registry: the board configuration key, opened (created if need be)
// for reading and writing while the dialog is open. key_store_win32.cpp implements it with
// advapi32; the host tests implement ReadValue and WriteDword on a fake key.
#pragma once

#include <cstdint>

namespace vexo::applet::key_store {

// RegCreateKeyExA on the board configuration key under HKEY_LOCAL_MACHINE (class "VEXOLITE",
// non-volatile, read and write access), replacing any key this module still holds. True when
// the key is open.
bool Open();
// RegCloseKey on the open key, if any.
void Close();

// RegQueryValueExA on the open key: no type asked, `size` bytes read straight into `data`.
// True when the read succeeded.
bool ReadValue(const char* name, void* data, std::uint32_t size);
// RegSetValueExA on the open key: `value` as a 4-byte REG_DWORD. True when it was written.
bool WriteDword(const char* name, std::uint32_t value);

}  // namespace vexo::applet::key_store
