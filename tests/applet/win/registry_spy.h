// Watches and bends the applet's registry calls. Its calls to RegCreateKeyExA and RegCloseKey
// pass through the spy (its import table is patched), so a case can see how the key is opened
// and that it is closed again, and can stage a failure.
#pragma once

#include <windows.h>

#include <set>
#include <string>

namespace applet_test {

struct RegistrySpy {
    int creates = 0;
    HKEY lastParent = nullptr;
    std::string lastSubkey, lastClass;
    REGSAM lastAccess = 0;
    DWORD lastOptions = 0xFFFFFFFF;
    std::set<HKEY> openKeys;  // opened by the applet and not closed yet
    bool refuseCreate = false;
    bool deleteAfterCreate = false;
};

extern RegistrySpy spy;

// Points the module's imports of RegCreateKeyExA and RegCloseKey at the spy.
bool SpyOnRegistryCalls(HMODULE module);

}  // namespace applet_test
