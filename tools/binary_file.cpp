#include "binary_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool_platform.h"

namespace vexotool {
namespace {

std::string Failure(const char* what, const std::string& path, int error) {
    return std::string("cannot ") + what + " '" + path + "': " + std::strerror(error);
}

// Closes the file on every path out.
struct File {
    std::FILE* handle;
    ~File() {
        if (handle != nullptr) std::fclose(handle);
    }
};

}  // namespace

bool FileSize(const std::string& path, std::uint64_t* size, std::string* error) {
    File file{std::fopen(path.c_str(), "rb")};
    if (file.handle == nullptr) {
        *error = Failure("open", path, errno);
        return false;
    }
    // The C runtime's long is 32 bits on Windows: a file of 2 GiB or more cannot be sized this
    // way, and is far larger than any area of the card anyway.
    const long end = std::fseek(file.handle, 0, SEEK_END) == 0 ? std::ftell(file.handle) : -1L;
    if (end < 0) {
        *error = "cannot find the size of '" + path + "' (a file of 2 GiB or more?)";
        return false;
    }
    *size = static_cast<std::uint64_t>(end);
    return true;
}

bool ReadWholeFile(const std::string& path, std::uint64_t expected, std::vector<std::uint8_t>* data,
                   std::string* error) {
    File file{std::fopen(path.c_str(), "rb")};
    if (file.handle == nullptr) {
        *error = Failure("open", path, errno);
        return false;
    }
    data->assign(static_cast<std::size_t>(expected), 0);
    const std::size_t read = std::fread(data->data(), 1, data->size(), file.handle);
    if (std::ferror(file.handle)) {
        *error = Failure("read", path, errno);
        return false;
    }
    // One byte more than expected, or fewer: the file changed after the command line was checked.
    if (read != data->size() || std::fgetc(file.handle) != EOF) {
        *error = "'" + path + "' no longer holds the " + std::to_string(expected) +
                 " bytes it held when the command line was checked";
        return false;
    }
    return true;
}

namespace {

// Names tried for the new file beside the one it replaces, FILE.new, FILE.new1, ...
constexpr int kNamesBeside = 100;

// Devices, pipes and folders as any program writes them. Nothing is removed on failure: the
// name is not a file of ours.
bool WriteInPlace(const std::string& path, const std::vector<std::uint8_t>& data,
                  std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = Failure("create", path, errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    *error = Failure("write", path, written ? errno : writeError);
    return false;
}

// `beside`, complete, takes the place of `path`.
bool PutInPlace(const std::string& beside, const std::string& path, std::string* error) {
    std::string reason;
    bool oldRemoved = false;
    if (sys::MoveOver(beside, path, &reason, &oldRemoved)) return true;
    if (oldRemoved) {
        *error = "cannot rename '" + beside + "' to '" + path + "': " + reason +
                 "; the saved bytes are in '" + beside + "'";
        return false;
    }
    std::remove(beside.c_str());
    *error = "cannot replace '" + path + "': " + reason + "; nothing was replaced";
    return false;
}

}  // namespace

// The bytes go into a new file beside the old one, which is replaced only once they are all
// written: a full disk or a size limit leaves an existing file as it was.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data,
                    std::string* error) {
    std::string file;
    if (!sys::IsFileOrNothing(path, &file)) return WriteInPlace(path, data, error);
    std::string reason;
    for (int attempt = 0; attempt < kNamesBeside; ++attempt) {
        const std::string beside = file + ".new" + (attempt == 0 ? "" : std::to_string(attempt));
        switch (sys::WriteNewFile(beside, data.data(), data.size(), &reason)) {
            case sys::NewFile::Written:
                return PutInPlace(beside, file, error);
            case sys::NewFile::NameTaken:
                continue;
            case sys::NewFile::CannotCreate:
                *error = "cannot create '" + path + "': " + reason;
                return false;
            case sys::NewFile::CannotWrite:
                *error = "cannot write '" + path + "': " + reason + "; nothing was replaced";
                return false;
        }
    }
    *error = "cannot create '" + path + "': " + file + ".new to " + file + ".new" +
             std::to_string(kNamesBeside - 1) + " are all taken";
    return false;
}

}  // namespace vexotool
