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

enum class Written { Whole, NameTaken, CannotCreate, CannotWrite };
enum class Creation {
    New,      // the file must not exist yet; on failure none is left
    InPlace,  // a device or pipe, opened and written as it is; nothing is removed on failure
};

// Writes `size` bytes to the file at `path`, created as `how` says. On failure *reason says why
// in the C runtime's words, as the tool's other file messages do ("No space left on device");
// NameTaken when a new file's name is already taken.
Written WriteFileAt(const std::string& path, Creation how, const void* data, std::size_t size,
                    std::string* reason);

// Puts the file at `from` in the place of `to`, replacing a file there. *reason says why not;
// *toRemoved tells whether the old `to` was already gone by then (Windows 9x can only delete it
// and then move, so a failed move can come after the delete).
bool MoveOver(const std::string& from, const std::string& to, std::string* reason, bool* toRemoved);

}  // namespace vexotool::sys
