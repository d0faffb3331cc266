// The program the module is loaded into: what the module reads from it and tells it.
//
// The module shares no C runtime state with the program, so it reads the program's environment
// and writes to its standard error through kernel32 alone. Text is UTF-8 inside the module and
// UTF-16 at the system's W functions, so that a path reaches the file system as the user wrote
// it, whatever the ANSI code page holds.
#pragma once

#include <windows.h>

#include <string>

namespace vexo::sim::vxd {

std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& utf16);
// In the ANSI code page, for the module's narrow exports.
std::string Ansi(const std::string& utf8);

// The environment variable `name` as the program has it; empty when it is not set.
std::string EnvironmentValue(const char* name);

// One line on the program's standard error, "vexolite.vxd: " first: through the console's
// Unicode output when it is a console, else as UTF-8. A program without one (a GUI program) is
// not told.
void TellTheProgram(const std::string& text);

// This program's file name, without its folder.
std::string ProgramName();

// The system's words for `error`, without the final period; a full disk in the words the tools
// use for it.
std::string SystemReason(DWORD error);

}  // namespace vexo::sim::vxd
