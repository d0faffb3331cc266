// The trap handler. See trap_handler.h.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501  // AddVectoredExceptionHandler
#endif
#include "trap_handler.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>

#include "accessor_calls.h"
#include "emulated_bus.h"
#include "emulated_instructions.h"
#include "memory_regions.h"

namespace vexo::sim::vxd {
namespace {

PVOID handler = nullptr;
bool trapBatching = true;
volatile LONG trapsTaken = 0;

// A window access by an instruction the module does not decode runs on the page opened for that
// one instruction, stepped with the trap flag, after which the page is closed again.
struct OpenedPage {
    DWORD thread;
    std::uintptr_t page;
};
constexpr std::size_t kMaxOpenedPages = 16;
OpenedPage openedPages[kMaxOpenedPages] = {};

// What a trapped port instruction raises: privileged instruction on Windows and plain Wine,
// illegal instruction when the 32-bit side runs under a user-mode CPU emulator.
constexpr DWORD kPrivilegedInstruction = 0xC0000096u;
constexpr DWORD kIllegalInstruction = 0xC000001Du;

// A debugger stepping through the code expects one instruction per step.
constexpr DWORD kTrapFlag = 0x100;

// The forms a run goes on through: those compilers emit for port access. A prefixed byte form
// is left to a trap of its own.
bool BatchableForm(const PortInstruction& instruction) {
    return !(instruction.prefixed && instruction.width == 8);
}

// The instruction's bus access and its effect on EAX and EIP, as the CPU with a card would.
void PerformAndStep(const PortInstruction& instruction, CONTEXT* context) {
    context->Eax = PerformPortInstruction(instruction, context->Eax, context->Eip);
    context->Eip += instruction.length;
}

// The code after a trapped instruction, read only where the CPU could fetch it: the page of the
// trapped instruction itself, and further pages once the system says they are executable.
class CodeAhead {
  public:
    // `fetchedEnd`: one past the trapped instruction's last byte.
    explicit CodeAhead(std::uintptr_t fetchedEnd)
        : readableEnd_((fetchedEnd + kPageSize - 1) & ~(kPageSize - 1)) {}

    // How many of the `wanted` bytes at `at` may be read.
    std::size_t Readable(std::uintptr_t at, std::size_t wanted) {
        if (at + wanted > readableEnd_) readableEnd_ = RegionEnd(readableEnd_, kExecutable);
        return at >= readableEnd_ ? 0 : std::min<std::size_t>(wanted, readableEnd_ - at);
    }

  private:
    std::uintptr_t readableEnd_;
};

// Performs the port instructions that follow the trapped one, up to the first other instruction.
void PerformRestOfRun(CONTEXT* context) {
    CodeAhead code(context->Eip);
    for (;;) {
        const std::uintptr_t at = context->Eip;
        const std::size_t available = code.Readable(at, kLongestPortInstruction);
        PortInstruction instruction;
        if (!DecodePortInstruction(reinterpret_cast<const std::uint8_t*>(at), available,
                                   context->Edx, &instruction) ||
            !BatchableForm(instruction)) {
            return;
        }
        PerformAndStep(instruction, context);
    }
}

OpenedPage* OpenedPageOf(DWORD thread) {
    for (OpenedPage& p : openedPages) {
        if (p.thread == thread) return &p;
    }
    return nullptr;
}

// Lets the faulting instruction run by itself on its page, opened until the single step after it.
LONG StepOverWindowAccess(CONTEXT* context, std::uint32_t address, bool load) {
    OpenedPage* slot = OpenedPageOf(GetCurrentThreadId());
    if (slot == nullptr) slot = OpenedPageOf(0);
    if (slot == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    const std::uintptr_t page = address & ~(kPageSize - 1);
    DWORD was = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(page), kPageSize, PAGE_READWRITE, &was)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    *slot = {GetCurrentThreadId(), page};
    const TracedWindow* window = TracedWindowOf(address, 1);
    BusTrace().Window(load, window->external, address - window->base, 0, 0);
    context->EFlags |= kTrapFlag;
    return EXCEPTION_CONTINUE_EXECUTION;
}

LONG CloseSteppedPage(CONTEXT* context) {
    OpenedPage* slot = OpenedPageOf(GetCurrentThreadId());
    if (slot == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    DWORD was = 0;
    VirtualProtect(reinterpret_cast<void*>(slot->page), kPageSize, PAGE_NOACCESS, &was);
    *slot = {};
    context->EFlags &= ~kTrapFlag;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// A load or store of a traced window: performed and traced here when it is one of the forms
// compilers emit (the library's window functions), else stepped over on its opened page.
LONG HandleWindowFault(PEXCEPTION_POINTERS info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<std::uint32_t>(record->ExceptionInformation[1]);
    if (TracedWindowOf(address, 1) == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = info->ContextRecord;
    const BusGuard guard;
    WindowInstruction instruction;
    const auto* at = reinterpret_cast<const std::uint8_t*>(context->Eip);
    std::uint32_t value = context->Edx;
    if (DecodeWindowInstruction(at, kLongestWindowInstruction, &instruction) &&
        context->Eax == address &&
        PerformWindowAccess(instruction.isLoad, instruction.width, address, &value)) {
        if (instruction.isLoad) context->Eax = value;
        const std::uintptr_t faulted = context->Eip;
        context->Eip += instruction.length;
        if (trapBatching && (context->EFlags & kTrapFlag) == 0) {
            RedirectAccessorCall(faulted, context->Esp);
        }
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return StepOverWindowAccess(context, address, record->ExceptionInformation[0] == 0);
}

// A trapped port instruction, and with batching the run after it and the call that reached it.
LONG HandlePortTrap(CONTEXT* context) {
    PortInstruction instruction;
    // The CPU fetched the whole trapped instruction, and the decoder reads no byte past a port
    // instruction's own.
    const auto* at = reinterpret_cast<const std::uint8_t*>(context->Eip);
    if (!DecodePortInstruction(at, kLongestPortInstruction, context->Edx, &instruction)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    InterlockedIncrement(&trapsTaken);
    const BusGuard guard;  // the whole run: each access in it stays atomic and in order
    const std::uintptr_t trapped = context->Eip;
    PerformAndStep(instruction, context);
    if (trapBatching && (context->EFlags & kTrapFlag) == 0) {
        PerformRestOfRun(context);
        RedirectAccessorCall(trapped, context->Esp);
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Window faults and the single steps after them (window accesses traced), the breakpoints of
// call rewrites, and trapped port instructions. Anything else goes on to the next handler.
LONG CALLBACK HandleCpuException(PEXCEPTION_POINTERS info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    const bool windowsTraced = WindowsTraced();
    if (code == EXCEPTION_ACCESS_VIOLATION && windowsTraced) return HandleWindowFault(info);
    if (code == EXCEPTION_SINGLE_STEP && windowsTraced) {
        const BusGuard guard;
        return CloseSteppedPage(info->ContextRecord);
    }
    if (BusBoard() == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    if (code == EXCEPTION_BREAKPOINT) {
        const BusGuard guard;  // waits until the rewrite that set the breakpoint is done
        const auto at = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
        if (!IsBreakpointOfCallRewrite(at)) return EXCEPTION_CONTINUE_SEARCH;
        info->ContextRecord->Eip = at;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (code == kPrivilegedInstruction || code == kIllegalInstruction) {
        return HandlePortTrap(info->ContextRecord);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// VEXO_SIM_TRAP_BATCHING=0 turns batching off for the process, for comparisons.
bool BatchingWanted() {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("VEXO_SIM_TRAP_BATCHING", value, sizeof value);
    return !(length == 1 && value[0] == '0');
}

}  // namespace

bool InstallTrapHandler() {
    trapBatching = BatchingWanted();
    handler = AddVectoredExceptionHandler(1, HandleCpuException);
    return handler != nullptr;
}

void RemoveTrapHandler() {
    if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
    handler = nullptr;
}

void SetTrapBatching(bool on) {
    trapBatching = on;
    if (!trapBatching) RestoreAccessorCalls();
}

std::uint32_t TrapCount() {
    return static_cast<std::uint32_t>(trapsTaken);
}

}  // namespace vexo::sim::vxd
