// Accessor redirection: see accessor_calls.h.
#include "accessor_calls.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "emulated_bus.h"
#include "emulated_instructions.h"
#include "memory_regions.h"
#include "module_state.h"
#include "windows_version.h"

namespace vexo::sim::vxd {
namespace {

constexpr std::uint8_t kCallRel32 = 0xE8;
constexpr std::uint8_t kBreakpoint = 0xCC;
constexpr std::uintptr_t kCallLength = 5;
constexpr std::uintptr_t kCacheLine = 64;

#define VEXO_SIM_STUBS 64  // also the .rept count of the stubs below
static_assert(VEXO_SIM_STUBS == kAccessorStubs, "one stub per accessor kept");
constexpr std::uintptr_t kStubLength = 10;  // push imm32; jmp rel32

// Decodes the accessor at `start` whose trapping instruction is at `code`, reading nothing at or
// past `readableEnd`, and keeps its bytes.
bool RecogniseAccessor(std::uintptr_t start, std::uintptr_t code, std::uintptr_t readableEnd,
                       Accessor* out) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(start);
    if (!DecodeAccessor(bytes, code - start, readableEnd - start, out)) {
        return false;
    }
    out->start = start;
    out->code = code;
    std::memcpy(out->bytes, bytes, out->length);
    return true;
}

}  // namespace

// The stubs and their common entry. Stub i pushes i and jumps to the entry, which saves every
// register and the flags, lets PerformAccessorCall act for accessor i on the saved frame, restores
// them and returns to the accessor's caller as the accessor's ret would, or goes on at the
// address PerformAccessorCall left where i was.
extern "C" {
void vexo_sim_accessor_entry();
extern const std::uint8_t vexo_sim_accessor_stubs[];
}

#define VEXO_SIM_TEXT(x) VEXO_SIM_TEXT_(x)
#define VEXO_SIM_TEXT_(x) #x
asm(R"(
    .text
    .globl _vexo_sim_accessor_entry
    .p2align 4
_vexo_sim_accessor_entry:
    pushfl
    pushal
    cld
    pushl %esp
    call _vexo_sim_PerformAccessorCall
    addl $4, %esp
    testl %eax, %eax
    jnz 1f
    popal
    popfl
    leal 4(%esp), %esp
    ret
1:  popal
    popfl
    ret

    .globl _vexo_sim_accessor_stubs
    .p2align 4
_vexo_sim_accessor_stubs:
    .set stub, 0
    .rept )" VEXO_SIM_TEXT(VEXO_SIM_STUBS) R"(
    .byte 0x68
    .long stub
    .byte 0xE9
    .long _vexo_sim_accessor_entry - . - 4
    .set stub, stub + 1
    .endr
)");

// The stack as the entry leaves it: pushal's registers, the flags, the stub's accessor index,
// then the accessor's own frame (return address and arguments).
struct AccessorFrame {
    std::uint32_t edi, esi, ebp, esp, ebx, edx, ecx, eax;
    std::uint32_t eflags;
    std::uint32_t accessor;
    std::uint32_t returnAddress;
    std::uint32_t arguments[2];
};

// Does what the accessor would: its loads, then its port instruction on the card, or its window
// access on the board's memory. Returns 0 when done, or 1 with `accessor` in the frame replaced by
// the accessor's entry, for the entry to run the accessor itself with every register as it came:
// a window access outside the traced windows then does whatever it does without the simulator.
// The stack may arrive with any alignment, as at the accessor's own entry.
extern "C" __attribute__((used, force_align_arg_pointer)) int vexo_sim_PerformAccessorCall(
    AccessorFrame* frame) {
    const Accessor& accessor = Module().calls.accessors[frame->accessor];
    std::uint32_t eax = frame->eax, edx = frame->edx;
    if (accessor.eax.load != Load::None) {
        eax = AsLoaded(accessor.eax.load, frame->arguments[accessor.eax.argument]);
    }
    if (accessor.edx.load != Load::None) {
        edx = AsLoaded(accessor.edx.load, frame->arguments[accessor.edx.argument]);
    }
    const BusGuard guard;
    if (accessor.isPort) {
        PortInstruction instruction = accessor.port;
        instruction.port = static_cast<std::uint16_t>(edx);
        for (std::uint32_t i = 0; i < accessor.repeat; ++i) {
            eax = PerformPortInstruction(instruction, eax, accessor.code + i * instruction.length);
        }
    } else {
        const WindowInstruction& window = accessor.window;
        std::uint32_t value = edx;
        if (!PerformWindowAccess(window.isLoad, window.width, eax, &value)) {
            frame->accessor = static_cast<std::uint32_t>(accessor.start);
            return 1;
        }
        if (window.isLoad) eax = value;
    }
    frame->eax = eax;
    frame->edx = edx;
    return 0;
}

namespace {

std::uintptr_t StubAddress(std::uint32_t index) {
    return reinterpret_cast<std::uintptr_t>(vexo_sim_accessor_stubs) + index * kStubLength;
}

// The stub index for the accessor at `start` trapped at `code`, or -1 when it is none.
int AccessorIndex(std::uintptr_t start, std::uintptr_t code) {
    if (code < start || code - start > kLongestAccessorLoads ||
        !Accessible(start, code - start + 1, kExecutable)) {
        return -1;
    }
    AccessorCalls& calls = Module().calls;
    const std::uintptr_t readableEnd = RegionEnd(code, kExecutable);
    for (std::uint32_t i = 0; i < calls.accessorCount; ++i) {
        const Accessor& known = calls.accessors[i];
        if (known.start == start && known.code == code && known.length <= readableEnd - start &&
            std::memcmp(known.bytes, reinterpret_cast<const void*>(start), known.length) == 0) {
            return static_cast<int>(i);
        }
    }
    Accessor accessor;
    if (calls.accessorCount == kAccessorStubs ||
        !RecogniseAccessor(start, code, readableEnd, &accessor)) {
        return -1;
    }
    calls.accessors[calls.accessorCount] = accessor;
    return static_cast<int>(calls.accessorCount++);
}

std::uint32_t LockedCompareExchange(volatile std::uint32_t* at, std::uint32_t expected,
                                    std::uint32_t wanted) {
    asm volatile("lock cmpxchgl %2, %1" : "+a"(expected), "+m"(*at) : "r"(wanted) : "memory", "cc");
    return expected;  // what was there
}

// Replaces the code byte at `at` if it holds `expected`: a locked exchange of the aligned dword
// around it, so that it is written whole and its neighbours are kept.
bool ExchangeCodeByte(std::uintptr_t at, std::uint8_t expected, std::uint8_t wanted) {
    auto* word = reinterpret_cast<volatile std::uint32_t*>(at & ~std::uintptr_t{3});
    const unsigned shift = static_cast<unsigned>(at & 3u) * 8;
    std::uint32_t old = *word;
    for (;;) {
        if (((old >> shift) & 0xFFu) != expected) return false;
        const std::uint32_t replaced = (old & ~(0xFFu << shift)) | (std::uint32_t{wanted} << shift);
        const std::uint32_t seen = LockedCompareExchange(word, old, replaced);
        if (seen == old) return true;
        old = seen;
    }
}

// Makes every processor that runs a thread of this process see the code written so far before it
// runs on. FlushProcessWriteBuffers does that from Windows Vista on and is looked up there, so that
// the module loads on Windows XP, which lacks it. There a page of the process is made inaccessible
// after a write to it: the system must then drop the page's translation on every processor that
// runs the process, an interrupt each of them serves before it runs on, and serving an interrupt
// serialises a processor as FlushProcessWriteBuffers does.
void FindCodeWriteFence(AccessorCalls& calls) {
    calls.fenceFound = true;
    if (RunsOnVistaOrLater()) {
        calls.flushProcessWriteBuffers =
            reinterpret_cast<void(__stdcall*)()>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "FlushProcessWriteBuffers")));
    }
    if (calls.flushProcessWriteBuffers == nullptr) {
        calls.fencePage = static_cast<volatile std::uint8_t*>(
            VirtualAlloc(nullptr, kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    }
}

void MakeCodeWritesVisible() {
    AccessorCalls& calls = Module().calls;
    if (!calls.fenceFound) FindCodeWriteFence(calls);
    if (calls.flushProcessWriteBuffers != nullptr) {
        calls.flushProcessWriteBuffers();
        return;
    }
    volatile std::uint8_t* const page = calls.fencePage;
    if (page == nullptr) return;
    DWORD was = 0;
    VirtualProtect(const_cast<std::uint8_t*>(page), kPageSize, PAGE_READWRITE, &was);
    page[0] = page[0] + 1;  // a translation each processor may hold
    VirtualProtect(const_cast<std::uint8_t*>(page), kPageSize, PAGE_NOACCESS, &was);
}

// A displacement across two cache lines cannot be written in one piece that every CPU sees
// whole. The call becomes a breakpoint first, which a thread arriving meanwhile meets and waits
// out (IsBreakpointOfCallRewrite); every CPU is made to see that before the displacement is
// written, and the new displacement before the call comes back.
bool RewriteBehindBreakpoint(std::uintptr_t call, std::int32_t wanted) {
    if (!IsBreakpointOfCallRewrite(call)) {
        AccessorCalls& calls = Module().calls;
        if (calls.acrossLinesCount == kMaxCallsAcrossLines) return false;
        calls.acrossLines[calls.acrossLinesCount++] = call;
    }
    if (!ExchangeCodeByte(call, kCallRel32, kBreakpoint)) return false;
    MakeCodeWritesVisible();
    std::memcpy(reinterpret_cast<void*>(call + 1), &wanted, sizeof wanted);
    MakeCodeWritesVisible();
    return ExchangeCodeByte(call, kBreakpoint, kCallRel32);
}

// Replaces the displacement of the call at `call` if it still holds `expected`. Inside one cache
// line that is one locked write, so that a thread running the call sees the old or the new one,
// never a mix.
bool RewriteDisplacement(std::uintptr_t call, std::int32_t expected, std::int32_t wanted) {
    const std::uintptr_t at = call + 1;
    const std::uintptr_t first = call & ~std::uintptr_t{3};  // the dword ExchangeCodeByte writes
    void* span = reinterpret_cast<void*>(first);
    const SIZE_T spanLength = at + sizeof(std::int32_t) - first;
    DWORD was = 0;
    if (!VirtualProtect(span, spanLength, PAGE_EXECUTE_READWRITE, &was)) return false;
    bool rewritten = false;
    if (at % kCacheLine <= kCacheLine - sizeof(std::int32_t)) {
        auto* displacement = reinterpret_cast<volatile std::uint32_t*>(at);
        rewritten = LockedCompareExchange(displacement, static_cast<std::uint32_t>(expected),
                                          static_cast<std::uint32_t>(wanted)) ==
                    static_cast<std::uint32_t>(expected);
    } else {
        std::int32_t current = 0;
        std::memcpy(&current, reinterpret_cast<const void*>(at), sizeof current);
        rewritten = current == expected && RewriteBehindBreakpoint(call, wanted);
    }
    DWORD ignored = 0;
    VirtualProtect(span, spanLength, was, &ignored);
    FlushInstructionCache(GetCurrentProcess(), span, spanLength);
    return rewritten;
}

}  // namespace

void RedirectAccessorCall(std::uintptr_t trapped, std::uintptr_t esp) {
    // Only an instruction that ret follows, by itself or after copies of it, can be an accessor's.
    // Checked first where the bytes are on the trapped instruction's page, so that a trap in other
    // code costs no system call here.
    const auto* code = reinterpret_cast<const std::uint8_t*>(trapped);
    PortInstruction port;
    WindowInstruction window;
    std::uint32_t length = 0;
    if (DecodePortInstruction(code, kLongestAccessorInstruction, 0, &port)) {
        length = port.length;
    } else if (DecodeWindowInstruction(code, kLongestAccessorInstruction, &window)) {
        length = window.length;
    } else {
        return;
    }
    std::uintptr_t next = trapped + length;
    while (next % kPageSize != 0 && next + length <= (trapped | (kPageSize - 1)) + 1 &&
           std::memcmp(code, reinterpret_cast<const void*>(next), length) == 0) {
        next += length;
    }
    if (next % kPageSize != 0 && *reinterpret_cast<const std::uint8_t*>(next) != kRet) return;
    AccessorCalls& calls = Module().calls;
    if (calls.redirectedCount == kMaxRedirectedCalls || !Accessible(esp, 4, kReadable)) return;
    const std::uintptr_t returnAddress = *reinterpret_cast<const std::uint32_t*>(esp);
    const std::uintptr_t call = returnAddress - kCallLength;
    if (returnAddress < kCallLength || !Accessible(call, kCallLength, kExecutable)) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(call);
    std::int32_t displacement = 0;
    std::memcpy(&displacement, bytes + 1, sizeof displacement);
    const std::uintptr_t target = returnAddress + static_cast<std::uint32_t>(displacement);
    if (bytes[0] != kCallRel32) return;
    const int index = AccessorIndex(target, trapped);
    if (index < 0) return;
    const auto toStub =
        static_cast<std::int32_t>(StubAddress(static_cast<std::uint32_t>(index)) - returnAddress);
    if (RewriteDisplacement(call, displacement, toStub)) {
        calls.redirected[calls.redirectedCount++] = {call, displacement, toStub};
    }
}

void RestoreAccessorCalls() {
    AccessorCalls& calls = Module().calls;
    for (std::uint32_t i = 0; i < calls.redirectedCount; ++i) {
        const RedirectedCall& c = calls.redirected[i];
        if (Accessible(c.call, kCallLength, kExecutable)) {
            RewriteDisplacement(c.call, c.redirected, c.original);
        }
    }
    calls.redirectedCount = 0;
}

bool IsBreakpointOfCallRewrite(std::uintptr_t at) {
    const AccessorCalls& calls = Module().calls;
    const std::uintptr_t* const end = calls.acrossLines + calls.acrossLinesCount;
    return std::find(calls.acrossLines, end, at) != end;
}

}  // namespace vexo::sim::vxd
