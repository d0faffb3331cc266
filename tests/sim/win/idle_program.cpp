// A program that runs until it is ended and never uses the card: it takes the process id of one
// that ended, so that a test can show that an id is no proof that the card's holder still runs.
#include <windows.h>

#include <cstdio>

int main() {
    std::printf("idle as process %lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
