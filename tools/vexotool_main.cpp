// vexotool.exe: the commands, with Ctrl+C stopping long work cleanly.
#include <windows.h>

#include <cstdio>

#include "transfer.h"
#include "vexotool_commands.h"

namespace {

// The C runtime leaves stdout unbuffered on a console or any other character device, and the
// tool's printf then writes each character on its own: minutes for a dump on a console. Fully
// buffered, the output goes out after each command, when the progress line is drawn and at exit.
char outputBuffer[1 << 16];

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        std::fflush(stdout);  // the console is closing and takes the process with it
        return FALSE;
    }
    vexotool::RequestStop();
    return TRUE;  // the command reports how far it got and ends by itself
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return vexotool::RunVexoTool(argc - 1, argv + 1, stdout, stderr);
}
