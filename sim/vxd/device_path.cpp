// The device path on NT, through import slots. See device_path.h.
#include "device_path.h"

#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "card_injection.h"
#include "host_program.h"
#include "module_state.h"
#include "windows_version.h"

extern "C" BOOL WINAPI SimDeviceIoControl(DWORD code, void* in, DWORD inSize, void* out,
                                          DWORD outSize, DWORD* returned, OVERLAPPED* overlapped);

namespace vexo::sim::vxd {
namespace {

constexpr char kDevicePath[] = "\\\\.\\VexoLite.vxd";

// The system's own functions, as the loader put them into every import slot.
const SystemFunctions& Windows() {
    return Module().devicePath.windows;
}

// ---- the device path's handles -----------------------------------------------------------------

bool IsDevicePath(const char* name) {
    return name != nullptr && lstrcmpiA(name, kDevicePath) == 0;
}

// The slot that holds `handle` (a null handle finds a free slot); null when none does.
HANDLE* DeviceHandleSlot(HANDLE handle) {
    for (HANDLE& held : Module().devicePath.handles) {
        if (held == handle) return &held;
    }
    return nullptr;
}

bool IsDeviceHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    EnterCriticalSection(&Module().devicePath.handlesLock);
    const bool found = DeviceHandleSlot(handle) != nullptr;
    LeaveCriticalSection(&Module().devicePath.handlesLock);
    return found;
}

HANDLE OpenDevicePath() {
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (handle == nullptr) return INVALID_HANDLE_VALUE;
    EnterCriticalSection(&Module().devicePath.handlesLock);
    HANDLE* free = DeviceHandleSlot(nullptr);
    if (free != nullptr) *free = handle;
    LeaveCriticalSection(&Module().devicePath.handlesLock);
    if (free == nullptr) {
        Windows().closeHandle(handle);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// Forgets `handle` when it is one of the device path's; whether it was.
bool CloseDeviceHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    EnterCriticalSection(&Module().devicePath.handlesLock);
    HANDLE* slot = DeviceHandleSlot(handle);
    if (slot != nullptr) *slot = nullptr;
    LeaveCriticalSection(&Module().devicePath.handlesLock);
    if (slot != nullptr) Windows().closeHandle(handle);
    return slot != nullptr;
}

HANDLE WINAPI CreateFileAOfProgram(LPCSTR name, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
    if (IsDevicePath(name)) return OpenDevicePath();
    return Windows().createFileA(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI DeviceIoControlOfProgram(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                     DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    if (IsDeviceHandle(device)) {
        return SimDeviceIoControl(code, in, inSize, out, outSize, returned, overlapped);
    }
    return Windows().deviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

BOOL WINAPI CloseHandleOfProgram(HANDLE handle) {
    if (CloseDeviceHandle(handle)) return TRUE;
    return Windows().closeHandle(handle);
}

// ---- programs started by the program -----------------------------------------------------------

// After CreateProcess made `started` suspended: the card into it, then it goes on unless its
// caller asked for it suspended. A process being debugged by its caller is left alone: the
// caller handles its debug events, and the threads put into it would wait for them. So is one of
// another bitness, which the module cannot go into.
void HandOnTheCard(const PROCESS_INFORMATION* started, DWORD flags) {
    const DWORD lastError = GetLastError();
    std::string problem;
    const bool debugged = (flags & (DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS)) != 0;
    if (!debugged && SameBitness(started->hProcess) && !PutCardInto(started->hProcess, &problem)) {
        TellTheProgram("the program started has no simulated card: " + problem);
    }
    if ((flags & CREATE_SUSPENDED) == 0) ResumeThread(started->hThread);
    SetLastError(lastError);
}

// CreateProcessA or W (`system`, one of SystemFunctions'), with the card handed on to the program
// started.
template <auto system, typename Char, typename Startup>
BOOL WINAPI CreateProcessOfProgram(const Char* application, Char* commandLine,
                                   LPSECURITY_ATTRIBUTES processSecurity,
                                   LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags,
                                   LPVOID environment, const Char* folder, Startup* startup,
                                   LPPROCESS_INFORMATION started) {
    if (!(Windows().*system)(application, commandLine, processSecurity, threadSecurity, inherit,
                             flags | CREATE_SUSPENDED, environment, folder, startup, started)) {
        return FALSE;
    }
    HandOnTheCard(started, flags);
    return TRUE;
}

// ---- import slots ------------------------------------------------------------------------------

// One function whose slots are pointed at another.
struct Redirect {
    const void* system;
    const void* program;
};

template <typename Function>
Redirect RedirectOf(Function systemFunction, Function programFunction) {
    return {reinterpret_cast<const void*>(systemFunction),
            reinterpret_cast<const void*>(programFunction)};
}

void WriteSlot(const void** slot, const void* value) {
    DWORD was = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return;
    InterlockedExchange(reinterpret_cast<volatile LONG*>(slot),
                        static_cast<LONG>(reinterpret_cast<std::uintptr_t>(value)));
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof *slot, was, &ignored);
}

// Points every import slot of `module` that holds one of the system functions of `redirects` at
// the module's own. A slot already pointed holds another value and is left as it is.
template <std::size_t Count>
void PointSlots(HMODULE module, const Redirect (&redirects)[Count]) {
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        return;
    }
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0 || imports.Size == 0) return;
    for (auto* dll =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        for (auto** slot = reinterpret_cast<const void**>(base + dll->FirstThunk); *slot != nullptr;
             ++slot) {
            for (const Redirect& redirect : redirects) {
                if (*slot == redirect.system) WriteSlot(slot, redirect.program);
            }
        }
    }
}

HMODULE ThisModule() {
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(reinterpret_cast<const void*>(&ThisModule), &region, sizeof region);
    return static_cast<HMODULE>(region.AllocationBase);
}

// Whether the module file `path` is one of the system's: it lies in the Windows folder (system32,
// SysWOW64, the side-by-side store). Its calls are the system's own and stay as they are.
bool IsSystemModule(const std::string& path) {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    std::string prefix = folder;
    if (prefix.back() != '\\') prefix += '\\';
    return path.size() > prefix.size() &&
           lstrcmpiA(path.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}

// The loader's own modules, whose LoadLibrary calls are the loader at work.
bool IsLoaderModule(HMODULE module) {
    return module == GetModuleHandleA("ntdll.dll") || module == GetModuleHandleA("kernel32.dll") ||
           module == GetModuleHandleA("kernelbase.dll");
}

void PointDeviceSlots(HMODULE module) {
    const Redirect redirects[] = {
        RedirectOf(Windows().createFileA, &CreateFileAOfProgram),
        RedirectOf(Windows().deviceIoControl, &DeviceIoControlOfProgram),
        RedirectOf(Windows().closeHandle, &CloseHandleOfProgram),
        RedirectOf(Windows().createProcessA,
                   &CreateProcessOfProgram<&SystemFunctions::createProcessA, char, STARTUPINFOA>),
        RedirectOf(
            Windows().createProcessW,
            &CreateProcessOfProgram<&SystemFunctions::createProcessW, wchar_t, STARTUPINFOW>),
    };
    PointSlots(module, redirects);
}

HMODULE WINAPI LoadLibraryAOfProgram(LPCSTR name);
HMODULE WINAPI LoadLibraryWOfProgram(LPCWSTR name);
HMODULE WINAPI LoadLibraryExAOfProgram(LPCSTR name, HANDLE file, DWORD flags);
HMODULE WINAPI LoadLibraryExWOfProgram(LPCWSTR name, HANDLE file, DWORD flags);

void PointLoaderSlots(HMODULE module) {
    const Redirect redirects[] = {
        RedirectOf(Windows().loadLibraryA, &LoadLibraryAOfProgram),
        RedirectOf(Windows().loadLibraryW, &LoadLibraryWOfProgram),
        RedirectOf(Windows().loadLibraryExA, &LoadLibraryExAOfProgram),
        RedirectOf(Windows().loadLibraryExW, &LoadLibraryExWOfProgram),
    };
    PointSlots(module, redirects);
}

// Every module loaded now: the program's own get the device path; with loader calls watched,
// every module but the loader's gets its LoadLibrary slots pointed too.
void ServeLoadedModules() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    const HMODULE self = ThisModule();
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        if (entry.hModule == self) continue;
        if (!IsSystemModule(entry.szExePath)) PointDeviceSlots(entry.hModule);
        if (Module().devicePath.watchLoaderCalls && !IsLoaderModule(entry.hModule))
            PointLoaderSlots(entry.hModule);
    }
    CloseHandle(snapshot);
}

// After a LoadLibrary call that loaded something: the modules it brought, served as above.
HMODULE AfterLoad(HMODULE loaded) {
    if (loaded != nullptr) {
        const DWORD lastError = GetLastError();
        ServeLoadedModules();
        SetLastError(lastError);
    }
    return loaded;
}

HMODULE WINAPI LoadLibraryAOfProgram(LPCSTR name) {
    return AfterLoad(Windows().loadLibraryA(name));
}
HMODULE WINAPI LoadLibraryWOfProgram(LPCWSTR name) {
    return AfterLoad(Windows().loadLibraryW(name));
}
HMODULE WINAPI LoadLibraryExAOfProgram(LPCSTR name, HANDLE file, DWORD flags) {
    return AfterLoad(Windows().loadLibraryExA(name, file, flags));
}
HMODULE WINAPI LoadLibraryExWOfProgram(LPCWSTR name, HANDLE file, DWORD flags) {
    return AfterLoad(Windows().loadLibraryExW(name, file, flags));
}

// ---- DLL load notification (Windows Vista on) --------------------------------------------------

struct CountedUnicode {
    USHORT length;  // bytes
    USHORT maximumLength;
    const wchar_t* text;
};
struct DllNotification {
    ULONG flags;
    const CountedUnicode* fullName;
    const CountedUnicode* baseName;
    void* base;
    ULONG size;
};
constexpr ULONG kDllLoaded = 1;
using DllNotificationCallback = VOID(CALLBACK*)(ULONG, const DllNotification*, PVOID);
using RegisterDllNotificationFunction = LONG(NTAPI*)(ULONG, DllNotificationCallback, PVOID, PVOID*);

// A DLL mapped and its imports bound, before its initialisation: the program's own gets the
// device path. Runs under the loader's lock, so it asks the loader nothing.
VOID CALLBACK DllLoaded(ULONG reason, const DllNotification* loaded, PVOID) {
    if (reason != kDllLoaded || loaded == nullptr || loaded->fullName == nullptr) return;
    char path[MAX_PATH] = {};
    const int length = WideCharToMultiByte(CP_ACP, 0, loaded->fullName->text,
                                           loaded->fullName->length / sizeof(wchar_t), path,
                                           MAX_PATH - 1, nullptr, nullptr);
    if (length <= 0 || IsSystemModule(std::string(path, length))) return;
    PointDeviceSlots(static_cast<HMODULE>(loaded->base));
}

// Asks the loader to tell of each DLL it loads, where the system has that: Windows Vista and later.
bool NotifyOfDllLoads() {
    if (!RunsOnVistaOrLater()) return false;
    const auto registerNotification =
        reinterpret_cast<RegisterDllNotificationFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    return registerNotification != nullptr &&
           registerNotification(0, &DllLoaded, nullptr, &cookie) == 0;
}

template <typename Function>
bool Find(HMODULE kernel32, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
    return *function != nullptr;
}

bool FindSystemFunctions(SystemFunctions* windows) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 != nullptr && Find(kernel32, "CreateFileA", &windows->createFileA) &&
           Find(kernel32, "DeviceIoControl", &windows->deviceIoControl) &&
           Find(kernel32, "CloseHandle", &windows->closeHandle) &&
           Find(kernel32, "CreateProcessA", &windows->createProcessA) &&
           Find(kernel32, "CreateProcessW", &windows->createProcessW) &&
           Find(kernel32, "LoadLibraryA", &windows->loadLibraryA) &&
           Find(kernel32, "LoadLibraryW", &windows->loadLibraryW) &&
           Find(kernel32, "LoadLibraryExA", &windows->loadLibraryExA) &&
           Find(kernel32, "LoadLibraryExW", &windows->loadLibraryExW);
}

}  // namespace

bool ServeDevicePath() {
    DevicePath& path = Module().devicePath;
    if (InterlockedExchange(&path.served, 1) != 0) return true;
    if (!FindSystemFunctions(&path.windows)) return false;
    InitializeCriticalSection(&path.handlesLock);
    path.watchLoaderCalls = !NotifyOfDllLoads();
    ServeLoadedModules();
    return true;
}

}  // namespace vexo::sim::vxd

DWORD WINAPI SimServeDevicePath(void*) {
    return vexo::sim::vxd::ServeDevicePath() ? 1 : 0;
}
