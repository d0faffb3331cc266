// vexolite.vxd: the simulated card and its driver as a module Wine loads for the device path.
//
// Under Wine in Windows 98 mode, CreateFileA("\\.\VexoLite.vxd") loads this module and sends
// every DeviceIoControl on the handle to its export DeviceIoControl. Port instructions of the
// process trap; the vectored handler installed at load decodes each in/out and performs it on
// the same Board. The memories are real memory; only with the bus trace on are the windows
// guarded views whose loads and stores fault here. The board's memories and registers live in the
// card file (card_store.h), so they outlast the process. One lock (bus_lock.h) makes every
// emulated access and every control function safe when several threads use the card;
// VEXO_SIM_TRACE=<file> writes the bus trace to a file (trace_file.h).
//
// Where 32-bit code runs on an emulated CPU (qemu-user), every fault arrives as an illegal
// instruction without the address it touched, and the single step after an instruction as a
// breakpoint: a window fault's address is then decoded from the faulting instruction.
// VEXO_SIM_DECODE_FAULTS=1 takes that path on every machine.
//
// A trap costs several microseconds of exception dispatch, many times the card model's work, so
// one trap goes on through the run of port instructions that follows the faulting one: each is
// still performed and traced on its own, in order, with EAX updated after each input, exactly as
// separate traps would. The run ends at the first instruction that is not one of the port
// instructions below, which then runs (or traps) by itself. A port accessor function reached by a
// direct call traps once; the call then goes straight to the card (accessor_calls.h).
// VEXO_SIM_TRAP_BATCHING=0 in the environment, or SimSetTrapBatching(0), turns both off: every
// port instruction is its own trap.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501  // AddVectoredExceptionHandler
#endif
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>

#include "accessor_calls.h"
#include "board.h"
#include "bus_lock.h"
#include "card_store.h"
#include "emulated_instructions.h"
#include "memory_regions.h"
#include "trace_file.h"
#include "vexolite_sim.h"

namespace {

using vexo::sim::Board;
using vexo::sim::PciFunction;
using vexo::sim::vxd::BusGuard;
using vexo::sim::vxd::DecodePortInstruction;
using vexo::sim::vxd::kLongestPortInstruction;
using vexo::sim::vxd::MemoryAccess;
using vexo::sim::vxd::PortInstruction;
using vexo::sim::vxd::Segment;

static_assert(static_cast<int>(vexo::sim::Op::PortRead) == SIM_OP_PORT_READ &&
                  static_cast<int>(vexo::sim::Op::DriverRequest) == SIM_OP_DRIVER_REQUEST,
              "the trace operations of vexolite_sim.h follow the model's");

Board* board = nullptr;
vexo::sim::vxd::TraceFile traceFile;
PVOID portTrap = nullptr;
bool trapBatching = true;
// Whether a window fault's address is always decoded from the instruction, as where the system
// reports faults without it (VEXO_SIM_DECODE_FAULTS=1): the same path on every machine.
bool decodeFaultAddresses = false;
volatile LONG trapsTaken = 0;

// With the trace file on, the windows the library gets are inaccessible views of the memories
// (card_store.h): each load or store faults here and is performed on the board's own view.
struct TracedWindow {
    std::uintptr_t base;  // what the library loads and stores through
    std::uint8_t* memory;
    std::uint32_t size;
    bool external;
};
TracedWindow tracedWindows[2] = {};
bool windowsTraced = false;

// A window access by an instruction the module does not decode runs on the page opened for that
// one instruction, stepped with the trap flag, after which the page is closed again.
struct OpenedPage {
    DWORD thread;
    std::uintptr_t page;
};
constexpr std::size_t kMaxOpenedPages = 16;
OpenedPage openedPages[kMaxOpenedPages] = {};

// What a trapped port instruction raises: privileged instruction on Windows and plain Wine,
// illegal instruction when the 32-bit side runs under a user-mode CPU emulator, which reports
// every access fault the same way, without the address.
constexpr DWORD kPrivilegedInstruction = 0xC0000096u;
constexpr DWORD kIllegalInstruction = 0xC000001Du;

// A debugger stepping through the code expects one instruction per step.
constexpr DWORD kTrapFlag = 0x100;
constexpr std::uintptr_t kPageSize = 0x1000;
constexpr std::size_t kLongestInstruction = 15;

// Events kept at most: every external-memory element costs 50 port reads, so a long demo run
// would otherwise fill the 32-bit address space with its trace.
constexpr std::size_t kTraceLimit = 1u << 20;

// The forms a run goes on through: those compilers emit for port access. A prefixed byte form
// is left to a trap of its own.
bool BatchableForm(const PortInstruction& instruction) {
    return !(instruction.prefixed && instruction.width == 8);
}

// The instruction's bus access and its effect on EAX and EIP, as the CPU with a card would.
void Perform(const PortInstruction& instruction, CONTEXT* context) {
    context->Eax = vexo::sim::vxd::PerformPortInstruction(instruction, context->Eax, context->Eip);
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
        if (at + wanted > readableEnd_) ExtendPast(readableEnd_);
        return at >= readableEnd_ ? 0 : std::min<std::size_t>(wanted, readableEnd_ - at);
    }

  private:
    void ExtendPast(std::uintptr_t end) {
        readableEnd_ = vexo::sim::vxd::RegionEnd(end, vexo::sim::vxd::kExecutable);
    }

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
        Perform(instruction, context);
    }
}

const TracedWindow* TracedWindowOf(std::uint32_t address, std::uint32_t bytes) {
    for (const TracedWindow& w : tracedWindows) {
        if (windowsTraced && address >= w.base &&
            std::uint64_t{address} + bytes <= w.base + w.size) {
            return &w;
        }
    }
    return nullptr;
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
    traceFile.Window(load, window->external, address - window->base, 0, 0);
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
    const std::size_t available = CodeAhead::Unfetched(at).Readable(at, kLongestInstruction);
    const std::uint32_t registers[8] = {context->Eax, context->Ecx, context->Edx, context->Ebx,
                                        context->Esp, context->Ebp, context->Esi, context->Edi};
    vexo::sim::vxd::MemoryAccesses accesses;
    if (!vexo::sim::vxd::DecodeMemoryAccesses(reinterpret_cast<const std::uint8_t*>(at), available,
                                              registers, &accesses)) {
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
        !decodeFaultAddresses) {
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
    vexo::sim::vxd::WindowInstruction instruction;
    const auto* at = reinterpret_cast<const std::uint8_t*>(context->Eip);
    std::uint32_t value = context->Edx;
    if (vexo::sim::vxd::DecodeWindowInstruction(at, vexo::sim::vxd::kLongestWindowInstruction,
                                                &instruction) &&
        context->Eax == address &&
        vexo::sim::vxd::PerformWindowAccess(instruction.isLoad, instruction.width, address,
                                            &value)) {
        if (instruction.isLoad) context->Eax = value;
        const std::uintptr_t faulted = context->Eip;
        context->Eip += instruction.length;
        if (trapBatching && (context->EFlags & kTrapFlag) == 0) {
            vexo::sim::vxd::RedirectAccessorCall(faulted, context->Esp);
        }
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return StepOverWindowAccess(context, address, load);
}

// A trapped port instruction, performed with the run that follows it.
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
    InterlockedIncrement(&trapsTaken);
    const BusGuard guard;  // the whole run: each access in it stays atomic and in order
    const std::uintptr_t trapped = context->Eip;
    Perform(instruction, context);
    if (trapBatching && (context->EFlags & kTrapFlag) == 0) {
        PerformRestOfRun(context);
        vexo::sim::vxd::RedirectAccessorCall(trapped, context->Esp);
    }
    vexo::sim::SaveCard();  // the next program finds the registers as this one left them
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The vectored handler: the single steps after window accesses (windows traced), the breakpoints
// of call rewrites, trapped port instructions, and window faults, reported as access violations
// or, by an emulated CPU, as illegal instructions. Anything else goes on to the next handler.
LONG CALLBACK HandleCpuException(PEXCEPTION_POINTERS info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code == EXCEPTION_SINGLE_STEP && windowsTraced) {
        const BusGuard guard;
        return CloseSteppedPage(info->ContextRecord);
    }
    if (code == EXCEPTION_BREAKPOINT && windowsTraced && EndsStepOverWindowAccess(info)) {
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (code == EXCEPTION_BREAKPOINT && board != nullptr) {
        const BusGuard guard;  // waits until the rewrite that set the breakpoint is done
        const auto at = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
        if (!vexo::sim::vxd::IsRewrittenCall(at)) return EXCEPTION_CONTINUE_SEARCH;
        info->ContextRecord->Eip = at;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if ((code == kPrivilegedInstruction || code == kIllegalInstruction) && board != nullptr) {
        const LONG handled = HandlePortTrap(info);
        if (handled != EXCEPTION_CONTINUE_SEARCH) return handled;
    }
    if ((code == EXCEPTION_ACCESS_VIOLATION || code == kIllegalInstruction) && windowsTraced) {
        return HandleWindowFault(info);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Whether the environment variable `name` holds the one character `setting`.
bool EnvironmentSays(const char* name, char setting) {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length == 1 && value[0] == setting;
}

void SetUpTrace(Board& b) {
    b.tracing = true;
    b.ClearTrace();
    b.traceLimit = kTraceLimit;
}

// The card and the driver (kept in the card file) at power-on, and the process's own settings.
void ResetToDefault(Board& b) {
    vexo::sim::PowerOnCard(b);
    b.failNextAllocation = false;
    SetUpTrace(b);
}

PciFunction* Find(std::uint32_t bus, std::uint32_t device, std::uint32_t function) {
    if (board == nullptr || bus > 0xFF || device > 0x1F || function > 7) return nullptr;
    return board->FindFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                               static_cast<std::uint8_t>(function));
}

// The memory `which` names and whether offset..offset+count lies inside it.
std::uint8_t* MemoryRange(std::uint32_t which, std::uint32_t offset, std::uint32_t count) {
    if (board == nullptr) return nullptr;
    std::uint8_t* base = which == SIM_INT_MEM   ? board->intMem
                         : which == SIM_EXT_MEM ? board->extMem
                                                : nullptr;
    const std::uint64_t size =
        which == SIM_INT_MEM ? vexo::sim::kIntMemSize : vexo::sim::kExtMemSize;
    if (base == nullptr || std::uint64_t{offset} + count > size) return nullptr;
    return base + offset;
}

bool ValidWidth(std::uint32_t width) {
    return width == 8 || width == 16 || width == 32;
}

void TraceWindows() {
    std::uint8_t* intWindow = nullptr;
    std::uint8_t* extWindow = nullptr;
    if (!vexo::sim::MapTracedWindows(*board, &intWindow, &extWindow)) return;
    tracedWindows[0] = {reinterpret_cast<std::uintptr_t>(intWindow), board->intMem,
                        vexo::sim::kIntMemSize, false};
    tracedWindows[1] = {reinterpret_cast<std::uintptr_t>(extWindow), board->extMem,
                        vexo::sim::kExtMemSize, true};
    windowsTraced = true;
}

bool Attach() {
    vexo::sim::vxd::CreateBusLock();
    board = vexo::sim::OpenCard();
    if (board == nullptr) return false;
    SetUpTrace(*board);
    // VEXO_SIM_TRAP_BATCHING=0 turns batching off for the process, for comparisons.
    trapBatching = !EnvironmentSays("VEXO_SIM_TRAP_BATCHING", '0');
    decodeFaultAddresses = EnvironmentSays("VEXO_SIM_DECODE_FAULTS", '1');
    if (traceFile.OpenFromEnvironment()) {
        TraceWindows();
        traceFile.Start(windowsTraced);
    }
    portTrap = AddVectoredExceptionHandler(1, HandleCpuException);
    return portTrap != nullptr;
}

// Without the lock: at process exit the other threads are gone, and one of them may have died
// holding it. Unloaded from a running process, the module first puts the calls it redirected
// back; at process exit they stay, and the lock with them, for a module detaching after this one
// whose calls then meet a bus without a card.
void Detach(bool processExit) {
    if (portTrap != nullptr) RemoveVectoredExceptionHandler(portTrap);
    portTrap = nullptr;
    if (!processExit) {
        const BusGuard guard;
        vexo::sim::vxd::RestoreAccessorCalls();
    }
    traceFile.Close();
    windowsTraced = false;
    vexo::sim::CloseCard();
    board = nullptr;
    if (!processExit) vexo::sim::vxd::DeleteBusLock();
}

}  // namespace

namespace vexo::sim::vxd {

// Without a card (the module detached at process exit) the bus floats: inputs read all ones.
std::uint32_t PerformPortInstruction(const PortInstruction& instruction, std::uint32_t eax,
                                     std::uintptr_t code) {
    if (board == nullptr)
        return instruction.isInput ? MergeIntoEax(eax, ~0u, instruction.width) : eax;
    if (instruction.isInput) {
        const std::uint32_t value = board->PortRead(instruction.port, instruction.width);
        traceFile.Port(*board, true, instruction.port, instruction.width, value, code,
                       instruction.length);
        return MergeIntoEax(eax, value, instruction.width);
    }
    board->PortWrite(instruction.port, instruction.width, eax);
    traceFile.Port(*board, false, instruction.port, instruction.width, eax, code,
                   instruction.length);
    return eax;
}

// Little-endian, as the CPU would load and store it.
bool PerformWindowAccess(bool isLoad, int width, std::uint32_t address, std::uint32_t* value) {
    const std::uint32_t bytes = static_cast<std::uint32_t>(width) / 8;
    const TracedWindow* window = TracedWindowOf(address, bytes);
    if (window == nullptr || board == nullptr) return false;
    const std::uint32_t offset = address - static_cast<std::uint32_t>(window->base);
    std::uint8_t* at = window->memory + offset;
    if (isLoad) {
        *value = 0;
        std::memcpy(value, at, bytes);
    } else {
        std::memcpy(at, value, bytes);
    }
    traceFile.Window(isLoad, window->external, offset, width, *value);
    return true;
}

}  // namespace vexo::sim::vxd

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) return Attach() ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH) Detach(reserved != nullptr);
    return TRUE;
}

// Exported as DeviceIoControl: what Wine calls for each request on the device path's handle.
BOOL WINAPI SimDeviceIoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned, OVERLAPPED*) {
    if (board == nullptr) return FALSE;
    const BusGuard guard;
    std::uint32_t count = 0;
    bool ok = false;
    if (board->driver.present) {
        ok = board->DriverRequest(code, in, inSize, out, outSize, &count);
        vexo::sim::SaveCard();
    } else {
        vexo::sim::Event e{vexo::sim::Op::DriverRequest};
        e.where = code;
        board->Record(std::move(e));
    }
    traceFile.Request(code, inSize, outSize, ok);
    if (returned != nullptr) *returned = count;
    return ok ? TRUE : FALSE;
}

void SIM_CALL SimResetBoard(void) {
    const BusGuard guard;
    if (board != nullptr) ResetToDefault(*board);
}

void SIM_CALL SimRemoveAllFunctions(void) {
    const BusGuard guard;
    if (board != nullptr) board->functions.clear();
}

void SIM_CALL SimAddFunction(uint32_t bus, uint32_t device, uint32_t function, uint32_t id) {
    const BusGuard guard;
    if (board == nullptr) return;
    board->AddFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                       static_cast<std::uint8_t>(function), id);
}

int SIM_CALL SimSetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t value) {
    const BusGuard guard;
    PciFunction* f = Find(bus, device, function);
    if (f == nullptr || index > 5) return 0;
    f->bars[index] = value;
    return 1;
}

int SIM_CALL SimGetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = Find(bus, device, function);
    if (f == nullptr || index > 5 || value == nullptr) return 0;
    *value = f->bars[index];
    return 1;
}

int SIM_CALL SimSetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t value) {
    const BusGuard guard;
    PciFunction* f = Find(bus, device, function);
    if (f == nullptr) return 0;
    f->commandStatus = value;
    return 1;
}

int SIM_CALL SimGetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = Find(bus, device, function);
    if (f == nullptr || value == nullptr) return 0;
    *value = f->commandStatus;
    return 1;
}

int SIM_CALL SimReadIoRegister(uint32_t bus, uint32_t device, uint32_t function, uint32_t range,
                               uint32_t offset, uint32_t width, uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = Find(bus, device, function);
    if (f == nullptr || range > 1 || !ValidWidth(width) || value == nullptr) return 0;
    *value = f->IoRegister(static_cast<int>(range), offset, static_cast<int>(width));
    return 1;
}

void SIM_CALL SimSetDriverPresent(int present) {
    const BusGuard guard;
    if (board != nullptr) board->driver.present = present != 0;
}

void SIM_CALL SimSetDriverIdentity(uint32_t deviceId, uint32_t vendorId) {
    const BusGuard guard;
    if (board == nullptr) return;
    board->driver.deviceId = deviceId;
    board->driver.vendorId = vendorId;
}

void SIM_CALL SimSetDriverInfo(uint32_t driverInfo) {
    const BusGuard guard;
    if (board != nullptr) board->driver.driverInfo = driverInfo;
}

int SIM_CALL SimSetFailingCode(uint32_t code, int failing) {
    const BusGuard guard;
    if (board == nullptr) return 0;
    std::set<std::uint32_t>& codes = board->driver.failingCodes;
    if (!failing) {
        codes.erase(code);
        return 1;
    }
    // One more than the card file keeps would be lost from it, and not necessarily this one.
    if (codes.count(code) == 0 && codes.size() >= SIM_MAX_FAILING_CODES) return 0;
    codes.insert(code);
    return 1;
}

void SIM_CALL SimSetPciConfigReply(const void* bytes, uint32_t count) {
    const BusGuard guard;
    if (board == nullptr) return;
    board->driver.overridePciConfigReply = bytes != nullptr;
    board->driver.pciConfigReply.clear();
    if (bytes != nullptr) {
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        board->driver.pciConfigReply.assign(first, first + count);
    }
}

int SIM_CALL SimGetLastBaseRecord(SimBaseRecord* record) {
    const BusGuard guard;
    if (board == nullptr || !board->driver.basesKnown || record == nullptr) return 0;
    const vexo::sim::BaseAddressRecord& bases = board->driver.bases;
    *record = {bases.intMemBase, bases.extMemBase, bases.io1Base, bases.io2Base};
    return 1;
}

int SIM_CALL SimReadMemory(uint32_t which, uint32_t offset, void* buffer, uint32_t count) {
    const BusGuard guard;
    const std::uint8_t* from = MemoryRange(which, offset, count);
    if (from == nullptr || (buffer == nullptr && count != 0)) return 0;
    if (count != 0) std::memcpy(buffer, from, count);
    return 1;
}

int SIM_CALL SimWriteMemory(uint32_t which, uint32_t offset, const void* buffer, uint32_t count) {
    const BusGuard guard;
    std::uint8_t* to = MemoryRange(which, offset, count);
    if (to == nullptr || (buffer == nullptr && count != 0)) return 0;
    if (count != 0) std::memcpy(to, buffer, count);
    return 1;
}

uint32_t SIM_CALL SimGetWindowAddress(uint32_t which) {
    const BusGuard guard;
    if (board == nullptr) return 0;
    if (which == SIM_INT_MEM) return board->intWindowAddress;
    if (which == SIM_EXT_MEM) return board->extWindowAddress;
    return 0;
}

uint32_t SIM_CALL SimPortRead(uint32_t port, uint32_t width) {
    const BusGuard guard;
    if (board == nullptr || !ValidWidth(width)) return 0xFFFFFFFFu;
    const auto at = static_cast<std::uint16_t>(port);
    const std::uint32_t value = board->PortRead(at, static_cast<int>(width));
    traceFile.Port(*board, true, at, static_cast<int>(width), value);
    return value;
}

void SIM_CALL SimPortWrite(uint32_t port, uint32_t width, uint32_t value) {
    const BusGuard guard;
    if (board == nullptr || !ValidWidth(width)) return;
    const auto at = static_cast<std::uint16_t>(port);
    board->PortWrite(at, static_cast<int>(width), value);
    traceFile.Port(*board, false, at, static_cast<int>(width), value);
}

uint32_t SIM_CALL SimTraceCount(void) {
    const BusGuard guard;
    return board == nullptr ? 0 : static_cast<uint32_t>(board->trace.size());
}

uint32_t SIM_CALL SimTraceDropped(void) {
    const BusGuard guard;
    return board == nullptr ? 0 : static_cast<uint32_t>(board->traceDropped);
}

int SIM_CALL SimGetTraceEvent(uint32_t index, SimTraceEvent* event) {
    const BusGuard guard;
    if (board == nullptr || event == nullptr || index >= board->trace.size()) return 0;
    const vexo::sim::Event& e = board->trace[index];
    *event = {static_cast<uint32_t>(e.op), e.width, e.where, e.value};
    return 1;
}

void SIM_CALL SimClearTrace(void) {
    const BusGuard guard;
    if (board != nullptr) board->ClearTrace();
}

void SIM_CALL SimSetTracing(int on) {
    const BusGuard guard;
    if (board != nullptr) board->tracing = on != 0;
}

void SIM_CALL SimSetTrapBatching(int on) {
    const BusGuard guard;
    trapBatching = on != 0;
    if (!trapBatching) vexo::sim::vxd::RestoreAccessorCalls();
}

uint32_t SIM_CALL SimTrapCount(void) {
    return static_cast<uint32_t>(trapsTaken);
}

}  // extern "C"
