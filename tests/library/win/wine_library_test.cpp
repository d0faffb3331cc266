// The shipped VexoDLL.dll against the simulated card under Wine: the DLL is loaded the way an
// application loads it, every export is reached by name and by ordinal and called through a
// cdecl pointer, and the card is shaped and observed through vexolite.vxd.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "VexoDLL.h"
#include "vexolite_sim.h"
#include "wine_cases.h"

namespace {

using wine_cases::DeleteBoardKey;
using wine_cases::Fail;
using wine_cases::WriteBoardKey;

// ---- the DLL and its 19 exports ------------------------------------------------------------

const char* const kExportNames[20] = {nullptr,
                                      "cVexoReadBlockByte",
                                      "cVexoReadBlockShort",
                                      "cVexoReadBlockLong",
                                      "cVexoWriteBlockByte",
                                      "cVexoWriteBlockShort",
                                      "cVexoWriteBlockLong",
                                      "cVexoBuffAlloc",
                                      "cVexoBuffFree",
                                      "cVexoReadBuffByte",
                                      "cVexoReadBuffShort",
                                      "cVexoReadBuffLong",
                                      "cVexoWriteBuffByte",
                                      "cVexoWriteBuffShort",
                                      "cVexoWriteBuffLong",
                                      "cVexoOpen",
                                      "cVexoClose",
                                      "cVexoGetINTA",
                                      "cVexoDeviceInfo",
                                      "cVexoPciConfig"};
enum Ordinal {
    kReadBlockByte = 1,
    kReadBlockShort,
    kReadBlockLong,
    kWriteBlockByte,
    kWriteBlockShort,
    kWriteBlockLong,
    kBuffAlloc,
    kBuffFree,
    kReadBuffByte,
    kReadBuffShort,
    kReadBuffLong,
    kWriteBuffByte,
    kWriteBuffShort,
    kWriteBuffLong,
    kOpen,
    kClose,
    kGetINTA,
    kDeviceInfo,
    kPciConfig
};
constexpr int kArgumentCount[20] = {0, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};

HMODULE vexoDll = nullptr;
void* exportByOrdinal[20] = {};

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
    if (left != 4 * kArgumentCount[ordinal]) {
        Fail(__LINE__, "%s left %d bytes of arguments, expected %d", kExportNames[ordinal], left,
             4 * kArgumentCount[ordinal]);
    }
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
    CHECK_EQ(1, DeviceInfoOf(&info));
    CHECK_EQ(kDriverInfo, info.driverInfo);
    CHECK_EQ(0x2004, info.deviceId);
    CHECK_EQ(0x10CF, info.vendorId);
    CHECK_EQ(intMem, info.intMemBase);
    CHECK_EQ(extMem, info.extMemBase);
    CHECK_EQ(io1, info.io1Base);
    CHECK_EQ(io2, info.io2Base);
}

// Probes up to the card, the ten configuration accesses and the three set-up writes.
constexpr std::size_t kOpenPortAccesses = 2 * (kDevice * 256 + kBus + 1) + 10 + 3;

// ---- cases ------------------------------------------------------------------------------------

void ExportsAreFoundByNameAndOrdinal() {
    for (int ordinal = 1; ordinal <= 19; ++ordinal) {
        void* byName = reinterpret_cast<void*>(GetProcAddress(vexoDll, kExportNames[ordinal]));
        void* byOrdinal =
            reinterpret_cast<void*>(GetProcAddress(vexoDll, MAKEINTRESOURCEA(ordinal)));
        if (byName == nullptr || byName != byOrdinal) {
            Fail(__LINE__, "%s: by name %p, by ordinal %d %p", kExportNames[ordinal], byName,
                 ordinal, byOrdinal);
        }
    }
    CHECK(GetProcAddress(vexoDll, MAKEINTRESOURCEA(20)) == nullptr);
    CHECK(GetProcAddress(vexoDll, "DllMainCRTStartup") == nullptr);
    CHECK(GetProcAddress(vexoDll, "_cVexoOpen") == nullptr);
}

// The stack check itself: a function that removes its own arguments is told apart.
void TheStackCheckCatchesAStdcallFunction() {
    std::int32_t left = -1;
    const int length =
        CallCdecl(reinterpret_cast<void*>(&lstrlenA), 1, Address("abc"), 0, 0, &left);
    CHECK_EQ(3, length);
    CHECK_EQ(0, left);
}

void WithoutABoardEveryExportRefuses() {
    ShapeMachine();
    std::uint8_t buffer[8] = {};
    for (int ordinal = kReadBlockByte; ordinal <= kWriteBlockLong; ++ordinal) {
        CHECK_EQ(0, Call(ordinal, 0x8000, Address(buffer), 2));
    }
    for (int ordinal = kBuffAlloc; ordinal <= kWriteBuffLong; ++ordinal) CHECK_EQ(0, Call(ordinal));
    CHECK_EQ(0, Call(kClose));
    CHECK_EQ(-1, Call(kGetINTA));
    CHECK_EQ(0, Call(kPciConfig));
    DeviceInfo info;
    std::memset(&info, 0xEE, sizeof info);
    CHECK_EQ(0, DeviceInfoOf(&info));
    CHECK_EQ(0xEEEEEEEEu, info.driverInfo);
    CHECK_EQ(0xEEEEEEEEu, info.io2Base);
    CHECK_EQ(0, TakeTrace().events.size());
}

void OpensWithTheBasesFromTheKey() {
    ShapeMachine();
    CHECK(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    CHECK_EQ(1, Call(kOpen));
    const Trace trace = TakeTrace();
    CHECK(trace.Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    CHECK_EQ(kOpenPortAccesses, trace.PortAccesses());
    CheckDeviceInfo(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    std::uint32_t command = 0;
    SimGetCommand(kBus, kDevice, 1, &command);
    CHECK_EQ(3, command);
    CHECK_EQ(0xEA000000u, Bar(0));
    CHECK_EQ(0xE9000000u, Bar(1));
    CHECK_EQ(0xC000, Bar(2));
    CHECK_EQ(0xC400, Bar(3));
    SimBaseRecord record = {};
    CHECK_EQ(1, SimGetLastBaseRecord(&record));
    CHECK_EQ(0xE9000000u, record.intMemBase);
    CHECK_EQ(0xC400, record.io2Base);
    CHECK_EQ(0x0000000E, IoRegister(0, 0xC4));
    CHECK_EQ(0x6B19D4A7u, IoRegister(1, 0x00));
    CHECK_EQ(0x00018000, IoRegister(1, 0x10));

    CHECK_EQ(1, Call(kOpen));  // already open: nothing happens
    CHECK_EQ(0, Call(kGetINTA));
    for (int ordinal = kBuffAlloc; ordinal <= kWriteBuffLong; ++ordinal) CHECK_EQ(1, Call(ordinal));
    CHECK_EQ(0x200410CF, Call(kPciConfig));
    CHECK(TakeTrace().Codes() == std::vector<std::uint32_t>({15}));
    CHECK_EQ(1, Call(kClose));
    CHECK_EQ(0, TakeTrace().events.size());
    CHECK_EQ(0, Call(kClose));
}

// The key gone, every base comes from its register with the flag bits cleared, and the set-up
// writes go to the cleared ports.
void OpensWithTheBasesFromTheCard() {
    ShapeMachine();
    CHECK_EQ(1, Call(kOpen));
    CHECK_EQ(kOpenPortAccesses, TakeTrace().PortAccesses());
    CheckDeviceInfo(0xE9800000, 0xE8000000, 0xD000, 0xD400);
    for (std::uint32_t i = 0; i < 4; ++i) CHECK_EQ(kBars[i], Bar(i));
    CHECK_EQ(0x0000000E, IoRegister(0, 0xC4));
    CHECK_EQ(0x6B19D4A7u, IoRegister(1, 0x00));
    CHECK_EQ(1, Call(kClose));
}

void ReopenReadsTheKeyAfresh() {
    ShapeMachine();
    CHECK_EQ(1, Call(kOpen));
    CHECK_EQ(1, Call(kClose));
    CHECK(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    SimClearTrace();
    CHECK_EQ(1, Call(kOpen));
    CHECK(TakeTrace().Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    CheckDeviceInfo(0xE9000000, 0xEA000000, 0xC000, 0xC400);
    CHECK_EQ(0xE9000000u, Bar(1));
    CHECK_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// The windows the driver hands out are where the library reads and writes the memories.
void BlockTransfersReachTheWindows() {
    ShapeMachine();
    CHECK(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    CHECK_EQ(1, Call(kOpen));
    const std::uint8_t pattern[4] = {0x11, 0x22, 0x33, 0x44};
    CHECK_EQ(1, SimWriteMemory(SIM_INT_MEM, 0x8000, pattern, 4));
    std::uint8_t read[4] = {};
    CHECK_EQ(1, Call(kReadBlockByte, 0x8000, Address(read), 4));
    CHECK(std::memcmp(read, pattern, 4) == 0);
    const std::uint32_t word = 0xCAFEF00Du;
    CHECK_EQ(1, Call(kWriteBlockLong, VEXO_EXTMEM_START + 0x100, Address(&word), 1));
    std::uint32_t stored = 0;
    CHECK_EQ(1, SimReadMemory(SIM_EXT_MEM, 0x100, &stored, 4));
    CHECK_EQ(word, stored);
    std::uint16_t io = 0;
    CHECK_EQ(1, Call(kReadBlockShort, VEXO_IO_ADDRESS(VEXO_IO2_AREA, 0x10), Address(&io), 1));
    CHECK_EQ(0x8000, io);  // low half of the third set-up register
    CHECK_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// A failed open leaves no board behind; what it did to the card stays, and the next open works.
void AFailedOpenCleansUp() {
    ShapeMachine();
    CHECK(WriteBoardKey(0xE9000000, 0xEA000000, 0xC000, 0xC400));
    SimSetFailingCode(7, 1);
    CHECK_EQ(0, Call(kOpen));
    CHECK(TakeTrace().Codes() == std::vector<std::uint32_t>({3, 2, 1, 16, 6, 7}));
    CHECK_EQ(-1, Call(kGetINTA));
    CHECK_EQ(0xEA000000u, Bar(0));
    CHECK_EQ(0, IoRegister(0, 0xC4));
    SimSetFailingCode(7, 0);

    SimSetDriverIdentity(0x12004, 0x10CF);
    CHECK_EQ(0, Call(kOpen));
    const Trace wrong = TakeTrace();
    CHECK(wrong.Codes() == std::vector<std::uint32_t>({3, 2, 1}));
    CHECK_EQ(0, wrong.PortAccesses());
    SimSetDriverIdentity(0x2004, 0x10CF);

    CHECK_EQ(1, Call(kOpen));
    CHECK_EQ(1, Call(kClose));
    DeleteBoardKey();
}

// With the card only at function 0, every device and bus is probed once and nothing else.
void AScanThatFindsNothingProbesEverySlotOnce() {
    ShapeMachine();
    SimRemoveAllFunctions();
    SimAddFunction(kBus, kDevice, 0, 0x200410CFu);
    CHECK_EQ(0, Call(kOpen));
    const Trace trace = TakeTrace();
    CHECK_EQ(16384, trace.PortAccesses());
    std::size_t probe = 0;
    for (const SimTraceEvent& e : trace.events) {
        if (e.op != SIM_OP_PORT_WRITE) continue;
        const std::uint32_t device = probe / 256, bus = probe % 256;
        if (e.where != 0xCF8 || e.width != 32 ||
            e.value != (0x80000000u | bus << 16 | device << 11 | 1u << 8)) {
            Fail(__LINE__, "probe %u: out%u %X %08X", unsigned(probe), unsigned(e.width),
                 unsigned(e.where), unsigned(e.value));
            break;
        }
        ++probe;
    }
    CHECK_EQ(8192, probe);
}

const wine_cases::Case kCases[] = {
    {"exports are found by name and ordinal", ExportsAreFoundByNameAndOrdinal},
    {"the stack check catches a stdcall function", TheStackCheckCatchesAStdcallFunction},
    {"without a board every export refuses", WithoutABoardEveryExportRefuses},
    {"opens with the bases from the key", OpensWithTheBasesFromTheKey},
    {"opens with the bases from the card", OpensWithTheBasesFromTheCard},
    {"reopen reads the key afresh", ReopenReadsTheKeyAfresh},
    {"block transfers reach the windows", BlockTransfersReachTheWindows},
    {"a failed open cleans up", AFailedOpenCleansUp},
    {"a scan that finds nothing probes every slot once", AScanThatFindsNothingProbesEverySlotOnce},
};

}  // namespace

int main() {
    wine_cases::ReportCrashes();
    vexoDll = LoadLibraryA("VexoDLL.dll");
    if (vexoDll == nullptr) {
        std::printf("cannot load VexoDLL.dll: error %lu\n", GetLastError());
        return 1;
    }
    for (int ordinal = 1; ordinal <= 19; ++ordinal) {
        exportByOrdinal[ordinal] =
            reinterpret_cast<void*>(GetProcAddress(vexoDll, MAKEINTRESOURCEA(ordinal)));
        if (exportByOrdinal[ordinal] == nullptr) {
            std::printf("VexoDLL.dll has no ordinal %d\n", ordinal);
            return 1;
        }
    }
    return wine_cases::RunCases(kCases);
}
