// vexotool's commands under Wine, in one process: the tool's code linked in, VexoDLL.dll and the
// simulated card (vexolite.vxd) beside this program, each case shaping the card through the
// module's Sim* functions and checking the tool's output, exit code and what reached the card.
//
//   vexotool_wine_test              every case, with the simulated card
//   vexotool_wine_test --no-driver  run where vexolite.vxd is absent: the missing-driver diagnosis
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VexoDLL.h"
#include "board_key_registry.h"
#include "tool_run.h"
#include "transfer.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

using board_key_registry::BoardKeyExists;
using board_key_registry::DeleteBoardKey;
using board_key_registry::ReadBoardKeyValue;
using board_key_registry::SetBoardKeyValue;
using tool_run::FirstLine;
using tool_run::Has;
using tool_run::Tool;
using tool_run::ToolRun;

// --- the simulated card ---------------------------------------------------------------------

struct Sim {
    SimResetBoardFn reset;
    SimRemoveAllFunctionsFn removeAllFunctions;
    SimGetBarFn getBar;
    SimSetDriverPresentFn setDriverPresent;
    SimSetDriverIdentityFn setDriverIdentity;
    SimSetFailingCodeFn setFailingCode;
    SimReadMemoryFn readMemory;
    SimWriteMemoryFn writeMemory;
    SimReadIoRegisterFn readIoRegister;
    SimTraceCountFn traceCount;
    SimGetTraceEventFn traceEvent;
    SimClearTraceFn clearTrace;
} sim;

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (*fn == nullptr) std::printf("vexolite.vxd lacks %s\n", name);
    return *fn != nullptr;
}

// Loads the module the device path will reach, so that both share one simulated card.
bool LoadSim() {
    const HMODULE module = LoadLibraryA("vexolite.vxd");
    if (module == nullptr) {
        std::printf("cannot load vexolite.vxd beside the program\n");
        return false;
    }
    return Resolve(module, "SimResetBoard", &sim.reset) &&
           Resolve(module, "SimRemoveAllFunctions", &sim.removeAllFunctions) &&
           Resolve(module, "SimGetBar", &sim.getBar) &&
           Resolve(module, "SimSetDriverPresent", &sim.setDriverPresent) &&
           Resolve(module, "SimSetDriverIdentity", &sim.setDriverIdentity) &&
           Resolve(module, "SimSetFailingCode", &sim.setFailingCode) &&
           Resolve(module, "SimReadMemory", &sim.readMemory) &&
           Resolve(module, "SimWriteMemory", &sim.writeMemory) &&
           Resolve(module, "SimReadIoRegister", &sim.readIoRegister) &&
           Resolve(module, "SimTraceCount", &sim.traceCount) &&
           Resolve(module, "SimGetTraceEvent", &sim.traceEvent) &&
           Resolve(module, "SimClearTrace", &sim.clearTrace);
}

int DriverRequests(std::uint32_t code) {
    int n = 0;
    SimTraceEvent event;
    for (std::uint32_t i = 0; i < sim.traceCount(); ++i) {
        if (sim.traceEvent(i, &event) && event.op == SIM_OP_DRIVER_REQUEST && event.where == code)
            ++n;
    }
    return n;
}

std::vector<std::uint8_t> ExtMem(std::uint32_t offset, std::uint32_t count) {
    std::vector<std::uint8_t> bytes(count);
    sim.readMemory(SIM_EXT_MEM, offset, bytes.data(), count);
    return bytes;
}

// --- the cases ------------------------------------------------------------------------------

void InfoWithoutRegistryKey() {
    DeleteBoardKey();
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "device id        0x2004"));
    EXPECT_TRUE(Has(run.out, "vendor id        0x10CF"));
    EXPECT_TRUE(Has(run.out, "PCI config       0x200410CF"));
    EXPECT_TRUE(Has(run.out, "external memory  0xE8000000  from card register BAR0"));
    EXPECT_TRUE(Has(run.out, "I/O range 1      0x0000D000  from card register BAR2"));
    EXPECT_EQ("", run.err);
}

void InfoWithRegistryKey() {
    SetBoardKeyValue("Io1BaseAddress", 0xC000);
    SetBoardKeyValue("IntMemBaseAddress", 0xE9000000u);
    const ToolRun run = Tool({"info"});
    DeleteBoardKey();
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "I/O range 1      0x0000C000  from registry Io1BaseAddress"));
    EXPECT_TRUE(Has(run.out, "internal memory  0xE9000000  from registry IntMemBaseAddress"));
    EXPECT_TRUE(Has(run.out, "I/O range 2      0x0000D400  from card register BAR3"));
    // The register holds the key's base, and its I/O space bit, which a write cannot clear.
    std::uint32_t bar2 = 0;
    EXPECT_TRUE(sim.getBar(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 2, &bar2) && bar2 == 0xC001);
}

// Through the real registry: a value the library cannot take is named for what is wrong with it,
// and a base that sends a set-up write into the PCI configuration ports is warned about.
void InfoSaysWhyAndWarns() {
    const char text[] = "E9000000";
    SetBoardKeyValue("IntMemBaseAddress", REG_SZ, text, sizeof text);
    SetBoardKeyValue("ExtMemBaseAddress", 0);
    SetBoardKeyValue("Io2BaseAddress", 0x0CE8);
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "from card register BAR1 (registry value is larger than 4 bytes)"));
    EXPECT_TRUE(Has(run.out, "from card register BAR0 (registry value is 0)"));
    EXPECT_TRUE(Has(run.out, "from card register BAR2 (no registry value)"));
    EXPECT_EQ(
        "vexotool: warning: with the I/O range 2 base at 0x0CE8, the set-up write at offset 0x10 "
        "goes to port 0x0CF8, into the PCI configuration ports 0xCF8-0xCFF\n",
        run.err);
}

// Configuration space through the library's port accesses, which the simulated driver serves.
void ConfigShowsTheCardsHeader() {
    const ToolRun run = Tool({"config"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(
        Has(run.out, "PCI configuration space at bus 2, device 5, function 1: VexoLite card\n"));
    EXPECT_TRUE(Has(run.out, "  command          0x0003  I/O+ Mem+ BusMaster-"));
    EXPECT_TRUE(Has(
        run.out, "  BAR0             0xE8000008  memory at 0xE8000000 (32-bit, prefetchable)\n"));
    EXPECT_TRUE(Has(run.out, "  BAR3             0x0000D401  I/O ports at 0xD400\n"));
    EXPECT_TRUE(Has(run.out, "00: cf 10 04 20 03 00 00 00"));
    EXPECT_TRUE(Has(run.out, "\nf0: "));
}

std::vector<std::uint8_t> FileBytes(const char* path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* file = std::fopen(path, "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

// Through Wine's file system, in binary mode: bytes 0x0A and 0x1A must come back as they went.
void SaveAndLoadThroughAFile() {
    std::vector<std::uint8_t> pattern(1026);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 13);
    pattern[0] = 0x0A;
    pattern[1] = 0x1A;
    sim.writeMemory(SIM_EXT_MEM, 0x100, pattern.data(), static_cast<std::uint32_t>(pattern.size()));
    ToolRun run = Tool({"save", "0x08000100", "1026", "saved.bin"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("save: 1026 bytes from 0x08000100 to saved.bin (8-bit elements)\n", run.out);
    EXPECT_TRUE(FileBytes("saved.bin") == pattern);

    run = Tool({"load", "0x08004000", "saved.bin", "--width", "16"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("load: 1026 bytes from saved.bin to 0x08004000 (16-bit elements)\n", run.out);
    EXPECT_TRUE(ExtMem(0x4000, 1026) == pattern);
    DeleteFileA("saved.bin");

    sim.clearTrace();
    run = Tool({"load", "0x08000000", "saved.bin"});
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("vexotool: cannot open 'saved.bin': No such file or directory\n", run.err);
    EXPECT_EQ(0, sim.traceCount());
}

// Windows replaces no file by moving another onto it: the old one goes only once the new one
// beside it is whole. A file another program holds stays as it was; a device is written as such.
void SaveReplacesAFileOnlyWhenItCan() {
    const std::vector<std::uint8_t> old(300, 0x77);
    std::FILE* file = std::fopen("kept.bin", "wb");
    ASSERT_TRUE(file != nullptr);
    std::fwrite(old.data(), 1, old.size(), file);
    std::fclose(file);
    sim.writeMemory(SIM_EXT_MEM, 0, "0123456789abcdef", 16);

    const HANDLE held =
        CreateFileA("kept.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ToolRun run = Tool({"save", "0x08000000", "16", "kept.bin"});
    CloseHandle(held);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(
        "vexotool: save: cannot replace 'kept.bin': the file is in use by another program; "
        "nothing was replaced\n",
        run.err);
    EXPECT_TRUE(FileBytes("kept.bin") == old);

    run = Tool({"save", "0x08000000", "16", "kept.bin"});
    EXPECT_EQ(0, run.status) << run.err;
    const std::vector<std::uint8_t> saved = FileBytes("kept.bin");
    EXPECT_TRUE(saved.size() == 16 && std::memcmp(saved.data(), "0123456789abcdef", 16) == 0);
    EXPECT_TRUE(GetFileAttributesA("kept.bin.new") == INVALID_FILE_ATTRIBUTES);
    DeleteFileA("kept.bin");

    run = Tool({"save", "0x08000000", "16", "NUL"});
    EXPECT_EQ(0, run.status) << run.err;
}

// The C runtime's long is 32 bits here: a time left past 2^31 seconds must not wrap.
void ProgressLineTimeLeftPast32Bits() {
    EXPECT_EQ("fill: 1/3000000001 elements (0%), 1/s, 833333h20m left",
              vexotool::FormatProgressLine("fill", 1, 3000000001ull, "elements", 1));
}

void WriteAndReadEachRegion() {
    ToolRun run = Tool({"write", "0x08000010", "0x11223344", "0xAABBCCDD", "--width", "32"});
    EXPECT_EQ(0, run.status) << run.err;
    const std::vector<std::uint8_t> expected = {0x44, 0x33, 0x22, 0x11, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_TRUE(ExtMem(0x10, 8) == expected);
    run = Tool({"read", "0x08000010", "2", "--width", "32"});
    EXPECT_EQ("08000010  11223344 AABBCCDD\n", run.out);

    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    sim.writeMemory(SIM_INT_MEM, 0xC0FC, bytes, 4);
    run = Tool({"read", "0xC0FC", "6"});
    EXPECT_EQ("0000C0FC  01 02 03 04 FF FF\n", run.out);

    run = Tool({"write", "0x10300", "0xBEEF", "--width", "16"});
    std::uint32_t port = 0;
    EXPECT_TRUE(sim.readIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, 1, 0x80, 16, &port) &&
                port == 0xBEEF);
}

void DumpShowsHexAndText() {
    sim.writeMemory(SIM_EXT_MEM, 0x20, "Hello, card!", 12);
    const ToolRun run = Tool({"dump", "0x08000020", "16"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("08000020  48 65 6C 6C 6F 2C 20 63  61 72 64 21 00 00 00 00  |Hello, card!....|\n",
              run.out);
}

void FillWritesExactlyTheCount() {
    const ToolRun run = Tool({"fill", "0x08000100", "100", "0x5A"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("fill: 100 8-bit elements at 0x08000100, each 0x5A\n", run.out);
    const std::vector<std::uint8_t> memory = ExtMem(0x100, 101);
    EXPECT_TRUE(memory[0] == 0x5A && memory[99] == 0x5A && memory[100] == 0);
}

void MapShowsThePorts() {
    const ToolRun run = Tool({"map"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "I/O range 1 at port 0xD000, I/O range 2 at port 0xD400"));
    EXPECT_TRUE(
        Has(run.out, "0x00010380-0x000103BF  I/O range 2              ports 0xD4C0-0xD4FF"));
}

void MemTestsPass() {
    ToolRun run = Tool({"memtest", "internal"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "memtest internal: PASS\n"));
    run = Tool({"memtest", "external"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "address lines A2-A23, 23 addresses from 0x08000000"));
    EXPECT_TRUE(Has(run.out, "memtest external: PASS\n"));
    run = Tool({"memtest", "external", "--range", "0x08000400", "256"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "every word    0x08000400-0x080004FF, 64 words"));
}

void ChainedCommandsOpenTheCardOnce() {
    const ToolRun run = Tool({"write", "0x8000", "7", "+", "read", "0x8000", "1"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(Has(run.out, "> vexotool read 0x8000 1\n00008000  07\n"));
    EXPECT_EQ(1, DriverRequests(3));
}

void BadUsageWritesNothing() {
    ToolRun run = Tool({"write", "0x8000", "5", "+", "read", "0x10400", "1"});
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ(
        "vexotool: address 0x10400 is outside the board address map (0x0-0x103FF, "
        "0x08000000-0x08FFFFFF)\n",
        run.err);
    run = Tool({"fill", "0x8000", "4", "0x1FF"});
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_EQ("vexotool: value 0x1FF does not fit in 8 bits\n", run.err);
    run = Tool({"read", "0x8002", "1", "--width", "32"});
    EXPECT_EQ(2, run.status) << run.err;
    run = Tool({"dump", "0x08FFFFF0", "32"});
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_EQ(0, sim.traceCount());
}

void Diagnose(void (*shape)(), const char* reason) {
    shape();
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ(std::string("vexotool: cannot open the card: ") + reason, FirstLine(run.err));
}

void WrongIdentity() {
    Diagnose([] { sim.setDriverIdentity(0x2005, 0x10CF); },
             "the driver reports device 0x2005, vendor 0x10CF, not the VexoLite card (device "
             "0x2004, vendor 0x10CF)");
}
void DriverRefusesEverything() {
    Diagnose([] { sim.setDriverPresent(0); },
             "the driver refuses to report its device identifier (control code 3)");
}
void NoCardOnTheBus() {
    Diagnose([] { sim.removeAllFunctions(); },
             "no card answers on the PCI bus (no function 1 with device 0x2004, vendor 0x10CF on "
             "buses 0-255, devices 0-31)");
}
void InternalWindowRefused() {
    Diagnose([] { sim.setFailingCode(6, 1); },
             "the driver refused the internal memory window (control code 6) (card at bus 2, "
             "device 5)");
}
void ExternalWindowRefused() {
    Diagnose([] { sim.setFailingCode(7, 1); },
             "the driver refused the external memory window (control code 7) (card at bus 2, "
             "device 5)");
}
void BasesRefused() {
    Diagnose([] { sim.setFailingCode(16, 1); },
             "the driver refused the card's base addresses (control code 16) (card at bus 2, "
             "device 5)");
}

void HelpNeedsNoCard() {
    sim.removeAllFunctions();
    const ToolRun run = Tool({"memtest", "--help"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(
        Has(run.out, "usage: vexotool memtest internal|external [--range ADDR LENGTH] [--full]"));
}

// Run where vexolite.vxd is absent: the device path cannot be opened.
void DriverMissing() {
    EXPECT_TRUE(GetFileAttributesA("vexolite.vxd") == INVALID_FILE_ATTRIBUTES);
    const ToolRun run = Tool({"dump", "0x8000", "16"});
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("vexotool: cannot open the card: the driver \\\\.\\VexoLite.vxd cannot be opened",
              FirstLine(run.err));
    EXPECT_EQ(-1, cVexoGetINTA());
    // Chained, still nothing on the output: not even the first command's heading.
    const ToolRun chained = Tool({"info", "+", "config"});
    EXPECT_EQ(1, chained.status);
    EXPECT_EQ("", chained.out);
}

// The key's class, as RegCreateKeyExA gave it.
std::string BoardKeyClass() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return "(no key)";
    }
    char keyClass[64] = {};
    DWORD size = sizeof keyClass;
    RegQueryInfoKeyA(key, keyClass, &size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return keyClass;
}

// The key written through advapi32 as the applet writes it, and read by the next opening.
void KeyWritesTheRegistryAsTheAppletDoes() {
    ToolRun run = Tool({"key", "set", "io1", "0xC8FF", "+", "info"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("VEXOLITE", BoardKeyClass());
    const auto io1 = ReadBoardKeyValue("Io1BaseAddress");
    EXPECT_TRUE(io1.IsDword() && io1.Dword() == 0xC800);
    EXPECT_FALSE(ReadBoardKeyValue("Io2BaseAddress").exists);
    EXPECT_TRUE(Has(run.out, "I/O range 1      0x0000C800  from registry Io1BaseAddress"));

    run = Tool({"key", "defaults"});
    EXPECT_EQ(0, run.status) << run.err;
    const DWORD defaults[4] = {0xE9000000u, 0xEA000000u, 0xC000, 0xC400};
    for (int i = 0; i < 4; ++i) {
        const auto value = ReadBoardKeyValue(vexo::board_key::kValueNames[i]);
        EXPECT_TRUE(value.IsDword() && value.Dword() == defaults[i]) << i;
    }
    EXPECT_TRUE(Has(run.out, "io2     Io2BaseAddress     0x0000C400  cVexoOpen programs BAR3"));

    run = Tool({"key", "clear"});
    EXPECT_EQ(0, run.status) << run.err;
    for (const char* name : vexo::board_key::kValueNames) {
        EXPECT_FALSE(ReadBoardKeyValue(name).exists) << name;
    }
    EXPECT_TRUE(Has(run.out,
                    "intmem  IntMemBaseAddress  -           cVexoOpen takes the base "
                    "from BAR1 (no registry value)"));
    DeleteBoardKey();
    EXPECT_EQ(0, Tool({"key", "clear"}).status);
    EXPECT_FALSE(BoardKeyExists());
}

const win_test::Case kCardCases[] = {
    {"info without the registry key", InfoWithoutRegistryKey},
    {"info with the registry key", InfoWithRegistryKey},
    {"info says why and warns", InfoSaysWhyAndWarns},
    {"key writes the registry as the applet does", KeyWritesTheRegistryAsTheAppletDoes},
    {"config shows the card's header", ConfigShowsTheCardsHeader},
    {"save and load through a file", SaveAndLoadThroughAFile},
    {"save replaces a file only when it can", SaveReplacesAFileOnlyWhenItCan},
    {"progress line: time left past 32 bits", ProgressLineTimeLeftPast32Bits},
    {"write and read each region", WriteAndReadEachRegion},
    {"dump shows hex and text", DumpShowsHexAndText},
    {"fill writes exactly the count", FillWritesExactlyTheCount},
    {"map shows the ports", MapShowsThePorts},
    {"memtests pass", MemTestsPass},
    {"chained commands open the card once", ChainedCommandsOpenTheCardOnce},
    {"bad usage writes nothing", BadUsageWritesNothing},
    {"diagnosis: wrong identity", WrongIdentity},
    {"diagnosis: driver refuses every request", DriverRefusesEverything},
    {"diagnosis: no card on the bus", NoCardOnTheBus},
    {"diagnosis: internal window refused", InternalWindowRefused},
    {"diagnosis: external window refused", ExternalWindowRefused},
    {"diagnosis: bases refused", BasesRefused},
    {"help needs no card", HelpNeedsNoCard},
};

// Every case starts from the card as reset, without the registry key and with an empty trace.
void ResetMachine() {
    sim.reset();
    DeleteBoardKey();
    sim.clearTrace();
}

}  // namespace

int main(int argc, char** argv) {
    win_test::ReportCrashes();
    if (argc > 1 && std::strcmp(argv[1], "--no-driver") == 0) {
        const win_test::Case missing[] = {{"diagnosis: driver missing", DriverMissing}};
        win_test::RunCases(missing);
        return win_test::Summary();
    }
    if (!LoadSim()) return 1;
    win_test::RunCases(kCardCases, ResetMachine);
    return win_test::Summary();
}
