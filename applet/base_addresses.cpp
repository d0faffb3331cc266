#include "base_addresses.h"

#include "board_key.h"

namespace vexo::applet {

int LoadBaseAddresses(BaseAddressValues& values) {
    for (int i = 0; i < kFieldCount; ++i) values[i] = board_key::kDefaults[i];
    for (int i = 0; i < kFieldCount; ++i) {
        const char* name = board_key::kValueNames[i];
        // A stored value shorter than four bytes lands on the low-order bytes of the default.
        if (key_store::ReadValue(name, &values[i], sizeof values[i])) continue;
        // A failed read may have left part of the data behind.
        values[i] = board_key::kDefaults[i];
        if (!key_store::WriteDword(name, values[i])) return 0;
    }
    return 1;
}

int SaveBaseAddresses(const BaseAddressValues& values) {
    for (int i = 0; i < kFieldCount; ++i) {
        if (!key_store::WriteDword(board_key::kValueNames[i], values[i])) return 0;
    }
    return 1;
}

}  // namespace vexo::applet
