// Loading and storing the four base addresses in the board configuration key. The routines see
// the key only through the two functions of key_store, which the applet implements on its open
// key handle and a test implements on a fake.
#pragma once

#include <cstdint>

#include "address_field.h"

namespace vexo::applet {

namespace key_store {
// RegQueryValueExA on the open key: no type asked, `size` bytes read straight into `data`.
// True when the read succeeded.
bool ReadValue(const char* name, void* data, std::uint32_t size);
// RegSetValueExA on the open key: `value` as a 4-byte REG_DWORD. True when it was written.
bool WriteDword(const char* name, std::uint32_t value);
}  // namespace key_store

using BaseAddressValues = std::uint32_t[kFieldCount];

// Sets every value to its default, then reads each one over it; a value that cannot be read is
// set to its default again and that default is written to the key at once. Returns 1 when all
// four values are set, 0 as soon as writing a default failed (later values are then left alone).
int LoadBaseAddresses(BaseAddressValues& values);

// Writes all four values in key order. Returns 1 when all were written, 0 at the first write that
// failed (the ones before it stay written, the ones after it are not attempted).
int SaveBaseAddresses(const BaseAddressValues& values);

}  // namespace vexo::applet
