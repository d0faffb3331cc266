// The registry spy: the applet's import table patched to pass two registry calls through here.
#include "registry_spy.h"

#include <cstring>

#include "board_key_registry.h"

namespace applet_test {

RegistrySpy spy;

namespace {

LONG WINAPI SpyRegCreateKeyExA(HKEY parent, LPCSTR subkey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition) {
    spy.creates++;
    spy.lastParent = parent;
    spy.lastSubkey = subkey ? subkey : "";
    spy.lastClass = keyClass ? keyClass : "";
    spy.lastAccess = access;
    spy.lastOptions = options;
    if (spy.refuseCreate) return ERROR_ACCESS_DENIED;
    const LONG rc = RegCreateKeyExA(parent, subkey, reserved, keyClass, options, access, security,
                                    result, disposition);
    if (rc == ERROR_SUCCESS) {
        spy.openKeys.insert(*result);
        // The handle now names a deleted key: every read and write through it fails.
        if (spy.deleteAfterCreate) board_key_registry::DeleteBoardKey();
    }
    return rc;
}

LONG WINAPI SpyRegCloseKey(HKEY key) {
    spy.openKeys.erase(key);
    return RegCloseKey(key);
}

// Replaces the address the loader stored for one imported function (by name) of `dll`.
bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            return true;
        }
    }
    return false;
}

}  // namespace

bool SpyOnRegistryCalls(HMODULE module) {
    return PatchImport(module, "ADVAPI32.dll", "RegCreateKeyExA",
                       reinterpret_cast<void*>(SpyRegCreateKeyExA)) &&
           PatchImport(module, "ADVAPI32.dll", "RegCloseKey",
                       reinterpret_cast<void*>(SpyRegCloseKey));
}

}  // namespace applet_test
