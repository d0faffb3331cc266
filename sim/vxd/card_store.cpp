// The card store: opening, checking and mapping the card file, or the card in memory.
// See card_store.h.
#include "card_store.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <new>
#include <vector>

#include "card_folder.h"
#include "host_program.h"
#include "memory_regions.h"
#include "windows_version.h"

namespace vexo::sim::vxd {
namespace {

using card_file::kExtMemOffset;
using card_file::kIntMemOffset;
using GuardedView = CardStore::GuardedView;

constexpr std::uint32_t kGranularity = 0x10000;  // where Windows places views and reservations
constexpr char kDefaultFileName[] = "vexolite-card.bin";
constexpr char kCardVariable[] = "VEXO_SIM_CARD";

std::string ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string ChosenPath() {
    const std::string named = EnvironmentValue(kCardVariable);
    if (!named.empty()) return ToWindowsPath(named);
    if (RunsOnWindowsNt()) {
        const std::string folder = CommonCardFolder();
        return folder.empty() ? folder : folder + kDefaultFileName;
    }
    wchar_t folder[MAX_PATH] = {};
    const UINT folderLength = GetWindowsDirectoryW(folder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) return {};
    std::string path = Utf8(folder);
    if (path.back() != '\\') path += '\\';
    return path + kDefaultFileName;
}

// Whether `path` names one of the system's devices (CON, NUL, COM1, ...), which Windows finds in
// a file name of any folder, with any extension.
bool IsDeviceName(const std::wstring& path) {
    std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ') name.pop_back();
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices) {
        if (name == device) return true;
    }
    const bool numbered = name.size() == 4 && name[3] >= L'1' && name[3] <= L'9';
    return numbered && (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0);
}

std::uint64_t SizeOf(HANDLE file) {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    return (std::uint64_t{high} << 32) | low;
}

bool SetSize(HANDLE file, std::uint64_t size) {
    LONG high = static_cast<LONG>(size >> 32);
    SetFilePointer(file, static_cast<LONG>(size & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return SetEndOfFile(file) != FALSE;
}

GuardedView MapGuarded(HANDLE mapping, std::uint32_t offset, std::uint32_t size) {
    // A free spot for the view and its guard: reserve both, let go, map into it at once. Another
    // thread may take the spot in between; then try again elsewhere.
    for (int attempt = 0; attempt < 8; ++attempt) {
        void* spot = VirtualAlloc(nullptr, size + kGranularity, MEM_RESERVE, PAGE_NOACCESS);
        if (spot == nullptr) break;
        VirtualFree(spot, 0, MEM_RELEASE);
        void* view = MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, offset, size, spot);
        if (view == nullptr) continue;
        auto* bytes = static_cast<std::uint8_t*>(view);
        void* guard =
            VirtualAlloc(bytes + size, kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
        if (guard != nullptr) return {bytes, guard};
        UnmapViewOfFile(view);
    }
    return {};
}

void Unmap(GuardedView& view) {
    if (view.view != nullptr) UnmapViewOfFile(view.view);
    if (view.guard != nullptr) VirtualFree(view.guard, 0, MEM_RELEASE);
    view = {};
}

// The byte-range lock that `slot`'s program holds while it runs.
BOOL LockSlot(HANDLE file, std::uint32_t slot) {
    const std::uint64_t at = card_file::kSlotLocks + slot;
    return LockFile(file, static_cast<DWORD>(at), static_cast<DWORD>(at >> 32), 1, 0);
}

void UnlockSlot(HANDLE file, std::uint32_t slot) {
    const std::uint64_t at = card_file::kSlotLocks + slot;
    UnlockFile(file, static_cast<DWORD>(at), static_cast<DWORD>(at >> 32), 1, 0);
}

// The file's making lock, held while a program looks at the file and makes it whole, so that no
// program finds it half made. Its holder is at most writing 16 MiB; one that ended holding it has
// let go.
void HoldMakingLock(CardStore::Held& held) {
    const auto low = static_cast<DWORD>(card_file::kMakingLock);
    const auto high = static_cast<DWORD>(card_file::kMakingLock >> 32);
    while (!LockFile(held.file, low, high, 1, 0)) {
        if (GetLastError() != ERROR_LOCK_VIOLATION) return;  // a file system without locks
        Sleep(1);
    }
    held.making = true;
}

void ReleaseMakingLock(CardStore::Held& held) {
    if (!held.making) return;
    UnlockFile(held.file, static_cast<DWORD>(card_file::kMakingLock),
               static_cast<DWORD>(card_file::kMakingLock >> 32), 1, 0);
    held.making = false;
}

void CloseEverything(CardStore::Held& held) {
    Unmap(held.intWindow);
    Unmap(held.extWindow);
    Unmap(held.head);
    Unmap(held.ext);
    if (held.mapping != nullptr) CloseHandle(held.mapping);
    if (held.slotHeld) UnlockSlot(held.file, held.slot);
    ReleaseMakingLock(held);
    if (held.file != INVALID_HANDLE_VALUE) CloseHandle(held.file);
    if (held.memory != nullptr) VirtualFree(held.memory, 0, MEM_RELEASE);
    if (held.extMemory != nullptr) VirtualFree(held.extMemory, 0, MEM_RELEASE);
    held = CardStore::Held{};
}

// The file's first bytes, as many as it has up to the header and state.
std::vector<std::uint8_t> ReadHead(HANDLE file) {
    std::vector<std::uint8_t> head(sizeof(card_file::Layout));
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    if (!ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) got = 0;
    head.resize(got);
    return head;
}

// Writes `bytes` at `offset`; the system's reason when it cannot, else empty.
std::string WriteOnDisk(HANDLE file, std::uint64_t offset, const void* bytes, DWORD count) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr)) return SystemReason(GetLastError());
    return written == count ? std::string() : SystemReason(ERROR_DISK_FULL);
}

// Gives bytes `from` to `to` of the file their room on disk, a piece at a time, each written back
// with what it holds: a page that is on disk already keeps it, one that is not gets its zeros.
// Before the file is mapped: a page with no room behind it faults when a view touches it, on some
// file systems (tmpfs) even to read it.
std::string WriteBack(HANDLE file, std::uint32_t from, std::uint32_t to) {
    constexpr std::uint32_t kPiece = 0x10000;
    std::vector<std::uint8_t> piece(kPiece);
    for (std::uint32_t at = from; at < to; at += kPiece) {
        const DWORD count = std::min(kPiece, to - at);
        SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN);
        DWORD got = 0;
        if (!ReadFile(file, piece.data(), count, &got, nullptr)) {
            return SystemReason(GetLastError());
        }
        std::fill(piece.begin() + got, piece.begin() + count, std::uint8_t{0});  // past the end
        const std::string failure = WriteOnDisk(file, at, piece.data(), count);
        if (!failure.empty()) return failure;
    }
    return {};
}

// This program's slot: the first whose byte-range lock no running program holds.
std::string TakeSlot(CardStore::Held& held) {
    for (std::uint32_t slot = 0; slot < card_file::kProgramSlots; ++slot) {
        if (LockSlot(held.file, slot)) {
            held.slotHeld = true;
            held.slot = slot;
            return {};
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION) return "it cannot be locked: " + SystemReason(error);
    }
    return "it is open in " + std::to_string(card_file::kProgramSlots) + " programs already";
}

// Gives the file all the card's room on disk and a header with the magic alone, so that the card
// starts at power-on when a program first reaches it. Every byte is written back with what it
// holds, so that a file refused for want of room keeps its contents, and its old size.
std::string MakeCardOfFile(HANDLE file, std::uint64_t size) {
    std::string failure = WriteBack(file, 0, card_file::kSize);
    if (failure.empty()) {
        const card_file::Header header = card_file::MadeHeader();
        failure = WriteOnDisk(file, 0, &header, sizeof header);
    }
    if (!failure.empty()) SetSize(file, size);
    return failure;
}

// Opens the file for sharing with every other process of the card, and takes it when it is the
// card's, making it whole first when it is not (empty, cut short, of another layout). Returns the
// reason it cannot be used, empty when it can.
std::string OpenCardFile(CardStore::Held& held, const std::string& path) {
    const std::wstring widePath = Utf16(path);
    if (widePath.size() >= MAX_PATH) return "the path is too long";
    // A device would block the first read, or could never be mapped.
    if (IsDeviceName(widePath)) return "it is not a file on a disk";
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "it is a folder";
    }
    held.file = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held.file == INVALID_HANDLE_VALUE) return SystemReason(GetLastError(), Wording::FileOpen);
    if (GetFileType(held.file) != FILE_TYPE_DISK) return "it is not a file on a disk";
    HoldMakingLock(held);
    const std::uint64_t size = SizeOf(held.file);
    const std::vector<std::uint8_t> head = ReadHead(held.file);
    const card_file::Verdict verdict = card_file::Judge(head.data(), head.size(), size);
    if (verdict == card_file::Verdict::Foreign) {
        return "it is not a card file (" + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
               " without the card's header)";
    }
    std::string failure = TakeSlot(held);
    if (failure.empty() && !card_file::IsMade(head.data(), head.size(), size)) {
        failure = MakeCardOfFile(held.file, size);
    }
    ReleaseMakingLock(held);
    if (!failure.empty()) return failure;
    held.mapping =
        CreateFileMappingW(held.file, nullptr, PAGE_READWRITE, 0, card_file::kSize, nullptr);
    if (held.mapping == nullptr) {
        return "it cannot be mapped: " + SystemReason(GetLastError(), Wording::FileOpen);
    }
    held.head = MapGuarded(held.mapping, 0, kExtMemOffset);
    held.ext = MapGuarded(held.mapping, kExtMemOffset, kExtMemSize);
    if (held.head.view == nullptr || held.ext.view == nullptr) {
        return "no room in this process to map it";
    }
    return {};
}

// Zero-filled memory of `size` bytes in this process, followed by an inaccessible page as the
// file's views are.
std::uint8_t* AllocateGuarded(std::uint32_t size) {
    void* memory =
        VirtualAlloc(nullptr, size + kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) return nullptr;
    auto* bytes = static_cast<std::uint8_t*>(memory);
    DWORD was = 0;
    VirtualProtect(bytes + size, kPageSize, PAGE_NOACCESS, &was);
    return bytes;
}

bool MakeCardInMemory(CardStore* store) {
    CardStore::Held& held = store->held;
    held.memory = AllocateGuarded(kExtMemOffset);
    held.extMemory = AllocateGuarded(kExtMemSize);
    if (held.memory == nullptr || held.extMemory == nullptr) return false;
    auto* layout = reinterpret_cast<card_file::Layout*>(held.memory);
    store->header = &layout->header;
    store->state = new (&layout->state) CardState;
    store->intMem = held.memory + kIntMemOffset;
    store->extMem = held.extMemory;
    return true;
}

// Lets the card file go for `problem` and makes the card in memory.
bool CardInMemory(CardStore* store, const std::string& problem) {
    CloseEverything(store->held);
    store->problem = problem;
    return MakeCardInMemory(store);
}

}  // namespace

bool OpenCardStore(CardStore* store) {
    *store = CardStore{};
    const std::string path = ChosenPath();
    CardStore::Held& held = store->held;
    std::string problem = path.empty() ? "the Windows folder is unknown" : OpenCardFile(held, path);
    if (!problem.empty())
        return CardInMemory(
            store, "cannot use card file " + (path.empty() ? "(none)" : path) + ": " + problem);
    auto* layout = reinterpret_cast<card_file::Layout*>(held.head.view);
    store->header = &layout->header;
    store->state = &layout->state;
    store->programs =
        reinterpret_cast<card_file::ProgramEntry*>(held.head.view + card_file::kProgramsOffset);
    store->slot = held.slot;
    store->intMem = held.head.view + kIntMemOffset;
    store->extMem = held.ext.view;
    store->path = path;
    return true;
}

bool HoldEndedSlot(const CardStore& store, std::uint32_t slot) {
    const HANDLE file = store.held.file;
    return file != INVALID_HANDLE_VALUE && LockSlot(file, slot);
}

void ReleaseEndedSlot(const CardStore& store, std::uint32_t slot) {
    UnlockSlot(store.held.file, slot);
}

bool CardFileCutShort(const CardStore& store, std::uint64_t* size) {
    if (store.path.empty()) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(store.held.file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (std::uint64_t{high} << 32) | low;
    return *size < card_file::kSize;
}

void CloseCardStore(CardStore* store) {
    CloseEverything(store->held);
    *store = CardStore{};
}

void ZeroMemories(const CardStore& store) {
    const auto zero = [](std::uint8_t* memory, std::uint32_t size) {
        for (std::uint32_t at = 0; at < size; at += kPageSize) {
            std::uint8_t* page = memory + at;
            if (std::any_of(page, page + kPageSize, [](std::uint8_t b) { return b != 0; })) {
                std::memset(page, 0, kPageSize);
            }
        }
    };
    zero(store.intMem, kIntMemSize);
    zero(store.extMem, kExtMemSize);
}

bool MapTracedWindows(CardStore* store, std::uint8_t** intWindow, std::uint8_t** extWindow) {
    if (store->path.empty()) return false;
    CardStore::Held& held = store->held;
    held.intWindow = MapGuarded(held.mapping, kIntMemOffset, kIntMemSize);
    held.extWindow = MapGuarded(held.mapping, kExtMemOffset, kExtMemSize);
    DWORD was = 0;
    if (held.intWindow.view == nullptr || held.extWindow.view == nullptr ||
        !VirtualProtect(held.intWindow.view, kIntMemSize, PAGE_NOACCESS, &was) ||
        !VirtualProtect(held.extWindow.view, kExtMemSize, PAGE_NOACCESS, &was)) {
        Unmap(held.intWindow);
        Unmap(held.extWindow);
        return false;
    }
    *intWindow = held.intWindow.view;
    *extWindow = held.extWindow.view;
    return true;
}

}  // namespace vexo::sim::vxd
