// Proves under Wine that vexolite.vxd stands in for the driver and the card: the device path
// reaches it, its control codes answer, trapped port instructions act on its card, and the trace
// shows what reached it, also when one trap performs a whole run of port instructions. One process
// runs every case.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port_instructions.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

// What reached the card, for the output of a failed case.
void PrintTrace() {
    for (std::uint32_t i = 0; i < SimTraceCount(); ++i) {
        SimTraceEvent e = {};
        SimGetTraceEvent(i, &e);
        std::printf("    trace %u: op %u width %u where 0x%X value 0x%08X\n", i, e.op, e.width,
                    e.where, e.value);
    }
}

constexpr std::uint32_t kCardConfigAddress =
    0x80000000u | (SIM_DEFAULT_BUS << 16) | (SIM_DEFAULT_DEVICE << 11) | (1u << 8);

// Port instructions, in the forms a compiler emits: port in DX (the library's own), and an
// immediate port.
using vexo::port_instructions::In32;
using vexo::port_instructions::Out32;

std::uint32_t In16KeepingHighHalf(std::uint16_t port, std::uint32_t eax) {
    asm volatile("inw %w1, %w0" : "+a"(eax) : "d"(port));
    return eax;
}
void Out16(std::uint16_t port, std::uint16_t value) {
    asm volatile("outw %w0, %w1" : : "a"(value), "d"(port));
}
std::uint32_t In8Immediate0x10KeepingUpperBytes(std::uint32_t eax) {
    asm volatile("inb $0x10, %b0" : "+a"(eax));
    return eax;
}
void Out8Immediate0x11(std::uint8_t value) {
    asm volatile("outb %b0, $0x11" : : "a"(value));
}
std::uint32_t In32Immediate0x14() {
    std::uint32_t value;
    asm volatile("inl $0x14, %0" : "=a"(value));
    return value;
}

HANDLE OpenDevice() {
    return CreateFileA("\\\\.\\VexoLite.vxd", 0, 0, nullptr, 0, 0, nullptr);
}

SimTraceEvent Event(std::uint32_t index) {
    SimTraceEvent e = {0xFFu, 0, 0, 0};
    SimGetTraceEvent(index, &e);
    return e;
}

void DevicePathReachesTheModule() {
    HANDLE device = OpenDevice();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "CreateFileA: error " << GetLastError();
    DWORD reply = 0, returned = 0;
    EXPECT_EQ(DeviceIoControl(device, 3, nullptr, 0, &reply, 4, &returned, nullptr), TRUE);
    EXPECT_EQ(reply, 0x2004u);
    EXPECT_EQ(returned, 4u);
    SimSetFailingCode(2, 1);
    EXPECT_EQ(DeviceIoControl(device, 2, nullptr, 0, &reply, 4, &returned, nullptr), FALSE);
    EXPECT_EQ(SimTraceCount(), 2u);
    EXPECT_EQ(Event(0).op, static_cast<std::uint32_t>(SIM_OP_DRIVER_REQUEST));
    EXPECT_EQ(Event(0).where, 3u);
    EXPECT_EQ(Event(0).value, 1u);
    EXPECT_EQ(Event(1).where, 2u);
    EXPECT_EQ(Event(1).value, 0u);
    CloseHandle(device);
}

void BaseRecordUnlocksTheRealWindows() {
    HANDLE device = OpenDevice();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "CreateFileA: error " << GetLastError();
    DWORD window = 0, returned = 0;
    EXPECT_EQ(DeviceIoControl(device, 6, nullptr, 0, &window, 4, &returned, nullptr), FALSE);
    SimBaseRecord sent = {0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u};
    EXPECT_EQ(DeviceIoControl(device, 16, &sent, 16, nullptr, 0, &returned, nullptr), TRUE);
    SimBaseRecord got = {};
    EXPECT_EQ(SimGetLastBaseRecord(&got), 1);
    EXPECT_EQ(got.extMemBase, 0xEA000000u);
    EXPECT_EQ(got.io2Base, 0xC400u);
    EXPECT_EQ(DeviceIoControl(device, 7, nullptr, 0, &window, 4, &returned, nullptr), TRUE);
    EXPECT_EQ(window, SimGetWindowAddress(SIM_EXT_MEM));
    // The window is the card's memory itself, and the page after its 16 MiB is inaccessible.
    const std::uint32_t word = 0x11223344u;
    SimWriteMemory(SIM_EXT_MEM, 0xFFFFFC, &word, 4);
    auto* ext = reinterpret_cast<volatile std::uint32_t*>(window);
    EXPECT_EQ(ext[0xFFFFFC / 4], word);
    MEMORY_BASIC_INFORMATION page = {};
    VirtualQuery(reinterpret_cast<void*>(window + 0x1000000u), &page, sizeof page);
    EXPECT_EQ(page.Protect, static_cast<DWORD>(PAGE_NOACCESS));
    CloseHandle(device);
}

void TrappedConfigCyclesReadTheCard() {
    Out32(0xCF8, kCardConfigAddress);
    EXPECT_EQ(In32(0xCFC), 0x200410CFu);
    Out32(0xCF8, kCardConfigAddress | 0x10);
    Out32(0xCFC, 0xEA000000u);
    std::uint32_t bar0 = 0;
    SimGetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, &bar0);
    EXPECT_EQ(bar0, 0xEA000008u);                   // the prefetchable bit is the card's
    Out32(0xCF8, kCardConfigAddress & ~(1u << 8));  // function 0: absent
    EXPECT_EQ(In32(0xCFC), 0xFFFFFFFFu);

    EXPECT_EQ(SimTraceCount(), 6u);
    const SimTraceEvent first = Event(0), second = Event(1);
    EXPECT_EQ(first.op, static_cast<std::uint32_t>(SIM_OP_PORT_WRITE));
    EXPECT_EQ(first.width, 32u);
    EXPECT_EQ(first.where, 0xCF8u);
    EXPECT_EQ(first.value, kCardConfigAddress);
    EXPECT_EQ(second.op, static_cast<std::uint32_t>(SIM_OP_PORT_READ));
    EXPECT_EQ(second.where, 0xCFCu);
    EXPECT_EQ(second.value, 0x200410CFu);
}

void EveryPortInstructionFormIsEmulated() {
    // I/O range 1 at port 0 so the immediate forms reach it; decoding on.
    SimSetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, 0x0001u);
    SimSetCommand(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 3);
    Out16(0x10, 0xBEEF);
    Out8Immediate0x11(0x5A);
    std::uint32_t reg = 0;
    SimReadIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, 0x10, 16, &reg);
    EXPECT_EQ(reg, 0x5AEFu);
    EXPECT_EQ(In16KeepingHighHalf(0x10, 0x12340000u), 0x12345AEFu);
    EXPECT_EQ(In8Immediate0x10KeepingUpperBytes(0xAABBCC00u), 0xAABBCCEFu);
    SimPortWrite(0x14, 32, 0xCAFEF00Du);
    EXPECT_EQ(In32Immediate0x14(), 0xCAFEF00Du);
    EXPECT_EQ(In32(0x300), 0xFFFFFFFFu);  // nobody decodes it

    const SimTraceEvent first = Event(0), second = Event(1);
    EXPECT_EQ(first.width, 16u);
    EXPECT_EQ(first.where, 0x10u);
    EXPECT_EQ(first.value, 0xBEEFu);
    EXPECT_EQ(second.width, 8u);
    EXPECT_EQ(second.where, 0x11u);
    EXPECT_EQ(second.value, 0x5Au);
}

// ---- runs of port instructions ---------------------------------------------------------------

constexpr std::uintptr_t kPage = 0x1000;

// Two pages of executable memory, for code written byte by byte: the exact encodings a run is
// made of, placed where a test needs them relative to the second page.
class GeneratedCode {
  public:
    GeneratedCode()
        : pages_(static_cast<std::uint8_t*>(VirtualAlloc(
              nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE))) {}
    ~GeneratedCode() {
        if (pages_ != nullptr) VirtualFree(pages_, 0, MEM_RELEASE);
    }
    GeneratedCode(const GeneratedCode&) = delete;
    GeneratedCode& operator=(const GeneratedCode&) = delete;

    bool Ready() const { return pages_ != nullptr; }
    std::uint8_t* SecondPage() const { return pages_ + kPage; }

    // Copies `code` so that it ends `beforeSecondPage` bytes before the second page (negative:
    // reaches into it) and returns its start.
    std::uint8_t* Place(const std::vector<std::uint8_t>& code, int beforeSecondPage) {
        std::uint8_t* start = SecondPage() - beforeSecondPage - code.size();
        std::memcpy(start, code.data(), code.size());
        FlushInstructionCache(GetCurrentProcess(), pages_, 2 * kPage);
        return start;
    }
    bool ProtectSecondPage(DWORD protection) {
        DWORD was = 0;
        return VirtualProtect(SecondPage(), kPage, protection, &was) != 0;
    }

  private:
    std::uint8_t* pages_;
};

// Calls code at `entry` with EAX and EDX set; returns EAX as the code leaves it.
std::uint32_t CallWith(const void* entry, std::uint32_t eax, std::uint32_t edx) {
    asm volatile("call *%[entry]" : "+a"(eax), "+d"(edx) : [entry] "r"(entry) : "memory", "cc");
    return eax;
}

std::vector<SimTraceEvent> TakeTrace() {
    std::vector<SimTraceEvent> trace(SimTraceCount());
    for (std::uint32_t i = 0; i < trace.size(); ++i) SimGetTraceEvent(i, &trace[i]);
    SimClearTrace();
    return trace;
}

bool SameEvents(const std::vector<SimTraceEvent>& a, const std::vector<SimTraceEvent>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

// What one run of the code did, from a fresh board with I/O range 1 at port 0.
struct RunResult {
    std::uint32_t eax;
    std::uint32_t traps;
    std::vector<SimTraceEvent> trace;
};

RunResult RunOnFreshCard(const void* entry, bool batching, std::uint32_t eax, std::uint32_t edx) {
    SimResetBoard();
    SimSetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, 0x0001u);
    SimSetCommand(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 3);
    SimClearTrace();
    SimSetTrapBatching(batching);
    const std::uint32_t trapsBefore = SimTrapCount();
    RunResult result;
    result.eax = CallWith(entry, eax, edx);
    result.traps = SimTrapCount() - trapsBefore;
    SimSetTrapBatching(1);
    result.trace = TakeTrace();
    return result;
}

void RunsTraceAsSeparateTrapsWould() {
    GeneratedCode pages;
    ASSERT_TRUE(pages.Ready()) << "VirtualAlloc failed with " << GetLastError();
    // Every form in one run, each input feeding the outputs after it; a nop ends the run. Then a
    // prefixed byte form, which a run does not go through but which starts one of its own.
    const std::vector<std::uint8_t> code = {
        0xEF,              // out dx, eax        0x20-0x23 = 11 22 33 44
        0xE4, 0x21,        // in al, 0x21        eax 0x44332222
        0x66, 0xE7, 0x10,  // out 0x10, ax       0x10-0x11 = 22 22
        0xEC,              // in al, dx          eax 0x44332211
        0xE6, 0x12,        // out 0x12, al       0x12 = 11
        0x66, 0xED,        // in ax, dx          eax 0x44332211
        0xE5, 0x10,        // in eax, 0x10       eax 0x00112222
        0xEE,              // out dx, al         0x20 = 22
        0x66, 0xEF,        // out dx, ax         0x20-0x21 = 22 22
        0x66, 0xE5, 0x22,  // in ax, 0x22        eax 0x00114433
        0xE7, 0x14,        // out 0x14, eax      0x14-0x17 = 33 44 11 00
        0xED,              // in eax, dx         eax 0x44332222
        0x90,              // nop: the run ends
        0xEC,              // in al, dx          eax 0x44332222
        0x66, 0xEE,        // out dx, al (prefix ignored): a trap of its own ...
        0xE4, 0x15,        // in al, 0x15        ... which goes on here: eax 0x44332244
        0xC3};
    const std::uint8_t* entry = pages.Place(code, 64);
    const RunResult single = RunOnFreshCard(entry, false, 0x44332211u, 0x20);
    const RunResult batched = RunOnFreshCard(entry, true, 0x44332211u, 0x20);

    EXPECT_EQ(single.eax, 0x44332244u);
    EXPECT_EQ(single.traps, 15u);
    EXPECT_EQ(single.trace.size(), 15u);
    EXPECT_EQ(batched.traps, 3u);
    EXPECT_EQ(batched.eax, single.eax);
    EXPECT_TRUE(SameEvents(batched.trace, single.trace))
        << "batched trace (" << batched.trace.size()
        << " events) differs from the single-trap trace (" << single.trace.size() << " events)";
    if (single.trace.size() == 15) {
        EXPECT_EQ(single.trace[6].value, 0x00112222u);   // in eax, 0x10
        EXPECT_EQ(single.trace[10].where, 0x14u);        // out 0x14, eax
        EXPECT_EQ(single.trace[10].value, 0x00114433u);  //   writes what the in ax before left
        EXPECT_EQ(single.trace[13].width, 8u);           // the prefixed byte form
    }
}

// The test's own handler for the fault it provokes at `expectedFault`: notes which exception came
// (the CPU's own: an access violation on a real CPU, an illegal instruction on an emulated one)
// and returns from the generated code as its ret would. Installed first, so that no other handler
// (Wine's own instruction emulation, the simulator's) looks at the unreadable code.
const std::uint8_t* expectedFault = nullptr;
volatile DWORD faultCode = 0;
LONG CALLBACK ReturnFromFaultingCode(PEXCEPTION_POINTERS info) {
    CONTEXT* context = info->ContextRecord;
    if (context->Eip != reinterpret_cast<DWORD>(expectedFault)) return EXCEPTION_CONTINUE_SEARCH;
    faultCode = info->ExceptionRecord->ExceptionCode;
    context->Eip = *reinterpret_cast<DWORD*>(context->Esp);
    context->Esp += 4;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Runs the code at `entry` on a fresh card with the handler above waiting at `fault`; returns
// what the run did and, in `code`, the exception met there (0 for none).
RunResult RunUpToFault(const void* entry, const std::uint8_t* fault, DWORD* code) {
    expectedFault = fault;
    faultCode = 0;
    PVOID handler = AddVectoredExceptionHandler(1, ReturnFromFaultingCode);
    const RunResult result = RunOnFreshCard(entry, true, 0, 0x20);
    RemoveVectoredExceptionHandler(handler);
    *code = faultCode;
    return result;
}

void RunsReadCodeOnlyWhereItCanRun() {
    GeneratedCode pages;
    ASSERT_TRUE(pages.Ready()) << "VirtualAlloc failed with " << GetLastError();
    // Across a page boundary into executable code the run goes on.
    const void* across = pages.Place({0xEC, 0xEC, 0xEC, 0xEC, 0xC3}, -3);
    RunResult result = RunOnFreshCard(across, true, 0, 0x20);
    EXPECT_EQ(result.traps, 1u);
    EXPECT_EQ(result.trace.size(), 4u);

    // An immediate form whose port byte would lie on a page that cannot be read: the run stops
    // before it, and the CPU faults on it just as it does when that instruction runs alone.
    ASSERT_TRUE(pages.ProtectSecondPage(PAGE_NOACCESS))
        << "VirtualProtect failed with " << GetLastError();
    const std::uint8_t* alone = pages.Place({0xE4}, 0);
    DWORD machineFault = 0;
    result = RunUpToFault(alone, alone, &machineFault);
    ASSERT_NE(machineFault, 0u) << "the instruction alone did not fault";
    EXPECT_EQ(result.traps, 0u);

    const std::uint8_t* cut = pages.Place({0xEC, 0xEC, 0xE4}, 0);
    DWORD runFault = 0;
    result = RunUpToFault(cut, cut + 2, &runFault);
    EXPECT_EQ(result.traps, 1u);
    EXPECT_EQ(result.trace.size(), 2u);
    EXPECT_EQ(runFault, machineFault);
}

// ---- accessor calls --------------------------------------------------------------------------

// The registers around a call: loaded before it, read back after it.
struct Registers {
    std::uint32_t eax, ecx, edx, ebx, esi, edi, eflags;
};

extern "C" void CallWithRegisters(const void* entry, Registers* registers);
asm(R"(
    .text
_CallWithRegisters:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 24(%esp), %ebp
    pushl 24(%ebp)
    popfl
    movl 0(%ebp), %eax
    movl 4(%ebp), %ecx
    movl 8(%ebp), %edx
    movl 12(%ebp), %ebx
    movl 16(%ebp), %esi
    movl 20(%ebp), %edi
    call *20(%esp)
    pushfl
    popl 24(%ebp)
    movl %eax, 0(%ebp)
    movl %ecx, 4(%ebp)
    movl %edx, 8(%ebp)
    movl %ebx, 12(%ebp)
    movl %esi, 16(%ebp)
    movl %edi, 20(%ebp)
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

bool SameRegisters(const Registers& a, const Registers& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Port accessors as a compiler emits them, and one that only looks like one.
struct AccessorForm {
    const char* what;
    std::vector<std::uint8_t> code;
    bool redirected;
    std::uint32_t accesses = 1;  // per call
};
const AccessorForm kAccessorForms[] = {
    {"in al, dx", {0x8B, 0x54, 0x24, 0x04, 0xEC, 0xC3}, true},
    {"in ax, dx", {0x0F, 0xB7, 0x54, 0x24, 0x04, 0x66, 0xED, 0xC3}, true},
    {"in eax, dx", {0x8B, 0x54, 0x24, 0x04, 0xED, 0xC3}, true},
    {"out dx, al", {0x0F, 0xB7, 0x54, 0x24, 0x04, 0x0F, 0xB6, 0x44, 0x24, 0x08, 0xEE, 0xC3}, true},
    {"out dx, ax (value loaded first)",
     {0x0F, 0xB7, 0x44, 0x24, 0x08, 0x0F, 0xB7, 0x54, 0x24, 0x04, 0x66, 0xEF, 0xC3},
     true},
    {"out dx, eax", {0x0F, 0xB7, 0x54, 0x24, 0x04, 0x8B, 0x44, 0x24, 0x08, 0xEF, 0xC3}, true},
    {"a run of four in al, dx",
     {0x0F, 0xB7, 0x54, 0x24, 0x04, 0xEC, 0xEC, 0xEC, 0xEC, 0xC3},
     true,
     4},
    {"a nop before the in", {0x8B, 0x54, 0x24, 0x04, 0x90, 0xEC, 0xC3}, false},
};

// push value; push port (upper half not zero); call accessor; drop both without touching flags.
constexpr std::size_t kCallerLength = 20;
constexpr std::size_t kDisplacementAt = 11;
void PlaceCaller(std::uint8_t* caller, const std::uint8_t* accessor) {
    const std::uint32_t value = 0x11223344u, port = 0xABCD0020u;
    const auto displacement = static_cast<std::uint32_t>(accessor - (caller + kDisplacementAt + 4));
    std::uint8_t code[kCallerLength] = {0x68, 0, 0, 0, 0, 0x68, 0,    0,    0,    0,
                                        0xE8, 0, 0, 0, 0, 0x8D, 0x64, 0x24, 0x08, 0xC3};
    std::memcpy(code + 1, &value, 4);
    std::memcpy(code + 6, &port, 4);
    std::memcpy(code + kDisplacementAt, &displacement, 4);
    std::memcpy(caller, code, kCallerLength);
    FlushInstructionCache(GetCurrentProcess(), caller, kCallerLength);
}

// Three calls from one place on a fresh card whose register 0x20 holds 0xA1B2C3D4.
struct CallsResult {
    Registers after[3];
    std::uint32_t traps;
    std::vector<SimTraceEvent> trace;
};
CallsResult ThreeCalls(const std::uint8_t* caller, bool batching) {
    SimResetBoard();
    SimSetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, 0x0001u);
    SimSetCommand(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 3);
    SimPortWrite(0x20, 32, 0xA1B2C3D4u);
    SimClearTrace();
    SimSetTrapBatching(batching);
    CallsResult result;
    const std::uint32_t trapsBefore = SimTrapCount();
    for (Registers& r : result.after) {
        // Carry, parity, zero, sign and overflow set, interrupts enabled.
        r = {0x55667788u, 0xC0C0C0C0u, 0xD0D0D0D0u, 0xB0B0B0B0u, 0x51515151u, 0xD1D1D1D1u, 0x0AC7u};
        CallWithRegisters(caller, &r);
    }
    result.traps = SimTrapCount() - trapsBefore;
    result.trace = TakeTrace();
    return result;
}

void AccessorCallsGoStraightToTheCardAfterOneTrap() {
    GeneratedCode pages;
    ASSERT_TRUE(pages.Ready()) << "VirtualAlloc failed with " << GetLastError();
    std::uint8_t* accessor = pages.SecondPage() - kPage;
    // Displacements inside one cache line, and across two (rewritten behind a breakpoint).
    const std::size_t displacementLineOffsets[] = {0, 62};
    for (const AccessorForm& form : kAccessorForms) {
        std::memcpy(accessor, form.code.data(), form.code.size());
        for (std::size_t lineOffset : displacementLineOffsets) {
            std::uint8_t* caller = pages.SecondPage() - 256 + lineOffset - kDisplacementAt;
            PlaceCaller(caller, accessor);
            std::uint8_t original[kCallerLength];
            std::memcpy(original, caller, kCallerLength);

            const CallsResult trapped = ThreeCalls(caller, false);
            const CallsResult fast = ThreeCalls(caller, true);
            const bool rewritten = std::memcmp(caller, original, kCallerLength) != 0;
            SimSetTrapBatching(0);  // puts the call back
            const bool restored = std::memcmp(caller, original, kCallerLength) == 0;
            SimSetTrapBatching(1);

            const std::string where = std::string(form.what) + ", displacement at line offset " +
                                      std::to_string(lineOffset);
            EXPECT_EQ(trapped.traps, 3 * form.accesses) << where;
            EXPECT_EQ(fast.traps, form.redirected ? 1u : 3u) << where;
            EXPECT_EQ(rewritten, form.redirected) << where;
            EXPECT_TRUE(restored) << where;
            for (int i = 0; i < 3; ++i) {
                EXPECT_TRUE(SameRegisters(trapped.after[i], fast.after[i]))
                    << where << ", call " << i << ": eax " << win_test::Hex(fast.after[i].eax)
                    << " edx " << win_test::Hex(fast.after[i].edx) << " flags "
                    << win_test::Hex(fast.after[i].eflags) << ", trapping: eax "
                    << win_test::Hex(trapped.after[i].eax) << " edx "
                    << win_test::Hex(trapped.after[i].edx) << " flags "
                    << win_test::Hex(trapped.after[i].eflags);
            }
            EXPECT_EQ(trapped.trace.size(), 3 * form.accesses) << where;
            EXPECT_TRUE(SameEvents(trapped.trace, fast.trace)) << where;
        }
    }
}

// ---- threads ---------------------------------------------------------------------------------

// Several threads doing read-modify-writes on the card's registers with trapped port
// instructions, as an application that breaks the library's one-thread rule would.
constexpr int kThreads = 4;
constexpr std::uint32_t kCyclesPerThread = 5000;
constexpr std::uint16_t kRegisterPorts = 0x20;  // I/O range 1 placed at port 0
constexpr std::uint16_t kSharedPort = kRegisterPorts + 4 * kThreads;

// What a thread stores in the shared register: its tag in both upper bytes and the low half it
// read plus one, so a store that were not atomic would show as differing upper bytes.
std::uint32_t SharedWord(std::uint32_t tag, std::uint32_t read) {
    return (tag << 24) | (tag << 16) | ((read + 1) & 0xFFFFu);
}

// The same port instructions inside accessor functions, whose calls the simulator redirects
// while the other threads run.
__attribute__((noipa)) std::uint32_t CalledIn32(std::uint16_t port) {
    return In32(port);
}
__attribute__((noipa)) void CalledOut32(std::uint16_t port, std::uint32_t value) {
    Out32(port, value);
}

// Odd threads go through the accessors.
DWORD WINAPI IncrementRegisters(LPVOID parameter) {
    const auto thread = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(parameter));
    const auto own = static_cast<std::uint16_t>(kRegisterPorts + 4 * thread);
    const bool calls = (thread & 1u) != 0;
    for (std::uint32_t i = 0; i < kCyclesPerThread; ++i) {
        if (calls) {
            CalledOut32(own, CalledIn32(own) + 1);
            CalledOut32(kSharedPort, SharedWord(thread + 1, CalledIn32(kSharedPort)));
        } else {
            Out32(own, In32(own) + 1);
            Out32(kSharedPort, SharedWord(thread + 1, In32(kSharedPort)));
        }
    }
    return 0;
}

void ThreadsInterleaveAccessesWithoutHarm() {
    SimSetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, 0x0001u);
    SimSetCommand(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 3);
    SimClearTrace();
    const std::uint32_t trapsBefore = SimTrapCount();
    HANDLE threads[kThreads] = {};
    for (int t = 0; t < kThreads; ++t) {
        threads[t] =
            CreateThread(nullptr, 0, IncrementRegisters,
                         reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(t)), 0, nullptr);
        ASSERT_TRUE(threads[t] != nullptr) << "CreateThread failed with " << GetLastError();
    }
    // The control functions stay usable meanwhile.
    std::uint32_t seen = 0;
    while (WaitForMultipleObjects(kThreads, threads, TRUE, 1) == WAIT_TIMEOUT) {
        const std::uint32_t count = SimTraceCount();
        EXPECT_TRUE(count >= seen) << "the trace shrank from " << seen << " to " << count;
        SimTraceEvent last = {};
        if (count != 0) {
            EXPECT_EQ(SimGetTraceEvent(count - 1, &last), 1);
        }
        seen = count;
    }
    for (HANDLE thread : threads) CloseHandle(thread);

    const std::uint32_t accesses = kThreads * kCyclesPerThread * 4;
    EXPECT_EQ(SimTraceCount(), accesses);
    // The odd threads' calls went straight to the card after their first traps.
    const std::uint32_t traps = SimTrapCount() - trapsBefore;
    EXPECT_TRUE(traps >= accesses / 2 && traps < accesses / 2 + 100) << traps << " traps";
    EXPECT_EQ(SimTraceDropped(), 0u);
    for (int t = 0; t < kThreads; ++t) {
        std::uint32_t own = 0;
        SimReadIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, kRegisterPorts + 4 * t, 32,
                          &own);
        EXPECT_EQ(own, kCyclesPerThread) << "thread " << t << "'s register";
    }
    // Updates of the shared register may be lost, as on the card, but what it holds is a word
    // one thread stored whole.
    std::uint32_t shared = 0;
    SimReadIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, kSharedPort, 32, &shared);
    const std::uint32_t tag = shared >> 24;
    EXPECT_TRUE(tag >= 1 && tag <= kThreads && ((shared >> 16) & 0xFFu) == tag)
        << "shared register " << win_test::Hex(shared);
    EXPECT_TRUE((shared & 0xFFFFu) >= 1 && (shared & 0xFFFFu) <= kThreads * kCyclesPerThread)
        << "shared register " << win_test::Hex(shared);
    // Every traced write of it is such a word too.
    std::uint32_t torn = 0;
    for (std::uint32_t i = 0; i < SimTraceCount(); ++i) {
        const SimTraceEvent e = Event(i);
        if (e.op == SIM_OP_PORT_WRITE && e.where == kSharedPort &&
            (e.value >> 24) != ((e.value >> 16) & 0xFFu)) {
            ++torn;
        }
    }
    EXPECT_EQ(torn, 0u);
}

const win_test::Case kCases[] = {
    {"the device path reaches the module and code 3 answers 0x2004", DevicePathReachesTheModule},
    {"code 16 unlocks the real windows, guarded at the end", BaseRecordUnlocksTheRealWindows},
    {"trapped configuration cycles read the card", TrappedConfigCyclesReadTheCard},
    {"every port instruction form is emulated", EveryPortInstructionFormIsEmulated},
    {"a run of port instructions is one trap, traced as separate traps would be",
     RunsTraceAsSeparateTrapsWould},
    {"a run reads code only where the CPU could run it", RunsReadCodeOnlyWhereItCanRun},
    {"accessor calls go straight to the card after one trap, leaving the same registers",
     AccessorCallsGoStraightToTheCardAfterOneTrap},
    {"threads interleave port accesses without harming the card or its trace",
     ThreadsInterleaveAccessesWithoutHarm},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    win_test::RunCases(
        kCases, [] { SimResetBoard(); }, PrintTrace);
    return win_test::Summary();
}
