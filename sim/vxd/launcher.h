// vexosim run: a 32-bit program started with the simulated card in place, on every Windows.
//
// The program starts suspended, gets the card (card_injection.h) before its first instruction and
// then runs as if started directly: its command line after the program's name exactly as given,
// the working folder, console, standard handles and environment of vexosim; Ctrl+C reaches it
// (vexosim itself waits it out), and its exit code is vexosim's.
#pragma once

namespace vexo::sim::vxd {

// Exit codes of a program that never ran, as POSIX shells and env give them; a program's own
// code is unlikely to be either.
constexpr int kCannotRun = 126;  // a 64-bit program, not a program, or it could not start
constexpr int kNotFound = 127;

// `vexosim run [--wait-for-debugger] PROGRAM [ARGS...]` from this process's command line; the
// program's exit code or one of the above. `arguments` are those after "run", for the options
// and the program's name.
int RunWithCard(int argc, char** arguments);

}  // namespace vexo::sim::vxd
