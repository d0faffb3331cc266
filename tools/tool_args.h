// vexotool's command line: what each command asks for, checked completely before anything runs,
// so that a mistake anywhere on the line writes nothing to the card.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "parse_number.h"

namespace vexotool {

enum class CommandKind {
    Help,
    Version,
    Info,
    Map,
    Config,
    Read,
    Write,
    Dump,
    Fill,
    Save,
    Load,
    MemTest,
    Key
};

// What `key` does with the board configuration key.
enum class KeyAction { Show, Set, Defaults, Clear };

struct Command {
    CommandKind kind = CommandKind::Help;
    std::string text;       // the command's words as given, for headings
    std::string helpTopic;  // Help: the command asked about; empty for the overview
    std::uint32_t address = 0;
    std::uint32_t count = 0;  // Read, Fill, Save, Load: elements; Dump: bytes; MemTest with a
                              // range: bytes
    unsigned width = 1;       // bytes per element: 1, 2 or 4
    std::string file;         // Save: the file to write; Load: the file to read
    std::vector<std::uint32_t> values;  // Write: the elements; Fill: the one value
    bool external = false;              // MemTest: which memory
    bool full = false;                  // MemTest: every word rather than the quick test
    bool ranged = false;                // MemTest: only [address, address + count)
    KeyAction keyAction = KeyAction::Show;
    int keyField = -1;  // Key set: the value's index in the key's order; its value in values[0]
};

struct CommandLine {
    std::vector<Command> commands;
    std::string error;  // one line for the user when the line cannot run; empty otherwise
};

// Splits the arguments at each lone "+" and parses every command.
CommandLine ParseCommandLine(int argc, char** argv);

// The overview (empty topic) or one command's help. False when there is no such command.
bool PrintHelp(std::FILE* out, const std::string& topic);

// "vexotool 1.1.0": the kit's version.
void PrintVersion(std::FILE* out);

}  // namespace vexotool
