// Programs a Windows-side test runs beside itself, from its own folder: one run to its end, or
// one started and left running while the test goes on, its output collected through a pipe.
#pragma once

#include <windows.h>

#include <string>

namespace child_programs {

// A program started with its standard output and error on one pipe.
struct Started {
    HANDLE process = nullptr;
    HANDLE output = nullptr;  // the pipe's read end
    std::string collected;    // what it has written so far

    bool Running() const { return process != nullptr; }
};

inline Started Start(const std::string& commandLine) {
    Started started;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&started.output, &writeEnd, &inherit, 0)) return started;
    SetHandleInformation(started.output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        started.process = process.hProcess;
        CloseHandle(process.hThread);
    } else {
        started.collected = "CreateProcess failed: " + std::to_string(GetLastError());
    }
    CloseHandle(writeEnd);
    return started;
}

// Collects what is waiting in the pipe without blocking; false once the program has closed it.
inline bool CollectWaiting(Started* started) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(started->output, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    while (waiting != 0) {
        char chunk[4096];
        DWORD got = 0;
        const DWORD wanted = waiting < sizeof chunk ? waiting : sizeof chunk;
        if (!ReadFile(started->output, chunk, wanted, &got, nullptr) || got == 0) return false;
        started->collected.append(chunk, got);
        waiting -= got;
    }
    return true;
}

// Waits until the program has written `text`, for at most `milliseconds`.
inline bool WaitForOutput(Started* started, const char* text, DWORD milliseconds) {
    const DWORD begun = GetTickCount();
    while (started->collected.find(text) == std::string::npos) {
        if (!CollectWaiting(started) || GetTickCount() - begun > milliseconds) {
            return started->collected.find(text) != std::string::npos;
        }
        Sleep(5);
    }
    return true;
}

// Waits for the end of the program and collects the rest of its output; its exit code.
inline DWORD Finish(Started* started) {
    DWORD exitCode = 0xFFFFFFFFu;
    if (started->process != nullptr) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(started->output, chunk, sizeof chunk, &got, nullptr) && got != 0) {
            started->collected.append(chunk, got);
        }
        WaitForSingleObject(started->process, INFINITE);
        GetExitCodeProcess(started->process, &exitCode);
        CloseHandle(started->process);
        started->process = nullptr;
    }
    if (started->output != nullptr) CloseHandle(started->output);
    started->output = nullptr;
    return exitCode;
}

struct Run {
    DWORD exitCode = 0xFFFFFFFFu;
    std::string output;  // stdout and stderr together
};

// Runs `commandLine` to its end and collects what it writes.
inline Run RunProgram(const std::string& commandLine) {
    Started started = Start(commandLine);
    Run run;
    run.exitCode = Finish(&started);
    run.output = started.collected;
    return run;
}

}  // namespace child_programs
