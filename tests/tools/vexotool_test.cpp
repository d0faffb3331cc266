// vexotool's commands on the simulated card: output, exit codes, what reaches the card, the
// diagnoses when the card cannot be opened, and the memory test's reports on faulty memory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "VexoDLL.h"
#include "host_machine.h"
#include "memtest.h"
#include "tool_run.h"
#include "transfer.h"
#include "vexotool_commands.h"

namespace {

using vexo::sim::Op;

using tool_run::FirstLine;
using tool_run::Has;
using tool_run::Missing;
using tool_run::ReadBack;
using tool_run::Tool;
using tool_run::ToolRun;

int CountOps(const vexo::sim::Board& board, Op op) {
    int n = 0;
    for (const auto& e : board.trace) n += e.op == op ? 1 : 0;
    return n;
}

class OnCard : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.SetRegistryBases(0xE9000000u, 0xEA000000u, 0, 0xC400);
        vexotool::ClearStopRequest();
    }
    void TearDown() override { EXPECT_EQ(cVexoClose(), 0) << "the tool left the card open"; }

    std::uint8_t* Ext(std::uint32_t offset) { return machine.board.extMem + offset; }
    std::uint8_t* Int(std::uint32_t offset) { return machine.board.intMem + offset; }

    vexo::sim::HostMachine machine;
};

TEST_F(OnCard, InfoReportsIdentityAndWhereEachBaseCameFrom) {
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out, "device id        0x2004"));
    EXPECT_TRUE(Has(run.out, "vendor id        0x10CF"));
    EXPECT_TRUE(Has(run.out, "driver info      0x00010203"));
    EXPECT_TRUE(Has(run.out, "PCI config       0x200410CF"));
    EXPECT_TRUE(Has(run.out, "internal memory  0xE9000000  from registry IntMemBaseAddress"));
    EXPECT_TRUE(Has(run.out, "external memory  0xEA000000  from registry ExtMemBaseAddress"));
    // Io1BaseAddress is 0: the card's BAR2 (0xD001) gives the base, flag bit cleared.
    EXPECT_TRUE(Has(run.out, "I/O range 1      0x0000D000  from card register BAR2"));
    EXPECT_TRUE(Has(run.out, "I/O range 2      0x0000C400  from registry Io2BaseAddress"));
    EXPECT_EQ(run.err, "");
}

TEST_F(OnCard, WriteThenReadEachWidthInEveryKindOfRegion) {
    ToolRun run = Tool({"write", "0x08000010", "0x11223344", "0xAABBCCDD", "--width", "32"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "write: 2 32-bit elements at 0x08000010\n");
    const std::uint8_t expected[] = {0x44, 0x33, 0x22, 0x11, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_EQ(std::memcmp(Ext(0x10), expected, sizeof expected), 0);

    run = Tool({"read", "0x08000010", "2", "--width", "32"});
    EXPECT_EQ(run.out, "08000010  11223344 AABBCCDD\n");

    run = Tool({"write", "0x8002", "0xBEEF", "--width", "16"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Int(0x8002)[0], 0xEF);
    EXPECT_EQ(Int(0x8002)[1], 0xBE);
    run = Tool({"read", "0x8000", "2", "--width", "16"});
    EXPECT_EQ(run.out, "00008000  0000 BEEF\n");

    // I/O range 2 port 0x81 is board address 0x10301; 8-bit by default.
    run = Tool({"write", "0x10301", "0x5A"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(machine.Card().io[1][0x81], 0x5A);
    run = Tool({"read", "0x10300", "3"});
    EXPECT_EQ(run.out, "00010300  00 5A 00\n");
}

TEST_F(OnCard, ReadPrintsSixteenBytesALineAndAllOnesWhereNothingIsMapped) {
    for (int i = 0; i < 20; ++i) Int(0x00F0)[i] = static_cast<std::uint8_t>(i);
    const ToolRun run = Tool({"read", "0xF8", "10", "--width", "16"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "000000F8  0908 0B0A 0D0C 0F0E FFFF FFFF FFFF FFFF\n"
              "00000108  FFFF FFFF\n");
}

TEST_F(OnCard, DumpShowsHexAndText) {
    std::memcpy(Ext(0x20), "Hello, card!\x01\xFF", 14);
    const ToolRun run = Tool({"dump", "0x08000020", "20"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "08000020  48 65 6C 6C 6F 2C 20 63  61 72 64 21 01 FF 00 00  |Hello, card!....|\n"
              "08000030  00 00 00 00                                       |....|\n");
}

TEST_F(OnCard, FillWritesExactlyTheElementsAsked) {
    const ToolRun run = Tool({"fill", "0x08000100", "300", "0xA5"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "fill: 300 8-bit elements at 0x08000100, each 0xA5\n");
    EXPECT_EQ(Ext(0x100)[0], 0xA5);
    EXPECT_EQ(Ext(0x100)[299], 0xA5);
    EXPECT_EQ(Ext(0x100)[300], 0x00);
    EXPECT_EQ(Ext(0x0FF)[0], 0x00);
}

TEST_F(OnCard, MapShowsThisCardsPorts) {
    const ToolRun run = Tool({"map"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out, "I/O range 1 at port 0xD000, I/O range 2 at port 0xC400"));
    EXPECT_TRUE(
        Has(run.out, "0x00010080-0x000100BF  I/O range 1              ports 0xD040-0xD07F"));
    EXPECT_TRUE(
        Has(run.out, "0x00010300-0x0001033F  I/O range 2              ports 0xC480-0xC4BF"));
    EXPECT_TRUE(Has(run.out,
                    "0x0000C000-0x0000C0FF  internal memory block 2  internal window "
                    "0x00C000-0x00C0FF"));
    EXPECT_TRUE(Has(run.out, "external window 0x000000-0xFFFFFF"));
}

TEST_F(OnCard, MemTestsPassOnSoundMemory) {
    ToolRun run = Tool({"memtest", "internal"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "every word    0x0000C000-0x0000C0FF, 64 words"));
    EXPECT_TRUE(Has(run.out, "memtest internal: PASS\n"));

    run = Tool({"memtest", "external"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "address lines A2-A23, 23 addresses from 0x08000000"));
    // The quick test leaves its mark at the highest power-of-two offset.
    EXPECT_EQ(Ext(0x800000)[3], 0x08);

    run = Tool({"memtest", "external", "--range", "0x08001000", "256"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "every word    0x08001000-0x080010FF, 64 words"));
    EXPECT_EQ(Ext(0x1100)[0], 0x00) << "wrote past the range";
}

TEST_F(OnCard, ChainedCommandsShareOneOpening) {
    const ToolRun run = Tool({"write", "0x8000", "7", "+", "read", "0x8000", "1", "+", "map"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out,
                    "> vexotool write 0x8000 7\nwrite: 1 8-bit element at 0x00008000\n"
                    "\n> vexotool read 0x8000 1\n00008000  07\n"));
    EXPECT_EQ(CountOps(machine.board, Op::DriverOpen), 1);
}

TEST_F(OnCard, ChainThatCannotOpenTheCardPrintsNothingOnTheOutput) {
    machine.board.driver.present = false;
    const ToolRun run = Tool({"help", "+", "info", "+", "write", "0x8000", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FirstLine(run.err),
              "vexotool: cannot open the card: the driver \\\\.\\VexoLite.vxd cannot be opened");
    EXPECT_EQ(CountOps(machine.board, Op::WindowStore), 0);
}

// A dump into a full disk is no success, and the commands after it do not run.
TEST_F(OnCard, OutputThatCannotBeWrittenFailsTheLine) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::FILE* err = std::tmpfile();
    const int status =
        tool_run::RunTool({"dump", "0x08000000", "4096", "+", "write", "0x8000", "7"}, full, err);
    std::fclose(full);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadBack(err), "vexotool: cannot write the output: No space left on device\n");
    EXPECT_EQ(Int(0x8000)[0], 0x00) << "the command after the failed one ran";
}

TEST_F(OnCard, InfoSaysWhyARegistryValueWasNotUsed) {
    machine.registry.SetString(vexo::board_key::kIntMemBase, "E9000000");
    machine.registry.SetDword(vexo::board_key::kExtMemBase, 0);
    machine.registry.values.erase(vexo::board_key::kIo1Base);
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Missing(run.out,
                      {"internal memory  0xE9800000  from card register BAR1 (registry value is "
                       "larger than 4 bytes)",
                       "external memory  0xE8000000  from card register BAR0 (registry value is 0)",
                       "I/O range 1      0x0000D000  from card register BAR2 (no registry value)",
                       "I/O range 2      0x0000C400  from registry Io2BaseAddress"}),
              "")
        << run.out;

    machine.registry = {};
    EXPECT_TRUE(Has(Tool({"info"}).out, "from card register BAR3 (no board configuration key)"));
}

TEST_F(OnCard, InfoWarnsAboutIoBasesThatCannotBeRight) {
    // I/O range 2 at 0xCE8: the set-up write at offset 0x10 lands on the configuration address
    // port.
    machine.SetRegistryBases(0, 0, 0xFFFFFFFFu, 0x0CE8);
    const ToolRun run = Tool({"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "vexotool: warning: the I/O range 1 base is 0xFFFFFFFF, all ones: what a register "
              "reads that nothing answers, not a port\n"
              "vexotool: warning: with the I/O range 2 base at 0x0CE8, the set-up write at offset "
              "0x10 goes to port 0x0CF8, into the PCI configuration ports 0xCF8-0xCFF\n");

    // A 32-bit write that straddles into the ports counts too: 0xC36 + 0xC4 = 0xCFA.
    machine.SetRegistryBases(0, 0, 0x0C36, 0xC400);
    EXPECT_TRUE(Has(Tool({"info"}).err,
                    "I/O range 1 base at 0x0C36, the set-up write at offset "
                    "0xC4 goes to port 0x0CFA"));
    machine.SetRegistryBases(0, 0, 0xC000, 0xC400);
    EXPECT_EQ(Tool({"info"}).err, "");
}

TEST_F(OnCard, ConfigDecodesTheHeaderAndDumpsAllOfIt) {
    machine.registry = {};  // the card's power-on bases
    vexo::sim::PciFunction& card = machine.Card();
    card.plainRegisters[0x08 / 4] = 0x11800003u;  // data acquisition controller, revision 3
    card.plainRegisters[0x2C / 4] = 0x000110CFu;  // subsystem
    card.plainRegisters[0x3C / 4] = 0x0000010Bu;  // pin A, line 11
    card.bars[4] = 0xF000000Cu;                   // 64-bit prefetchable memory above 4 GiB
    card.bars[5] = 0x00000001u;
    const ToolRun run = Tool({"config"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* line :
         {"PCI configuration space at bus 2, device 5, function 1: VexoLite card\n",
          "  vendor id        0x10CF\n  device id        0x2004\n",
          "  command          0x0003  I/O+ Mem+ BusMaster- SpecCycle- MemWINV- VGASnoop- "
          "ParErr- Stepping- SERR- FastB2B- DisINTx-\n",
          "DEVSEL=fast\n", "  revision         0x03\n",
          "  class code       0x118000  (base class 0x11, subclass 0x80, programming "
          "interface 0x00)\n",
          "  header type      0x00  (device layout, single function)\n",
          "  BAR0             0xE8000008  memory at 0xE8000000 (32-bit, prefetchable)\n",
          "  BAR1             0xE9800000  memory at 0xE9800000 (32-bit, non-prefetchable)\n",
          "  BAR2             0x0000D001  I/O ports at 0xD000\n",
          "  BAR3             0x0000D401  I/O ports at 0xD400\n",
          "  BAR4             0xF000000C  memory at 0x00000001F0000000 (64-bit, prefetchable)\n",
          "  BAR5             0x00000001  upper half of BAR4\n",
          "  subsystem        vendor 0x10CF, device 0x0001\n",
          "  expansion ROM    0x00000000  unused\n", "  interrupt        pin A routed to IRQ 11\n",
          "00: cf 10 04 20 03 00 00 00 03 00 80 11 00 00 00 00\n"
          "10: 08 00 00 e8 00 00 80 e9 01 d0 00 00 01 d4 00 00\n"
          "20: 0c 00 00 f0 01 00 00 00 00 00 00 00 cf 10 01 00\n"
          "30: 00 00 00 00 00 00 00 00 00 00 00 00 0b 01 00 00\n",
          "f0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"}) {
        EXPECT_TRUE(Has(run.out, line)) << line << "\n" << run.out;
    }
}

TEST_F(OnCard, CtrlCStopsLongWorkAndSaysHowFarItGot) {
    vexotool::RequestStop();
    const ToolRun run = Tool({"fill", "0x08000000", "1000", "0xFF"});
    vexotool::ClearStopRequest();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "vexotool: fill stopped by Ctrl+C after 0 of 1000 elements (next 0x08000000)\n");
    EXPECT_EQ(Ext(0)[0], 0x00);
}

// --- save and load ---------------------------------------------------------------------------

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

class SaveLoad : public OnCard {
  protected:
    void TearDown() override {
        std::remove(file.c_str());
        OnCard::TearDown();
    }
    // One file per test: ctest runs the tests side by side.
    const std::string file =
        TempPath((std::string("vexotool_") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin")
                     .c_str());
};

TEST_F(SaveLoad, RoundTripInWordsWhenAlignedAndInBytesOtherwise) {
    const std::vector<std::uint8_t> pattern = Pattern(1000);
    std::memcpy(Ext(0x1000), pattern.data(), pattern.size());
    ToolRun run = Tool({"save", "0x08001000", "1000", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "save: 1000 bytes from 0x08001000 to " + file + " (32-bit elements)\n");
    EXPECT_EQ(FileBytes(file), pattern);

    run = Tool({"load", "0x08002000", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "load: 1000 bytes from " + file + " to 0x08002000 (32-bit elements)\n");
    EXPECT_EQ(std::memcmp(Ext(0x2000), pattern.data(), pattern.size()), 0);
    EXPECT_EQ(Ext(0x2000)[1000], 0x00) << "wrote past the file's length";

    std::memcpy(Int(0xC001), pattern.data(), 5);
    run = Tool({"save", "0xC001", "5", file});
    EXPECT_EQ(run.out, "save: 5 bytes from 0x0000C001 to " + file + " (8-bit elements)\n");
    run = Tool({"load", "0x8003", file});
    EXPECT_EQ(run.out, "load: 5 bytes from " + file + " to 0x00008003 (8-bit elements)\n");
    EXPECT_EQ(std::memcmp(Int(0x8003), pattern.data(), 5), 0);

    // Each command sees what the ones before it did: a load chained after a save into its file
    // writes what the save wrote. The file was sized with the line, so a save of another length
    // makes the load write nothing.
    Int(0xC001)[0] = 0xAB;
    run = Tool({"save", "0xC001", "5", file, "+", "load", "0x8000", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Int(0x8000)[0], 0xAB);
    Int(0x8000)[0] = 0x00;
    run = Tool({"save", "0xC001", "4", file, "+", "load", "0x8000", file});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vexotool: load: '" + file +
                           "' no longer holds the 5 bytes it held when the command line was "
                           "checked; nothing was written\n");
    EXPECT_EQ(Int(0x8000)[0], 0x00);

    run = Tool({"save", "0x10300", "4", file, "--width", "16"});
    EXPECT_EQ(run.out, "save: 4 bytes from 0x00010300 to " + file + " (16-bit elements)\n");
}

TEST_F(SaveLoad, FilesThatCannotBeLoadedAreRefusedBeforeAnythingRuns) {
    const struct {
        std::vector<std::uint8_t> contents;
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, {"load", "0x8000", file}, "'" + file + "' is empty: there is nothing to load"},
        {Pattern(257),
         {"load", "0x10300", file},
         "257 bytes from 0x10300 run past 0x103FF, the end of the internal memory and I/O area"},
        {Pattern(6),
         {"load", "0x8000", file, "--width", "32"},
         "'" + file + "' of 6 bytes is not a whole number of 32-bit elements"},
    };
    for (const auto& c : cases) {
        WriteFile(file, c.contents);
        std::vector<std::string> args = {"write", "0x8000", "1", "+"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = Tool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vexotool: " + c.message + "\n");
    }
    const std::string missing = TempPath("no such folder/none.bin");
    const ToolRun run = Tool({"load", "0x8000", missing});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vexotool: cannot open '" + missing + "': No such file or directory\n");
    EXPECT_TRUE(machine.board.trace.empty()) << "the card was opened";
}

TEST_F(SaveLoad, StoppedOrFailedWorkLeavesFileAndMemoryAsTheyWere) {
    WriteFile(file, {1, 2, 3, 4});
    vexotool::RequestStop();
    ToolRun run = Tool({"save", "0x08000000", "4096", file});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "vexotool: save stopped by Ctrl+C after 0 of 1024 elements (next 0x08000000)\n");
    EXPECT_EQ(FileBytes(file), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    run = Tool({"load", "0x08000000", file});
    vexotool::ClearStopRequest();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "vexotool: load stopped by Ctrl+C after 0 of 1 elements (next 0x08000000)\n");
    EXPECT_EQ(Ext(0)[0], 0x00);

    const std::string unwritable = TempPath("no such folder/saved.bin");
    run = Tool({"save", "0x8000", "16", unwritable});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "vexotool: save: cannot create '" + unwritable + "': No such file or directory\n");
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

// A save's file is replaced only once the new one is whole: a write that fails (here at a file
// size limit, as at a full disk) says why and leaves the old file as it was, nothing beside it.
TEST_F(SaveLoad, FileIsReplacedOnlyOnceTheNewOneIsWhole) {
    WriteFile(file, Pattern(40));
    rlimit unlimited = {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const rlimit small = {8192, unlimited.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ToolRun run = Tool({"save", "0x08000000", "0x20000", file});
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vexotool: save: cannot write '" + file +
                           "': File too large; nothing was replaced\n");
    EXPECT_EQ(FileBytes(file), Pattern(40));
    EXPECT_FALSE(Exists(file + ".new"));

    // Someone else's FILE.new is left alone.
    WriteFile(file + ".new", {9});
    std::memcpy(Ext(0), Pattern(16).data(), 16);
    run = Tool({"save", "0x08000000", "16", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FileBytes(file), Pattern(16));
    EXPECT_EQ(FileBytes(file + ".new"), std::vector<std::uint8_t>{9});
    EXPECT_FALSE(Exists(file + ".new1"));
    std::remove((file + ".new").c_str());
}

TEST(ProgressLine, ALongLabelIsCutAtTheLinesBuffer) {
    const std::string line =
        vexotool::FormatProgressLine(std::string(300, 'x'), 1, 2, "elements", 1);
    EXPECT_EQ(line.substr(0, 159), std::string(159, 'x'));
    EXPECT_LT(line.size(), 2u * 160);
}

TEST(ProgressLine, TimeLeftBeyondWhat32BitsOfSecondsHold) {
    // A stall: one element in a million seconds, 2^64 to go, more than even 64 bits hold.
    const std::string stalled = vexotool::FormatProgressLine("fill", 1, ~0ull, "elements", 1e6);
    EXPECT_TRUE(Has(stalled, ", 0/s, 2500000000000000h00m left")) << stalled;
    EXPECT_EQ(vexotool::FormatProgressLine("fill", 1, 3000000001ull, "elements", 1),
              "fill: 1/3000000001 elements (0%), 1/s, 833333h20m left");
}

TEST(ProgressLine, ShowsDoneTotalRateAndTimeLeft) {
    EXPECT_EQ(vexotool::FormatProgressLine("fill", 0, 1000, "elements", 0),
              "fill: 0/1000 elements (0%)");
    EXPECT_EQ(vexotool::FormatProgressLine("fill", 250, 1000, "elements", 5),
              "fill: 250/1000 elements (25%), 50/s, 15s left");
    EXPECT_EQ(vexotool::FormatProgressLine("memtest external", 1000, 400000, "word accesses", 10),
              "memtest external: 1000/400000 word accesses (0%), 100/s, 1h06m left");
}

// --- bad usage ------------------------------------------------------------------------------

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

class BadUsage : public OnCard, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(BadUsage, OneLineExitTwoAndNothingReachesTheCard) {
    const ToolRun run = Tool(GetParam().args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("vexotool: ") + GetParam().message + "\n");
    EXPECT_TRUE(machine.board.trace.empty()) << "the card was opened";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadUsage,
    ::testing::Values(
        UsageCase{{}, "no command (vexotool --help lists them)"},
        UsageCase{{"frob"}, "unknown command 'frob' (vexotool --help lists them)"},
        UsageCase{{"read", "0x8000"}, "usage: vexotool read ADDR COUNT [--width 8|16|32]"},
        UsageCase{{"read", "0x80G0", "1"},
                  "'0x80G0' is not a number (write decimal, or hex after 0x)"},
        UsageCase{{"read", "0x", "1"}, "'0x' is not a number (write decimal, or hex after 0x)"},
        UsageCase{{"write", "0x8000", "-1"},
                  "'-1' is not a number (write decimal, or hex after 0x)"},
        UsageCase{{"read", "0x100000000", "1"},
                  "'0x100000000' is not a number (write decimal, or hex after 0x)"},
        UsageCase{{"read", "0x10400", "1"},
                  "address 0x10400 is outside the board address map (0x0-0x103FF, "
                  "0x08000000-0x08FFFFFF)"},
        UsageCase{{"dump", "0x09000000", "16"},
                  "address 0x09000000 is outside the board address map (0x0-0x103FF, "
                  "0x08000000-0x08FFFFFF)"},
        UsageCase{{"read", "0x08FFFFFC", "2", "--width", "32"},
                  "2 elements of 32 bits from 0x08FFFFFC run past 0x08FFFFFF, the end of the "
                  "external memory"},
        UsageCase{{"write", "0x103FF", "1", "2"},
                  "2 bytes from 0x103FF run past 0x103FF, the end of the internal memory and "
                  "I/O area"},
        UsageCase{{"fill", "0x08000000", "0x1000001", "0"},
                  "16777217 bytes from 0x08000000 run past 0x08FFFFFF, the end of the external "
                  "memory"},
        UsageCase{{"read", "0x8001", "1", "--width", "16"},
                  "a 16-bit element cannot start at 0x8001 (use a multiple of 2)"},
        UsageCase{{"write", "0x10002", "5", "--width", "32"},
                  "a 32-bit element cannot start at 0x10002 (use a multiple of 4)"},
        UsageCase{{"read", "0x8000", "0"}, "the count must be at least 1"},
        UsageCase{{"read", "0x8000", "1", "--width", "12"}, "--width takes 8, 16 or 32, not '12'"},
        UsageCase{{"read", "0x8000", "1", "--width"}, "--width needs 1 value"},
        UsageCase{{"write", "0x8000", "0x100"}, "value 0x100 does not fit in 8 bits"},
        UsageCase{{"fill", "0x8000", "2", "0x10000", "--width", "16"},
                  "value 0x10000 does not fit in 16 bits"},
        UsageCase{{"dump", "0x8000", "16", "--width", "32"}, "dump has no option --width"},
        UsageCase{{"memtest", "flash"},
                  "memtest tests 'internal' or 'external' memory, not 'flash'"},
        UsageCase{{"memtest", "internal", "--range", "0x80F0", "32"},
                  "--range 0x80F0 32 is not inside one internal memory block (0x0-0xFF, "
                  "0x8000-0x80FF, 0xC000-0xC0FF)"},
        UsageCase{{"memtest", "external", "--range", "0x8000", "16"},
                  "--range 0x8000 16 is not inside external memory (0x08000000-0x08FFFFFF)"},
        UsageCase{{"memtest", "external", "--range", "0x08000002", "16"},
                  "--range takes an address and a length that are multiples of 4"},
        UsageCase{{"info", "+"}, "an empty command next to '+'"},
        // Options are taken only by the commands they mean something to, and only once.
        UsageCase{{"info", "--width", "banana"}, "info has no option --width"},
        UsageCase{{"map", "--width", "8"}, "map has no option --width"},
        UsageCase{{"config", "--full"}, "config has no option --full"},
        UsageCase{{"read", "0x8000", "1", "--width", ""}, "--width takes 8, 16 or 32, not ''"},
        UsageCase{{"read", "0x8000", "1", "--width", "8", "--width", "16"},
                  "--width is given twice"},
        UsageCase{
            {"memtest", "external", "--range", "0x08000000", "16", "--range", "0x08001000", "16"},
            "--range is given twice"},
        UsageCase{{"--version", "now"}, "usage: vexotool --version"},
        // The number of arguments is the one the usage line shows.
        UsageCase{{"write", "0x8000"}, "usage: vexotool write ADDR VALUE... [--width 8|16|32]"},
        UsageCase{{"fill", "0x8000", "2"},
                  "usage: vexotool fill ADDR COUNT VALUE [--width 8|16|32]"},
        UsageCase{{"info", "now"}, "usage: vexotool info"},
        UsageCase{{"memtest"},
                  "usage: vexotool memtest internal|external [--range ADDR LENGTH] [--full]"},
        UsageCase{{"key", "set", "intmem"},
                  "usage: vexotool key [set NAME VALUE | defaults | clear]"},
        UsageCase{{"help", "read", "write"}, "usage: vexotool help [COMMAND]"},
        UsageCase{{"help", "--version"}, "no command '--version' (vexotool --help lists them)"},
        UsageCase{{"save", "0x8000", "0", "saved.bin"}, "the length must be at least 1"},
        UsageCase{{"save", "0x8000", "16"},
                  "usage: vexotool save ADDR LENGTH FILE [--width 8|16|32]"},
        UsageCase{{"save", "0x08FFFFF0", "32", "saved.bin"},
                  "32 bytes from 0x08FFFFF0 run past 0x08FFFFFF, the end of the external memory"},
        UsageCase{{"save", "0x8000", "6", "saved.bin", "--width", "32"},
                  "a length of 6 bytes is not a whole number of 32-bit elements"},
        UsageCase{{"save", "0x8002", "8", "saved.bin", "--width", "32"},
                  "a 32-bit element cannot start at 0x8002 (use a multiple of 4)"},
        // A mistake late on the line keeps the earlier commands from running.
        UsageCase{{"write", "0x8000", "5", "+", "read", "0x10400", "1"},
                  "address 0x10400 is outside the board address map (0x0-0x103FF, "
                  "0x08000000-0x08FFFFFF)"}));

TEST(Help, OverviewListsEveryCommandAndEachCommandHasItsOwn) {
    ToolRun run = Tool({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"info", "map", "read ADDR COUNT", "write ADDR VALUE...",
                                "dump ADDR LENGTH", "fill ADDR COUNT VALUE", "memtest"}) {
        EXPECT_TRUE(Has(run.out, std::string("  ") + command)) << command;
    }
    run = Tool({"fill", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Has(run.out, "usage: vexotool fill ADDR COUNT VALUE [--width 8|16|32]\n"));
    run = Tool({"help", "memtest"});
    EXPECT_TRUE(Has(run.out, "--range ADDR LENGTH"));
}

TEST(Help, KeyHelpNamesTheAppletsAlignmentAndDefaults) {
    const ToolRun run = Tool({"help", "key"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Has(run.out, "NAME is intmem,\n                   extmem, io1 or io2."));
    EXPECT_TRUE(Has(run.out,
                    "a memory base to a multiple of 0x01000000, an I/O base to\n"
                    "                   a multiple of 0x100 (bits 8-15 only);"))
        << run.out;
    EXPECT_TRUE(Has(run.out,
                    "defaults: intmem 0xE9000000, extmem\n"
                    "                   0xEA000000, io1 0xC000, io2 0xC400.\n"))
        << run.out;
}

TEST(Help, EveryWayOfAskingSucceedsAndTheVersionIsTheKits) {
    ToolRun run = Tool({"help", "--help"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FirstLine(run.out), "usage: vexotool help [COMMAND]");
    run = Tool({"/?"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out, "  save ADDR LENGTH FILE [--width 8|16|32]"));
    EXPECT_TRUE(Has(run.out, "  load ADDR FILE [--width 8|16|32]"));
    EXPECT_TRUE(Has(run.out, "  config "));
    run = Tool({"load", "/?"});
    EXPECT_EQ(FirstLine(run.out), "usage: vexotool load ADDR FILE [--width 8|16|32]");
    run = Tool({"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "vexotool " VEXO_KIT_VERSION "\n");
}

// --- when the card cannot be opened ------------------------------------------------------------

struct DiagnosisCase {
    const char* name;
    void (*shape)(vexo::sim::HostMachine&);
    const char* reason;
};

class CannotOpen : public ::testing::TestWithParam<DiagnosisCase> {};

TEST_P(CannotOpen, SaysWhyAndExitsOne) {
    vexo::sim::HostMachine machine(3, 7);
    GetParam().shape(machine);
    const ToolRun run = Tool({"dump", "0x8000", "16"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FirstLine(run.err),
              std::string("vexotool: cannot open the card: ") + GetParam().reason);
    EXPECT_EQ(cVexoClose(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CannotOpen,
    ::testing::Values(
        DiagnosisCase{"DriverMissing",
                      [](vexo::sim::HostMachine& m) { m.board.driver.present = false; },
                      "the driver \\\\.\\VexoLite.vxd cannot be opened"},
        DiagnosisCase{"DriverSilent",
                      [](vexo::sim::HostMachine& m) { m.board.driver.failingCodes = {2}; },
                      "the driver refuses to report its vendor identifier (control code 2)"},
        DiagnosisCase{"WrongDevice",
                      [](vexo::sim::HostMachine& m) { m.board.driver.deviceId = 0x2005; },
                      "the driver reports device 0x2005, vendor 0x10CF, not the VexoLite card "
                      "(device 0x2004, vendor 0x10CF)"},
        DiagnosisCase{"NoCard", [](vexo::sim::HostMachine& m) { m.board.functions.clear(); },
                      "no card answers on the PCI bus (no function 1 with device 0x2004, vendor "
                      "0x10CF on buses 0-255, devices 0-31)"},
        DiagnosisCase{"CardOnlyAtFunctionZero",
                      [](vexo::sim::HostMachine& m) { m.Card().function = 0; },
                      "no card answers on the PCI bus (no function 1 with device 0x2004, vendor "
                      "0x10CF on buses 0-255, devices 0-31)"},
        DiagnosisCase{"BasesRefused",
                      [](vexo::sim::HostMachine& m) { m.board.driver.failingCodes = {16}; },
                      "the driver refused the card's base addresses (control code 16) (card at "
                      "bus 3, device 7)"},
        DiagnosisCase{"InternalWindowRefused",
                      [](vexo::sim::HostMachine& m) { m.board.driver.failingCodes = {6}; },
                      "the driver refused the internal memory window (control code 6) (card at "
                      "bus 3, device 7)"},
        DiagnosisCase{"ExternalWindowRefused",
                      [](vexo::sim::HostMachine& m) { m.board.driver.failingCodes = {7}; },
                      "the driver refused the external memory window (control code 7) (card at "
                      "bus 3, device 7)"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- memtest on faulty memory ---------------------------------------------------------------

// External memory with the faults a card may have, behind the block transfers' signatures.
struct FaultyMemory {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(0x1000000);
    std::uint32_t dataStuckAtZero = 0;  // data bits that never store a 1
    std::uint32_t deadAddressBits = 0;  // offset bits the memory ignores
    int deadLane = -1;                  // byte lane that 8- and 16-bit writes miss
    std::uint32_t weakWord = ~0u;       // offset of a word whose bit 0 reads inverted
};
FaultyMemory* faulty = nullptr;

std::uint32_t Cell(std::uint32_t address) {
    return (address - 0x08000000u) & 0xFFFFFFu & ~faulty->deadAddressBits;
}

std::uint32_t LoadWord(std::uint32_t address) {
    const std::uint32_t at = Cell(address & ~3u);
    std::uint32_t word;
    std::memcpy(&word, &faulty->bytes[at], 4);
    return at == faulty->weakWord ? word ^ 1u : word;
}

void StoreWord(std::uint32_t address, std::uint32_t value, std::uint32_t laneMask) {
    const std::uint32_t at = Cell(address & ~3u);
    std::uint32_t word;
    std::memcpy(&word, &faulty->bytes[at], 4);
    if (faulty->deadLane >= 0 && laneMask != 0xFFFFFFFFu) {
        laneMask &= ~(0xFFu << (8 * faulty->deadLane));
    }
    word = (word & ~laneMask) | (value & laneMask & ~faulty->dataStuckAtZero);
    std::memcpy(&faulty->bytes[at], &word, 4);
}

template <unsigned Width>
int ReadFaulty(uint32_t address, void* buffer, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, address += Width) {
        const std::uint32_t value = LoadWord(address) >> (8 * (address & 3));
        std::memcpy(static_cast<char*>(buffer) + i * Width, &value, Width);
    }
    return 1;
}

template <unsigned Width>
int WriteFaulty(uint32_t address, const void* buffer, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, address += Width) {
        std::uint32_t value = 0;
        std::memcpy(&value, static_cast<const char*>(buffer) + i * Width, Width);
        const unsigned shift = 8 * (address & 3);
        const std::uint32_t mask = Width == 4 ? 0xFFFFFFFFu : ((1u << (8 * Width)) - 1) << shift;
        StoreWord(address, value << shift, mask);
    }
    return 1;
}

class MemTestOnFaultyMemory : public ::testing::Test {
  protected:
    void SetUp() override { faulty = &memory; }
    void TearDown() override { faulty = nullptr; }

    ToolRun Test(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        const vexotool::CommandLine line =
            vexotool::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.error, "");
        static const vexotool::BlockAccess access = {ReadFaulty<1>,  ReadFaulty<2>,
                                                     ReadFaulty<4>,  WriteFaulty<1>,
                                                     WriteFaulty<2>, WriteFaulty<4>};
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = vexotool::RunMemTest(line.commands.at(0), access, out, err);
        return {status, ReadBack(out), ReadBack(err)};
    }

    FaultyMemory memory;
};

TEST_F(MemTestOnFaultyMemory, SoundMemoryPasses) {
    const ToolRun run = Test({"memtest", "external"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run.out, "memtest external: PASS"));
}

TEST_F(MemTestOnFaultyMemory, NamesADataLineThatCannotHoldAOne) {
    memory.dataStuckAtZero = 1u << 5 | 1u << 30;
    const ToolRun run = Test({"memtest", "external"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out, "D0-D31, walking 1 and 0 at 0x08000000")) << run.out;
    EXPECT_TRUE(Has(run.out, "    cannot hold 1: D5, D30\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "memtest external: FAIL"));
}

TEST_F(MemTestOnFaultyMemory, NamesAnAddressLineThatHasNoEffect) {
    memory.deadAddressBits = 1u << 10;
    const ToolRun run = Test({"memtest", "external"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out,
                    "    address line A10: 0x08000000 reads what was written to "
                    "0x08000400\n"))
        << run.out;
    EXPECT_TRUE(Has(run.out, "memtest external: FAIL, 1 fault\n"));
}

TEST_F(MemTestOnFaultyMemory, NamesAByteLaneThatNarrowWritesMiss) {
    memory.deadLane = 2;
    const ToolRun run = Test({"memtest", "external", "--range", "0x08000100", "64"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out,
                    "    lane 2: after a 8-bit write of 0x33 at 0x08000102 the word "
                    "reads 0x00002211, not 0x00332211\n"))
        << run.out;
}

TEST_F(MemTestOnFaultyMemory, EveryWordFindsOneBadWordAndSaysWhere) {
    memory.weakWord = 0x1234 * 4;
    const ToolRun run = Test({"memtest", "external", "--range", "0x08000000", "0x10000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out, "    0x080048D0: wrote 0x080048D0, read 0x080048D1\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "    0x080048D0: wrote 0xF7FFB72F, read 0xF7FFB72E\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "memtest external: FAIL, 2 faults\n"));
}

}  // namespace
