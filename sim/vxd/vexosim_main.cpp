// vexosim.exe: shapes, from the command line, the simulated card that every program shares.
//
// It loads vexolite.vxd (beside it) like any program, changes the card through the module's own
// exports and exits; the change is in the card file, where running programs meet it at their next
// access and later ones find it. When the card file cannot be used it changes nothing and exits 1.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "launcher.h"
#include "parse_number.h"
#include "vexolite_sim.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int UsageError(const char* what) {
    std::fprintf(stderr, "vexosim: %s (vexosim --help shows the commands)\n", what);
    return kUsageError;
}

// A number as vexotool reads it, at most `limit`.
bool ParseNumber(const char* text, std::uint32_t limit, std::uint32_t* value) {
    std::uint32_t parsed = 0;
    if (!vexo::ParseNumber(text, &parsed) || parsed > limit) return false;
    *value = parsed;
    return true;
}

void PrintStatus() {
    SimCardState state = {};
    SimGetCardState(&state);
    char path[MAX_PATH] = {};
    const bool kept = SimGetCardFile(path, sizeof path) != 0;
    std::printf("card:        %s\n", state.cardPresent ? "on the bus" : "off the bus");
    std::printf("place:       bus %u, device %u, function 1\n", state.bus, state.device);
    std::printf("identity:    vendor 0x%04X, device 0x%04X (driver information 0x%08X)\n",
                state.vendorId, state.deviceId, state.driverInfo);
    std::printf("driver:      %s\n", state.driverPresent ? "answers" : "answers nothing");
    std::uint32_t failing[SIM_MAX_FAILING_CODES] = {};
    const std::uint32_t failingCount = SimGetFailingCodes(failing, SIM_MAX_FAILING_CODES);
    std::printf("failing:    ");
    if (failingCount == 0) std::printf(" none");
    for (std::uint32_t i = 0; i < failingCount && i < SIM_MAX_FAILING_CODES; ++i) {
        std::printf(" %u", failing[i]);
    }
    std::printf("\n");
    std::printf("command:     0x%08X\n", state.command);
    for (int i = 0; i < 4; ++i) std::printf("BAR%d:        0x%08X\n", i, state.bars[i]);
    std::printf("file:        %s\n", kept ? path : "none (the card lives in this process only)");
}

void ClearFailingCodes() {
    std::uint32_t failing[SIM_MAX_FAILING_CODES] = {};
    const std::uint32_t count = SimGetFailingCodes(failing, SIM_MAX_FAILING_CODES);
    for (std::uint32_t i = 0; i < count && i < SIM_MAX_FAILING_CODES; ++i) {
        SimSetFailingCode(failing[i], 0);
    }
}

// --- the commands: each takes the words after its name and returns the exit code ----------

int RunProgram(int argc, char** args) {
    return vexo::sim::vxd::RunWithCard(argc, args);
}

int Reset(int, char**) {
    SimResetBoard();
    return 0;
}

int Remove(int, char**) {
    SimSetCardPresent(0);
    return 0;
}

int Insert(int, char**) {
    SimSetCardPresent(1);
    return 0;
}

int FailNone(int, char**) {
    ClearFailingCodes();
    return 0;
}

int SetFailing(char** args, bool fail) {
    std::uint32_t a = 0;
    if (!ParseNumber(args[0], 0xFFFFFFFFu, &a)) return UsageError("CODE is not a number");
    if (!SimSetFailingCode(a, fail)) {
        std::fprintf(stderr,
                     "vexosim: at most %d control codes fail at once; 'vexosim ok CODE' or "
                     "'vexosim fail none' lets codes answer again\n",
                     SIM_MAX_FAILING_CODES);
        return kFailed;
    }
    return 0;
}

int Fail(int, char** args) {
    return SetFailing(args, true);
}

int Ok(int, char** args) {
    return SetFailing(args, false);
}

int Identity(int, char** args) {
    std::uint32_t a = 0, b = 0;
    if (!ParseNumber(args[0], 0xFFFFFFFFu, &a) || !ParseNumber(args[1], 0xFFFFFFFFu, &b)) {
        return UsageError("VENDOR and DEVICE are numbers");
    }
    SimSetDriverIdentity(b, a);
    return 0;
}

int Place(int, char** args) {
    std::uint32_t a = 0, b = 0;
    if (!ParseNumber(args[0], 0xFF, &a) || !ParseNumber(args[1], 0x1F, &b)) {
        return UsageError("BUS is 0-255 and DEVICE 0-31");
    }
    if (!SimPlaceCard(a, b)) return UsageError("another function sits at that place");
    return 0;
}

int Status(int, char**) {
    PrintStatus();
    return 0;
}

// One of vexosim's commands: the help's line for it, what it is checked against and what it does.
struct SimCommand {
    const char* name;
    // As the help shows them: words in capitals stand for a value, others are written as they
    // stand. A command that does without the card reads its own arguments.
    const char* arguments;
    // A change kept in the card file, where programs meet it: refused when the card is not kept.
    bool needsCard;
    std::string helpLine;  // lines after the first start at the help's second column
    int (*run)(int argc, char** args);
};

// In the help's order.
const SimCommand kCommands[] = {
    {"run", "[--wait-for-debugger] PROGRAM [ARGS...]", false,
     "run a 32-bit program with the simulated card in place (any\n"
     "Windows from XP on); its exit code is vexosim's, " +
         std::to_string(vexo::sim::vxd::kCannotRun) + " when it\n" +
         "cannot run (a 64-bit program), " + std::to_string(vexo::sim::vxd::kNotFound) +
         " when it is not found.\n"
         "--wait-for-debugger holds it before its first instruction\n"
         "until a debugger attaches",
     RunProgram},
    {"reset", "", true, "power cycle: the card at power-on state, memories zeroed", Reset},
    {"remove", "", true, "take the card off the PCI bus (no card answers)", Remove},
    {"insert", "", true, "put the card back on the bus as it was", Insert},
    {"fail", "CODE", true, "make driver requests with control code CODE fail", Fail},
    {"fail", "none", true, "let every control code answer again", FailNone},
    {"ok", "CODE", true, "let control code CODE answer again", Ok},
    {"identity", "VENDOR DEVICE", true, "make the driver report another vendor and device",
     Identity},
    {"place", "BUS DEVICE", true, "move the card to function 1 of BUS, DEVICE", Place},
    {"status", "", true, "print the card's state and where it is kept", Status},
};

// Where the help's lines start: the commands' usage at 2, what they do at 26.
constexpr int kUsageColumn = 2;
constexpr int kHelpColumn = 26;

void PrintHelp() {
    std::string help =
        "Usage: vexosim COMMAND\n"
        "Shapes the simulated VexoLite card; the next program that opens it finds it so.\n"
        "\n";
    const std::string indent(kHelpColumn, ' ');
    for (const SimCommand& command : kCommands) {
        std::string line = std::string(kUsageColumn, ' ') + command.name;
        if (*command.arguments != '\0') line = line + " " + command.arguments;
        // A usage too long for its column has the column to itself.
        line += line.size() + 2 > indent.size() ? "\n" + indent
                                                : std::string(kHelpColumn - line.size(), ' ');
        for (char c : command.helpLine) line += c == '\n' ? "\n" + indent : std::string(1, c);
        help += line + "\n";
    }
    help += "\nNumbers are decimal or hexadecimal after 0x.\n";
    std::fputs(help.c_str(), stdout);
}

bool IsHelpRequest(const std::string& word) {
    return word == "--help" || word == "-h" || word == "help";
}

// How well a command line's arguments fit a row: -1 when they do not, else the number of words
// written as they stand that they match.
int Fit(const SimCommand& command, int argc, char** args) {
    int count = 0, literals = 0;
    bool fits = true;
    for (const char* at = command.arguments; *at != '\0'; ++count) {
        const char* end = std::strchr(at, ' ');
        if (end == nullptr) end = at + std::strlen(at);
        const std::string word(at, end);
        const bool placeholder = word[0] >= 'A' && word[0] <= 'Z';
        if (count >= argc || (!placeholder && word != args[count])) fits = false;
        literals += placeholder ? 0 : 1;
        at = *end == ' ' ? end + 1 : end;
    }
    return fits && count == argc ? literals : -1;
}

// The row of that name that the arguments fit best ("fail none" rather than "fail CODE"); null
// when they fit none.
const SimCommand* Matching(const std::string& name, int argc, char** args) {
    const SimCommand* best = nullptr;
    int bestFit = -1;
    for (const SimCommand& command : kCommands) {
        const int fit = name == command.name ? Fit(command, argc, args) : -1;
        if (fit > bestFit) {
            best = &command;
            bestFit = fit;
        }
    }
    return best;
}

const SimCommand* Named(const std::string& name) {
    for (const SimCommand& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

// One command with its arguments; the exit code.
int Run(int argc, char** argv) {
    if (argc == 0) return UsageError("no command");
    const std::string name = argv[0];
    const int arguments = argc - 1;
    if (IsHelpRequest(name)) {
        PrintHelp();
        return 0;
    }
    const SimCommand* named = Named(name);
    if (named != nullptr && !named->needsCard) return named->run(arguments, argv + 1);
    // The module has said which file and why on standard error; a change would reach no program.
    if (SimGetCardFile(nullptr, 0) == 0) {
        std::fprintf(stderr, "vexosim: the card is not kept: nothing done\n");
        return kFailed;
    }
    const SimCommand* command = Matching(name, arguments, argv + 1);
    if (command == nullptr) {
        return UsageError(named != nullptr ? ("wrong arguments for " + name).c_str()
                                           : ("no command " + name).c_str());
    }
    return command->run(arguments, argv + 1);
}

}  // namespace

int main(int argc, char** argv) {
    const int code = Run(argc - 1, argv + 1);
    std::fflush(stdout);
    return code;
}
