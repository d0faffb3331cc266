// The card file's folder on Windows NT. See card_folder.h.
#include "card_folder.h"

#include <windows.h>

#include "host_program.h"

namespace vexo::sim::vxd {
namespace {

constexpr char kKitFolder[] = "VexoLite";
constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
// Every user may do anything with the folder and what is made in it (object and container
// inherit); the entries the folder inherits from its parent stay.
constexpr char kEveryUserMayWrite[] = "D:(A;OICI;FA;;;WD)";
constexpr DWORD kSddlRevision = 1;

using GetFolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using ConvertSddlFunction = BOOL(WINAPI*)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);

// A system DLL's function, the DLL loaded when it is not yet. The module looks these up at run
// time: Windows 98 has neither, and the module must load there. This runs at process attach, under
// the loader's lock; shell32 and advapi32 do not depend on this module, which keeps the load safe.
FARPROC SystemFunction(const char* dll, const char* name) {
    HMODULE module = GetModuleHandleA(dll);
    if (module == nullptr) module = LoadLibraryA(dll);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

// Makes `folder` with an access list that lets every user write in it; an existing folder is
// left as it is.
void MakeFolderForEveryUser(const std::string& folder) {
    const auto convert = reinterpret_cast<ConvertSddlFunction>(reinterpret_cast<void*>(
        SystemFunction("advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA")));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (convert != nullptr) convert(kEveryUserMayWrite, kSddlRevision, &descriptor, nullptr);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    CreateDirectoryW(Utf16(folder).c_str(), descriptor != nullptr ? &security : nullptr);
    if (descriptor != nullptr) LocalFree(descriptor);
}

}  // namespace

std::string CommonCardFolder() {
    const auto getFolderPath = reinterpret_cast<GetFolderPathFunction>(
        reinterpret_cast<void*>(SystemFunction("shell32.dll", "SHGetFolderPathW")));
    wchar_t common[MAX_PATH] = {};
    if (getFolderPath == nullptr ||
        getFolderPath(nullptr, kCommonAppData, nullptr, 0, common) != S_OK) {
        return {};
    }
    std::string folder = Utf8(common);
    if (folder.empty()) return {};
    if (folder.back() != '\\') folder += '\\';
    folder += kKitFolder;
    MakeFolderForEveryUser(folder);
    return folder + '\\';
}

}  // namespace vexo::sim::vxd
