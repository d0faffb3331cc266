// What the Win32 files of key_store share: the key they opened.
#pragma once

#include <windows.h>

namespace vexo::applet::key_store {

// The key Open or OpenExisting opened; null while none is.
extern HKEY keyHandle;

}  // namespace vexo::applet::key_store
