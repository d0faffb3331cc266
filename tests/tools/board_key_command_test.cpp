// vexotool key: the board configuration key shown as the library reads it, and written by the
// applet's rules, on the simulated machine's key.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board_key.h"
#include "host_machine.h"
#include "little_endian.h"
#include "tool_run.h"

namespace {

using tool_run::Has;
using tool_run::Missing;
using tool_run::Tool;
using tool_run::ToolRun;
namespace board_key = vexo::board_key;

class KeyCommand : public ::testing::Test {
  protected:
    vexo::sim::Registry& Key() { return machine.registry; }

    // The stored REG_DWORD, or -1 when the value is missing or is not 4 bytes.
    long long Stored(const char* name) {
        const auto found = Key().values.find(name);
        if (found == Key().values.end() || found->second.data.size() != 4) return -1;
        const std::vector<std::uint8_t>& b = found->second.data;
        return vexo::little_endian::Load32(b.data());
    }

    vexo::sim::HostMachine machine;
};

TEST_F(KeyCommand, ShowsEachValueAndWhatOpeningTheCardDoesWithIt) {
    Key().SetDword(board_key::kIntMemBase, 0xE9000000u);
    Key().SetDword(board_key::kExtMemBase, 0);
    Key().SetString(board_key::kIo2Base, "C400");
    const ToolRun run = Tool({"key"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Missing(run.out, {"  intmem  IntMemBaseAddress  0xE9000000  cVexoOpen programs BAR1 "
                                "with it\n",
                                "  extmem  ExtMemBaseAddress  0x00000000  cVexoOpen takes the base "
                                "from BAR0 (registry value is 0)\n",
                                "  io1     Io1BaseAddress     -           cVexoOpen takes the base "
                                "from BAR2 (no registry value)\n",
                                "from BAR3 (registry value is larger than 4 bytes)\n"}),
              "")
        << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(machine.driverHandles.open, 0) << "key needs no card";

    Key() = {};
    EXPECT_TRUE(Has(Tool({"key"}).out, "from BAR3 (no board configuration key)"));
}

TEST_F(KeyCommand, SetWritesOneAlignedValueAndLeavesTheOthers) {
    Key().SetDword(board_key::kIntMemBase, 0x12345678u);
    ToolRun run = Tool({"key", "set", "io1", "0xD0FF"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "vexotool: key: io1 0xD0FF is aligned to 0xD000, as the applet would "
              "store it\n");
    EXPECT_EQ(Stored(board_key::kIo1Base), 0xD000);
    EXPECT_EQ(Stored(board_key::kIntMemBase), 0x12345678);  // as it was, unaligned
    EXPECT_EQ(Stored(board_key::kExtMemBase), -1);
    EXPECT_TRUE(Has(run.out, "io1     Io1BaseAddress     0x0000D000  cVexoOpen programs BAR2"));

    // The applet's masks: the top 8 bits of a memory base, bits 8-15 of an I/O base.
    EXPECT_EQ(Tool({"key", "set", "extmem", "0xEA123456"}).status, 0);
    EXPECT_EQ(Stored(board_key::kExtMemBase), 0xEA000000);
    EXPECT_EQ(Tool({"key", "set", "io2", "0x12345"}).status, 0);
    EXPECT_EQ(Stored(board_key::kIo2Base), 0x2300);
    run = Tool({"key", "set", "intmem", "0"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Stored(board_key::kIntMemBase), 0);
}

TEST_F(KeyCommand, SetCreatesAMissingKeyWithTheOneValue) {
    ASSERT_FALSE(Key().keyPresent);
    EXPECT_EQ(Tool({"key", "set", "intmem", "3909091328"}).status, 0);  // 0xE9000000 in decimal
    EXPECT_TRUE(Key().keyPresent);
    EXPECT_EQ(Stored(board_key::kIntMemBase), 0xE9000000);
    EXPECT_EQ(Key().values.size(), 1u);
}

TEST_F(KeyCommand, DefaultsReplaceWhateverWasStored) {
    Key().SetString(board_key::kIntMemBase, "junk");
    Key().SetDword(board_key::kIo2Base, 0);
    const ToolRun run = Tool({"key", "defaults"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Stored(board_key::kIntMemBase), 0xE9000000);
    EXPECT_EQ(Stored(board_key::kExtMemBase), 0xEA000000);
    EXPECT_EQ(Stored(board_key::kIo1Base), 0xC000);
    EXPECT_EQ(Stored(board_key::kIo2Base), 0xC400);
    EXPECT_EQ(Key().values[board_key::kIntMemBase].type, vexo::sim::kRegDword);
}

TEST_F(KeyCommand, ClearDeletesTheFourValuesSoTheCardGivesEveryBase) {
    machine.SetRegistryBases(0xE9000000u, 0xEA000000u, 0xC000, 0xC400);
    Key().SetString("Comment", "not ours");
    ToolRun run = Tool({"key", "clear", "+", "info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Key().values.size(), 1u);
    EXPECT_EQ(Key().values.count("Comment"), 1u);
    for (const char* bar : {"BAR0", "BAR1", "BAR2", "BAR3"}) {
        EXPECT_TRUE(Has(run.out, std::string("from card register ") + bar + " (no registry value)"))
            << bar;
    }

    // Nothing to clear is no error, and no key is made for it.
    Key() = {};
    run = Tool({"key", "clear"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(Key().keyPresent);
}

TEST_F(KeyCommand, TheCardIsOpenedWithWhatSetWrote) {
    const ToolRun run = Tool({"key", "set", "io2", "0xD800", "+", "info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out, "I/O range 2      0x0000D800  from registry Io2BaseAddress"));
}

TEST_F(KeyCommand, BadUsageExitsTwoAndWritesNothing) {
    Key().SetDword(board_key::kIo1Base, 0xC000);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"key", "set", "io3", "0xD000"}, "key set takes intmem, extmem, io1 or io2, not 'io3'"},
        {{"key", "set", "io1", "D000"}, "'D000' is not a number (write decimal, or hex after 0x)"},
        {{"key", "set", "io1"}, "usage: vexotool key [set NAME VALUE | defaults | clear]"},
        {{"key", "defaults", "now"}, "usage: vexotool key [set NAME VALUE | defaults | clear]"},
        {{"key", "reset"}, "usage: vexotool key [set NAME VALUE | defaults | clear]"},
        {{"key", "--width", "8"}, "key has no option --width"},
        // A mistake later on the line keeps an earlier key command from writing.
        {{"key", "clear", "+", "key", "set", "io1", "-1"},
         "'-1' is not a number (write decimal, or hex after 0x)"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Tool(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("vexotool: ") + c.message + "\n");
        EXPECT_EQ(Stored(board_key::kIo1Base), 0xC000) << c.message;
        EXPECT_EQ(Key().values.size(), 1u) << c.message;
    }
}

// The kit's example .reg file is what `key defaults` writes: the same key, names and values.
TEST(BoardKeyRegFile, HoldsTheDefaults) {
    std::ifstream file(VEXO_SOURCE_DIR "/sim/board-key.reg", std::ios::binary);
    ASSERT_TRUE(file) << "sim/board-key.reg";
    std::stringstream text;
    text << file.rdbuf();
    std::string expected =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(board_key::kPath) + "]\r\n";
    for (int i = 0; i < board_key::kValueCount; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\r\n", board_key::kValueNames[i],
                      static_cast<unsigned>(board_key::kDefaults[i]));
        expected += line;
    }
    EXPECT_EQ(text.str(), expected);
}

}  // namespace
