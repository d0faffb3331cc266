// A program that misbehaves on purpose, for the Wine runner's own test:
//   crash        writes through a null pointer, with no handler of its own
//   hang NAME    starts a copy of itself that hangs too, says "ready", and waits forever
// NAME only marks the processes so that the test can find them.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "child_programs.h"

namespace {

int Crash() {
    std::printf("crashing\n");
    std::fflush(stdout);
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}

int Hang(const char* name, bool withChild) {
    if (withChild) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        const child_programs::Started child =
            child_programs::Launch(std::string("\"") + self + "\" hang-child " + name);
        if (!child.Running()) {
            std::printf("cannot start the child: %s\n", child.collected.c_str());
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
    }
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "crash") == 0) return Crash();
    if (argc == 3 && std::strcmp(argv[1], "hang") == 0) return Hang(argv[2], true);
    if (argc == 3 && std::strcmp(argv[1], "hang-child") == 0) return Hang(argv[2], false);
    std::printf("usage: misbehaving_program crash | hang NAME\n");
    return 2;
}
