// The program the module is loaded into: what the module reads from it and tells it.
//
// The module shares no C runtime state with the program, so it reads the program's environment
// and writes to its standard error through kernel32 alone.
#pragma once

#include <windows.h>

#include <string>

namespace vexo::sim::vxd {

// The environment variable `name` as the program has it; empty when it is not set.
std::string EnvironmentValue(const char* name);

// One line on the program's standard error, "vexolite.vxd: " first. A program without one (a GUI
// program) is not told.
void TellTheProgram(const std::string& text);

// The system's words for `error`, without the final period; a full disk in the words the tools
// use for it.
std::string SystemReason(DWORD error);

}  // namespace vexo::sim::vxd
