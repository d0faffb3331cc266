// vexotool's command line: what each command asks for, checked completely before anything runs,
// so that a mistake anywhere on the line writes nothing to the card.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vexotool {

// What `key` does with the board configuration key.
enum class KeyAction { Show, Set, Defaults, Clear };

struct CommandRow;
struct Session;

struct Command {
    const CommandRow* row = nullptr;  // what the command is and how it runs
    std::string text;                 // the command's words as given, for headings
    std::string helpTopic;            // help: the command asked about; empty for the overview
    std::uint32_t address = 0;
    std::uint32_t count = 0;  // read, fill, save, load: elements; dump: bytes; memtest with a
                              // range: bytes
    unsigned width = 1;       // bytes per element: 1, 2 or 4
    std::string file;         // save: the file to write; load: the file to read
    std::vector<std::uint32_t> values;  // write: the elements; fill: the one value
    bool external = false;              // memtest: which memory
    bool full = false;                  // memtest: every word rather than the quick test
    bool ranged = false;                // memtest: only [address, address + count)
    KeyAction keyAction = KeyAction::Show;
    int keyField = -1;  // key set: the value's index in the key's order; its value in values[0]
};

// The words of one command, its name first.
using Words = std::vector<std::string>;

// One of the tool's commands, as the help shows it, the line is checked against and it runs.
struct CommandRow {
    const char* name;
    // As the usage line shows them. The options named here are the ones the command takes, and
    // the words outside brackets are its arguments; a word ending in "..." takes any number more.
    const char* arguments;
    bool needsCard;
    const char* helpLine;  // the overview's line; null for a word the overview leaves out
    const char* details;   // the command's own help
    // Fills in `command` from `words`; the usage error, empty when the words are right.
    std::string (*parse)(const CommandRow& row, const Words& words, Command* command);
    int (*run)(Session& session, const Command& command);  // the tool's exit status
};

// Every command, in the overview's order (vexotool_commands.cpp).
const std::vector<CommandRow>& CommandRows();

// How each kind of command reads its words.
std::string ParseNoArguments(const CommandRow& row, const Words& words, Command* command);
std::string ParseElements(const CommandRow& row, const Words& words, Command* command);
std::string ParseWrite(const CommandRow& row, const Words& words, Command* command);
std::string ParseSave(const CommandRow& row, const Words& words, Command* command);
std::string ParseLoad(const CommandRow& row, const Words& words, Command* command);
std::string ParseMemTest(const CommandRow& row, const Words& words, Command* command);
std::string ParseKey(const CommandRow& row, const Words& words, Command* command);
std::string ParseHelp(const CommandRow& row, const Words& words, Command* command);
std::string ParseVersion(const CommandRow& row, const Words& words, Command* command);

// "read ADDR COUNT [--width 8|16|32]": the command's name and arguments.
std::string Synopsis(const CommandRow& row);

struct CommandLine {
    std::vector<Command> commands;
    std::string error;  // one line for the user when the line cannot run; empty otherwise
};

// Splits the arguments at each lone "+" and parses every command.
CommandLine ParseCommandLine(int argc, char** argv);

// The overview (empty topic) or one command's help. False when there is no such command.
bool PrintHelp(std::FILE* out, const std::string& topic);

// "vexotool 1.2.0": the kit's version.
void PrintVersion(std::FILE* out);

}  // namespace vexotool
