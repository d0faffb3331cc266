// Programs a Windows-side test runs beside itself: one run to its end, or one started and left
// running while the test goes on, its output collected through a pipe or written where the
// test's own goes.
#pragma once

#include <windows.h>

#include <string>

namespace child_programs {

// A program started with its standard output and error on one pipe.
struct Started {
    HANDLE process = nullptr;
    DWORD id = 0;             // the process id, to find its windows
    HANDLE output = nullptr;  // the pipe's read end; none for a program started by Launch
    DWORD startError = 0;     // why it did not start
    std::string collected;    // what it has written so far

    bool Running() const { return process != nullptr; }
};

// Starts `commandLine`; with `pipe`, its standard output and error go to the pipe `output`,
// otherwise it inherits none of this program's handles.
inline Started StartProgram(const std::string& commandLine, HANDLE pipe) {
    Started started;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (pipe != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = pipe;
        startup.hStdError = pipe;
    }
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, pipe != nullptr, 0, nullptr, nullptr,
                       &startup, &process)) {
        started.process = process.hProcess;
        started.id = process.dwProcessId;
        CloseHandle(process.hThread);
    } else {
        started.startError = GetLastError();
        started.collected = "CreateProcess failed: " + std::to_string(started.startError);
    }
    return started;
}

inline Started Start(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return Started{};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    Started started = StartProgram(commandLine, writeEnd);
    started.output = readEnd;
    CloseHandle(writeEnd);
    return started;
}

// A program that writes where this one does (a window, or a console of its own).
inline Started Launch(const std::string& commandLine) {
    return StartProgram(commandLine, nullptr);
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
        while (started->output != nullptr &&
               ReadFile(started->output, chunk, sizeof chunk, &got, nullptr) && got != 0) {
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

// Waits for the end of the program for at most `milliseconds`, then ends it; whether it ended by
// itself. Finish collects the rest.
inline bool EndsWithin(Started* started, DWORD milliseconds) {
    if (started->process == nullptr) return true;
    if (WaitForSingleObject(started->process, milliseconds) == WAIT_OBJECT_0) return true;
    TerminateProcess(started->process, 9);
    return false;
}

// The exit code of a program that FinishWithin had to end: the system's "still active", which
// is what a program that has not ended reports.
constexpr DWORD kNotEnded = STILL_ACTIVE;

// Finish, waiting at most `milliseconds`: a program still running then is ended with kNotEnded,
// so a hung child fails the test that started it and outlives nothing.
inline DWORD FinishWithin(Started* started, DWORD milliseconds) {
    const DWORD begun = GetTickCount();
    while (started->process != nullptr &&
           WaitForSingleObject(started->process, 20) == WAIT_TIMEOUT) {
        if (started->output != nullptr) CollectWaiting(started);
        if (GetTickCount() - begun > milliseconds) {
            TerminateProcess(started->process, kNotEnded);
            WaitForSingleObject(started->process, 10000);
            break;
        }
    }
    return Finish(started);
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
