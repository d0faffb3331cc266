// The shipped VexoDLL.dll against the simulated card under Wine: the DLL is loaded the way an
// application loads it, every export is reached by name and by ordinal and called through a
// cdecl pointer, and the card is shaped and observed through vexolite.vxd. Also VexoVB.dll, the
// library for Visual Basic 6: each of its exports called as VB6 calls it (stdcall) reaches the
// card with its arguments intact.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "VexoDLL.h"
#include "board_key_registry.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

using board_key_registry::DeleteBoardKey;
using board_key_registry::WriteBoardKey;

// ---- the DLL and its exports, as lib/VexoDLL.def lists them --------------------------------

// The count of 32-bit arguments of a function declared in VexoDLL.h (all of them are 32 bits
// wide). Only cdecl functions match.
template <typename Function>
struct ArgumentCount;
template <typename Result, typename... Arguments>
struct ArgumentCount<Result(Arguments...)> {
    static constexpr int value = sizeof...(Arguments);
};

// kOpen = 15 and so on.
enum Ordinal {
#define VEXO_EXPORT(ordinal, name, shortName) k##shortName = ordinal,
#include "dll_exports.inc"
#undef VEXO_EXPORT
};

constexpr int kExportCount = 0
#define VEXO_EXPORT(ordinal, name, shortName) +1
#include "dll_exports.inc"
#undef VEXO_EXPORT
    ;

// Indexed by ordinal; a name the header does not declare does not compile.
const char* const kExportNames[kExportCount + 1] = {
    nullptr,
#define VEXO_EXPORT(ordinal, name, shortName) #name,
#include "dll_exports.inc"
#undef VEXO_EXPORT
};
constexpr int kArgumentCount[kExportCount + 1] = {
    0,
#define VEXO_EXPORT(ordinal, name, shortName) ArgumentCount<decltype(name)>::value,
#include "dll_exports.inc"
#undef VEXO_EXPORT
};

// The tables above are indexed by ordinal: the list must run 1, 2, 3 ... without a gap.
constexpr int kListedOrdinals[kExportCount + 1] = {
    0,
#define VEXO_EXPORT(ordinal, name, shortName) ordinal,
#include "dll_exports.inc"
#undef VEXO_EXPORT
};
constexpr bool OrdinalsRunFromOne() {
    for (int i = 0; i <= kExportCount; ++i) {
        if (kListedOrdinals[i] != i) return false;
    }
    return true;
}
static_assert(OrdinalsRunFromOne(), "lib/VexoDLL.def lists the exports by ordinal, from 1");

HMODULE vexoDll = nullptr;
void* exportByOrdinal[kExportCount + 1] = {};
HMODULE vbDll = nullptr;
void* vbExportByName[kExportCount + 1] = {};  // indexed by the library's ordinal

// Calls an export with up to three 32-bit arguments, pushed right to left, and leaves them for
// the caller to remove, as cdecl requires. *stackLeft is how many bytes of arguments were still
// on the stack when the export returned: all of them for a cdecl function, none for one that
// removes its own (stdcall).
int CallCdecl(void* function, int argumentCount, std::uint32_t a, std::uint32_t b, std::uint32_t c,
              std::int32_t* stackLeft) {
    const std::uint32_t arguments[3] = {a, b, c};
    const std::uint32_t* argument = arguments;
    int result;
    std::int32_t left;
    asm volatile(
        "movl %%esp, %%edi\n\t"
        "cmpl $3, %%esi\n\t"
        "jb 1f\n\t"
        "pushl 8(%%edx)\n\t"
        "pushl 4(%%edx)\n\t"
        "1:\n\t"
        "cmpl $1, %%esi\n\t"
        "jb 2f\n\t"
        "pushl (%%edx)\n\t"
        "2:\n\t"
        "call *%%ebx\n\t"
        "movl %%edi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=a"(result), "=&c"(left), "+d"(argument), "+S"(argumentCount), "+b"(function)
        :
        : "edi", "memory", "cc");
    *stackLeft = left;
    return result;
}

// Calls export `ordinal` and checks that it left its arguments on the stack.
int Call(int ordinal, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0) {
    std::int32_t left = -1;
    const int result = CallCdecl(exportByOrdinal[ordinal], kArgumentCount[ordinal], a, b, c, &left);
    EXPECT_EQ(4 * kArgumentCount[ordinal], left)
        << kExportNames[ordinal] << " left the wrong number of bytes of arguments";
    return result;
}

// Calls VexoVB.dll's export of the library function `ordinal` and checks that it removed its
// arguments, as VB6 expects.
int CallVb(int ordinal, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0) {
    std::int32_t left = -1;
    const int result = CallCdecl(vbExportByName[ordinal], kArgumentCount[ordinal], a, b, c, &left);
    EXPECT_EQ(0, left) << "VexoVB.dll's " << kExportNames[ordinal]
                       << " left bytes of arguments on the stack";
    return result;
}

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

int DeviceInfoOf(DeviceInfo* info) {
    return Call(kDeviceInfo, Address(info));
}

// ---- the simulated machine --------------------------------------------------------------------

struct Trace {
    std::vector<SimTraceEvent> events;
    std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const SimTraceEvent& e : events)
            if (e.op == SIM_OP_DRIVER_REQUEST) codes.push_back(e.where);
        return codes;
    }
    std::size_t PortAccesses() const {
        std::size_t n = 0;
        for (const SimTraceEvent& e : events)
            n += e.op == SIM_OP_PORT_READ || e.op == SIM_OP_PORT_WRITE ? 1 : 0;
        return n;
    }
};

Trace TakeTrace() {
    Trace trace;
    const std::uint32_t count = SimTraceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        SimTraceEvent e;
        if (SimGetTraceEvent(i, &e)) trace.events.push_back(e);
    }
    SimClearTrace();
    return trace;
}

// The card somewhere neither bus nor device is 0, with flag bits in its base address registers.
constexpr std::uint32_t kBus = 7, kDevice = 9;
constexpr std::uint32_t kBars[4] = {0xE800000Cu, 0xE9800008u, 0x0000D001u, 0x0000D403u};
constexpr std::uint32_t kDriverInfo = 0xA1B2C3D4u;

void ShapeMachine() {
    SimResetBoard();
    SimRemoveAllFunctions();
    SimAddFunction(kBus, kDevice, 1, 0x200410CFu);
    for (std::uint32_t i = 0; i < 4; ++i) SimSetBar(kBus, kDevice, 1, i, kBars[i]);
    SimSetDriverInfo(kDriverInfo);
    DeleteBoardKey();
    SimClearTrace();
}

std::uint32_t Bar(std::uint32_t index) {
    std::uint32_t value = 0;
    SimGetBar(kBus, kDevice, 1, index, &value);
    return value;
}

std::uint32_t IoRegister(std::uint32_t range, std::uint32_t offset) {
    std::uint32_t value = 0;
    SimReadIoRegister(kBus, kDevice, 1, range, offset, 32, &value);
    return value;
}

void CheckDeviceInfo(std::uint32_t intMem, std::uint32_t extMem, std::uint32_t io1,
                     std::uint32_t io2) {
    DeviceInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(1, DeviceInfoOf(&info));
    EXPECT_EQ(kDriverInfo, info.driverInfo);
    EXPECT_EQ(0x2004, info.deviceId);
    EXPECT_EQ(0x10CF, info.vendorId);
    EXPECT_EQ(intMem, info.intMemBase);
    EXPECT_EQ(extMem, info.extMemBase);
    EXPECT_EQ(io1, info.io1Base);
    EXPECT_EQ(io2, info.io2Base);
}

// Probes up to the card, the ten configuration accesses and the three set-up writes.
constexpr std::size_t kOpenPortAccesses = 2 * (kDevice * 256 + kBus + 1) + 10 + 3;

// ---- cases ------------------------------------------------------------------------------------

void ExportsAreFoundByNameAndOrdinal() {
    for (int ordinal = 1; ordinal <= kExportCount; ++ordinal) {
        void* byName = reinterpret_cast<void*>(GetProcAddress(vexoDll, kExportNames[ordinal]));
        void* byOrdinal =
            reinterpret_cast<void*>(GetProcAddress(vexoDll, MAKEINTRESOURCEA(ordinal)));
        EXPECT_TRUE(byName != nullptr && byName == byOrdinal)
            << kExportNames[ordinal] << ": by name " << byName << ", by ordinal " << ordinal << " "
            << byOrdinal;
    }
    EXPECT_TRUE(GetProcAddress(vexoDll, MAKEINTRESOURCEA(kExportCount + 1)) == nullptr);
    EXPECT_TRUE(GetProcAddress(vexoDll, "DllMainCRTStartup") == nullptr);
    EXPECT_TRUE(GetProcAddress(vexoDll, "_cVexoOpen") == nullptr);
}

// The stack check itself: a function that removes its own arguments is told apart.
void TheStackCheckCatchesAStdcallFunction() {
    std::int32_t left = -1;
    const int length =
        CallCdecl(reinterpret_cast<void*>(&lstrlenA), 1, Address("abc"), 0, 0, &left);
    EXPECT_EQ(3, length);
    EXPECT_EQ(0, left);
}

void WithoutABoardEveryExportRefuses() {
    ShapeMachine();
    std::uint8_t buffer[8] = {};
    for (int ordinal = kReadBlockByte; ordinal <= kWriteBlockLong; ++ordinal) {
        EXPECT_EQ(0, Call(ordinal, 0x8000, Address(buffer), 2));
    }
    for (int ordinal = kBuffAlloc; ordinal <= kWriteBuffLong; ++ordinal)
        EXPECT_EQ(0, Call(ordinal));
    EXPECT_EQ(0, Call(kClose));
    EXPECT_EQ(-1, Call(kGetINTA));
    EXPECT_EQ(0, Call(kPciConfig));
    DeviceInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(0, DeviceInfoOf(&info));
    EXPECT_EQ(0xEEEEEEEEu, info.driverInfo);
    EXPECT_EQ(0xEEEEEEEEu, info.io2Base);
    EXPECT_EQ(0, TakeTrace().events.size());
}

void OpensWithTheBasesFromTheKey() {
    ShapeMachine();
    EXPECT_TRUE(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    EXPECT_EQ(1, Call(kOpen));
    const Trace trace = TakeTrace();
    EXPECT_TRUE(trace.Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    EXPECT_EQ(kOpenPortAccesses, trace.PortAccesses());
    CheckDeviceInfo(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    std::uint32_t command = 0;
    SimGetCommand(kBus, kDevice, 1, &command);
    EXPECT_EQ(3, command);
    EXPECT_EQ(0xEA000008u, Bar(0));
    EXPECT_EQ(0xE9000000u, Bar(1));
    EXPECT_EQ(0xC001, Bar(2));
    EXPECT_EQ(0xC401, Bar(3));
    SimBaseRecord record = {};
    EXPECT_EQ(1, SimGetLastBaseRecord(&record));
    EXPECT_EQ(0xE9000000u, record.intMemBase);
    EXPECT_EQ(0xC400, record.io2Base);
    EXPECT_EQ(0x0000000E, IoRegister(0, 0xC4));
    EXPECT_EQ(0x6B19D4A7u, IoRegister(1, 0x00));
    EXPECT_EQ(0x00018000, IoRegister(1, 0x10));

    EXPECT_EQ(1, Call(kOpen));  // already open: nothing happens
    EXPECT_EQ(0, Call(kGetINTA));
    for (int ordinal = kBuffAlloc; ordinal <= kWriteBuffLong; ++ordinal)
        EXPECT_EQ(1, Call(ordinal));
    EXPECT_EQ(0x200410CF, Call(kPciConfig));
    EXPECT_TRUE(TakeTrace().Codes() == std::vector<std::uint32_t>({15}));
    EXPECT_EQ(1, Call(kClose));
    EXPECT_EQ(0, TakeTrace().events.size());
    EXPECT_EQ(0, Call(kClose));
}

// The key gone, every base comes from its register with the flag bits cleared, and the set-up
// writes go to the cleared ports.
void OpensWithTheBasesFromTheCard() {
    ShapeMachine();
    EXPECT_EQ(1, Call(kOpen));
    EXPECT_EQ(kOpenPortAccesses, TakeTrace().PortAccesses());
    CheckDeviceInfo(0xE9800000, 0xE8000000, 0xD000, 0xD400);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(kBars[i], Bar(i));
    EXPECT_EQ(0x0000000E, IoRegister(0, 0xC4));
    EXPECT_EQ(0x6B19D4A7u, IoRegister(1, 0x00));
    EXPECT_EQ(1, Call(kClose));
}

void ReopenReadsTheKeyAfresh() {
    ShapeMachine();
    EXPECT_EQ(1, Call(kOpen));
    EXPECT_EQ(1, Call(kClose));
    EXPECT_TRUE(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    SimClearTrace();
    EXPECT_EQ(1, Call(kOpen));
    EXPECT_TRUE(TakeTrace().Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    CheckDeviceInfo(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    EXPECT_EQ(0xE9000000u, Bar(1));
    EXPECT_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// The windows the driver hands out are where the library reads and writes the memories.
void BlockTransfersReachTheWindows() {
    ShapeMachine();
    EXPECT_TRUE(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    EXPECT_EQ(1, Call(kOpen));
    const std::uint8_t pattern[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(1, SimWriteMemory(SIM_INT_MEM, 0x8000, pattern, 4));
    std::uint8_t read[4] = {};
    EXPECT_EQ(1, Call(kReadBlockByte, 0x8000, Address(read), 4));
    EXPECT_TRUE(std::memcmp(read, pattern, 4) == 0);
    const std::uint32_t word = 0xCAFEF00Du;
    EXPECT_EQ(1, Call(kWriteBlockLong, VEXO_EXTMEM_START + 0x100, Address(&word), 1));
    std::uint32_t stored = 0;
    EXPECT_EQ(1, SimReadMemory(SIM_EXT_MEM, 0x100, &stored, 4));
    EXPECT_EQ(word, stored);
    std::uint16_t io = 0;
    EXPECT_EQ(1, Call(kReadBlockShort, VEXO_IO_ADDRESS(VEXO_IO2_AREA, 0x10), Address(&io), 1));
    EXPECT_EQ(0x8000, io);  // low half of the third set-up register
    EXPECT_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// A failed open leaves no board behind; what it did to the card stays, and the next open works.
void AFailedOpenCleansUp() {
    ShapeMachine();
    EXPECT_TRUE(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    SimSetFailingCode(7, 1);
    EXPECT_EQ(0, Call(kOpen));
    EXPECT_TRUE(TakeTrace().Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    EXPECT_EQ(-1, Call(kGetINTA));
    EXPECT_EQ(0xEA000008u, Bar(0));
    EXPECT_EQ(0, IoRegister(0, 0xC4));
    SimSetFailingCode(7, 0);

    SimSetDriverIdentity(0x12004, 0x10CF);
    EXPECT_EQ(0, Call(kOpen));
    const Trace wrong = TakeTrace();
    EXPECT_TRUE(wrong.Codes() == std::vector<std::uint32_t>({3, 2, 1}));
    EXPECT_EQ(0, wrong.PortAccesses());
    SimSetDriverIdentity(0x2004, 0x10CF);

    EXPECT_EQ(1, Call(kOpen));
    EXPECT_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// With the card only at function 0, every device and bus is probed once and nothing else.
void AScanThatFindsNothingProbesEverySlotOnce() {
    ShapeMachine();
    SimRemoveAllFunctions();
    SimAddFunction(kBus, kDevice, 0, 0x200410CFu);
    EXPECT_EQ(0, Call(kOpen));
    const Trace trace = TakeTrace();
    EXPECT_EQ(16384, trace.PortAccesses());
    std::size_t probe = 0;
    for (const SimTraceEvent& e : trace.events) {
        if (e.op != SIM_OP_PORT_WRITE) continue;
        const std::uint32_t device = probe / 256, bus = probe % 256;
        if (e.where != 0xCF8 || e.width != 32 ||
            e.value != (0x80000000u | bus << 16 | device << 11 | 1u << 8)) {
            ADD_FAILURE() << "probe " << probe << ": out" << e.width << " "
                          << win_test::Hex(e.where) << " " << win_test::Hex(e.value);
            break;
        }
        ++probe;
    }
    EXPECT_EQ(8192, probe);
}

// Each of VexoVB.dll's exports takes the library's arguments in the library's order and passes
// them on unchanged: the addresses, buffers and counts reach the card, the results come back.
void VbExportsReachTheCard() {
    ShapeMachine();
    EXPECT_TRUE(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    EXPECT_EQ(-1, CallVb(kGetINTA));
    ASSERT_EQ(1, CallVb(kOpen));
    EXPECT_TRUE(TakeTrace().Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    DeviceInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(1, CallVb(kDeviceInfo, Address(&info)));
    EXPECT_EQ(kDriverInfo, info.driverInfo);
    EXPECT_EQ(0xE9000000u, info.intMemBase);
    EXPECT_EQ(0xC400, info.io2Base);

    // Per width, 8 bytes written at one address and read back from another; the bytes around
    // them stay as they were, so the count went through in elements of that width.
    const std::uint8_t pattern[8] = {0x81, 0x42, 0x23, 0x14, 0x95, 0x66, 0x37, 0xA8};
    const std::uint32_t widths[3] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t zeros[16] = {};
        EXPECT_EQ(1, SimWriteMemory(SIM_INT_MEM, 0x8020, zeros, sizeof zeros));
        EXPECT_EQ(1, CallVb(kWriteBlockByte + i, 0x8024, Address(pattern), 8 / widths[i]));
        std::uint8_t stored[16] = {};
        EXPECT_EQ(1, SimReadMemory(SIM_INT_MEM, 0x8020, stored, sizeof stored));
        EXPECT_BYTES_EQ(pattern, stored + 4, 8) << "width " << widths[i];
        EXPECT_TRUE(stored[3] == 0 && stored[12] == 0) << "width " << widths[i];

        EXPECT_EQ(1, SimWriteMemory(SIM_INT_MEM, 0xC040, pattern, 8));
        std::uint8_t read[12];
        std::memset(read, 0xEE, sizeof read);
        EXPECT_EQ(1, CallVb(kReadBlockByte + i, 0xC040, Address(read), 8 / widths[i]));
        EXPECT_BYTES_EQ(pattern, read, 8) << "width " << widths[i];
        EXPECT_EQ(0xEE, read[8]) << "width " << widths[i];
    }

    for (int ordinal = kBuffAlloc; ordinal <= kWriteBuffLong; ++ordinal)
        EXPECT_EQ(1, CallVb(ordinal));
    EXPECT_EQ(0, CallVb(kGetINTA));
    EXPECT_EQ(0x200410CF, CallVb(kPciConfig));
    EXPECT_EQ(1, CallVb(kClose));
    EXPECT_EQ(0, CallVb(kClose));
    DeleteBoardKey();
}

const win_test::Case kCases[] = {
    {"exports are found by name and ordinal", ExportsAreFoundByNameAndOrdinal},
    {"the stack check catches a stdcall function", TheStackCheckCatchesAStdcallFunction},
    {"without a board every export refuses", WithoutABoardEveryExportRefuses},
    {"opens with the bases from the key", OpensWithTheBasesFromTheKey},
    {"opens with the bases from the card", OpensWithTheBasesFromTheCard},
    {"reopen reads the key afresh", ReopenReadsTheKeyAfresh},
    {"block transfers reach the windows", BlockTransfersReachTheWindows},
    {"a failed open cleans up", AFailedOpenCleansUp},
    {"a scan that finds nothing probes every slot once", AScanThatFindsNothingProbesEverySlotOnce},
    {"VexoVB.dll's stdcall exports reach the card", VbExportsReachTheCard},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    vexoDll = LoadLibraryA("VexoDLL.dll");
    if (vexoDll == nullptr) {
        std::printf("cannot load VexoDLL.dll: error %lu\n", GetLastError());
        return 1;
    }
    for (int ordinal = 1; ordinal <= kExportCount; ++ordinal) {
        exportByOrdinal[ordinal] =
            reinterpret_cast<void*>(GetProcAddress(vexoDll, MAKEINTRESOURCEA(ordinal)));
        if (exportByOrdinal[ordinal] == nullptr) {
            std::printf("VexoDLL.dll has no ordinal %d\n", ordinal);
            return 1;
        }
    }
    // VB6 finds VexoVB.dll's functions by name alone.
    vbDll = LoadLibraryA("VexoVB.dll");
    if (vbDll == nullptr) {
        std::printf("cannot load VexoVB.dll: error %lu\n", GetLastError());
        return 1;
    }
    for (int ordinal = 1; ordinal <= kExportCount; ++ordinal) {
        vbExportByName[ordinal] =
            reinterpret_cast<void*>(GetProcAddress(vbDll, kExportNames[ordinal]));
        if (vbExportByName[ordinal] == nullptr) {
            std::printf("VexoVB.dll has no %s\n", kExportNames[ordinal]);
            return 1;
        }
    }
    win_test::RunCases(kCases);
    return win_test::Summary();
}
