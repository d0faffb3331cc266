// The emulated bus: the card this process reaches, its lock, its windows and its trace file.
//
// The one card every access of this process reaches (a Board on the card store), the lock that
// keeps each access whole across threads and processes, the windows as the library gets them
// (traced or not), the bus trace file, and the two ways an instruction reaches the card: a port
// instruction and a load or store of a traced window.
//
// A program may break the library's one-thread rule, and several programs may use the card at
// once; the card must then behave as a real one does, not fault. Every emulated bus access (a
// trapped port instruction, or the whole run one trap performs), every driver request and every
// control function that touches the card holds the bus, so each access is atomic as a bus cycle is,
// and interleaved read-modify-writes lose updates exactly as on hardware. Window accesses are the
// CPU's own loads and stores of the shared memory: aligned ones are as atomic as the processor
// makes them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "board.h"
#include "card_store.h"
#include "emulated_instructions.h"
#include "trace_file.h"

namespace vexo::sim::vxd {

// At process attach, before any handler or export can run: opens the card store, says once on
// standard error when the card lives in memory, places the windows (inaccessible views when
// VEXO_SIM_TRACE names a file, so that each access can be traced) and opens the trace file. The
// first access then takes the card file as it is or powers a blank card on. False when no card
// can be made at all.
bool OpenBus();
// At detach. At process exit without the thread lock: the other threads are gone, and one of them
// may have died holding it; the card's lock is given back if this process still holds it.
void CloseBus(bool processExit);

// After a fault nothing else explains: when another program has cut the card file short, under
// the memory this program reaches, says so in one line and ends the program with exit code 1.
void EndIfCardFileCutShort();

// The card; null before OpenBus and after CloseBus. Used under a BusGuard.
Board* BusBoard();
const CardStore& BusStore();
TraceFile& BusTrace();

// This process's threads kept apart on the bus, inline in the guards below: a guard is taken for
// every emulated access, and for every event a test reads back from the trace. Set up by OpenBus.
struct BusThreads {
    CRITICAL_SECTION lock;
    int guards = 0;  // guards open in the thread that holds the lock
};
inline BusThreads busThreads;
// The card's lock word, taken for the outermost BusGuard of a thread and given back after it.
void TakeCardLock();
void GiveBackCardLock();

// Holds the bus for its scope: this process's threads among themselves (a critical section),
// then the card among processes (the card file's lock word, holding the owner's slot and taken
// with interlocked operations: no kernel object, whose every wait is a round trip to the Wine
// server). A process that waits finds out now and then, from the byte-range lock of the owner's
// slot, whether the owner still runs, and takes over the lock of one that ended holding it; after
// 5 s it says once which program it waits for, and Ctrl+C ends it. Nests within a thread.
class BusGuard {
  public:
    BusGuard() {
        EnterCriticalSection(&busThreads.lock);
        if (busThreads.guards++ == 0) TakeCardLock();
    }
    ~BusGuard() {
        if (--busThreads.guards == 0) GiveBackCardLock();
        LeaveCriticalSection(&busThreads.lock);
    }
    BusGuard(const BusGuard&) = delete;
    BusGuard& operator=(const BusGuard&) = delete;
};

// Holds this process's side of the bus only, against its other threads: enough for what the
// process keeps for itself (its trace, its windows' addresses, its redirected calls), without the
// card's lock that the other processes wait on.
class ProcessGuard {
  public:
    ProcessGuard() { EnterCriticalSection(&busThreads.lock); }
    ~ProcessGuard() { LeaveCriticalSection(&busThreads.lock); }
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;
};

// The power cycle, under the bus: the card and driver at power-on, memories zeroed, this
// process's trace emptied.
void PowerCycle();

// The bus access of `instruction` at `code` with EAX as `eax`, performed on the card and traced
// as the CPU with a card would make it; returns EAX after it. Without a card (the module detached
// at process exit) the bus floats: inputs read all ones. Under the bus.
std::uint32_t PerformPortInstruction(const PortInstruction& instruction, std::uint32_t eax,
                                     std::uintptr_t code);

// A traced window: what the library loads and stores through, and the memory behind it.
struct TracedWindow {
    std::uintptr_t base;
    std::uint8_t* memory;
    std::uint32_t size;
    bool external;
};
// Whether the windows the library gets are traced ones.
bool WindowsTraced();
// The traced window that holds all `bytes` at `address`, or null (also when windows are not
// traced).
const TracedWindow* TracedWindowOf(std::uint32_t address, std::uint32_t bytes);

// A window access of `width` bits at `address` (a load into `*value`, zero-extended, or a store
// of its low bits), little-endian as the CPU makes it, performed on the card's memory and traced
// when the whole access lies inside a traced window; false, and nothing done, otherwise. Under
// the bus.
bool PerformWindowAccess(bool isLoad, int width, std::uint32_t address, std::uint32_t* value);

}  // namespace vexo::sim::vxd
