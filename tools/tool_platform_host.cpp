// The tool's console and clock on the host. Its machine access goes through the library's
// platform seam, which the host build gets from the board simulator (sim/platform_sim.cpp).
#include <unistd.h>

#include <chrono>

#include "tool_platform.h"

namespace vexotool::sys {

bool IsConsole(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace vexotool::sys
