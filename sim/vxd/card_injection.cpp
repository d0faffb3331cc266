// Putting the card into a process that has not run yet. See card_injection.h.
#include "card_injection.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host_program.h"

namespace vexo::sim::vxd {
namespace {

// A thread of the process runs its start-up first: every static DLL's initialisation. On an
// emulated CPU or a busy machine that may take long; a thread that never ends is a hang.
constexpr DWORD kRemoteThreadWait = 180000;
constexpr DWORD kDllNotFound = 0xC0000135u;

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);

// Whether `process` runs 32-bit code on a 64-bit system; false where the question does not exist
// (the function appeared with Windows XP SP2, and a system without it runs 32-bit code only).
bool RunsUnderWow64(HANDLE process) {
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(process, &wow64) && wow64;
}

// `text` copied into `process`; null when it cannot be. Freed with VirtualFreeEx.
void* CopyInto(HANDLE process, const std::string& text) {
    void* copy =
        VirtualAllocEx(process, nullptr, text.size() + 1, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (copy != nullptr &&
        !WriteProcessMemory(process, copy, text.c_str(), text.size() + 1, nullptr)) {
        VirtualFreeEx(process, copy, 0, MEM_RELEASE);
        return nullptr;
    }
    return copy;
}

// Runs `start(argument)` on a new thread of `process` and waits for it; false when it could not
// run or did not end in time. Its exit code goes to `result`.
bool RunThreadIn(HANDLE process, std::uintptr_t start, void* argument, DWORD* result) {
    HANDLE thread = CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), argument, 0, nullptr);
    if (thread == nullptr) return false;
    const bool ended = WaitForSingleObject(thread, kRemoteThreadWait) == WAIT_OBJECT_0;
    const bool known = ended && GetExitCodeThread(thread, result);
    CloseHandle(thread);
    return known;
}

// A kernel32 function's address here, which is its address in every process of this session:
// the system maps kernel32 at one place for all of them.
std::uintptr_t Kernel32Function(const char* name) {
    return reinterpret_cast<std::uintptr_t>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// The module in `process`: the one already there (a program that imports it has it from its
// start-up, and a second copy from another folder would be a second card driver), else this
// process's copy loaded from its full path. 0 when neither.
std::uintptr_t ModuleIn(HANDLE process, const std::string& ownCopy, std::string* problem) {
    void* name = CopyInto(process, kModuleName);
    void* path = CopyInto(process, ownCopy);
    DWORD base = 0;
    if (name == nullptr || path == nullptr) {
        *problem = "cannot write into it: " + SystemReason(GetLastError());
    } else if (!RunThreadIn(process, Kernel32Function("GetModuleHandleA"), name, &base)) {
        *problem = "cannot run a thread in it: " + SystemReason(GetLastError());
    } else if (base == 0 && (!RunThreadIn(process, Kernel32Function("LoadLibraryA"), path, &base) ||
                             base == 0)) {
        *problem = ownCopy + " did not load into it";
    }
    if (name != nullptr) VirtualFreeEx(process, name, 0, MEM_RELEASE);
    if (path != nullptr) VirtualFreeEx(process, path, 0, MEM_RELEASE);
    return base;
}

// Reads `size` bytes at `at` in `process`.
bool ReadFrom(HANDLE process, std::uintptr_t at, void* into, std::size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(at), into, size, &got) &&
           got == size;
}

// The address of the export `name` of the module at `base` in `process`, read from the module's
// own export table there (the copy there may be another build than this process's); 0 when it has
// none.
std::uintptr_t ExportIn(HANDLE process, std::uintptr_t base, const char* name) {
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS32 nt = {};
    IMAGE_EXPORT_DIRECTORY exports = {};
    if (!ReadFrom(process, base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadFrom(process, base + dos.e_lfanew, &nt, sizeof nt) ||
        nt.Signature != IMAGE_NT_SIGNATURE) {
        return 0;
    }
    const IMAGE_DATA_DIRECTORY& table =
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (table.Size == 0 ||
        !ReadFrom(process, base + table.VirtualAddress, &exports, sizeof exports)) {
        return 0;
    }
    const std::size_t nameLength = std::strlen(name) + 1;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameAt = 0;
        WORD ordinal = 0;
        DWORD function = 0;
        char candidate[64] = {};
        if (!ReadFrom(process, base + exports.AddressOfNames + 4 * i, &nameAt, sizeof nameAt) ||
            !ReadFrom(process, base + nameAt, candidate, nameLength) ||
            std::memcmp(candidate, name, nameLength) != 0) {
            continue;
        }
        if (!ReadFrom(process, base + exports.AddressOfNameOrdinals + 2 * i, &ordinal,
                      sizeof ordinal) ||
            !ReadFrom(process, base + exports.AddressOfFunctions + 4 * ordinal, &function,
                      sizeof function)) {
            return 0;
        }
        return base + function;
    }
    return 0;
}

// Whether `process` has ended, which its start-up does when it fails (a DLL it imports is missing,
// one refuses to initialise): the first thread run in it then ends with the start-up's status, not
// with what the thread's routine returned.
bool EndedStarting(HANDLE process, std::string* problem) {
    DWORD status = 0;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process, &status);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", status);
    *problem = std::string("it ended during its start-up, status ") + text;
    if (status == kDllNotFound) *problem += ": a DLL it imports was not found";
    return true;
}

}  // namespace

bool SameBitness(HANDLE process) {
    return RunsUnderWow64(process) == RunsUnderWow64(GetCurrentProcess());
}

bool PutCardInto(HANDLE process, std::string* problem) {
    HMODULE own = GetModuleHandleA(kModuleName);
    char ownPath[MAX_PATH] = {};
    const DWORD length = own != nullptr ? GetModuleFileNameA(own, ownPath, sizeof ownPath) : 0;
    if (length == 0 || length >= sizeof ownPath) {
        *problem = std::string(kModuleName) + " is not loaded here";
        return false;
    }
    const std::uintptr_t base = ModuleIn(process, ownPath, problem);
    if (base == 0 || EndedStarting(process, problem)) return false;
    const std::uintptr_t serve = ExportIn(process, base, kServeExport);
    DWORD served = 0;
    if (serve == 0 || !RunThreadIn(process, serve, nullptr, &served) || served == 0) {
        *problem = "the device path could not be served in it";
        return false;
    }
    return true;
}

}  // namespace vexo::sim::vxd
