// The program the module is loaded into. See host_program.h.
#include "host_program.h"

#include <cstring>

namespace vexo::sim::vxd {

std::wstring Utf16(const std::string& utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &text[0], length);
    return text;
}

std::string Utf8(const std::wstring& utf16) {
    const int size = static_cast<int>(utf16.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, &text[0], length, nullptr, nullptr);
    }
    return text;
}

std::string Ansi(const std::string& utf8) {
    const std::wstring utf16 = Utf16(utf8);
    const int size = static_cast<int>(utf16.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_ACP, 0, utf16.data(), size, &text[0], length, nullptr, nullptr);
    }
    return text;
}

std::string EnvironmentValue(const char* name) {
    const std::wstring wideName = Utf16(name);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (length == 0) return {};
    std::wstring value(length, L'\0');
    const DWORD copied = GetEnvironmentVariableW(wideName.c_str(), &value[0], length);
    value.resize(copied < length ? copied : 0);
    return Utf8(value);
}

void TellTheProgram(const std::string& text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string line = "vexolite.vxd: " + text + "\r\n";
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) {
        const std::wstring wide = Utf16(line);
        WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length < MAX_PATH ? length : 0);
    const std::size_t folderEnd = full.find_last_of(L"\\/");
    return Utf8(folderEnd == std::wstring::npos ? full : full.substr(folderEnd + 1));
}

namespace {

// The card-file messages' words for a file that cannot be opened; empty for any other error.
std::string FileOpenReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return "no such folder or drive";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "another program holds it";
        case ERROR_ACCESS_DENIED:
            return "access is denied";
        case ERROR_FILENAME_EXCED_RANGE:
            return "the path is too long";
        default:
            return "error " + std::to_string(error);
    }
}

}  // namespace

std::string SystemReason(DWORD error, Wording wording) {
    if (wording == Wording::FileOpen) return FileOpenReason(error);
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
        return "no space left on the disk";
    }
    wchar_t text[256] = {};
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, 256, nullptr) == 0) {
        return "system error " + std::to_string(error);
    }
    std::string reason = Utf8(text);
    while (!reason.empty() && std::strchr(" .\r\n", reason.back()) != nullptr) reason.pop_back();
    return reason;
}

}  // namespace vexo::sim::vxd
