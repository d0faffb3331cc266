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
#include "host_program.h"
#include "memory_regions.h"
#include "module_state.h"

namespace vexo::sim::vxd {
namespace {

// What a trapped port instruction raises: privileged instruction on Windows and plain Wine,
// illegal instruction when the 32-bit side runs under a user-mode CPU emulator, which reports
// every access fault the same way, without the address.
constexpr DWORD kPrivilegedInstruction = 0xC0000096u;
constexpr DWORD kIllegalInstruction = 0xC000001Du;

// A debugger stepping through the code expects one instruction per step.
constexpr DWORD kTrapFlag = 0x100;

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

    // For an instruction at `at` that the CPU may not have fetched: an emulated CPU reports a
    // fault on fetching it like any other, as an illegal instruction.
    static CodeAhead Unfetched(std::uintptr_t at) {
        CodeAhead code(0);
        code.readableEnd_ = at;
        return code;
    }

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
    for (OpenedPage& p : Module().traps.openedPages) {
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
    Module().bus.trace.Window(load, window->external, address - window->base, 0, 0);
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

// Whether `address` lies on the page this thread has open for its current single step: an
// access there did not fault.
bool OnSteppedPage(std::uint32_t address) {
    const OpenedPage* slot = OpenedPageOf(GetCurrentThreadId());
    return slot != nullptr && (address & ~(kPageSize - 1)) == slot->page;
}

// Where FS points: the thread's own block, which holds its address at offset 0x18.
std::uint32_t FsBase() {
    std::uint32_t self = 0;
    asm("movl %%fs:0x18, %0" : "=r"(self));
    return self;
}

// The traced-window address an access of the faulting instruction touched, from the instruction
// and the registers: a string instruction's source or destination, whichever is in a window.
bool DecodedWindowAddress(const CONTEXT* context, std::uint32_t* address, bool* load) {
    const std::uintptr_t at = context->Eip;
    const std::size_t available = CodeAhead::Unfetched(at).Readable(at, kLongestX86Instruction);
    const std::uint32_t registers[8] = {context->Eax, context->Ecx, context->Edx, context->Ebx,
                                        context->Esp, context->Ebp, context->Esi, context->Edi};
    MemoryAccesses accesses;
    if (!DecodeMemoryAccesses(reinterpret_cast<const std::uint8_t*>(at), available, registers,
                              &accesses)) {
        return false;
    }
    for (int i = 0; i < accesses.count; ++i) {
        const MemoryAccess& access = accesses.access[i];
        if (access.segment == Segment::kGs) continue;  // never a window's segment
        const std::uint32_t segmentBase = access.segment == Segment::kFs ? FsBase() : 0;
        const std::uint32_t linear = segmentBase + access.offset;
        if (TracedWindowOf(linear, 1) == nullptr || OnSteppedPage(linear)) continue;
        *address = linear;
        *load = !access.store;
        return true;
    }
    return false;
}

// The traced-window address a fault touched and whether it was a load: as the system reports it
// where it does, else decoded from the faulting instruction.
bool FaultedWindowAddress(const EXCEPTION_POINTERS* info, std::uint32_t* address, bool* load) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
        !Module().traps.decodeFaultAddresses) {
        *address = static_cast<std::uint32_t>(record->ExceptionInformation[1]);
        *load = record->ExceptionInformation[0] == 0;
        return TracedWindowOf(*address, 1) != nullptr;
    }
    return DecodedWindowAddress(info->ContextRecord, address, load);
}

// An emulated CPU reports the single step after a window access as a breakpoint at the next
// instruction, with EIP backed up as if over an int3: the step ends there all the same.
bool EndsStepOverWindowAccess(PEXCEPTION_POINTERS info) {
    const BusGuard guard;
    if (OpenedPageOf(GetCurrentThreadId()) == nullptr) return false;
    CloseSteppedPage(info->ContextRecord);
    info->ContextRecord->Eip =
        reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    return true;
}

// A load or store of a traced window: performed and traced here when it is one of the forms
// compilers emit (the library's window functions), else stepped over on its opened page.
LONG HandleWindowFault(PEXCEPTION_POINTERS info) {
    std::uint32_t address = 0;
    bool load = false;
    if (!FaultedWindowAddress(info, &address, &load)) return EXCEPTION_CONTINUE_SEARCH;
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
        if (Module().traps.batching && (context->EFlags & kTrapFlag) == 0) {
            RedirectAccessorCall(faulted, context->Esp);
        }
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return StepOverWindowAccess(context, address, load);
}

// A trapped port instruction, and with batching the run after it and the call that reached it.
LONG HandlePortTrap(PEXCEPTION_POINTERS info) {
    CONTEXT* context = info->ContextRecord;
    PortInstruction instruction;
    // A privileged-instruction trap means the CPU fetched the whole instruction, and the decoder
    // reads no byte past a port instruction's own. An illegal instruction may be a fault on
    // fetching it: then only what can be read is decoded.
    const std::uintptr_t eip = context->Eip;
    const std::size_t available =
        info->ExceptionRecord->ExceptionCode == kPrivilegedInstruction
            ? kLongestPortInstruction
            : CodeAhead::Unfetched(eip).Readable(eip, kLongestPortInstruction);
    const auto* at = reinterpret_cast<const std::uint8_t*>(eip);
    if (!DecodePortInstruction(at, available, context->Edx, &instruction)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    InterlockedIncrement(&Module().traps.taken);
    const BusGuard guard;  // the whole run: each access in it stays atomic and in order
    const std::uintptr_t trapped = context->Eip;
    PerformAndStep(instruction, context);
    if (Module().traps.batching && (context->EFlags & kTrapFlag) == 0) {
        PerformRestOfRun(context);
        RedirectAccessorCall(trapped, context->Esp);
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Whether `code` is what a load or store of a page with no file behind it raises: an access
// violation natively (Wine turns the bus error into one), an in-page error on Windows, an illegal
// instruction from an emulated CPU.
bool IsMemoryFault(DWORD code) {
    return code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_IN_PAGE_ERROR ||
           code == kIllegalInstruction;
}

// The single steps after window accesses (windows traced), the breakpoints of call rewrites,
// trapped port instructions, and window faults, reported as access violations or, by an emulated
// CPU, as illegal instructions. A memory fault of any other kind ends the program when the card
// file has been cut short under it. Anything else goes on to the next handler.
LONG CALLBACK HandleCpuException(PEXCEPTION_POINTERS info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    const bool windowsTraced = WindowsTraced();
    const bool cardThere = Module().bus.board != nullptr;
    if (code == EXCEPTION_SINGLE_STEP && windowsTraced) {
        const BusGuard guard;
        return CloseSteppedPage(info->ContextRecord);
    }
    if (code == EXCEPTION_BREAKPOINT && windowsTraced && EndsStepOverWindowAccess(info)) {
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (code == EXCEPTION_BREAKPOINT && cardThere) {
        const BusGuard guard;  // waits until the rewrite that set the breakpoint is done
        const auto at = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
        if (!IsBreakpointOfCallRewrite(at)) return EXCEPTION_CONTINUE_SEARCH;
        info->ContextRecord->Eip = at;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if ((code == kPrivilegedInstruction || code == kIllegalInstruction) && cardThere) {
        const LONG handled = HandlePortTrap(info);
        if (handled != EXCEPTION_CONTINUE_SEARCH) return handled;
    }
    if ((code == EXCEPTION_ACCESS_VIOLATION || code == kIllegalInstruction) && windowsTraced) {
        const LONG handled = HandleWindowFault(info);
        if (handled != EXCEPTION_CONTINUE_SEARCH) return handled;
    }
    if (IsMemoryFault(code) && cardThere) EndIfCardFileCutShort();
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool InstallTrapHandler() {
    TrapState& traps = Module().traps;
    // VEXO_SIM_TRAP_BATCHING=0 turns batching off for the process, for comparisons.
    traps.batching = EnvironmentValue("VEXO_SIM_TRAP_BATCHING") != "0";
    traps.decodeFaultAddresses = EnvironmentValue("VEXO_SIM_DECODE_FAULTS") == "1";
    traps.handler = AddVectoredExceptionHandler(1, HandleCpuException);
    return traps.handler != nullptr;
}

void RemoveTrapHandler() {
    TrapState& traps = Module().traps;
    if (traps.handler != nullptr) RemoveVectoredExceptionHandler(traps.handler);
    traps.handler = nullptr;
}

void SetTrapBatching(bool on) {
    Module().traps.batching = on;
    if (!on) RestoreAccessorCalls();
}

std::uint32_t TrapCount() {
    return static_cast<std::uint32_t>(Module().traps.taken);
}

}  // namespace vexo::sim::vxd
