// What vexotool needs of the machine besides VexoDLL and the library's platform seam (which it
// links for its own look at the driver, the PCI bus and the board configuration key): the console,
// a clock, and files written whole. Two implementations are chosen at link time:
//   tool_platform_win32.cpp - kernel32 and the C runtime's console handles;
//   tool_platform_host.cpp  - POSIX, for the host tests.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace vexotool::sys {

// True when `stream` is an interactive console, where a progress line makes sense.
bool IsConsole(std::FILE* stream);

// Seconds since some fixed moment, for rates and time left.
double NowSeconds();

// Whether `path` names an ordinary file or nothing, which save replaces through a new file
// written beside it; a device, a pipe or a folder is written in place, as any program would.
// *file is the file to replace: on the host a symbolic link is followed to the file it names.
bool IsFileOrNothing(const std::string& path, std::string* file);

enum class NewFile { Written, NameTaken, CannotCreate, CannotWrite };

// Creates the file at `path`, which must not exist yet, and writes `size` bytes into it. On
// failure no file is left and *reason says why in the C runtime's words, as the tool's other file
// messages do ("No space left on device"); NameTaken when something already has that name.
NewFile WriteNewFile(const std::string& path, const void* data, std::size_t size,
                     std::string* reason);

// Puts the file at `from` in the place of `to`, replacing a file there. *reason says why not;
// *toRemoved tells whether the old `to` was already gone by then (Windows 9x can only delete it
// and then move, so a failed move can come after the delete).
bool MoveOver(const std::string& from, const std::string& to, std::string* reason, bool* toRemoved);

}  // namespace vexotool::sys
