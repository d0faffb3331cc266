// The card store: opening, checking and mapping the card file, or the card in memory.
// See card_store.h.
#include "card_store.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
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

constexpr std::uint32_t kGranularity = 0x10000;  // where Windows places views and reservations
constexpr char kDefaultFileName[] = "vexolite-card.bin";
constexpr char kCardVariable[] = "VEXO_SIM_CARD";

// One view of the file followed by an inaccessible page, so that an access running past a
// memory faults at once as it does past the card's window.
struct GuardedView {
    std::uint8_t* view = nullptr;
    void* guard = nullptr;
};

// What the store holds open besides what CardStore shows.
struct Mapping {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    GuardedView head;  // header, state and internal memory
    GuardedView ext;   // external memory
    // With windows traced: the memories again, as the windows the library gets, inaccessible.
    GuardedView intWindow;
    GuardedView extWindow;
    // The card in memory: the state area with internal memory, and external memory.
    std::uint8_t* memory = nullptr;
    std::uint8_t* extMemory = nullptr;
};

Mapping held;

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
    char folder[MAX_PATH] = {};
    const UINT folderLength = GetWindowsDirectoryA(folder, sizeof folder);
    if (folderLength == 0 || folderLength >= sizeof folder) return {};
    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    return path + kDefaultFileName;
}

// Why a file cannot be opened, in words.
std::string OpenFailure(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return "no such folder or drive";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "another program holds it";
        case ERROR_ACCESS_DENIED:
            return "access is denied";
        case ERROR_FILENAME_EXCED_RANGE:
            return "the path is too long";
        default:
            return "error " + std::to_string(error);
    }
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

void CloseEverything() {
    Unmap(held.intWindow);
    Unmap(held.extWindow);
    Unmap(held.head);
    Unmap(held.ext);
    if (held.mapping != nullptr) CloseHandle(held.mapping);
    if (held.file != INVALID_HANDLE_VALUE) CloseHandle(held.file);
    if (held.memory != nullptr) VirtualFree(held.memory, 0, MEM_RELEASE);
    if (held.extMemory != nullptr) VirtualFree(held.extMemory, 0, MEM_RELEASE);
    held = Mapping{};
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

// A header with the magic alone: the card's file, but no card in it yet.
card_file::Header ZeroedHeader() {
    card_file::Header header = {};
    std::memcpy(header.magic, card_file::kMagic, sizeof card_file::kMagic);
    return header;
}

void WriteHeaderOnDisk(const card_file::Header& header, DWORD bytes) {
    DWORD written = 0;
    SetFilePointer(held.file, 0, nullptr, FILE_BEGIN);
    WriteFile(held.file, &header, bytes, &written, nullptr);
}

// Opens the file for sharing with every other process of the card, and takes it when it is
// the card's: an empty one gets the magic at once, so that another process opening it meanwhile
// knows it for the card's too; one cut short loses its header, so that the card starts anew.
// Returns the reason it cannot be used, empty when it can.
std::string OpenCardFile(const std::string& path) {
    if (path.size() >= MAX_PATH) return "the path is too long";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "it is a folder";
    }
    held.file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held.file == INVALID_HANDLE_VALUE) return OpenFailure(GetLastError());
    // A pipe or a device would block the first read, or could never be mapped.
    if (GetFileType(held.file) != FILE_TYPE_DISK) return "it is not a file on a disk";
    DWORD high = 0;
    const DWORD low = GetFileSize(held.file, &high);
    const std::uint64_t size = (std::uint64_t{high} << 32) | low;
    const std::vector<std::uint8_t> head = ReadHead(held.file);
    if (card_file::Judge(head.data(), head.size(), size) == card_file::Verdict::Foreign) {
        return "it is not a card file (" + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
               " without the card's header)";
    }
    if (size == 0) {
        WriteHeaderOnDisk(ZeroedHeader(), sizeof card_file::kMagic);
    } else if (size > sizeof card_file::kMagic && size < card_file::kSize) {
        // One of the card's own files cut short: whatever its header says, the rest is gone.
        WriteHeaderOnDisk(ZeroedHeader(), sizeof(card_file::Header));
    }
    held.mapping =
        CreateFileMappingA(held.file, nullptr, PAGE_READWRITE, 0, card_file::kSize, nullptr);
    if (held.mapping == nullptr) return "it cannot be mapped: " + OpenFailure(GetLastError());
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

}  // namespace

bool OpenCardStore(CardStore* store) {
    *store = CardStore{};
    const std::string path = ChosenPath();
    std::string problem = path.empty() ? "the Windows folder is unknown" : OpenCardFile(path);
    if (problem.empty()) {
        auto* layout = reinterpret_cast<card_file::Layout*>(held.head.view);
        store->header = &layout->header;
        store->state = &layout->state;
        store->intMem = held.head.view + kIntMemOffset;
        store->extMem = held.ext.view;
        store->path = path;
        return true;
    }
    CloseEverything();
    store->problem = "cannot use card file " + (path.empty() ? "(none)" : path) + ": " + problem;
    return MakeCardInMemory(store);
}

void CloseCardStore(CardStore* store) {
    CloseEverything();
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
