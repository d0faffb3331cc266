// What vexotool needs of the machine besides VexoDLL and the library's platform seam (which it
// links for its own look at the driver, the PCI bus and the board configuration key): the console
// and a clock. Two implementations are chosen at link time:
//   tool_platform_win32.cpp - kernel32 and the C runtime's console handles;
//   tool_platform_host.cpp  - POSIX, for the host tests.
#pragma once

#include <cstdio>

namespace vexotool::sys {

// True when `stream` is an interactive console, where a progress line makes sense.
bool IsConsole(std::FILE* stream);

// Seconds since some fixed moment, for rates and time left.
double NowSeconds();

}  // namespace vexotool::sys
