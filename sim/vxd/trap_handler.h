// The trap handler: the vectored exception handler that turns traps into bus accesses.
//
// Through it the process's port instructions and its loads and stores of traced windows reach
// the emulated bus.
//
// Port instructions of the process trap. A trap costs several microseconds of exception
// dispatch, many times the card model's work, so one trap goes on through the run of port
// instructions that follows the faulting one: each is still performed and traced on its own, in
// order, with EAX updated after each input, exactly as separate traps would. The run ends at the
// first instruction that is not one of the port instructions of emulated_instructions.h, which
// then runs (or traps) by itself. A port accessor function reached by a direct call traps once;
// the call then goes straight to the card (accessor_calls.h). VEXO_SIM_TRAP_BATCHING=0 in the
// environment, or SetTrapBatching(false), turns both off: every port instruction is its own trap.
//
// With windows traced (emulated_bus.h), a load or store of a window faults here and is performed
// on the card's memory, or, by an instruction not decoded, let through alone on its page.
//
// Where 32-bit code runs on an emulated CPU (qemu-user), every fault arrives as an illegal
// instruction without the address it touched, and the single step after an instruction as a
// breakpoint: a window fault's address is then decoded from the faulting instruction.
// VEXO_SIM_DECODE_FAULTS=1 takes that path on every machine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace vexo::sim::vxd {

// A window access by an instruction the module does not decode runs on the page opened for that
// one instruction, stepped with the trap flag, after which the page is closed again.
struct OpenedPage {
    DWORD thread;
    std::uintptr_t page;
};
constexpr std::size_t kMaxOpenedPages = 16;

// The handler's part of the module's state (module_state.h).
struct TrapState {
    PVOID handler = nullptr;
    bool batching = true;
    // Whether a window fault's address is always decoded from the instruction, as where the
    // system reports faults without it (VEXO_SIM_DECODE_FAULTS=1): the same path on every machine.
    bool decodeFaultAddresses = false;
    volatile LONG taken = 0;
    OpenedPage openedPages[kMaxOpenedPages] = {};  // each stepping thread's
};

// Installs the handler first in line; reads VEXO_SIM_TRAP_BATCHING. False when it cannot.
bool InstallTrapHandler();
void RemoveTrapHandler();

// Under the bus. Turning batching off also puts every redirected call back.
void SetTrapBatching(bool on);
// Traps taken since the module loaded.
std::uint32_t TrapCount();

}  // namespace vexo::sim::vxd
