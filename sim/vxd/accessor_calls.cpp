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
#include "windows_version.h"

namespace {

using vexo::sim::vxd::Accessible;
using vexo::sim::vxd::kExecutable;
using vexo::sim::vxd::kPageSize;
using vexo::sim::vxd::kReadable;
using vexo::sim::vxd::PortInstruction;
using vexo::sim::vxd::RegionEnd;
using vexo::sim::vxd::WindowInstruction;

// How an accessor loads a register from one of its stack arguments.
enum class Load : std::uint8_t { None, Dword, Word, Byte };

struct LoadForm {
    std::uint8_t bytes[5];
    std::uint8_t length;
    bool intoEdx;  // else EAX
    int argument;  // 0: [esp+4], 1: [esp+8]
    Load load;
};

// The loads an accessor may start with, each register loaded at most once, in either order.
constexpr LoadForm kLoadForms[] = {
    {{0x8B, 0x54, 0x24, 0x04}, 4, true, 0, Load::Dword},        // mov edx, [esp+4]
    {{0x0F, 0xB7, 0x54, 0x24, 0x04}, 5, true, 0, Load::Word},   // movzx edx, word [esp+4]
    {{0x8B, 0x54, 0x24, 0x08}, 4, true, 1, Load::Dword},        // mov edx, [esp+8]
    {{0x0F, 0xB7, 0x54, 0x24, 0x08}, 5, true, 1, Load::Word},   // movzx edx, word [esp+8]
    {{0x0F, 0xB6, 0x54, 0x24, 0x08}, 5, true, 1, Load::Byte},   // movzx edx, byte [esp+8]
    {{0x8B, 0x44, 0x24, 0x04}, 4, false, 0, Load::Dword},       // mov eax, [esp+4]
    {{0x8B, 0x44, 0x24, 0x08}, 4, false, 1, Load::Dword},       // mov eax, [esp+8]
    {{0x0F, 0xB7, 0x44, 0x24, 0x08}, 5, false, 1, Load::Word},  // movzx eax, word [esp+8]
    {{0x0F, 0xB6, 0x44, 0x24, 0x08}, 5, false, 1, Load::Byte},  // movzx eax, byte [esp+8]
};
constexpr std::uintptr_t kLongestLoads = 10;
constexpr std::uint32_t kLongestRun = 64;  // identical port instructions in a row
constexpr std::uintptr_t kLongestInstruction =
    std::max(vexo::sim::vxd::kLongestPortInstruction, vexo::sim::vxd::kLongestWindowInstruction);
constexpr std::uintptr_t kLongestAccessor = kLongestLoads + kLongestRun * kLongestInstruction + 1;
constexpr std::uint8_t kRet = 0xC3;
constexpr std::uint8_t kCallRel32 = 0xE8;
constexpr std::uint8_t kBreakpoint = 0xCC;
constexpr std::uintptr_t kCallLength = 5;
constexpr std::uintptr_t kCacheLine = 64;

// A register as an accessor loads it, or not at all.
struct RegisterLoad {
    Load load = Load::None;
    int argument = 0;
};

// A recognised accessor: its entry, the instruction that trapped or faulted in it and what it
// loads first, and its bytes, since other code may come to lie at the same place (a module
// unloaded and another loaded). Three kinds:
//   port:         port (argument 0) into EDX, for an output the value (argument 1) into EAX;
//                 a port instruction through DX, or a run of the same one (a pause's reads)
//   window load:  address (argument 0) into EAX; a load through EAX into EAX
//   window store: address (argument 0) into EAX, value (argument 1) into EDX; a store of EDX
struct Accessor {
    std::uintptr_t start;
    std::uintptr_t code;
    std::uint8_t bytes[kLongestAccessor];
    std::uint32_t length;
    bool isPort;
    PortInstruction port;  // the port comes from EDX at each call
    std::uint32_t repeat;  // times the port instruction follows itself
    WindowInstruction window;
    RegisterLoad eax;
    RegisterLoad edx;
};

// A call whose displacement now points at a stub.
struct RedirectedCall {
    std::uintptr_t call;
    std::int32_t original;
    std::int32_t redirected;
};

#define VEXO_SIM_STUBS 64  // also the .rept count of the stubs below
constexpr std::uint32_t kStubs = VEXO_SIM_STUBS;
constexpr std::uintptr_t kStubLength = 10;  // push imm32; jmp rel32
constexpr std::uint32_t kMaxRedirectedCalls = 1024;
constexpr std::uint32_t kMaxCallsAcrossLines = 256;

Accessor accessors[kStubs];
std::uint32_t accessorCount = 0;
RedirectedCall redirectedCalls[kMaxRedirectedCalls];
std::uint32_t redirectedCount = 0;
// Calls whose displacement crosses a cache line and was ever rewritten (behind a breakpoint):
// kept for good, so that a thread that met the breakpoint knows it for one of these.
std::uintptr_t callsAcrossLines[kMaxCallsAcrossLines];
std::uint32_t callsAcrossLinesCount = 0;

// The register's value after `load` of `argument`.
std::uint32_t AsLoaded(Load load, std::uint32_t argument) {
    if (load == Load::Word) return argument & 0xFFFFu;
    if (load == Load::Byte) return argument & 0xFFu;
    return argument;
}

bool LoadsArgument(const RegisterLoad& r, int argument) {
    return r.load != Load::None && r.argument == argument;
}

// Whether the loads before the instruction are the ones its kind needs (see Accessor).
bool LoadsFit(const Accessor& a) {
    const bool none = a.eax.load == Load::None, noEdx = a.edx.load == Load::None;
    if (a.isPort)
        return LoadsArgument(a.edx, 0) && (a.port.isInput ? none : LoadsArgument(a.eax, 1));
    if (!LoadsArgument(a.eax, 0) || a.eax.load != Load::Dword) return false;
    return a.window.isLoad ? noEdx : LoadsArgument(a.edx, 1);
}

// How many times the `length` bytes at `code` follow each other before `end`, at most kLongestRun.
std::uint32_t Repeats(const std::uint8_t* code, std::uint32_t length, const std::uint8_t* end) {
    std::uint32_t repeat = 1;
    while (repeat < kLongestRun && code + (repeat + 1) * length <= end &&
           std::memcmp(code, code + repeat * length, length) == 0) {
        ++repeat;
    }
    return repeat;
}

// Decodes the accessor at `start` whose trapping instruction is at `code`: loads only up to it,
// then a port instruction through DX (the prefixed byte forms aside) or a run of it, or a window
// instruction, then ret. Reads nothing at or past `readableEnd`.
bool DecodeAccessor(std::uintptr_t start, std::uintptr_t code, std::uintptr_t readableEnd,
                    Accessor* out) {
    *out = Accessor{};
    out->start = start;
    out->code = code;
    out->repeat = 1;
    const auto* at = reinterpret_cast<const std::uint8_t*>(start);
    const auto* end = reinterpret_cast<const std::uint8_t*>(code);
    const auto* last = reinterpret_cast<const std::uint8_t*>(readableEnd);
    while (at < end) {
        const LoadForm* form = nullptr;
        for (const LoadForm& candidate : kLoadForms) {
            if (candidate.length <= end - at &&
                std::memcmp(at, candidate.bytes, candidate.length) == 0) {
                form = &candidate;
            }
        }
        if (form == nullptr) return false;
        RegisterLoad& target = form->intoEdx ? out->edx : out->eax;
        if (target.load != Load::None) return false;
        target = {form->load, form->argument};
        at += form->length;
    }
    const std::size_t available = std::min<std::size_t>(kLongestInstruction, last - end);
    std::uint32_t length = 0;
    if (vexo::sim::vxd::DecodePortInstruction(end, available, 0, &out->port)) {
        if (!out->port.viaDx || (out->port.prefixed && out->port.width == 8)) return false;
        out->isPort = true;
        out->repeat = Repeats(end, out->port.length, last);
        length = out->port.length * out->repeat;
    } else if (vexo::sim::vxd::DecodeWindowInstruction(end, available, &out->window)) {
        length = out->window.length;
    } else {
        return false;
    }
    if (!LoadsFit(*out) || end + length >= last || end[length] != kRet) return false;
    out->length = static_cast<std::uint32_t>(code - start) + length + 1;
    std::memcpy(out->bytes, reinterpret_cast<const void*>(start), out->length);
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
    const Accessor& accessor = accessors[frame->accessor];
    std::uint32_t eax = frame->eax, edx = frame->edx;
    if (accessor.eax.load != Load::None) {
        eax = AsLoaded(accessor.eax.load, frame->arguments[accessor.eax.argument]);
    }
    if (accessor.edx.load != Load::None) {
        edx = AsLoaded(accessor.edx.load, frame->arguments[accessor.edx.argument]);
    }
    const vexo::sim::vxd::BusGuard guard;
    if (accessor.isPort) {
        PortInstruction instruction = accessor.port;
        instruction.port = static_cast<std::uint16_t>(edx);
        for (std::uint32_t i = 0; i < accessor.repeat; ++i) {
            eax = vexo::sim::vxd::PerformPortInstruction(instruction, eax,
                                                         accessor.code + i * instruction.length);
        }
    } else {
        const WindowInstruction& window = accessor.window;
        std::uint32_t value = edx;
        if (!vexo::sim::vxd::PerformWindowAccess(window.isLoad, window.width, eax, &value)) {
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
    if (code < start || code - start > kLongestLoads ||
        !Accessible(start, code - start + 1, kExecutable)) {
        return -1;
    }
    const std::uintptr_t readableEnd = RegionEnd(code, kExecutable);
    for (std::uint32_t i = 0; i < accessorCount; ++i) {
        const Accessor& known = accessors[i];
        if (known.start == start && known.code == code && known.length <= readableEnd - start &&
            std::memcmp(known.bytes, reinterpret_cast<const void*>(start), known.length) == 0) {
            return static_cast<int>(i);
        }
    }
    Accessor accessor;
    if (accessorCount == kStubs || !DecodeAccessor(start, code, readableEnd, &accessor)) return -1;
    accessors[accessorCount] = accessor;
    return static_cast<int>(accessorCount++);
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
void MakeCodeWritesVisible() {
    using FlushFunction = VOID(WINAPI*)();
    static const auto flush =
        vexo::sim::vxd::RunsOnVistaOrLater()
            ? reinterpret_cast<FlushFunction>(reinterpret_cast<void*>(
                  GetProcAddress(GetModuleHandleA("kernel32.dll"), "FlushProcessWriteBuffers")))
            : nullptr;
    if (flush != nullptr) {
        flush();
        return;
    }
    static auto* const page = static_cast<volatile std::uint8_t*>(
        VirtualAlloc(nullptr, kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
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
    if (!vexo::sim::vxd::IsBreakpointOfCallRewrite(call)) {
        if (callsAcrossLinesCount == kMaxCallsAcrossLines) return false;
        callsAcrossLines[callsAcrossLinesCount++] = call;
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

namespace vexo::sim::vxd {

void RedirectAccessorCall(std::uintptr_t trapped, std::uintptr_t esp) {
    // Only an instruction that ret follows, by itself or after copies of it, can be an accessor's.
    // Checked first where the bytes are on the trapped instruction's page, so that a trap in other
    // code costs no system call here.
    const auto* code = reinterpret_cast<const std::uint8_t*>(trapped);
    PortInstruction port;
    WindowInstruction window;
    std::uint32_t length = 0;
    if (DecodePortInstruction(code, kLongestInstruction, 0, &port)) {
        length = port.length;
    } else if (DecodeWindowInstruction(code, kLongestInstruction, &window)) {
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
    if (redirectedCount == kMaxRedirectedCalls || !Accessible(esp, 4, kReadable)) return;
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
        redirectedCalls[redirectedCount++] = {call, displacement, toStub};
    }
}

void RestoreAccessorCalls() {
    for (std::uint32_t i = 0; i < redirectedCount; ++i) {
        const RedirectedCall& c = redirectedCalls[i];
        if (Accessible(c.call, kCallLength, kExecutable)) {
            RewriteDisplacement(c.call, c.redirected, c.original);
        }
    }
    redirectedCount = 0;
}

bool IsBreakpointOfCallRewrite(std::uintptr_t at) {
    return std::find(callsAcrossLines, callsAcrossLines + callsAcrossLinesCount, at) !=
           callsAcrossLines + callsAcrossLinesCount;
}

}  // namespace vexo::sim::vxd
