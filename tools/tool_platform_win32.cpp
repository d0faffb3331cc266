// The tool's console, clock and files on Windows.
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tool_platform.h"

namespace vexotool::sys {

bool IsConsole(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

double NowSeconds() {
    return GetTickCount() / 1000.0;
}

namespace {

// The system's error in the C runtime's words, which the tool's other file messages use. The
// runtime's own mapping is not used: it turns a full disk into "Invalid argument", and a write cut
// short by one into whatever error came before.
std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return std::strerror(EACCES);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "the file is in use by another program";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return std::strerror(EEXIST);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::strerror(ENOSPC);
        case ERROR_FILENAME_EXCED_RANGE:
            return std::strerror(ENAMETOOLONG);
        case ERROR_INVALID_NAME:
            return std::strerror(EINVAL);
    }
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text, nullptr) == 0) {
        return "system error " + std::to_string(error);
    }
    std::string message = text;
    while (!message.empty() && std::strchr(" .\r\n", message.back()) != nullptr) {
        message.pop_back();
    }
    return message;
}

bool WriteAll(HANDLE file, const void* data, std::size_t size, DWORD* error) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, piece, &written, nullptr)) {
            *error = GetLastError();
            return false;
        }
        if (written == 0) {  // Windows 9x reports a full disk this way
            *error = ERROR_DISK_FULL;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool IsNameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool IsFileOrNothing(const std::string& path, std::string* file) {
    *file = path;
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Nothing there, or a file another program holds: the replace says why it cannot.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
               error == ERROR_SHARING_VIOLATION;
    }
    // A folder does not open this way; a device (NUL, COM1) is not a disk file.
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
}

Written WriteFileAt(const std::string& path, Creation how, const void* data, std::size_t size,
                    std::string* reason) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                    how == Creation::New ? CREATE_NEW : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *reason = Reason(error);
        return IsNameTaken(error) && how == Creation::New ? Written::NameTaken
                                                          : Written::CannotCreate;
    }
    DWORD error = 0;
    bool whole = WriteAll(file, data, size, &error);
    if (!CloseHandle(file) && whole) {
        whole = false;
        error = GetLastError();
    }
    if (whole) return Written::Whole;
    *reason = Reason(error);
    if (how == Creation::New) DeleteFileA(path.c_str());
    return Written::CannotWrite;
}

// Windows 9x has no MoveFileEx: an existing file is deleted first, once the new one is whole.
bool MoveOver(const std::string& from, const std::string& to, std::string* reason,
              bool* toRemoved) {
    *toRemoved = false;
    if (MoveFileA(from.c_str(), to.c_str())) return true;
    DWORD error = GetLastError();
    if (IsNameTaken(error)) {
        if (!DeleteFileA(to.c_str())) {
            *reason = Reason(GetLastError());
            return false;
        }
        *toRemoved = true;
        if (MoveFileA(from.c_str(), to.c_str())) return true;
        error = GetLastError();
    }
    *reason = Reason(error);
    return false;
}

}  // namespace vexotool::sys
