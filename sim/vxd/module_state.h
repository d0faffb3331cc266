// The module's state: all that vexolite.vxd keeps for its process, in one struct, reached through
// Module() alone, as a device model keeps its device.
//
// Each part's type lies beside the code that works on it: the bus (the card, its store, lock and
// trace, the traced windows), the trap handler (with each stepping thread's opened page), the
// redirected accessor calls, and the device path on NT. The guards below hold the bus for a scope.
#pragma once

#include <windows.h>

#include "accessor_calls.h"
#include "device_path.h"
#include "emulated_bus.h"
#include "trap_handler.h"

namespace vexo::sim::vxd {

struct ModuleState {
    BusState bus;
    TrapState traps;
    AccessorCalls calls;
    DevicePath devicePath;
};

// The one instance, defined with the module's entry point; no other code names it.
extern ModuleState theModule;

inline ModuleState& Module() {
    return theModule;
}

// Holds the bus for its scope: this process's threads among themselves (a critical section),
// then the card among processes (the card file's lock word, holding the owner's slot and taken
// with interlocked operations: no kernel object, whose every wait is a round trip to the Wine
// server). A process that waits finds out now and then, from the byte-range lock of the owner's
// slot, whether the owner still runs, and takes over the lock of one that ended holding it; after
// 5 s it says once which program it waits for, and Ctrl+C ends it. Nests within a thread.
class BusGuard {
  public:
    BusGuard() {
        BusThreads& threads = Module().bus.threads;
        EnterCriticalSection(&threads.lock);
        if (threads.guards++ == 0) TakeCardLock();
    }
    ~BusGuard() {
        BusThreads& threads = Module().bus.threads;
        if (--threads.guards == 0) GiveBackCardLock();
        LeaveCriticalSection(&threads.lock);
    }
    BusGuard(const BusGuard&) = delete;
    BusGuard& operator=(const BusGuard&) = delete;
};

// Holds this process's side of the bus only, against its other threads: enough for what the
// process keeps for itself (its trace, its windows' addresses, its redirected calls), without the
// card's lock that the other processes wait on.
class ProcessGuard {
  public:
    ProcessGuard() { EnterCriticalSection(&Module().bus.threads.lock); }
    ~ProcessGuard() { LeaveCriticalSection(&Module().bus.threads.lock); }
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;
};

}  // namespace vexo::sim::vxd
