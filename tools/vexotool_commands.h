// vexotool's commands as a library: vexotool.exe is this plus main(); the tests run command
// lines through it in one process, against the simulator on the host and against VexoDLL and the
// simulated card under Wine.
#pragma once

#include <cstdio>

namespace vexotool {

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;  // the card cannot be opened, a check or a transfer failed
constexpr int kExitUsage = 2;   // bad usage; nothing was done

// Runs one command line. `argv` holds the `argc` arguments after the program name; a lone "+"
// separates commands, which run in order on one opening of the card and stop at the first that
// fails. Results go to `out`; diagnoses, the progress line and usage errors to `err`. The whole
// line is checked before the first command runs. The card is closed again before returning.
int RunVexoTool(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace vexotool
