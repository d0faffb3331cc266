// The four address fields of the base-address dialog, as plain data and pure functions: what a
// field accepts while the user types, and how its text becomes a stored value when the field is
// taken over (parsed, aligned, shown again). Nothing here touches a window or the registry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board_key.h"

namespace vexo::applet {

// How one kind of field aligns and shows its value.
struct FieldFormat {
    std::uint32_t mask;         // applied when the field is taken over
    const char* displayFormat;  // printf format of the value as shown
};

constexpr FieldFormat kMemoryField{board_key::kMemoryBaseMask, "%08X"};  // a bus address
constexpr FieldFormat kIoField{board_key::kIoBaseMask, "%04X"};          // a port base

constexpr int kFieldCount = board_key::kValueCount;

constexpr FieldFormat FieldFormatFor(board_key::Space space) {
    return space == board_key::Space::Io ? kIoField : kMemoryField;
}

// Field order everywhere: internal memory, external memory, I/O range 1, I/O range 2 (the order
// of board_key::kBases).
constexpr int kEditControlIds[kFieldCount] = {1000, 1001, 1002, 1003};
constexpr FieldFormat kFieldFormats[kFieldCount] = {
    FieldFormatFor(board_key::kBases[0].space), FieldFormatFor(board_key::kBases[1].space),
    FieldFormatFor(board_key::kBases[2].space), FieldFormatFor(board_key::kBases[3].space)};

// Only this many characters of a field's text count; the rest is ignored and disappears when the
// field is rewritten.
constexpr std::size_t kParsedChars = 8;
// Room for a formatted value.
constexpr std::size_t kTextBufferSize = 256;

// The typing filter. Returns the character code to hand on to the edit control (lower-case
// letters are turned into upper case), or kDroppedChar when the character must not reach it.
constexpr int kDroppedChar = -1;
int FilterTypedChar(unsigned code);

// The field's text as a number: the first kParsedChars characters, read like strtoul with
// base 16 (white space, sign and "0x" allowed; no digits gives 0).
std::uint32_t ParseFieldText(const char* text);

// A value forced onto the field's alignment (its mask).
constexpr std::uint32_t AlignedValue(std::uint32_t value, const FieldFormat& format) {
    return value & format.mask;
}

// What a field's text becomes when the field is taken over: parsed and aligned.
std::uint32_t TakeOverText(const char* text, const FieldFormat& format);

// Writes the value as the field shows it.
void FormatFieldValue(std::uint32_t value, const FieldFormat& format,
                      char (&text)[kTextBufferSize]);

}  // namespace vexo::applet
