#include "tool_args.h"

#include <cstring>

#include "binary_file.h"
#include "board_key_command.h"
#include "board_map.h"

#ifndef VEXO_KIT_VERSION
#define VEXO_KIT_VERSION "development"
#endif

namespace vexotool {
namespace {

// The options a command takes; any other is refused.
enum Option : unsigned { kNoOptions = 0, kWidth = 1, kRange = 2, kFull = 4 };

struct CommandEntry {
    const char* name;
    CommandKind kind;
    unsigned options;
    const char* synopsis;
    const char* summary;
    const char* help;
};

const CommandEntry kCommands[] = {
    {"info", CommandKind::Info, kNoOptions, "info", "the card's identity and base addresses",
     "Opens the card and prints what the library reports: the PCI identity, the driver's\n"
     "information word, the first word of the driver's PCI configuration reply, and the four\n"
     "base addresses with where each came from (the registry or the card's own register).\n"
     "Warns about an I/O base that cannot be right.\n"},
    {"map", CommandKind::Map, kNoOptions, "map", "the board address map with this card's ports",
     "Prints the board address map: which board addresses reach internal memory, external\n"
     "memory and the two I/O ranges, with this card's port numbers and the window offsets.\n"},
    {"config", CommandKind::Config, kNoOptions, "config", "the card's PCI configuration space",
     "Finds the card on the PCI bus the way the library does and prints its 256 bytes of PCI\n"
     "configuration space: the header decoded (identity, command and status bits, revision,\n"
     "class code, header type, base address registers with their flag bits, interrupt line\n"
     "and pin), then every byte in hex, 16 a line.\n"},
    {"read", CommandKind::Read, kWidth, "read ADDR COUNT [--width 8|16|32]",
     "read elements and print them",
     "Reads COUNT elements of 8, 16 or 32 bits (default 8) from board address ADDR and prints\n"
     "them, 16 bytes a line. Addresses that lead nowhere read as all ones.\n"},
    {"write", CommandKind::Write, kWidth, "write ADDR VALUE... [--width 8|16|32]", "write elements",
     "Writes the values as consecutive elements of 8, 16 or 32 bits (default 8) from board\n"
     "address ADDR on. Every value must fit the width.\n"},
    {"dump", CommandKind::Dump, kNoOptions, "dump ADDR LENGTH", "bytes in hex and ASCII",
     "Reads LENGTH bytes from board address ADDR and prints them in hex and ASCII, 16 a line.\n"},
    {"fill", CommandKind::Fill, kWidth, "fill ADDR COUNT VALUE [--width 8|16|32]",
     "write one value into many elements",
     "Writes VALUE into COUNT elements of 8, 16 or 32 bits (default 8) from board address ADDR.\n"},
    {"save", CommandKind::Save, kWidth, "save ADDR LENGTH FILE [--width 8|16|32]",
     "copy memory into a binary file",
     "Reads LENGTH bytes from board address ADDR and writes them to FILE, replacing it. The\n"
     "file is written only once every byte has been read. Elements are 32-bit when ADDR and\n"
     "LENGTH are multiples of 4, else 8-bit, unless --width says otherwise (LENGTH must then\n"
     "be a multiple of the width).\n"},
    {"load", CommandKind::Load, kWidth, "load ADDR FILE [--width 8|16|32]",
     "copy a binary file into memory",
     "Writes the whole of FILE from board address ADDR on; the file's size is the length.\n"
     "Elements are 32-bit when ADDR and the size are multiples of 4, else 8-bit, unless\n"
     "--width says otherwise (the size must then be a multiple of the width).\n"},
    {"memtest", CommandKind::MemTest, kRange | kFull,
     "memtest internal|external [--range ADDR LENGTH] [--full]", "write and verify test patterns",
     "Writes and verifies test patterns and says what failed where; the memory's contents are\n"
     "lost. Every test checks the data lines (walking ones and zeros) and the byte lanes\n"
     "(8- and 16-bit writes merged into one word) at the first word, then:\n"
     "  internal                 address-in-address over every word of the three blocks;\n"
     "  external                 address-in-address at the power-of-two offsets, one per\n"
     "                           address line, across the whole 16 MiB (quick);\n"
     "  --full                   address-in-address over every word (on a card, each\n"
     "                           external word costs about a hundred bus accesses);\n"
     "  --range ADDR LENGTH      every word of LENGTH bytes from ADDR only (both multiples\n"
     "                           of 4, inside one internal block or the external memory).\n"},
    {"key", CommandKind::Key, kNoOptions, "key [set NAME VALUE | defaults | clear]",
     "the board configuration key: show it or write it",
     "Without arguments, prints the four values of the board configuration key and what\n"
     "cVexoOpen does with each: a non-zero value is programmed into the card's base address\n"
     "register, a missing value or 0 leaves the base the card's register holds. Needs no card.\n"
     "  set NAME VALUE   writes one value and leaves the others as they are. NAME is intmem,\n"
     "                   extmem, io1 or io2. VALUE is aligned as the Control Panel applet\n"
     "                   aligns it: a memory base to a multiple of 0x01000000, an I/O base to\n"
     "                   a multiple of 0x100 (bits 8-15 only); 0 means 'from the card'.\n"
     "  defaults         writes the applet's four defaults: intmem 0xE9000000, extmem\n"
     "                   0xEA000000, io1 0xC000, io2 0xC400.\n"
     "  clear            deletes the four values: every base comes from the card.\n"
     "The key is created as the applet creates it. Writing it needs the right to write\n"
     "under HKEY_LOCAL_MACHINE.\n"},
    {"help", CommandKind::Help, kNoOptions, "help [COMMAND]",
     "this overview, or one command's help", "Prints the overview or one command's help.\n"},
};

const CommandEntry* FindCommand(const std::string& name) {
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    // External-memory addresses read better with all eight digits.
    std::snprintf(text, sizeof text, value >= 0x01000000u ? "0x%08X" : "0x%X",
                  static_cast<unsigned>(value));
    return text;
}

// The arguments of one command after its name, sorted into positionals and options.
struct Arguments {
    std::vector<std::string> positional;
    bool help = false;
    unsigned given = kNoOptions;     // the options that were given
    std::string width;               // text after --width
    std::vector<std::string> range;  // the two texts after --range
};

bool IsHelpOption(const std::string& word) {
    // "/?" for those used to Windows' own commands.
    return word == "--help" || word == "-h" || word == "/?";
}

Option OptionNamed(const std::string& word) {
    if (word == "--width") return kWidth;
    if (word == "--range") return kRange;
    if (word == "--full") return kFull;
    return kNoOptions;
}

std::string TakeOption(const std::vector<std::string>& words, std::size_t* i, int needed,
                       std::vector<std::string>* into) {
    const std::string option = words[*i];
    for (int n = 0; n < needed; ++n) {
        if (*i + 1 >= words.size())
            return option + " needs " + std::to_string(needed) +
                   (needed == 1 ? " value" : " values");
        into->push_back(words[++*i]);
    }
    return "";
}

// Options the command does not take are refused rather than ignored, and so is an option given
// twice: either would leave the user believing something took effect that did not.
std::string SortArguments(const CommandEntry& entry, const std::vector<std::string>& words,
                          Arguments* args) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        const Option option = OptionNamed(word);
        if (IsHelpOption(word)) {
            args->help = true;
        } else if (option != kNoOptions && (entry.options & option) != 0) {
            if ((args->given & option) != 0) return word + " is given twice";
            args->given |= option;
            std::string error;
            if (option == kWidth) {
                std::vector<std::string> value;
                error = TakeOption(words, &i, 1, &value);
                if (error.empty()) args->width = value[0];
            } else if (option == kRange) {
                error = TakeOption(words, &i, 2, &args->range);
            }
            if (!error.empty()) return error;
        } else if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
            return std::string(entry.name) + " has no option " + word;
        } else {
            args->positional.push_back(word);
        }
    }
    return "";
}

// The width --width asks for; without it, `byDefault`.
std::string ParseWidth(const Arguments& args, unsigned byDefault, unsigned* width) {
    if ((args.given & kWidth) == 0) {
        *width = byDefault;
        return "";
    }
    const std::string& text = args.width;
    if (text == "8")
        *width = 1;
    else if (text == "16")
        *width = 2;
    else if (text == "32")
        *width = 4;
    else
        return "--width takes 8, 16 or 32, not '" + text + "'";
    return "";
}

std::string ParseNumberArgument(const std::string& text, std::uint32_t* value) {
    if (ParseNumber(text.c_str(), value)) return "";
    return "'" + text + "' is not a number (write decimal, or hex after 0x)";
}

// A transfer of `count` elements of `width` bytes from `address` must start where the library
// accepts a start, stay inside that area, and start on a multiple of its width.
std::string CheckTransfer(std::uint32_t address, std::uint32_t count, unsigned width) {
    if (count == 0) return "the count must be at least 1";
    const TransferArea* area = FindTransferArea(address);
    if (area == nullptr) {
        return "address " + Hex(address) +
               " is outside the board address map (0x0-0x103FF, 0x08000000-0x08FFFFFF)";
    }
    if (address % width != 0) {
        return "a " + std::to_string(width * 8) + "-bit element cannot start at " + Hex(address) +
               " (use a multiple of " + std::to_string(width) + ")";
    }
    const std::uint64_t last = std::uint64_t{address} + std::uint64_t{count} * width - 1;
    if (last > area->last) {
        return std::to_string(count) +
               (width == 1 ? " bytes" : " elements of " + std::to_string(width * 8) + " bits") +
               " from " + Hex(address) + " run past " + Hex(area->last) + ", the end of the " +
               area->name;
    }
    return "";
}

std::string CheckValues(const std::vector<std::uint32_t>& values, unsigned width) {
    const std::uint64_t limit = std::uint64_t{1} << (width * 8);
    for (std::uint32_t value : values) {
        if (value >= limit) {
            return "value " + Hex(value) + " does not fit in " + std::to_string(width * 8) +
                   " bits";
        }
    }
    return "";
}

std::string ExpectPositionals(const CommandEntry& entry, const Arguments& args, std::size_t least,
                              std::size_t most) {
    const std::size_t n = args.positional.size();
    if (n >= least && n <= most) return "";
    return std::string("usage: vexotool ") + entry.synopsis;
}

// A memtest range lies wholly inside one internal block or inside the external memory.
std::string CheckMemTestRange(const Command& command) {
    if (command.address % 4 != 0 || command.count % 4 != 0 || command.count == 0) {
        return "--range takes an address and a length that are multiples of 4";
    }
    const std::uint64_t last = std::uint64_t{command.address} + command.count - 1;
    if (command.external) {
        if (command.address >= kExternalFirst &&
            last < std::uint64_t{kExternalFirst} + kExternalSize)
            return "";
        return "--range " + Hex(command.address) + " " + std::to_string(command.count) +
               " is not inside external memory (0x08000000-0x08FFFFFF)";
    }
    for (std::uint32_t block : kInternalBlocks) {
        if (command.address >= block && last < block + kInternalBlockSize) return "";
    }
    return "--range " + Hex(command.address) + " " + std::to_string(command.count) +
           " is not inside one internal memory block (0x0-0xFF, 0x8000-0x80FF, 0xC000-0xC0FF)";
}

std::string ParseMemTest(const CommandEntry& entry, const Arguments& args, Command* command) {
    std::string error = ExpectPositionals(entry, args, 1, 1);
    if (!error.empty()) return error;
    const std::string& which = args.positional[0];
    if (which != "internal" && which != "external") {
        return "memtest tests 'internal' or 'external' memory, not '" + which + "'";
    }
    command->external = which == "external";
    command->full = (args.given & kFull) != 0;
    if (args.range.empty()) return "";
    command->ranged = true;
    error = ParseNumberArgument(args.range[0], &command->address);
    if (error.empty()) error = ParseNumberArgument(args.range[1], &command->count);
    if (error.empty()) error = CheckMemTestRange(*command);
    return error;
}

std::string ParseTransfer(const CommandEntry& entry, const Arguments& args, Command* command) {
    std::string error = ParseWidth(args, 1, &command->width);
    if (!error.empty()) return error;
    switch (entry.kind) {
        case CommandKind::Read:
        case CommandKind::Dump:
            error = ExpectPositionals(entry, args, 2, 2);
            break;
        case CommandKind::Fill:
            error = ExpectPositionals(entry, args, 3, 3);
            break;
        default:  // Write
            error = ExpectPositionals(entry, args, 2, SIZE_MAX);
            break;
    }
    if (!error.empty()) return error;
    error = ParseNumberArgument(args.positional[0], &command->address);
    if (!error.empty()) return error;
    if (entry.kind == CommandKind::Write) {
        command->count = static_cast<std::uint32_t>(args.positional.size() - 1);
    } else {
        error = ParseNumberArgument(args.positional[1], &command->count);
        if (!error.empty()) return error;
    }
    const std::size_t firstValue = entry.kind == CommandKind::Write ? 1 : 2;
    for (std::size_t i = firstValue; i < args.positional.size(); ++i) {
        std::uint32_t value = 0;
        error = ParseNumberArgument(args.positional[i], &value);
        if (!error.empty()) return error;
        command->values.push_back(value);
    }
    error = CheckValues(command->values, command->width);
    if (!error.empty()) return error;
    return CheckTransfer(command->address, command->count, command->width);
}

// Save and load move whole words where they can: on a card each element costs the same bus
// pauses whatever its width.
unsigned DefaultFileWidth(std::uint32_t address, std::uint64_t length) {
    return address % 4 == 0 && length % 4 == 0 ? 4 : 1;
}

// `length` bytes from the command's address as elements of the chosen width, checked like any
// transfer: first as bytes, so that a length running past its area is told in bytes, then as
// elements.
std::string SetFileTransfer(const Arguments& args, std::uint64_t length, const std::string& what,
                            Command* command) {
    if (length > kExternalSize) {
        return what + " of " + std::to_string(length) + " bytes is larger than any area of the " +
               "board address map";
    }
    const auto bytes = static_cast<std::uint32_t>(length);
    std::string error = CheckTransfer(command->address, bytes, 1);
    if (!error.empty()) return error;
    error = ParseWidth(args, DefaultFileWidth(command->address, length), &command->width);
    if (!error.empty()) return error;
    if (bytes % command->width != 0) {
        return what + " of " + std::to_string(bytes) + " bytes is not a whole number of " +
               std::to_string(command->width * 8) + "-bit elements";
    }
    command->count = bytes / command->width;
    return CheckTransfer(command->address, command->count, command->width);
}

std::string ParseSave(const CommandEntry& entry, const Arguments& args, Command* command) {
    std::string error = ExpectPositionals(entry, args, 3, 3);
    if (error.empty()) error = ParseNumberArgument(args.positional[0], &command->address);
    std::uint32_t length = 0;
    if (error.empty()) error = ParseNumberArgument(args.positional[1], &length);
    if (!error.empty()) return error;
    if (length == 0) return "the length must be at least 1";
    command->file = args.positional[2];
    return SetFileTransfer(args, length, "a length", command);
}

// The file is sized here, with the rest of the line, so that a missing or unsuitable file
// writes nothing to the card.
std::string ParseLoad(const CommandEntry& entry, const Arguments& args, Command* command) {
    std::string error = ExpectPositionals(entry, args, 2, 2);
    if (error.empty()) error = ParseNumberArgument(args.positional[0], &command->address);
    if (!error.empty()) return error;
    command->file = args.positional[1];
    std::uint64_t size = 0;
    if (!FileSize(command->file, &size, &error)) return error;
    if (size == 0) return "'" + command->file + "' is empty: there is nothing to load";
    return SetFileTransfer(args, size, "'" + command->file + "'", command);
}

std::string ParseKey(const CommandEntry& entry, const Arguments& args, Command* command) {
    const std::vector<std::string>& words = args.positional;
    if (words.empty()) {
        command->keyAction = KeyAction::Show;
        return "";
    }
    const std::string& action = words[0];
    if ((action == "defaults" || action == "clear") && words.size() == 1) {
        command->keyAction = action == "defaults" ? KeyAction::Defaults : KeyAction::Clear;
        return "";
    }
    if (action != "set" || words.size() != 3)
        return std::string("usage: vexotool ") + entry.synopsis;
    command->keyAction = KeyAction::Set;
    command->keyField = KeyFieldNamed(words[1]);
    if (command->keyField < 0) {
        return "key set takes intmem, extmem, io1 or io2, not '" + words[1] + "'";
    }
    std::uint32_t value = 0;
    const std::string error = ParseNumberArgument(words[2], &value);
    if (!error.empty()) return error;
    command->values.push_back(value);
    return "";
}

// "help" itself, "--help" and "/?" (optionally naming a command), and "--version".
bool ParseHelpOrVersion(const std::vector<std::string>& words, Command* command,
                        std::string* error) {
    const std::string& name = words[0];
    if (name == "--version") {
        command->kind = CommandKind::Version;
        if (words.size() > 1) *error = "usage: vexotool --version";
        return true;
    }
    if (!IsHelpOption(name) && name != "help") return false;
    command->kind = CommandKind::Help;
    if (words.size() > 2) {
        *error = "usage: vexotool help [COMMAND]";
        return true;
    }
    if (words.size() == 2) {
        // "help --help" asks for help on help.
        command->helpTopic = IsHelpOption(words[1]) ? "help" : words[1];
        if (FindCommand(command->helpTopic) == nullptr) {
            *error = "no command '" + command->helpTopic + "' (vexotool --help lists them)";
        }
    }
    return true;
}

std::string ParseCommand(const std::vector<std::string>& words, Command* command) {
    if (words.empty()) return "an empty command next to '+'";
    const std::string& name = words[0];
    std::string error;
    if (ParseHelpOrVersion(words, command, &error)) return error;
    const CommandEntry* entry = FindCommand(name);
    if (entry == nullptr) return "unknown command '" + name + "' (vexotool --help lists them)";
    Arguments args;
    error = SortArguments(*entry, words, &args);
    if (!error.empty()) return error;
    if (args.help) {
        command->kind = CommandKind::Help;
        command->helpTopic = entry->name;
        return "";
    }
    command->kind = entry->kind;
    switch (entry->kind) {
        case CommandKind::Info:
        case CommandKind::Map:
        case CommandKind::Config:
            return ExpectPositionals(*entry, args, 0, 0);
        case CommandKind::MemTest:
            return ParseMemTest(*entry, args, command);
        case CommandKind::Save:
            return ParseSave(*entry, args, command);
        case CommandKind::Load:
            return ParseLoad(*entry, args, command);
        case CommandKind::Key:
            return ParseKey(*entry, args, command);
        default:
            return ParseTransfer(*entry, args, command);
    }
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc == 0) {
        line.error = "no command (vexotool --help lists them)";
        return line;
    }
    std::vector<std::string> words;
    for (int i = 0; i <= argc; ++i) {
        if (i < argc && std::strcmp(argv[i], "+") != 0) {
            words.push_back(argv[i]);
            continue;
        }
        Command command;
        line.error = ParseCommand(words, &command);
        for (const std::string& word : words)
            command.text += (command.text.empty() ? "" : " ") + word;
        if (!line.error.empty()) {
            line.commands.clear();
            return line;
        }
        line.commands.push_back(command);
        words.clear();
    }
    return line;
}

bool PrintHelp(std::FILE* out, const std::string& topic) {
    if (!topic.empty()) {
        const CommandEntry* entry = FindCommand(topic);
        if (entry == nullptr) return false;
        std::fprintf(out, "usage: vexotool %s\n\n%s", entry->synopsis, entry->help);
        return true;
    }
    std::fprintf(out,
                 "vexotool %s - diagnostic tool for the VexoLite card\n\n"
                 "usage: vexotool COMMAND [ARGS...] [+ COMMAND [ARGS...]]...\n\ncommands:\n",
                 VEXO_KIT_VERSION);
    for (const CommandEntry& entry : kCommands) {
        if (std::strlen(entry.synopsis) < 42) {
            std::fprintf(out, "  %-41s %s\n", entry.synopsis, entry.summary);
        } else {
            std::fprintf(out, "  %s\n  %-41s %s\n", entry.synopsis, "", entry.summary);
        }
    }
    std::fprintf(out,
                 "\nNumbers are decimal, or hex after 0x. Addresses are board addresses: see\n"
                 "'vexotool map'. Commands joined by '+' run in order on one opening of the card\n"
                 "and stop at the first failure. 'vexotool help COMMAND' (or 'COMMAND --help',\n"
                 "'COMMAND /?') tells more; 'vexotool --version' prints the kit's version.\n"
                 "Exit codes: 0 success, 1 the card cannot be opened, a check, a transfer, a\n"
                 "file or the key failed; 2 bad usage or a file to load that cannot be read.\n");
    return true;
}

void PrintVersion(std::FILE* out) {
    std::fprintf(out, "vexotool %s\n", VEXO_KIT_VERSION);
}

}  // namespace vexotool
