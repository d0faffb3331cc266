#include "address_field.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexo::applet {

int FilterTypedChar(unsigned code) {
    if (code >= 'a' && code <= 'z') code -= 0x20;
    // Classification is asked only for 7-bit codes, so no locale or code page can let a
    // character from the upper half through.
    if (code >= 0x80) return kDroppedChar;
    const int c = static_cast<int>(code);
    // Control codes carry Backspace, Tab, Enter, Esc and Ctrl+C/V/X/Z to the control.
    if (std::iscntrl(c)) return c;
    if (std::isdigit(c) || (c >= 'A' && c <= 'F')) return c;
    return kDroppedChar;
}

std::uint32_t ParseFieldText(const char* text) {
    char head[kParsedChars + 1] = {};
    std::strncpy(head, text, kParsedChars);
    // strtoul's result is at least 32 bits wide and eight digits cannot overflow it; a leading
    // "-" wraps modulo 2^32 once the result is cut to 32 bits.
    return static_cast<std::uint32_t>(std::strtoul(head, nullptr, 16));
}

std::uint32_t TakeOverText(const char* text, const FieldFormat& format) {
    return AlignedValue(ParseFieldText(text), format);
}

void FormatFieldValue(std::uint32_t value, const FieldFormat& format,
                      char (&text)[kTextBufferSize]) {
    std::snprintf(text, sizeof text, format.displayFormat, static_cast<unsigned>(value));
}

}  // namespace vexo::applet
