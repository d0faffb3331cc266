// One card for every process: programs that hold the card open at the same time see each other's
// register and memory writes at their next access, vexosim reaches a program that holds the card
// open, a program killed while it holds the card's bus leaves a card the next one opens, and a
// program that waits long for the bus says for whom. (reused_id_test.sh gives the killed
// program's id to another program, which takes a Wine server of its own.)
// The program opens the card through VexoDLL.dll as an application does; it also runs itself
// again as the second program (see main).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "VexoDLL.h"
#include "child_programs.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

using child_programs::RunProgram;
using child_programs::Started;

// Board addresses: the first register of I/O range 1 and the start of internal memory block 1.
constexpr std::uint32_t kRegister = 0x10020;
constexpr std::uint32_t kMemory = 0x8000;
// What each program writes for the other to see: its register, then its memory word.
constexpr std::uint8_t kPartnerRegister = 0xA5;
constexpr std::uint8_t kPartnerMemory[4] = {0x11, 0x22, 0x33, 0x44};
constexpr std::uint8_t kOwnRegister = 0x5A;
constexpr std::uint8_t kOwnMemory[4] = {0x55, 0x66, 0x77, 0x88};
// ms: how long a program waits for the other, which may first have to start (about a minute
// where Wine's 32-bit side is emulated by an older qemu).
constexpr DWORD kPatience = 180000;

constexpr char kPartnerRole[] = "--partner";
constexpr char kDyingRole[] = "--die-holding-the-bus";

std::string Self() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    return std::string("\"") + self + "\"";
}

std::uint8_t ReadByte(std::uint32_t address) {
    std::uint8_t value = 0;
    cVexoReadBlockByte(address, &value, 1);
    return value;
}

void WriteByte(std::uint32_t address, std::uint8_t value) {
    cVexoWriteBlockByte(address, &value, 1);
}

// Whether the register at `address` and the four bytes of memory at `memory` hold these values.
bool Holds(std::uint32_t address, std::uint8_t value, std::uint32_t memory,
           const std::uint8_t (&bytes)[4]) {
    std::uint8_t seen[4] = {};
    cVexoReadBlockByte(memory, seen, 4);
    return ReadByte(address) == value && std::memcmp(seen, bytes, 4) == 0;
}

// Polls, as a program waiting for a card would, until the values are there.
bool WaitUntilHeld(std::uint32_t address, std::uint8_t value, std::uint32_t memory,
                   const std::uint8_t (&bytes)[4]) {
    const DWORD begun = GetTickCount();
    while (!Holds(address, value, memory, bytes)) {
        if (GetTickCount() - begun > kPatience) return false;
        Sleep(1);
    }
    return true;
}

// The second program: writes its values while the first holds the card open, says so, and waits
// for the first program's answer on the same card.
int RunAsPartner() {
    if (cVexoOpen() != 1) return 3;
    WriteByte(kRegister, kPartnerRegister);
    cVexoWriteBlockByte(kMemory, kPartnerMemory, 4);
    std::printf("written\n");
    std::fflush(stdout);
    const bool seen = WaitUntilHeld(kRegister + 1, kOwnRegister, kMemory + 4, kOwnMemory);
    std::printf(seen ? "saw the other program's writes\n" : "never saw the other's writes\n");
    cVexoClose();
    return seen ? 0 : 1;
}

// Stops for good, inside the bus, the first time this process faults.
LONG CALLBACK StopForGood(PEXCEPTION_POINTERS) {
    std::printf("holding the bus as process %lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    Sleep(INFINITE);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A program that faults inside a control function, holding the card's bus, and hangs there
// until it is killed.
int RunAsDyingProgram() {
    AddVectoredExceptionHandler(1, StopForGood);
    const void* unreadable = reinterpret_cast<const void*>(16);
    SimWriteMemory(SIM_INT_MEM, 0, unreadable, 4);
    return 1;
}

void TwoProgramsSeeEachOthersWrites() {
    ASSERT_EQ(cVexoOpen(), 1);
    WriteByte(kRegister, 0);
    WriteByte(kRegister + 1, 0);
    const std::uint8_t zeros[8] = {};
    cVexoWriteBlockByte(kMemory, zeros, 8);
    Started partner = child_programs::Start(Self() + " " + kPartnerRole);
    ASSERT_TRUE(partner.Running()) << partner.collected;
    const bool seen = WaitUntilHeld(kRegister, kPartnerRegister, kMemory, kPartnerMemory);
    EXPECT_TRUE(seen) << "register " << win_test::Hex(ReadByte(kRegister)) << ", memory "
                      << win_test::Hex(ReadByte(kMemory));
    WriteByte(kRegister + 1, kOwnRegister);
    cVexoWriteBlockByte(kMemory + 4, kOwnMemory, 4);
    const DWORD partnerExit = child_programs::Finish(&partner);
    EXPECT_EQ(partnerExit, 0u) << partner.collected;
    // Each write is where its program put it: none was written back over another.
    EXPECT_TRUE(Holds(kRegister, kPartnerRegister, kMemory, kPartnerMemory));
    EXPECT_TRUE(Holds(kRegister + 1, kOwnRegister, kMemory + 4, kOwnMemory));
    cVexoClose();
}

void VexosimReachesAProgramThatHoldsTheCard() {
    ASSERT_EQ(cVexoOpen(), 1);
    WriteByte(kRegister, 0x3C);
    WriteByte(kMemory, 0x77);
    EXPECT_EQ(RunProgram("vexosim.exe remove").exitCode, 0u);
    EXPECT_EQ(ReadByte(kRegister), 0xFFu) << "nothing answers where the card was";
    EXPECT_EQ(RunProgram("vexosim.exe insert").exitCode, 0u);
    EXPECT_EQ(ReadByte(kRegister), 0x3Cu) << "the card is back as it was";
    EXPECT_EQ(RunProgram("vexosim.exe reset").exitCode, 0u);
    EXPECT_EQ(ReadByte(kMemory), 0x00u) << "memories zeroed";
    EXPECT_EQ(ReadByte(kRegister), 0xFFu) << "the card decodes nothing after power-on";
    cVexoClose();
    ASSERT_EQ(cVexoOpen(), 1);
    EXPECT_EQ(ReadByte(kRegister), 0x00u);
    cVexoClose();
}

DWORD WINAPI ReadCardMemory(LPVOID) {
    std::uint8_t byte = 0;
    return SimReadMemory(SIM_INT_MEM, 0, &byte, 1) ? 0 : 1;
}

void AKilledHolderLeavesACardTheNextProgramOpens() {
    Started dying = child_programs::Start(Self() + " " + kDyingRole);
    ASSERT_TRUE(dying.Running()) << dying.collected;
    const bool holding = child_programs::WaitForOutput(&dying, "holding the bus", kPatience);
    EXPECT_TRUE(holding) << dying.collected;
    HANDLE reader = CreateThread(nullptr, 0, ReadCardMemory, nullptr, 0, nullptr);
    ASSERT_TRUE(reader != nullptr);
    if (holding) {
        EXPECT_EQ(WaitForSingleObject(reader, 300), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the card's bus was not held by the other program";
    }
    TerminateProcess(dying.process, 9);
    child_programs::Finish(&dying);
    EXPECT_EQ(WaitForSingleObject(reader, kPatience), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the lock of the killed program was never taken over";
    CloseHandle(reader);
    const child_programs::Run next = RunProgram("vexotool.exe write 0x8000 0x42 + read 0x8000 1");
    EXPECT_EQ(next.exitCode, 0u) << next.output;
    EXPECT_TRUE(next.output.find("00008000  42") != std::string::npos) << next.output;
}

// Starts a program that holds the card's bus until it is ended; its process id.
DWORD StartHoldingTheBus(Started* holder) {
    *holder = child_programs::Start(Self() + " " + kDyingRole);
    if (!holder->Running()) return 0;
    return child_programs::WaitForOutput(holder, "holding the bus", kPatience) ? holder->id : 0;
}

void Kill(Started* program) {
    if (program->Running()) TerminateProcess(program->process, 9);
    child_programs::Finish(program);
}

// A program stopped while it holds the bus: the one waiting says once which program it waits
// for, and goes on waiting until the holder ends.
void AWaiterSaysWhichProgramHoldsTheCard() {
    Started holder;
    const DWORD holderId = StartHoldingTheBus(&holder);
    ASSERT_TRUE(holderId != 0) << holder.collected;
    Started waiter = child_programs::Start("vexotool.exe write 0x8000 0x24 + read 0x8000 1");
    const std::string named = "waiting for the card, which sim_shared_card_test.exe (process " +
                              std::to_string(holderId) + ") has held for 5 s";
    EXPECT_TRUE(child_programs::WaitForOutput(&waiter, named.c_str(), kPatience))
        << waiter.collected;
    EXPECT_EQ(WaitForSingleObject(waiter.process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the waiter gave up: " << waiter.collected;
    Kill(&holder);
    EXPECT_TRUE(child_programs::EndsWithin(&waiter, kPatience));
    const DWORD waiterExit = child_programs::Finish(&waiter);
    EXPECT_EQ(waiterExit, 0u) << waiter.collected;
    EXPECT_TRUE(waiter.collected.find("00008000  24") != std::string::npos) << waiter.collected;
    std::size_t told = 0;
    for (std::size_t at = waiter.collected.find("waiting for the card"); at != std::string::npos;
         at = waiter.collected.find("waiting for the card", at + 1)) {
        ++told;
    }
    EXPECT_EQ(told, 1u) << waiter.collected;
}

const win_test::Case kCases[] = {
    {"two programs at once see each other's register and memory writes",
     TwoProgramsSeeEachOthersWrites},
    {"vexosim remove, insert and reset reach a program that holds the card open",
     VexosimReachesAProgramThatHoldsTheCard},
    {"a program killed holding the card's bus leaves a card the next program opens",
     AKilledHolderLeavesACardTheNextProgramOpens},
    {"a program that waits 5 s for the card's bus names the holder once and goes on waiting",
     AWaiterSaysWhichProgramHoldsTheCard},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kPartnerRole) == 0) return RunAsPartner();
    if (argc > 1 && std::strcmp(argv[1], kDyingRole) == 0) return RunAsDyingProgram();
    win_test::ReportCrashes();
    win_test::RunCases(kCases, [] { SimResetBoard(); });
    return win_test::Summary();
}
