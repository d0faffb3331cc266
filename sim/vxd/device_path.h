// The device path on NT: the program's own calls of CreateFileA, DeviceIoControl and CloseHandle
// pointed at the module, through their import slots.
//
// Windows NT never hands \\.\VexoLite.vxd to a driver module. In a program the card was put into
// (card_injection.h), the import slots through which the program's own modules (those outside the
// Windows folder) call the three functions are pointed at this module's. CreateFileA answers the
// device path alone with a handle of the module's own; DeviceIoControl and CloseHandle act on such
// a handle as the module's driver does; every other call goes on to Windows unchanged.
// CreateProcess slots are pointed here too, so that the programs a launched program starts get the
// card as well.
//
// Modules loaded later (VexoDLL.dll through LoadLibrary, as ctypes, VB and Delphi programs load
// it) get the same: from Windows Vista on the loader tells the module of each DLL it loads (a DLL
// load notification), before the DLL's initialisation runs; Windows XP has no such notification,
// so there the LoadLibrary slots of every module but the system's own loader are pointed here, and
// each load is followed by a look at the modules then loaded.
#pragma once

#include <windows.h>

namespace vexo::sim::vxd {

// Points the slots of every module loaded now and sets up the same for later ones. Once per
// process; false when the device path cannot be served.
bool ServeDevicePath();

}  // namespace vexo::sim::vxd

extern "C" {
// What a launcher runs in the process on a thread of its own: ServeDevicePath; 1 when served.
DWORD WINAPI SimServeDevicePath(void* unused);
}
