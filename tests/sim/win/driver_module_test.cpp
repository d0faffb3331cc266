// Proves under Wine that vexolite.vxd stands in for the driver and the card: the device path
// reaches it, its control codes answer, trapped port instructions act on its card, and the trace
// shows what reached it. One process runs every case (each Wine process costs about a minute).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

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
    EXPECT_EQ(bar0, 0xEA000000u);
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

const win_test::Case kCases[] = {
    {"the device path reaches the module and code 3 answers 0x2004", DevicePathReachesTheModule},
    {"code 16 unlocks the real windows, guarded at the end", BaseRecordUnlocksTheRealWindows},
    {"trapped configuration cycles read the card", TrappedConfigCyclesReadTheCard},
    {"every port instruction form is emulated", EveryPortInstructionFormIsEmulated},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    win_test::RunCases(
        kCases, [] { SimResetBoard(); }, PrintTrace);
    return win_test::Summary();
}
