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

const char kHelp[] =
    "Usage: vexosim COMMAND\n"
    "Shapes the simulated VexoLite card; the next program that opens it finds it so.\n"
    "\n"
    "  run [--wait-for-debugger] PROGRAM [ARGS...]\n"
    "                          run a 32-bit program with the simulated card in place (any\n"
    "                          Windows from XP on); its exit code is vexosim's, 126 when it\n"
    "                          cannot run (a 64-bit program), 127 when it is not found.\n"
    "                          --wait-for-debugger holds it before its first instruction\n"
    "                          until a debugger attaches\n"
    "  reset                   power cycle: the card at power-on state, memories zeroed\n"
    "  remove                  take the card off the PCI bus (no card answers)\n"
    "  insert                  put the card back on the bus as it was\n"
    "  fail CODE               make driver requests with control code CODE fail\n"
    "  fail none               let every control code answer again\n"
    "  ok CODE                 let control code CODE answer again\n"
    "  identity VENDOR DEVICE  make the driver report another vendor and device\n"
    "  place BUS DEVICE        move the card to function 1 of BUS, DEVICE\n"
    "  status                  print the card's state and where it is kept\n"
    "\n"
    "Numbers are decimal or hexadecimal after 0x.\n";

int UsageError(const char* what) {
    std::fprintf(stderr, "vexosim: %s (vexosim --help shows the commands)\n", what);
    return kUsageError;
}

// A number as vexotool reads it, at most `limit`.
bool ParseNumber(const char* text, std::uint32_t limit, std::uint32_t* value) {
    std::uint32_t parsed = 0;
    if (!vexotool::ParseNumber(text, &parsed) || parsed > limit) return false;
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

// One command with its arguments; the exit code.
int Run(int argc, char** argv) {
    if (argc == 0) return UsageError("no command");
    const std::string command = argv[0];
    const int arguments = argc - 1;
    const auto expect = [&](int count) { return arguments == count; };
    std::uint32_t a = 0, b = 0;
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "run") return vexo::sim::vxd::RunWithCard(arguments, argv + 1);
    // The module has said which file and why on standard error; a change would reach no program.
    if (SimGetCardFile(nullptr, 0) == 0) {
        std::fprintf(stderr, "vexosim: the card is not kept: nothing done\n");
        return kFailed;
    }
    if (command == "reset" && expect(0)) {
        SimResetBoard();
    } else if (command == "remove" && expect(0)) {
        SimSetCardPresent(0);
    } else if (command == "insert" && expect(0)) {
        SimSetCardPresent(1);
    } else if (command == "fail" && expect(1) && std::strcmp(argv[1], "none") == 0) {
        ClearFailingCodes();
    } else if ((command == "fail" || command == "ok") && expect(1)) {
        if (!ParseNumber(argv[1], 0xFFFFFFFFu, &a)) return UsageError("CODE is not a number");
        if (!SimSetFailingCode(a, command == "fail")) {
            std::fprintf(stderr,
                         "vexosim: at most %d control codes fail at once; 'vexosim ok CODE' or "
                         "'vexosim fail none' lets codes answer again\n",
                         SIM_MAX_FAILING_CODES);
            return kFailed;
        }
    } else if (command == "identity" && expect(2)) {
        if (!ParseNumber(argv[1], 0xFFFFFFFFu, &a) || !ParseNumber(argv[2], 0xFFFFFFFFu, &b)) {
            return UsageError("VENDOR and DEVICE are numbers");
        }
        SimSetDriverIdentity(b, a);
    } else if (command == "place" && expect(2)) {
        if (!ParseNumber(argv[1], 0xFF, &a) || !ParseNumber(argv[2], 0x1F, &b)) {
            return UsageError("BUS is 0-255 and DEVICE 0-31");
        }
        if (!SimPlaceCard(a, b)) return UsageError("another function sits at that place");
    } else if (command == "status" && expect(0)) {
        // printed below
    } else {
        const bool known = command == "reset" || command == "remove" || command == "insert" ||
                           command == "fail" || command == "ok" || command == "identity" ||
                           command == "place" || command == "status";
        return UsageError(known ? ("wrong arguments for " + command).c_str()
                                : ("no command " + command).c_str());
    }
    if (command == "status") PrintStatus();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int code = Run(argc - 1, argv + 1);
    std::fflush(stdout);
    return code;
}
