// The tool's console, clock and files on the host. Its machine access goes through the library's
// platform seam, which the host build gets from the board simulator (sim/host/host_platform.cpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool_platform.h"

namespace vexotool::sys {

bool IsConsole(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool IsFileOrNothing(const std::string& path, std::string* file) {
    *file = path;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return errno == ENOENT;
    if (!S_ISREG(status.st_mode)) return false;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        *file = resolved;
        std::free(resolved);
    }
    return true;
}

Written WriteFileAt(const std::string& path, Creation how, const void* data, std::size_t size,
                    std::string* reason) {
    const int flags = O_WRONLY | O_CREAT | (how == Creation::New ? O_EXCL : O_TRUNC);
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return errno == EEXIST && how == Creation::New ? Written::NameTaken : Written::CannotCreate;
    }
    bool whole = WriteAll(fd, data, size);
    int error = errno;
    if (close(fd) != 0 && whole) {
        whole = false;
        error = errno;
    }
    if (whole) return Written::Whole;
    *reason = std::strerror(error);
    if (how == Creation::New) unlink(path.c_str());
    return Written::CannotWrite;
}

bool MoveOver(const std::string& from, const std::string& to, std::string* reason,
              bool* toRemoved) {
    *toRemoved = false;
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *reason = std::strerror(errno);
    return false;
}

}  // namespace vexotool::sys
