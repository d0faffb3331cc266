// The one lock of the simulated machine inside vexolite.vxd.
//
// A program may break the library's one-thread rule; the simulated card must then behave as a
// real one does, not fault. Every emulated bus access (a trapped port instruction, or the whole
// run one trap performs), every driver request and every control function that touches the board
// or its trace holds this lock, so each access is atomic as a bus cycle is, and interleaved
// read-modify-writes of different threads lose updates exactly as on hardware.
//
// The memory windows are plain process memory that the library loads and stores directly: those
// accesses never come here, and are as atomic as the CPU makes aligned loads and stores.
#pragma once

#include <windows.h>

namespace vexo::sim::vxd {

inline CRITICAL_SECTION busLock;

// At process attach, before any handler or export can run; at detach, after.
inline void CreateBusLock() {
    InitializeCriticalSection(&busLock);
}
inline void DeleteBusLock() {
    DeleteCriticalSection(&busLock);
}

// Holds the lock for its scope.
class BusGuard {
  public:
    BusGuard() { EnterCriticalSection(&busLock); }
    ~BusGuard() { LeaveCriticalSection(&busLock); }
    BusGuard(const BusGuard&) = delete;
    BusGuard& operator=(const BusGuard&) = delete;
};

}  // namespace vexo::sim::vxd
