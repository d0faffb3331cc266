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

#include <cstddef>

namespace vexo::sim::vxd {

// The system's own functions, as the loader put them into every import slot.
struct SystemFunctions {
    decltype(&::CreateFileA) createFileA;
    decltype(&::DeviceIoControl) deviceIoControl;
    decltype(&::CloseHandle) closeHandle;
    decltype(&::CreateProcessA) createProcessA;
    decltype(&::CreateProcessW) createProcessW;
    decltype(&::LoadLibraryA) loadLibraryA;
    decltype(&::LoadLibraryW) loadLibraryW;
    decltype(&::LoadLibraryExA) loadLibraryExA;
    decltype(&::LoadLibraryExW) loadLibraryExW;
};

// Each open of the device path gets a handle of the module's own: an unnamed event, so that its
// value is one no other open handle of the process has while it stays open.
constexpr std::size_t kMaxDeviceHandles = 64;

// The device path's part of the module's state (module_state.h).
struct DevicePath {
    SystemFunctions windows = {};
    HANDLE handles[kMaxDeviceHandles] = {};
    CRITICAL_SECTION handlesLock;
    bool watchLoaderCalls = false;  // Windows XP and the 9x family: no DLL load notification
    volatile LONG served = 0;
};

// Points the slots of every module loaded now and sets up the same for later ones. Once per
// process; false when the device path cannot be served.
bool ServeDevicePath();

}  // namespace vexo::sim::vxd

extern "C" {
// What a launcher runs in the process on a thread of its own: ServeDevicePath; 1 when served.
DWORD WINAPI SimServeDevicePath(void* unused);
}
