// vexotool's view of the board configuration key: the four values as the library reads them
// when it opens the card (`info`, `key`), and `key set`, `key defaults` and `key clear`, which
// write the key by the applet's rules through the applet's own key_store source.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board_key.h"

namespace vexotool {

// One value of the key: the name the `key` command takes, what info calls it, and the base
// address register the library takes the base from when the value gives none.
using KeyField = vexo::board_key::BaseAddress;
// In the key's value order.
inline constexpr const auto& kKeyFields = vexo::board_key::kBases;

// The field `name` names; -1 when it names none.
int KeyFieldNamed(const std::string& name);

// What the library makes of one value when it opens the card: a base it programs into the
// card, or a reason to take the base from the card's register instead.
enum class KeyValueState { Used, NoKey, NoValue, Zero, TooLarge };
struct KeyValueReading {
    KeyValueState state;
    std::uint32_t value;  // Used: the base as the library reads it
};
KeyValueReading ReadAsTheLibraryDoes(const char* valueName);

// "no registry value" and the like: why a base comes from the card; empty for Used.
const char* ReasonForCardBase(KeyValueState state);

// The commands. Each returns the tool's exit status and writes its report to `out`, its errors
// to `err`.
int ShowKey(std::FILE* out);
int SetKeyValue(int field, std::uint32_t value, std::FILE* out, std::FILE* err);
int WriteKeyDefaults(std::FILE* out, std::FILE* err);
int ClearKey(std::FILE* out, std::FILE* err);

}  // namespace vexotool
