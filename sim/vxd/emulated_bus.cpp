// The emulated bus. See emulated_bus.h.
#include "emulated_bus.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "host_program.h"
#include "module_state.h"

namespace vexo::sim::vxd {
namespace {

// Events kept at most: every external-memory element costs 50 port reads, so a long demo run
// would otherwise fill the 32-bit address space with its trace.
constexpr std::size_t kTraceLimit = 1u << 20;

// Waiting for the card's lock: spins first (another process holds it for one access), then
// yields, then sleeps, asking now and then whether the owner still runs.
constexpr std::uint32_t kSpins = 64;
constexpr std::uint32_t kYields = 1024;
constexpr std::uint32_t kAttemptsPerOwnerCheck = 64;
// ms: a wait this long is no access of another program's; the waiting program says for whom.
constexpr DWORD kWaitBeforeTelling = 5000;
constexpr DWORD kControlCExit = 0xC000013Au;  // STATUS_CONTROL_C_EXIT, as the system ends it

std::uint32_t AddressOf(const std::uint8_t* memory) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory));
}

// Takes the lock from `owner` when its program has ended. Its slot is held meanwhile, so that no
// program starting now can take the slot, and with it the lock.
bool TakeOverFromEndedProgram(LONG owner) {
    BusState& bus = Module().bus;
    const auto slot = static_cast<std::uint32_t>(owner - 1);
    if (slot >= card_file::kProgramSlots) {
        // No program's slot: a damaged lock word, held by nobody.
        return InterlockedCompareExchange(bus.cardLock, bus.self, owner) == owner;
    }
    if (!HoldEndedSlot(bus.store, slot)) return false;
    const bool taken = InterlockedCompareExchange(bus.cardLock, bus.self, owner) == owner;
    ReleaseEndedSlot(bus.store, slot);
    return taken;
}

// The program that holds the card, as it entered itself in its slot.
std::string Holder(LONG owner) {
    BusState& bus = Module().bus;
    const auto slot = static_cast<std::uint32_t>(owner - 1);
    if (slot >= card_file::kProgramSlots) return "a program that left no name";
    const card_file::ProgramEntry entry = bus.store.programs[slot];
    const std::string name(entry.name, strnlen(entry.name, sizeof entry.name));
    return (name.empty() ? "a program" : name) + " (process " + std::to_string(entry.processId) +
           ")";
}

// Ctrl+C while the program waits for the card ends it, as it would a program that waits for
// input: the program's own handler would only ask the wait to stop, which it cannot. The trace
// file gets its summary (the waiting thread holds the bus, so no other writes it); then the
// process ends at once, since an orderly exit would wait for locks the waiting thread may hold
// (Wine's exit does, measured).
BOOL WINAPI EndTheWait(DWORD event) {
    BusState& bus = Module().bus;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    bus.trace.Close();
    TerminateProcess(GetCurrentProcess(), kControlCExit);
    return TRUE;
}

// Waits for the card's lock, which another program holds: spinning, yielding, then sleeping,
// taking it over from a program that ended while it held it, and saying once, after a while,
// which program it waits for. Out of line, so that taking a free lock costs no stack frame.
[[gnu::noinline, gnu::cold]] void WaitForCardLock() {
    BusState& bus = Module().bus;
    const DWORD begun = GetTickCount();
    bool told = false;
    bool endsOnControlC = false;
    for (std::uint32_t attempt = 0;; ++attempt) {
        const LONG owner = InterlockedCompareExchange(bus.cardLock, bus.self, 0);
        if (owner == 0) break;
        if (attempt < kSpins) {
            YieldProcessor();
            continue;
        }
        if (attempt % kAttemptsPerOwnerCheck == 0 && TakeOverFromEndedProgram(owner)) break;
        if (attempt >= kYields && !endsOnControlC) {
            // Registered last, this handler is asked first.
            endsOnControlC = SetConsoleCtrlHandler(EndTheWait, TRUE) != FALSE;
        }
        if (!told && GetTickCount() - begun > kWaitBeforeTelling) {
            told = true;
            TellTheProgram("waiting for the card, which " + Holder(owner) + " has held for " +
                           std::to_string(kWaitBeforeTelling / 1000) +
                           " s; Ctrl+C ends this program");
        }
        Sleep(attempt < kYields ? 0 : 1);
    }
    if (endsOnControlC) SetConsoleCtrlHandler(EndTheWait, FALSE);
}

void TraceWindows() {
    BusState& bus = Module().bus;
    std::uint8_t* intWindow = nullptr;
    std::uint8_t* extWindow = nullptr;
    if (!MapTracedWindows(&bus.store, &intWindow, &extWindow)) return;
    bus.tracedWindows[0] = {reinterpret_cast<std::uintptr_t>(intWindow), bus.board->intMem,
                            kIntMemSize, false};
    bus.tracedWindows[1] = {reinterpret_cast<std::uintptr_t>(extWindow), bus.board->extMem,
                            kExtMemSize, true};
    bus.board->intWindowAddress = AddressOf(intWindow);
    bus.board->extWindowAddress = AddressOf(extWindow);
    bus.windowsTraced = true;
}

// This program in its slot, for programs that wait for it.
void EnterThisProgram() {
    BusState& bus = Module().bus;
    if (bus.store.programs == nullptr) return;
    card_file::ProgramEntry entry = {};
    entry.processId = GetCurrentProcessId();
    std::string name = ProgramName();
    if (name.size() >= sizeof entry.name) {
        // Cut short, and without the rest of a character cut in two.
        name.resize(sizeof entry.name - 1);
        while (!name.empty() && (name.back() & 0xC0) == 0x80) name.pop_back();
        if (!name.empty() && (name.back() & 0x80) != 0) name.pop_back();
    }
    std::memcpy(entry.name, name.data(), name.size());
    bus.store.programs[bus.store.slot] = entry;
}

// The card as the file holds it when it is one of this layout, else (a file just made, a state
// out of bounds, the card in memory) a blank card at power-on. Under the bus, once, at the
// process's first access: not at load, where a wait for the bus would hold the loader's lock, and
// with it every thread the program starts, such as the one Ctrl+C runs on.
[[gnu::noinline, gnu::cold]] void LookAtTheCard() {
    BusState& bus = Module().bus;
    bus.cardLookedAt = true;
    const auto* head = reinterpret_cast<const std::uint8_t*>(bus.store.header);
    const std::uint64_t size = bus.store.path.empty() ? 0 : card_file::kSize;
    if (card_file::Judge(head, sizeof(card_file::Layout), size) == card_file::Verdict::Card) return;
    bus.board->PowerOn();
    ZeroMemories(bus.store);
    card_file::CompleteHeader(*bus.store.header);
}

void MakeBoard() {
    BusState& bus = Module().bus;
    bus.board = new Board(*bus.store.state, bus.store.intMem, bus.store.extMem);
    bus.board->intWindowAddress = AddressOf(bus.store.intMem);
    bus.board->extWindowAddress = AddressOf(bus.store.extMem);
    bus.board->traceLimit = kTraceLimit;
}

void UseCardFile() {
    BusState& bus = Module().bus;
    bus.self = static_cast<LONG>(bus.store.slot + 1);
    bus.cardLock = reinterpret_cast<volatile LONG*>(&bus.store.header->lockOwner);
    // A program that had this slot ended, maybe holding the bus: the slot is free, so no
    // running program holds the lock under this name.
    InterlockedCompareExchange(bus.cardLock, 0, bus.self);
}

}  // namespace

void TakeCardLock() {
    BusState& bus = Module().bus;
    if (bus.cardLock != nullptr) {
        const LONG owner = InterlockedCompareExchange(bus.cardLock, bus.self, 0);
        // This process's own slot while it holds no guard: a thread of it ended holding the lock,
        // which is this thread's now.
        if (owner != 0 && owner != bus.self) WaitForCardLock();
    }
    if (!bus.cardLookedAt) LookAtTheCard();
}

// A plain store after a release fence: on x86 every earlier write of the card is seen before it,
// and it costs no locked instruction.
void GiveBackCardLock() {
    BusState& bus = Module().bus;
    if (bus.cardLock == nullptr) return;
    std::atomic_thread_fence(std::memory_order_release);
    *bus.cardLock = 0;
}

bool OpenBus() {
    BusState& bus = Module().bus;
    InitializeCriticalSection(&bus.threads.lock);
    if (!OpenCardStore(&bus.store)) return false;
    if (!bus.store.path.empty()) UseCardFile();
    MakeBoard();
    EnterThisProgram();
    if (!bus.store.problem.empty()) {
        TellTheProgram(bus.store.problem + "; this program's card is not kept");
    }
    if (bus.trace.OpenFromEnvironment()) {
        TraceWindows();
        bus.trace.Start(bus.windowsTraced);
    }
    return true;
}

void CloseBus(bool processExit) {
    BusState& bus = Module().bus;
    bus.trace.Close();
    bus.cardLookedAt = false;
    bus.windowsTraced = false;
    // At process exit a thread may have died holding it; a process that merely maps the file
    // must not free another's. A file cut short may no longer hold the lock word's page.
    std::uint64_t size = 0;
    if (bus.cardLock != nullptr && !CardFileCutShort(bus.store, &size)) {
        InterlockedCompareExchange(bus.cardLock, 0, bus.self);
    }
    bus.cardLock = nullptr;
    delete bus.board;
    bus.board = nullptr;
    CloseCardStore(&bus.store);
    if (!processExit) DeleteCriticalSection(&bus.threads.lock);
}

void EndIfCardFileCutShort() {
    BusState& bus = Module().bus;
    std::uint64_t size = 0;
    if (!CardFileCutShort(bus.store, &size)) return;
    bus.cardLock = nullptr;
    TellTheProgram("the card file " + bus.store.path + " was cut short to " + std::to_string(size) +
                   (size == 1 ? " byte" : " bytes") +
                   " by another program: the card is gone, and this program ends");
    ExitProcess(1);
}

void PowerCycle() {
    BusState& bus = Module().bus;
    if (bus.board == nullptr) return;
    bus.board->PowerOn();
    ZeroMemories(bus.store);
    bus.board->tracing = true;
    bus.board->ClearTrace();
}

std::uint32_t PerformPortInstruction(const PortInstruction& instruction, std::uint32_t eax,
                                     std::uintptr_t code) {
    BusState& bus = Module().bus;
    if (bus.board == nullptr) {
        return instruction.isInput ? MergeIntoEax(eax, ~0u, instruction.width) : eax;
    }
    Board::PortOwner owner = Board::PortOwner::Nobody;
    if (instruction.isInput) {
        const std::uint32_t value =
            bus.board->PortRead(instruction.port, instruction.width, &owner);
        bus.trace.Port(owner, true, instruction.port, instruction.width, value, code,
                       instruction.length);
        return MergeIntoEax(eax, value, instruction.width);
    }
    bus.board->PortWrite(instruction.port, instruction.width, eax, &owner);
    bus.trace.Port(owner, false, instruction.port, instruction.width, eax, code,
                   instruction.length);
    return eax;
}

bool WindowsTraced() {
    BusState& bus = Module().bus;
    return bus.windowsTraced;
}

const TracedWindow* TracedWindowOf(std::uint32_t address, std::uint32_t bytes) {
    BusState& bus = Module().bus;
    if (!bus.windowsTraced) return nullptr;
    for (const TracedWindow& w : bus.tracedWindows) {
        if (address >= w.base && std::uint64_t{address} + bytes <= w.base + w.size) return &w;
    }
    return nullptr;
}

bool PerformWindowAccess(bool isLoad, int width, std::uint32_t address, std::uint32_t* value) {
    BusState& bus = Module().bus;
    const std::uint32_t bytes = static_cast<std::uint32_t>(width) / 8;
    const TracedWindow* window = TracedWindowOf(address, bytes);
    if (window == nullptr || bus.board == nullptr) return false;
    const std::uint32_t offset = address - static_cast<std::uint32_t>(window->base);
    std::uint8_t* at = window->memory + offset;
    if (isLoad) {
        *value = 0;
        std::memcpy(value, at, bytes);
    } else {
        std::memcpy(at, value, bytes);
    }
    bus.trace.Window(isLoad, window->external, offset, width, *value);
    return true;
}

}  // namespace vexo::sim::vxd
