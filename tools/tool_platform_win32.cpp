// The tool's console and clock on Windows.
#include <io.h>
#include <windows.h>

#include "tool_platform.h"

namespace vexotool::sys {

bool IsConsole(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

double NowSeconds() {
    return GetTickCount() / 1000.0;
}

}  // namespace vexotool::sys
