// The program the module is loaded into. See host_program.h.
#include "host_program.h"

#include <cstring>

namespace vexo::sim::vxd {

std::string EnvironmentValue(const char* name) {
    const DWORD length = GetEnvironmentVariableA(name, nullptr, 0);
    if (length == 0) return {};
    std::string value(length, '\0');
    const DWORD copied = GetEnvironmentVariableA(name, &value[0], length);
    value.resize(copied < length ? copied : 0);
    return value;
}

void TellTheProgram(const std::string& text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string line = "vexolite.vxd: " + text + "\r\n";
    DWORD written = 0;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string SystemReason(DWORD error) {
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
        return "no space left on the disk";
    }
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text, nullptr) == 0) {
        return "system error " + std::to_string(error);
    }
    std::string reason = text;
    while (!reason.empty() && std::strchr(" .\r\n", reason.back()) != nullptr) reason.pop_back();
    return reason;
}

}  // namespace vexo::sim::vxd
