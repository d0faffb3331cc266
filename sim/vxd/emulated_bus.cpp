// The emulated bus. See emulated_bus.h.
#include "emulated_bus.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "host_program.h"

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

CardStore store;
Board* board = nullptr;
TraceFile traceFile;
TracedWindow tracedWindows[2] = {};
bool windowsTraced = false;

volatile LONG* cardLock = nullptr;  // the card's lock word
LONG self = 0;                      // this process's id

std::uint32_t AddressOf(const std::uint8_t* memory) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory));
}

bool OwnerRuns(LONG owner) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(owner));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

void TraceWindows() {
    std::uint8_t* intWindow = nullptr;
    std::uint8_t* extWindow = nullptr;
    if (!MapTracedWindows(&store, &intWindow, &extWindow)) return;
    tracedWindows[0] = {reinterpret_cast<std::uintptr_t>(intWindow), board->intMem, kIntMemSize,
                        false};
    tracedWindows[1] = {reinterpret_cast<std::uintptr_t>(extWindow), board->extMem, kExtMemSize,
                        true};
    board->intWindowAddress = AddressOf(intWindow);
    board->extWindowAddress = AddressOf(extWindow);
    windowsTraced = true;
}

// A card file of this layout is used as it is; a blank one, or the card in memory, starts at
// power-on.
void TakeCardAsItIs() {
    const BusGuard guard;
    const auto* head = reinterpret_cast<const std::uint8_t*>(store.header);
    const std::uint64_t size = store.path.empty() ? 0 : card_file::kSize;
    if (card_file::Judge(head, sizeof(card_file::Layout), size) == card_file::Verdict::Card) return;
    PowerCycle();
    card_file::CompleteHeader(*store.header);
}

}  // namespace

void TakeCardLock() {
    if (cardLock == nullptr) return;
    for (std::uint32_t attempt = 0;; ++attempt) {
        const LONG owner = InterlockedCompareExchange(cardLock, self, 0);
        // This process's own id while it holds no guard: a process that had the same id died
        // holding the lock, which is this process's now.
        if (owner == 0 || owner == self) return;
        if (attempt < kSpins) {
            YieldProcessor();
            continue;
        }
        if (attempt % kAttemptsPerOwnerCheck == 0 && !OwnerRuns(owner) &&
            InterlockedCompareExchange(cardLock, self, owner) == owner) {
            return;
        }
        Sleep(attempt < kYields ? 0 : 1);
    }
}

// A plain store after a release fence: on x86 every earlier write of the card is seen before it,
// and it costs no locked instruction.
void GiveBackCardLock() {
    if (cardLock == nullptr) return;
    std::atomic_thread_fence(std::memory_order_release);
    *cardLock = 0;
}

bool OpenBus() {
    InitializeCriticalSection(&busThreads.lock);
    self = static_cast<LONG>(GetCurrentProcessId());
    if (!OpenCardStore(&store)) return false;
    if (!store.problem.empty()) {
        TellTheProgram(store.problem + "; this program's card is not kept");
    }
    cardLock = reinterpret_cast<volatile LONG*>(&store.header->lockOwner);
    board = new Board(*store.state, store.intMem, store.extMem);
    board->intWindowAddress = AddressOf(store.intMem);
    board->extWindowAddress = AddressOf(store.extMem);
    board->traceLimit = kTraceLimit;
    TakeCardAsItIs();
    if (traceFile.OpenFromEnvironment()) {
        TraceWindows();
        traceFile.Start(windowsTraced);
    }
    return true;
}

void CloseBus(bool processExit) {
    traceFile.Close();
    windowsTraced = false;
    // At process exit a thread may have died holding it; a process that merely maps the file
    // must not free another's.
    if (cardLock != nullptr) InterlockedCompareExchange(cardLock, 0, self);
    cardLock = nullptr;
    delete board;
    board = nullptr;
    CloseCardStore(&store);
    if (!processExit) DeleteCriticalSection(&busThreads.lock);
}

Board* BusBoard() {
    return board;
}

const CardStore& BusStore() {
    return store;
}

TraceFile& BusTrace() {
    return traceFile;
}

void PowerCycle() {
    if (board == nullptr) return;
    board->PowerOn();
    ZeroMemories(store);
    board->tracing = true;
    board->ClearTrace();
}

std::uint32_t PerformPortInstruction(const PortInstruction& instruction, std::uint32_t eax,
                                     std::uintptr_t code) {
    if (board == nullptr) {
        return instruction.isInput ? MergeIntoEax(eax, ~0u, instruction.width) : eax;
    }
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

bool WindowsTraced() {
    return windowsTraced;
}

const TracedWindow* TracedWindowOf(std::uint32_t address, std::uint32_t bytes) {
    if (!windowsTraced) return nullptr;
    for (const TracedWindow& w : tracedWindows) {
        if (address >= w.base && std::uint64_t{address} + bytes <= w.base + w.size) return &w;
    }
    return nullptr;
}

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
