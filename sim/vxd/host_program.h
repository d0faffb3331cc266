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

// How a reason is worded: in the system's own words, or, for a file the user named that cannot
// be opened, in the short words of the card-file messages for the causes a user can fix.
enum class Wording { System, FileOpen };

// The system's words for `error`, without the final period; a full disk in the words the tools
// use for it. FileOpen words a missing path, a held file, a refusal and an overlong path as the
// card-file messages do, and any other error by its number.
std::string SystemReason(DWORD error, Wording wording = Wording::System);

}  // namespace vexo::sim::vxd
