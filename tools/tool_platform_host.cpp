// The tool's machine access on the host: everything reaches the installed board simulator
// through the library's own platform layer, so the tool's checks see what the library sees.
#include <unistd.h>

#include <chrono>

#include "board_context.h"
#include "board_key.h"
#include "platform.h"
#include "tool_platform.h"

namespace vexotool::sys {

namespace platform = vexo::platform;

Driver OpenDriver() {
    const platform::DriverHandle driver = platform::OpenDriver(vexo::kDriverPath);
    return driver == platform::kInvalidDriverHandle ? kNoDriver : driver;
}

bool DriverRequest(Driver driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize) {
    return platform::DriverRequest(driver, code, in, inSize, out, outSize);
}

void CloseDriver(Driver driver) {
    platform::CloseDriver(driver);
}

std::uint32_t ReadConfig(std::uint32_t configAddress) {
    platform::PortWrite32(0xCF8, configAddress);
    return platform::PortRead32(0xCFC);
}

bool ReadBoardKeyValue(const char* name, std::uint32_t* value) {
    platform::RegistryKey key = 0;
    if (!platform::OpenMachineKey(vexo::board_key::kPath, &key)) return false;
    std::uint32_t data = 0;
    const bool read = platform::QueryValue(key, name, &data, sizeof data);
    platform::CloseKey(key);
    if (read) *value = data;
    return read;
}

bool IsConsole(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace vexotool::sys
