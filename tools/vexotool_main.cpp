// vexotool.exe: the commands, with Ctrl+C stopping long work cleanly.
#include <windows.h>

#include <cstdio>

#include "transfer.h"
#include "vexotool_commands.h"

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    vexotool::RequestStop();
    return TRUE;  // the command reports how far it got and ends by itself
}

}  // namespace

int main(int argc, char** argv) {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return vexotool::RunVexoTool(argc - 1, argv + 1, stdout, stderr);
}
