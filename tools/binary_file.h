// Whole binary files for save and load, through the C runtime and the tool's platform seam so that
// the same code runs on the host and on Windows. Each failure comes back as one line naming the
// file and the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexotool {

// The size of the file at `path` in bytes; false, with *error set, when it cannot be opened or
// sized.
bool FileSize(const std::string& path, std::uint64_t* size, std::string* error);

// The whole file, which must hold exactly `expected` bytes (it may have changed since it was
// sized); false, with *error set, otherwise.
bool ReadWholeFile(const std::string& path, std::uint64_t expected, std::vector<std::uint8_t>* data,
                   std::string* error);

// Creates or replaces the file with `data`, written beside it first: on failure *error is set,
// an existing file is as it was and no partial file is left.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data,
                    std::string* error);

}  // namespace vexotool
