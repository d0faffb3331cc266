// Whole binary files for save and load: the reading and writing behind the seam's file calls.
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
    std::string reason;
    // A device or a pipe is written as it is, as any program would; a folder is refused there.
    if (!sys::IsFileOrNothing(path, &file)) {
        switch (sys::WriteFileAt(path, sys::Creation::InPlace, data.data(), data.size(), &reason)) {
            case sys::Written::Whole:
                return true;
            case sys::Written::CannotWrite:
                *error = "cannot write '" + path + "': " + reason;
                return false;
            default:
                *error = "cannot create '" + path + "': " + reason;
                return false;
        }
    }
    for (int attempt = 0; attempt < kNamesBeside; ++attempt) {
        const std::string beside = file + ".new" + (attempt == 0 ? "" : std::to_string(attempt));
        switch (sys::WriteFileAt(beside, sys::Creation::New, data.data(), data.size(), &reason)) {
            case sys::Written::Whole:
                return PutInPlace(beside, file, error);
            case sys::Written::NameTaken:
                continue;
            case sys::Written::CannotCreate:
                *error = "cannot create '" + path + "': " + reason;
                return false;
            case sys::Written::CannotWrite:
                *error = "cannot write '" + path + "': " + reason + "; nothing was replaced";
                return false;
        }
    }
    *error = "cannot create '" + path + "': " + file + ".new to " + file + ".new" +
             std::to_string(kNamesBeside - 1) + " are all taken";
    return false;
}

}  // namespace vexotool
