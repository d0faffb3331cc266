// Loading and storing the four base addresses in the board configuration key. The routines see
// the key only through key_store's ReadValue and WriteDword, which the applet implements on its
// open key handle (key_store_win32.cpp) and a test implements on a fake.
#pragma once

#include <cstdint>

#include "address_field.h"
#include "key_store.h"

namespace vexo::applet {

using BaseAddressValues = std::uint32_t[kFieldCount];

// Sets every value to its default, then reads each one over it; a value that cannot be read is
// set to its default again and that default is written to the key at once. Returns 1 when all
// four values are set, 0 as soon as writing a default failed (later values are then left alone).
int LoadBaseAddresses(BaseAddressValues& values);

// Writes all four values in key order. Returns 1 when all were written, 0 at the first write that
// failed (the ones before it stay written, the ones after it are not attempted).
int SaveBaseAddresses(const BaseAddressValues& values);

}  // namespace vexo::applet
