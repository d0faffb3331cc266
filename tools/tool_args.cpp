// vexotool's command line read against the command table: each command's words sorted into
// arguments and options and checked, and the help made from the table's rows.
#include "tool_args.h"

#include <cstring>

#include "binary_file.h"
#include "board_key_command.h"
#include "board_map.h"
#include "parse_number.h"

#ifndef VEXO_KIT_VERSION
#define VEXO_KIT_VERSION "development"
#endif

namespace vexotool {
namespace {

bool IsHelpOption(const std::string& word) {
    // "/?" for those used to Windows' own commands.
    return word == "--help" || word == "-h" || word == "/?";
}

// The row named `name`; --help and its other spellings name the help command.
const CommandRow* RowNamed(const std::string& name) {
    for (const CommandRow& row : CommandRows()) {
        if (IsHelpOption(name) ? row.parse == ParseHelp : name == row.name) return &row;
    }
    return nullptr;
}

// A command the overview lists and `help` tells about.
const CommandRow* ListedRow(const std::string& name) {
    const CommandRow* row = RowNamed(name);
    return row != nullptr && row->helpLine != nullptr && name == row->name ? row : nullptr;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    // External-memory addresses read better with all eight digits.
    std::snprintf(text, sizeof text, value >= 0x01000000u ? "0x%08X" : "0x%X",
                  static_cast<unsigned>(value));
    return text;
}

// The options any command may take, with the number of values each takes. A command takes
// those its row's arguments show.
struct OptionSpec {
    const char* name;
    std::size_t values;
};
constexpr OptionSpec kOptions[] = {{"--width", 1}, {"--range", 2}, {"--full", 0}};

const OptionSpec* OptionOf(const CommandRow& row, const std::string& word) {
    for (const OptionSpec& option : kOptions) {
        if (word == option.name && std::string(row.arguments).find(word) != std::string::npos)
            return &option;
    }
    return nullptr;
}

// The arguments of one command after its name, sorted into positionals and options.
struct Arguments {
    std::vector<std::string> positional;
    bool help = false;
    std::vector<std::string> given;                // the options that were given
    std::vector<std::vector<std::string>> values;  // and the values after each

    const std::vector<std::string>* Option(const char* name) const {
        for (std::size_t i = 0; i < given.size(); ++i) {
            if (given[i] == name) return &values[i];
        }
        return nullptr;
    }
};

// Options the command does not take are refused rather than ignored, and so is an option given
// twice: either would leave the user believing something took effect that did not.
std::string SortArguments(const CommandRow& row, const Words& words, Arguments* args) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        const OptionSpec* option = OptionOf(row, word);
        if (IsHelpOption(word)) {
            args->help = true;
        } else if (option != nullptr) {
            if (args->Option(option->name) != nullptr) return word + " is given twice";
            if (words.size() - 1 - i < option->values) {
                return word + " needs " + std::to_string(option->values) +
                       (option->values == 1 ? " value" : " values");
            }
            args->given.push_back(word);
            args->values.emplace_back(words.begin() + i + 1,
                                      words.begin() + i + 1 + option->values);
            i += option->values;
        } else if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
            return std::string(row.name) + " has no option " + word;
        } else {
            args->positional.push_back(word);
        }
    }
    return "";
}

// Sorts the words of a command that takes options; false when nothing is left to parse: a usage
// error, or --help, which makes the command help on itself.
bool Sorted(const CommandRow& row, const Words& words, Command* command, Arguments* args,
            std::string* error) {
    *error = SortArguments(row, words, args);
    if (!error->empty()) return false;
    if (!args->help) return true;
    command->row = RowNamed("--help");
    command->helpTopic = row.name;
    return false;
}

// The width --width asks for; without it, `byDefault`.
std::string ParseWidth(const Arguments& args, unsigned byDefault, unsigned* width) {
    const std::vector<std::string>* given = args.Option("--width");
    if (given == nullptr) {
        *width = byDefault;
        return "";
    }
    const std::string& text = (*given)[0];
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
    if (vexo::ParseNumber(text.c_str(), value)) return "";
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

// The usage line when the number of arguments is not the one the row's arguments show: their
// words outside brackets, any number more after a word ending in "...".
std::string ExpectPositionals(const CommandRow& row, const Arguments& args) {
    std::size_t least = 0;
    bool more = false;
    int depth = 0;
    const std::string arguments = row.arguments;
    for (std::size_t at = 0; at < arguments.size();) {
        std::size_t end = arguments.find(' ', at);
        if (end == std::string::npos) end = arguments.size();
        const std::string word = arguments.substr(at, end - at);
        if (depth == 0 && word[0] != '[') {
            ++least;
            more = more || (word.size() > 3 && word.compare(word.size() - 3, 3, "...") == 0);
        }
        for (char c : word) depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        at = end + 1;
    }
    const std::size_t n = args.positional.size();
    if (n == least || (more && n > least)) return "";
    return "usage: vexotool " + Synopsis(row);
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

// Takes the address and the elements' values from `firstValue` on, and checks them as a
// transfer of `command->count` elements.
std::string ParseValues(const Arguments& args, std::size_t firstValue, Command* command) {
    for (std::size_t i = firstValue; i < args.positional.size(); ++i) {
        std::uint32_t value = 0;
        const std::string error = ParseNumberArgument(args.positional[i], &value);
        if (!error.empty()) return error;
        command->values.push_back(value);
    }
    const std::string error = CheckValues(command->values, command->width);
    if (!error.empty()) return error;
    return CheckTransfer(command->address, command->count, command->width);
}

// The start of the commands that move elements from ADDR on: the words sorted, the width, the
// number of arguments and ADDR. False when nothing is left to parse, with `error` empty after
// --help as Sorted leaves it, so that the help is shown and no usage error.
bool SortedWithWidthAndAddress(const CommandRow& row, const Words& words, Command* command,
                               Arguments* args, std::string* error) {
    if (!Sorted(row, words, command, args, error)) return false;
    *error = ParseWidth(*args, 1, &command->width);
    if (error->empty()) *error = ExpectPositionals(row, *args);
    if (error->empty()) *error = ParseNumberArgument(args->positional[0], &command->address);
    return error->empty();
}

}  // namespace

std::string ParseNoArguments(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!Sorted(row, words, command, &args, &error)) return error;
    return ExpectPositionals(row, args);
}

std::string ParseMemTest(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!Sorted(row, words, command, &args, &error)) return error;
    error = ExpectPositionals(row, args);
    if (!error.empty()) return error;
    const std::string& which = args.positional[0];
    if (which != "internal" && which != "external") {
        return "memtest tests 'internal' or 'external' memory, not '" + which + "'";
    }
    command->external = which == "external";
    command->full = args.Option("--full") != nullptr;
    const std::vector<std::string>* range = args.Option("--range");
    if (range == nullptr) return "";
    command->ranged = true;
    error = ParseNumberArgument((*range)[0], &command->address);
    if (error.empty()) error = ParseNumberArgument((*range)[1], &command->count);
    if (error.empty()) error = CheckMemTestRange(*command);
    return error;
}

// ADDR COUNT, then the values if the command takes any (fill's one).
std::string ParseElements(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!SortedWithWidthAndAddress(row, words, command, &args, &error)) return error;
    error = ParseNumberArgument(args.positional[1], &command->count);
    if (!error.empty()) return error;
    return ParseValues(args, 2, command);
}

// ADDR VALUE...: as many elements as values.
std::string ParseWrite(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!SortedWithWidthAndAddress(row, words, command, &args, &error)) return error;
    command->count = static_cast<std::uint32_t>(args.positional.size() - 1);
    return ParseValues(args, 1, command);
}

std::string ParseSave(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!Sorted(row, words, command, &args, &error)) return error;
    error = ExpectPositionals(row, args);
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
std::string ParseLoad(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!Sorted(row, words, command, &args, &error)) return error;
    error = ExpectPositionals(row, args);
    if (error.empty()) error = ParseNumberArgument(args.positional[0], &command->address);
    if (!error.empty()) return error;
    command->file = args.positional[1];
    std::uint64_t size = 0;
    if (!FileSize(command->file, &size, &error)) return error;
    if (size == 0) return "'" + command->file + "' is empty: there is nothing to load";
    return SetFileTransfer(args, size, "'" + command->file + "'", command);
}

std::string ParseKey(const CommandRow& row, const Words& words, Command* command) {
    Arguments args;
    std::string error;
    if (!Sorted(row, words, command, &args, &error)) return error;
    const std::vector<std::string>& given = args.positional;
    if (given.empty()) {
        command->keyAction = KeyAction::Show;
        return "";
    }
    const std::string& action = given[0];
    if ((action == "defaults" || action == "clear") && given.size() == 1) {
        command->keyAction = action == "defaults" ? KeyAction::Defaults : KeyAction::Clear;
        return "";
    }
    if (action != "set" || given.size() != 3) return "usage: vexotool " + Synopsis(row);
    command->keyAction = KeyAction::Set;
    command->keyField = KeyFieldNamed(given[1]);
    if (command->keyField < 0) {
        return "key set takes intmem, extmem, io1 or io2, not '" + given[1] + "'";
    }
    std::uint32_t value = 0;
    error = ParseNumberArgument(given[2], &value);
    if (!error.empty()) return error;
    command->values.push_back(value);
    return "";
}

// help [COMMAND]; "help --help" asks for help on help.
std::string ParseHelp(const CommandRow& row, const Words& words, Command* command) {
    if (words.size() > 2) return "usage: vexotool " + Synopsis(row);
    if (words.size() == 2) {
        command->helpTopic = IsHelpOption(words[1]) ? row.name : words[1];
        if (ListedRow(command->helpTopic) == nullptr)
            return "no command '" + command->helpTopic + "' (vexotool --help lists them)";
    }
    return "";
}

std::string ParseVersion(const CommandRow& row, const Words& words, Command*) {
    return words.size() > 1 ? "usage: vexotool " + Synopsis(row) : "";
}

std::string Synopsis(const CommandRow& row) {
    return std::string(row.name) + (*row.arguments != '\0' ? " " : "") + row.arguments;
}

namespace {

std::string ParseCommand(const Words& words, Command* command) {
    if (words.empty()) return "an empty command next to '+'";
    const CommandRow* row = RowNamed(words[0]);
    if (row == nullptr) return "unknown command '" + words[0] + "' (vexotool --help lists them)";
    command->row = row;
    return row->parse(*row, words, command);
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc == 0) {
        line.error = "no command (vexotool --help lists them)";
        return line;
    }
    Words words;
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
        const CommandRow* row = ListedRow(topic);
        if (row == nullptr) return false;
        std::fprintf(out, "usage: vexotool %s\n\n%s", Synopsis(*row).c_str(), row->details);
        return true;
    }
    std::fprintf(out,
                 "vexotool %s - diagnostic tool for the VexoLite card\n\n"
                 "usage: vexotool COMMAND [ARGS...] [+ COMMAND [ARGS...]]...\n\ncommands:\n",
                 VEXO_KIT_VERSION);
    for (const CommandRow& row : CommandRows()) {
        if (row.helpLine == nullptr) continue;
        const std::string synopsis = Synopsis(row);
        if (synopsis.size() < 42) {
            std::fprintf(out, "  %-41s %s\n", synopsis.c_str(), row.helpLine);
        } else {
            std::fprintf(out, "  %s\n  %-41s %s\n", synopsis.c_str(), "", row.helpLine);
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
