// Putting the card into a process that has not run yet: the module loaded into it before its first
// instruction and told to answer the device path there.
//
// Windows loads a driver module for the device path only in the 9x family; on NT nothing answers
// it. A program started suspended gets the module from a thread run in it for the purpose (its
// start routine LoadLibraryA, which takes the same single pointer argument a thread's start
// routine does), then a second thread runs the module's SimServeDevicePath, which points the
// program's own calls of the device functions at the module (device_path.h). The first of those
// threads also runs the process's start-up (its static DLLs), so the card is in place before the
// program's entry point runs. A thread rather than an early APC on the program's first thread: the
// thread's exit code says what LoadLibraryA returned, so a program the card cannot go into is
// known, and ended, before its first instruction. Compiled into both vexosim.exe (the launcher) and
// the module (which hands the card on to the programs a launched program starts).
#pragma once

#include <windows.h>

#include <string>

namespace vexo::sim::vxd {

// The module's file name, and the export each process it is put into runs.
constexpr char kModuleName[] = "vexolite.vxd";
constexpr char kServeExport[] = "SimServeDevicePath";

// Whether `process` runs the same kind of code as this one (both 32-bit): only then can the
// module go into it.
bool SameBitness(HANDLE process);

// Into `process`, created suspended and not yet resumed: the module already loaded in it (one the
// program imports itself), else the one in this process. False with the reason in `problem`.
bool PutCardInto(HANDLE process, std::string* problem);

}  // namespace vexo::sim::vxd
