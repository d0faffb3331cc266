// Proves under Wine that vexolite.vxd stands in for the driver and the card: the device path
// reaches it, its control codes answer, trapped port instructions act on its card, and the trace
// shows what reached it. One process runs every case (each Wine process costs about a minute).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "vexolite_sim.h"

namespace {

int passed = 0;
int failed = 0;
bool caseOk = true;

void Check(bool condition, const char* what, unsigned long got, unsigned long expected) {
    if (condition) return;
    caseOk = false;
    std::printf("    %s: got 0x%08lX, expected 0x%08lX\n", what, got, expected);
}
// Evaluates each side once: many of them are port instructions or driver requests.
#define CHECK_EQ(got, expected)                                                   \
    do {                                                                          \
        const unsigned long gotValue = static_cast<unsigned long>(got);           \
        const unsigned long expectedValue = static_cast<unsigned long>(expected); \
        Check(gotValue == expectedValue, #got, gotValue, expectedValue);          \
    } while (0)

// What reached the card, for the output of a failed case.
void PrintTrace() {
    for (std::uint32_t i = 0; i < SimTraceCount(); ++i) {
        SimTraceEvent e = {};
        SimGetTraceEvent(i, &e);
        std::printf("    trace %u: op %u width %u where 0x%X value 0x%08X\n", i, e.op, e.width,
                    e.where, e.value);
    }
}

void Run(const char* name, void (*body)()) {
    caseOk = true;
    SimResetBoard();
    body();
    if (!caseOk) PrintTrace();
    std::printf("%s %s\n", caseOk ? "PASS" : "FAIL", name);
    (caseOk ? passed : failed)++;
}

constexpr std::uint32_t kCardConfigAddress =
    0x80000000u | (SIM_DEFAULT_BUS << 16) | (SIM_DEFAULT_DEVICE << 11) | (1u << 8);

// Port instructions, in the forms a compiler emits: port in DX, and an immediate port.
std::uint32_t In32(std::uint16_t port) {
    std::uint32_t value;
    asm volatile("inl %w1, %0" : "=a"(value) : "d"(port));
    return value;
}
void Out32(std::uint16_t port, std::uint32_t value) {
    asm volatile("outl %0, %w1" : : "a"(value), "d"(port));
}
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
    Check(device != INVALID_HANDLE_VALUE, "CreateFileA", GetLastError(), 0);
    if (device == INVALID_HANDLE_VALUE) return;
    DWORD reply = 0, returned = 0;
    CHECK_EQ(DeviceIoControl(device, 3, nullptr, 0, &reply, 4, &returned, nullptr), TRUE);
    CHECK_EQ(reply, 0x2004u);
    CHECK_EQ(returned, 4u);
    SimSetFailingCode(2, 1);
    CHECK_EQ(DeviceIoControl(device, 2, nullptr, 0, &reply, 4, &returned, nullptr), FALSE);
    CHECK_EQ(SimTraceCount(), 2u);
    CHECK_EQ(Event(0).op, static_cast<std::uint32_t>(SIM_OP_DRIVER_REQUEST));
    CHECK_EQ(Event(0).where, 3u);
    CHECK_EQ(Event(0).value, 1u);
    CHECK_EQ(Event(1).where, 2u);
    CHECK_EQ(Event(1).value, 0u);
    CloseHandle(device);
}

void BaseRecordUnlocksTheRealWindows() {
    HANDLE device = OpenDevice();
    if (device == INVALID_HANDLE_VALUE) return Check(false, "CreateFileA", GetLastError(), 0);
    DWORD window = 0, returned = 0;
    CHECK_EQ(DeviceIoControl(device, 6, nullptr, 0, &window, 4, &returned, nullptr), FALSE);
    SimBaseRecord sent = {0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u};
    CHECK_EQ(DeviceIoControl(device, 16, &sent, 16, nullptr, 0, &returned, nullptr), TRUE);
    SimBaseRecord got = {};
    CHECK_EQ(SimGetLastBaseRecord(&got), 1);
    CHECK_EQ(got.extMemBase, 0xEA000000u);
    CHECK_EQ(got.io2Base, 0xC400u);
    CHECK_EQ(DeviceIoControl(device, 7, nullptr, 0, &window, 4, &returned, nullptr), TRUE);
    CHECK_EQ(window, SimGetWindowAddress(SIM_EXT_MEM));
    // The window is the card's memory itself, and the page after its 16 MiB is inaccessible.
    const std::uint32_t word = 0x11223344u;
    SimWriteMemory(SIM_EXT_MEM, 0xFFFFFC, &word, 4);
    auto* ext = reinterpret_cast<volatile std::uint32_t*>(window);
    CHECK_EQ(ext[0xFFFFFC / 4], word);
    MEMORY_BASIC_INFORMATION page = {};
    VirtualQuery(reinterpret_cast<void*>(window + 0x1000000u), &page, sizeof page);
    CHECK_EQ(page.Protect, static_cast<DWORD>(PAGE_NOACCESS));
    CloseHandle(device);
}

void TrappedConfigCyclesReadTheCard() {
    Out32(0xCF8, kCardConfigAddress);
    CHECK_EQ(In32(0xCFC), 0x200410CFu);
    Out32(0xCF8, kCardConfigAddress | 0x10);
    Out32(0xCFC, 0xEA000000u);
    std::uint32_t bar0 = 0;
    SimGetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, &bar0);
    CHECK_EQ(bar0, 0xEA000000u);
    Out32(0xCF8, kCardConfigAddress & ~(1u << 8));  // function 0: absent
    CHECK_EQ(In32(0xCFC), 0xFFFFFFFFu);

    CHECK_EQ(SimTraceCount(), 6u);
    const SimTraceEvent first = Event(0), second = Event(1);
    CHECK_EQ(first.op, static_cast<std::uint32_t>(SIM_OP_PORT_WRITE));
    CHECK_EQ(first.width, 32u);
    CHECK_EQ(first.where, 0xCF8u);
    CHECK_EQ(first.value, kCardConfigAddress);
    CHECK_EQ(second.op, static_cast<std::uint32_t>(SIM_OP_PORT_READ));
    CHECK_EQ(second.where, 0xCFCu);
    CHECK_EQ(second.value, 0x200410CFu);
}

void EveryPortInstructionFormIsEmulated() {
    // I/O range 1 at port 0 so the immediate forms reach it; decoding on.
    SimSetBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, 0x0001u);
    SimSetCommand(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 3);
    Out16(0x10, 0xBEEF);
    Out8Immediate0x11(0x5A);
    std::uint32_t reg = 0;
    SimReadIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 0, 0x10, 16, &reg);
    CHECK_EQ(reg, 0x5AEFu);
    CHECK_EQ(In16KeepingHighHalf(0x10, 0x12340000u), 0x12345AEFu);
    CHECK_EQ(In8Immediate0x10KeepingUpperBytes(0xAABBCC00u), 0xAABBCCEFu);
    SimPortWrite(0x14, 32, 0xCAFEF00Du);
    CHECK_EQ(In32Immediate0x14(), 0xCAFEF00Du);
    CHECK_EQ(In32(0x300), 0xFFFFFFFFu);  // nobody decodes it

    const SimTraceEvent first = Event(0), second = Event(1);
    CHECK_EQ(first.width, 16u);
    CHECK_EQ(first.where, 0x10u);
    CHECK_EQ(first.value, 0xBEEFu);
    CHECK_EQ(second.width, 8u);
    CHECK_EQ(second.where, 0x11u);
    CHECK_EQ(second.value, 0x5Au);
}

}  // namespace

int main() {
    Run("the device path reaches the module and code 3 answers 0x2004", DevicePathReachesTheModule);
    Run("code 16 unlocks the real windows, guarded at the end", BaseRecordUnlocksTheRealWindows);
    Run("trapped configuration cycles read the card", TrappedConfigCyclesReadTheCard);
    Run("every port instruction form is emulated", EveryPortInstructionFormIsEmulated);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
