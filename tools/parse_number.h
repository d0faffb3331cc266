// Numbers on a command line, read alike by vexotool and vexosim.
#pragma once

#include <cstdint>

namespace vexotool {

// Decimal, or hexadecimal after 0x; the whole text, nothing else (no sign, no blanks), at most
// 32 bits.
bool ParseNumber(const char* text, std::uint32_t* value);

}  // namespace vexotool
