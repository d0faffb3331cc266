// Accessor redirection: direct calls of port accessors, sent to the emulated bus without a trap.
//
// Depends on the bus alone.
//
// Compiled code reaches ports through small accessor functions: load the port (and for an output
// the value) from the stack, one port instruction, return. Each call of one traps, and a trap
// costs many times what the card model does for the access. After such an accessor traps, the
// direct call that reached it (`call rel32`, found through the return address) is redirected to a
// stub of this module that performs the same access on the card and leaves the registers and flags
// exactly as the accessor would: the port register loaded as the accessor loads it, EAX after the
// input, everything else as it was. The next call from that place costs no trap; calls from places
// that do not match keep trapping. The bus accesses, their order and their trace do not change.
//
// Another thread running the call meanwhile takes either the old target (and traps) or the new
// one: a displacement inside one cache line is one locked 4-byte write; one that crosses a line is
// written behind a breakpoint on the call, which such a thread meets and waits out. Every function
// here runs under the bus (the guards of module_state.h).
#pragma once

#include <cstdint>

#include "emulated_instructions.h"

namespace vexo::sim::vxd {

// A recognised accessor: its entry, the instruction that trapped or faulted in it, what it does,
// and its bytes, since other code may come to lie at the same place (a module unloaded and another
// loaded).
struct Accessor : AccessorForm {
    std::uintptr_t start;
    std::uintptr_t code;
    std::uint8_t bytes[kLongestAccessor];
};

// A call whose displacement now points at a stub.
struct RedirectedCall {
    std::uintptr_t call;
    std::int32_t original;
    std::int32_t redirected;
};

constexpr std::uint32_t kAccessorStubs = 64;
constexpr std::uint32_t kMaxRedirectedCalls = 1024;
constexpr std::uint32_t kMaxCallsAcrossLines = 256;

// The redirection's part of the module's state (module_state.h).
struct AccessorCalls {
    Accessor accessors[kAccessorStubs];  // accessor i is stub i's
    std::uint32_t accessorCount = 0;
    RedirectedCall redirected[kMaxRedirectedCalls];
    std::uint32_t redirectedCount = 0;
    // Calls whose displacement crosses a cache line and was ever rewritten (behind a breakpoint):
    // kept for good, so that a thread that met the breakpoint knows it for one of these.
    std::uintptr_t acrossLines[kMaxCallsAcrossLines];
    std::uint32_t acrossLinesCount = 0;
    // How code writes are made visible to every processor, found at the first rewrite.
    bool fenceFound = false;
    void(__stdcall* flushProcessWriteBuffers)() = nullptr;
    volatile std::uint8_t* fencePage = nullptr;
};

// After the port instruction at `trapped` trapped with ESP at `esp` and was performed: redirects
// the call that reached it when it is a direct call of an accessor, as above.
void RedirectAccessorCall(std::uintptr_t trapped, std::uintptr_t esp);

// Puts every redirected call back as it was, so that each access traps again.
void RestoreAccessorCalls();

// Whether `at` is a call whose displacement crosses a cache line and was ever rewritten, so that
// a breakpoint met there is one a rewrite set. Asked with the bus taken, so the rewrite is over
// and the call may run again from there.
bool IsBreakpointOfCallRewrite(std::uintptr_t at);

}  // namespace vexo::sim::vxd
