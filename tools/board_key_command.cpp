// The board configuration key as vexotool shows, reads and writes it.
#include "board_key_command.h"

#include <string>
#include <vector>

#include "base_addresses.h"
#include "board_key.h"
#include "key_store.h"
#include "platform.h"
#include "vexotool_commands.h"

namespace vexotool {

namespace board_key = vexo::board_key;
namespace key_store = vexo::applet::key_store;
namespace platform = vexo::platform;

int KeyFieldNamed(const std::string& name) {
    for (int i = 0; i < board_key::kValueCount; ++i) {
        if (name == kKeyFields[i].name) return i;
    }
    return -1;
}

namespace {

// The library offers four bytes for a value and takes the card's register when the query fails.
// A failed query is told apart here by offering more room than any value of the Windows 9x
// registry can hold (about 16 KB): a value that fits that is there, only too large.
bool ValueLargerThanAWord(platform::RegistryKey key, const char* name) {
    constexpr std::uint32_t kRoomForAnyValue = 64 * 1024;
    std::vector<std::uint8_t> data(kRoomForAnyValue);
    return platform::QueryValue(key, name, data.data(), kRoomForAnyValue);
}

// The key as users name it in regedit.
const std::string kKeyName = std::string("HKEY_LOCAL_MACHINE\\") + board_key::kPath;

}  // namespace

// Through the library's own platform seam, the way the library reads (a shorter value fills the
// low bytes of a zero).
KeyValueReading ReadAsTheLibraryDoes(const char* valueName) {
    platform::RegistryKey key = 0;
    if (!platform::OpenMachineKey(board_key::kPath, &key)) return {KeyValueState::NoKey, 0};
    std::uint32_t data = 0;
    KeyValueReading reading{KeyValueState::Used, 0};
    if (!platform::QueryValue(key, valueName, &data, sizeof data)) {
        reading.state =
            ValueLargerThanAWord(key, valueName) ? KeyValueState::TooLarge : KeyValueState::NoValue;
    } else if (data == 0) {
        reading.state = KeyValueState::Zero;
    } else {
        reading.value = data;
    }
    platform::CloseKey(key);
    return reading;
}

const char* ReasonForCardBase(KeyValueState state) {
    switch (state) {
        case KeyValueState::Used:
            return "";
        case KeyValueState::NoKey:
            return "no board configuration key";
        case KeyValueState::NoValue:
            return "no registry value";
        case KeyValueState::Zero:
            return "registry value is 0";
        case KeyValueState::TooLarge:
            return "registry value is larger than 4 bytes";
    }
    return "";
}

int ShowKey(std::FILE* out) {
    std::fprintf(out, "board configuration key %s\n", kKeyName.c_str());
    for (int i = 0; i < board_key::kValueCount; ++i) {
        const char* valueName = board_key::kValueNames[i];
        const KeyValueReading reading = ReadAsTheLibraryDoes(valueName);
        const KeyField& field = kKeyFields[i];
        if (reading.state == KeyValueState::Used) {
            std::fprintf(out, "  %-6s  %-17s  0x%08X  cVexoOpen programs %s with it\n", field.name,
                         valueName, static_cast<unsigned>(reading.value), field.bar);
        } else {
            // A value of 0 is shown; the other reasons leave no value the library could use.
            const char* shown = reading.state == KeyValueState::Zero ? "0x00000000" : "-";
            std::fprintf(out, "  %-6s  %-17s  %-10s  cVexoOpen takes the base from %s (%s)\n",
                         field.name, valueName, shown, field.bar, ReasonForCardBase(reading.state));
        }
    }
    return kExitSuccess;
}

namespace {

bool OpenForWriting(std::FILE* err) {
    if (key_store::Open()) return true;
    std::fprintf(err,
                 "vexotool: key: cannot create or open the board configuration key %s for "
                 "writing; nothing was written\n",
                 kKeyName.c_str());
    return false;
}

}  // namespace

int SetKeyValue(int field, std::uint32_t value, std::FILE* out, std::FILE* err) {
    const std::uint32_t aligned = kKeyFields[field].Aligned(value);
    if (aligned != value) {
        std::fprintf(
            err, "vexotool: key: %s 0x%X is aligned to 0x%X, as the applet would store it\n",
            kKeyFields[field].name, static_cast<unsigned>(value), static_cast<unsigned>(aligned));
    }
    if (!OpenForWriting(err)) return kExitFailed;
    const char* valueName = board_key::kValueNames[field];
    const bool written = key_store::WriteDword(valueName, aligned);
    key_store::Close();
    if (!written) {
        std::fprintf(err, "vexotool: key: cannot write %s; the key is as it was\n", valueName);
        return kExitFailed;
    }
    return ShowKey(out);
}

int WriteKeyDefaults(std::FILE* out, std::FILE* err) {
    if (!OpenForWriting(err)) return kExitFailed;
    const int saved = vexo::applet::SaveBaseAddresses(board_key::kDefaults);
    key_store::Close();
    if (saved == 0) {
        std::fprintf(err,
                     "vexotool: key: writing the defaults failed part-way (the values are written "
                     "in the order intmem, extmem, io1, io2); 'vexotool key' shows the key\n");
        return kExitFailed;
    }
    return ShowKey(out);
}

int ClearKey(std::FILE* out, std::FILE* err) {
    bool missing = false;
    if (!key_store::OpenExisting(&missing)) {
        if (missing) return ShowKey(out);  // nothing to clear
        std::fprintf(err, "vexotool: key: cannot open the board configuration key %s for writing\n",
                     kKeyName.c_str());
        return kExitFailed;
    }
    const char* failed = nullptr;
    for (const char* valueName : board_key::kValueNames) {
        if (!key_store::DeleteValue(valueName)) {
            failed = valueName;
            break;
        }
    }
    key_store::Close();
    if (failed != nullptr) {
        std::fprintf(err,
                     "vexotool: key: cannot delete %s (the values before it in the order "
                     "intmem, extmem, io1, io2 are deleted); 'vexotool key' shows the key\n",
                     failed);
        return kExitFailed;
    }
    return ShowKey(out);
}

}  // namespace vexotool
