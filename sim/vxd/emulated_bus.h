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

// This process's threads kept apart on the bus, inline in the guards of module_state.h: a guard is
// taken for every emulated access, and for every event a test reads back from the trace. Set up
// by OpenBus.
struct BusThreads {
    CRITICAL_SECTION lock;
    int guards = 0;  // guards open in the thread that holds the lock
};

// A traced window: what the library loads and stores through, and the memory behind it.
struct TracedWindow {
    std::uintptr_t base;
    std::uint8_t* memory;
    std::uint32_t size;
    bool external;
};

// The bus's part of the module's state (module_state.h).
struct BusState {
    BusThreads threads;
    CardStore store;
    Board* board = nullptr;  // the card; null before OpenBus and after CloseBus
    TraceFile trace;
    TracedWindow tracedWindows[2] = {};
    bool windowsTraced = false;
    volatile LONG* cardLock = nullptr;  // the card's lock word
    LONG self = 0;                      // this process's slot, plus one
    bool cardLookedAt = false;
};

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

// The card's lock word, taken for the outermost BusGuard of a thread and given back after it
// (module_state.h).
void TakeCardLock();
void GiveBackCardLock();

// The power cycle, under the bus: the card and driver at power-on, memories zeroed, this
// process's trace emptied.
void PowerCycle();

// The bus access of `instruction` at `code` with EAX as `eax`, performed on the card and traced
// as the CPU with a card would make it; returns EAX after it. Without a card (the module detached
// at process exit) the bus floats: inputs read all ones. Under the bus.
std::uint32_t PerformPortInstruction(const PortInstruction& instruction, std::uint32_t eax,
                                     std::uintptr_t code);

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
