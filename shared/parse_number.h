// Numbers on a command line, read alike by vexotool and vexosim.
#pragma once

#include <cstdint>

namespace vexo {

// Decimal, or hexadecimal after 0x; the whole text, nothing else (no sign, no blanks), at most
// 32 bits.
inline bool ParseNumber(const char* text, std::uint32_t* value) {
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0') return false;
    std::uint64_t result = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = result * base + digit;
        if (result > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<std::uint32_t>(result);
    return true;
}

}  // namespace vexo
