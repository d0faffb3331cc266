// The card file: opening and checking it, mapping its memories as the windows, and copying the
// board's state in and out. See card_store.h for where it lies and its layout.
#include "card_store.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "bus_lock.h"
#include "vexolite_sim.h"

namespace vexo::sim {
namespace {

static_assert(std::is_trivially_copyable_v<PciFunction>, "functions are stored byte for byte");

constexpr char kMagic[8] = {'V', 'E', 'X', 'O', 'C', 'A', 'R', 'D'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::uint32_t kStateArea = 0x10000;
constexpr std::uint32_t kIntMemOffset = kStateArea;
constexpr std::uint32_t kExtMemOffset = kIntMemOffset + kIntMemSize;
constexpr std::uint32_t kFileSize = kExtMemOffset + kExtMemSize;
constexpr std::uint32_t kGranularity = 0x10000;  // where Windows places views and reservations
constexpr std::size_t kMaxFunctions = 48;        // functions on the bus the file keeps
constexpr std::size_t kMaxCardsAside = 4;        // cards taken off the bus, kept to put back
constexpr std::size_t kMaxFailingCodes = 32;
constexpr char kDefaultFileName[] = "vexolite-card.bin";

struct StoredState {
    char magic[8];
    std::uint32_t version;
    std::uint32_t stateSize;  // sizeof(StoredState): a different layout is another format
    std::uint32_t fileSize;
    std::uint32_t configAddress;
    std::uint32_t placeBus, placeDevice;  // where the card sits, also while it is off the bus
    std::uint32_t driverPresent, deviceId, vendorId, driverInfo;
    std::uint32_t failingCount;
    std::uint32_t failing[kMaxFailingCodes];
    std::uint32_t overridePciConfigReply;
    std::uint8_t pciConfigReply[256];
    std::uint32_t basesKnown;
    std::uint32_t bases[4];
    std::uint32_t functionCount;
    PciFunction functions[kMaxFunctions];
    std::uint32_t asideCount;
    PciFunction aside[kMaxCardsAside];
};
static_assert(sizeof(StoredState) <= kStateArea, "the state fits before internal memory");

// One view of the file followed by an inaccessible page, so that an access running past a
// memory faults at once as it does past the card's window.
struct GuardedView {
    std::uint8_t* view = nullptr;
    void* guard = nullptr;
};

struct CardFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    GuardedView head;  // state and internal memory
    GuardedView ext;   // external memory
    // With windows traced: the memories again, as the windows the library gets, inaccessible.
    GuardedView intWindow;
    GuardedView extWindow;
    std::string path;
    StoredState* state = nullptr;
};

CardFile card;
Board* board = nullptr;
std::vector<PciFunction> cardsAside;  // taken off the bus by SimSetCardPresent(0)
std::uint8_t placeBus = SIM_DEFAULT_BUS;
std::uint8_t placeDevice = SIM_DEFAULT_DEVICE;

std::string ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string ChosenPath() {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("VEXO_SIM_CARD", value, sizeof value);
    if (length > 0 && length < sizeof value) return ToWindowsPath(value);
    char folder[MAX_PATH] = {};
    const UINT folderLength = GetWindowsDirectoryA(folder, sizeof folder);
    if (folderLength == 0 || folderLength >= sizeof folder) return {};
    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    return path + kDefaultFileName;
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
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        void* guard =
            VirtualAlloc(bytes + size, info.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
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

void CloseFile() {
    Unmap(card.intWindow);
    Unmap(card.extWindow);
    Unmap(card.head);
    Unmap(card.ext);
    if (card.mapping != nullptr) CloseHandle(card.mapping);
    if (card.file != INVALID_HANDLE_VALUE) CloseHandle(card.file);
    card = CardFile{};
}

// Opens and maps the file; a file of another size starts over empty.
bool OpenFile() {
    card.path = ChosenPath();
    if (card.path.empty()) return false;
    card.file = CreateFileA(card.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (card.file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(card.file, &high);
    if (low != kFileSize || high != 0) {
        SetFilePointer(card.file, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(card.file);
    }
    card.mapping = CreateFileMappingA(card.file, nullptr, PAGE_READWRITE, 0, kFileSize, nullptr);
    if (card.mapping == nullptr) return false;
    card.head = MapGuarded(card.mapping, 0, kExtMemOffset);
    card.ext = MapGuarded(card.mapping, kExtMemOffset, kExtMemSize);
    if (card.head.view == nullptr || card.ext.view == nullptr) return false;
    card.state = reinterpret_cast<StoredState*>(card.head.view);
    return true;
}

bool HeaderIsOurs(const StoredState& s) {
    return std::memcmp(s.magic, kMagic, sizeof kMagic) == 0 && s.version == kFormatVersion &&
           s.stateSize == sizeof(StoredState) && s.fileSize == kFileSize;
}

// Counts and places within bounds; anything else means the file is not a card we wrote.
bool StateIsSound(const StoredState& s) {
    if (s.failingCount > kMaxFailingCodes || s.functionCount > kMaxFunctions ||
        s.asideCount > kMaxCardsAside || s.placeBus > 0xFF || s.placeDevice > 0x1F) {
        return false;
    }
    const auto sound = [](const PciFunction& f) { return f.device <= 0x1F && f.function <= 7; };
    return std::all_of(s.functions, s.functions + s.functionCount, sound) &&
           std::all_of(s.aside, s.aside + s.asideCount, sound);
}

void Load(const StoredState& s) {
    board->configAddress = s.configAddress;
    placeBus = static_cast<std::uint8_t>(s.placeBus);
    placeDevice = static_cast<std::uint8_t>(s.placeDevice);
    Driver& driver = board->driver;
    driver.present = s.driverPresent != 0;
    driver.deviceId = s.deviceId;
    driver.vendorId = s.vendorId;
    driver.driverInfo = s.driverInfo;
    driver.failingCodes.clear();
    driver.failingCodes.insert(s.failing, s.failing + s.failingCount);
    driver.overridePciConfigReply = s.overridePciConfigReply != 0;
    driver.pciConfigReply.assign(s.pciConfigReply, s.pciConfigReply + sizeof s.pciConfigReply);
    driver.basesKnown = s.basesKnown != 0;
    driver.bases = {s.bases[0], s.bases[1], s.bases[2], s.bases[3]};
    board->functions.assign(s.functions, s.functions + s.functionCount);
    cardsAside.assign(s.aside, s.aside + s.asideCount);
}

void Save(StoredState& s) {
    s.configAddress = board->configAddress;
    s.placeBus = placeBus;
    s.placeDevice = placeDevice;
    const Driver& driver = board->driver;
    s.driverPresent = driver.present;
    s.deviceId = driver.deviceId;
    s.vendorId = driver.vendorId;
    s.driverInfo = driver.driverInfo;
    s.failingCount = 0;
    for (std::uint32_t code : driver.failingCodes) {
        if (s.failingCount == kMaxFailingCodes) break;
        s.failing[s.failingCount++] = code;
    }
    s.overridePciConfigReply = driver.overridePciConfigReply;
    std::memset(s.pciConfigReply, 0, sizeof s.pciConfigReply);
    std::copy_n(driver.pciConfigReply.begin(),
                std::min(driver.pciConfigReply.size(), sizeof s.pciConfigReply), s.pciConfigReply);
    s.basesKnown = driver.basesKnown;
    const BaseAddressRecord& bases = driver.bases;
    s.bases[0] = bases.intMemBase;
    s.bases[1] = bases.extMemBase;
    s.bases[2] = bases.io1Base;
    s.bases[3] = bases.io2Base;
    s.functionCount = static_cast<std::uint32_t>(std::min(board->functions.size(), kMaxFunctions));
    std::copy_n(board->functions.begin(), s.functionCount, s.functions);
    s.asideCount = static_cast<std::uint32_t>(std::min(cardsAside.size(), kMaxCardsAside));
    std::copy_n(cardsAside.begin(), s.asideCount, s.aside);
}

// The header last, so that a file cut short while being made is not taken for a card.
void WriteHeader(StoredState& s) {
    s.version = kFormatVersion;
    s.stateSize = sizeof(StoredState);
    s.fileSize = kFileSize;
    std::memcpy(s.magic, kMagic, sizeof kMagic);
}

// Zeroes a memory page by page, writing only pages that hold something: a page of the file
// that was never written then stays unwritten.
void Zero(std::uint8_t* memory, std::uint32_t size) {
    constexpr std::uint32_t kPage = 0x1000;
    for (std::uint32_t at = 0; at < size; at += kPage) {
        std::uint8_t* page = memory + at;
        if (std::any_of(page, page + kPage, [](std::uint8_t b) { return b != 0; })) {
            std::memset(page, 0, kPage);
        }
    }
}

bool FileIsOpen() {
    return card.state != nullptr;
}

}  // namespace

Board* OpenCard() {
    if (!OpenFile()) CloseFile();
    try {
        board =
            FileIsOpen() ? new Board(card.head.view + kIntMemOffset, card.ext.view) : new Board();
    } catch (...) {
        CloseFile();
        return board = nullptr;
    }
    if (FileIsOpen() && HeaderIsOurs(*card.state) && StateIsSound(*card.state)) {
        Load(*card.state);
    } else {
        PowerOnCard(*board);
        if (FileIsOpen()) WriteHeader(*card.state);
    }
    return board;
}

bool MapTracedWindows(Board& b, std::uint8_t** intWindow, std::uint8_t** extWindow) {
    if (!FileIsOpen() || &b != board) return false;
    card.intWindow = MapGuarded(card.mapping, kIntMemOffset, kIntMemSize);
    card.extWindow = MapGuarded(card.mapping, kExtMemOffset, kExtMemSize);
    DWORD was = 0;
    if (card.intWindow.view == nullptr || card.extWindow.view == nullptr ||
        !VirtualProtect(card.intWindow.view, kIntMemSize, PAGE_NOACCESS, &was) ||
        !VirtualProtect(card.extWindow.view, kExtMemSize, PAGE_NOACCESS, &was)) {
        Unmap(card.intWindow);
        Unmap(card.extWindow);
        return false;
    }
    *intWindow = card.intWindow.view;
    *extWindow = card.extWindow.view;
    b.intWindowAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(*intWindow));
    b.extWindowAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(*extWindow));
    return true;
}

void SaveCard() {
    if (board != nullptr && FileIsOpen()) Save(*card.state);
}

void CloseCard() {
    SaveCard();
    delete board;
    board = nullptr;
    CloseFile();
}

void PowerOnCard(Board& b) {
    placeBus = SIM_DEFAULT_BUS;
    placeDevice = SIM_DEFAULT_DEVICE;
    cardsAside.clear();
    b.functions.clear();
    b.AddCard(placeBus, placeDevice);
    b.driver = Driver{};
    b.configAddress = 0;
    Zero(b.intMem, kIntMemSize);
    Zero(b.extMem, kExtMemSize);
    if (&b == board) SaveCard();
}

const std::string& CardFilePath() {
    static const std::string none;
    return FileIsOpen() ? card.path : none;
}

}  // namespace vexo::sim

namespace {

using vexo::sim::board;
using vexo::sim::cardsAside;
using vexo::sim::PciFunction;

bool IsCard(const PciFunction& f) {
    return f.isCard;
}

void TakeCardsOffTheBus() {
    auto& functions = board->functions;
    std::copy_if(functions.begin(), functions.end(), std::back_inserter(cardsAside), IsCard);
    functions.erase(std::remove_if(functions.begin(), functions.end(), IsCard), functions.end());
}

void PutCardsBack() {
    if (std::any_of(board->functions.begin(), board->functions.end(), IsCard)) return;
    if (cardsAside.empty()) {
        board->AddCard(vexo::sim::placeBus, vexo::sim::placeDevice);
    } else {
        board->functions.insert(board->functions.end(), cardsAside.begin(), cardsAside.end());
    }
    cardsAside.clear();
}

}  // namespace

extern "C" {

void SIM_CALL SimSetCardPresent(int present) {
    const vexo::sim::vxd::BusGuard guard;
    if (board == nullptr) return;
    if (present) {
        PutCardsBack();
    } else {
        TakeCardsOffTheBus();
    }
    vexo::sim::SaveCard();
}

int SIM_CALL SimPlaceCard(uint32_t bus, uint32_t device) {
    const vexo::sim::vxd::BusGuard guard;
    if (board == nullptr || bus > 0xFF || device > 0x1F) return 0;
    const auto newBus = static_cast<std::uint8_t>(bus);
    const auto newDevice = static_cast<std::uint8_t>(device);
    // Another function already there would answer in the card's place.
    PciFunction* there = board->FindFunction(newBus, newDevice, 1);
    if (there != nullptr && !there->isCard) return 0;
    vexo::sim::placeBus = newBus;
    vexo::sim::placeDevice = newDevice;
    for (PciFunction& f : board->functions) {
        if (f.isCard) f.bus = newBus, f.device = newDevice, f.function = 1;
    }
    for (PciFunction& f : cardsAside) f.bus = newBus, f.device = newDevice, f.function = 1;
    vexo::sim::SaveCard();
    return 1;
}

int SIM_CALL SimGetCardState(SimCardState* state) {
    const vexo::sim::vxd::BusGuard guard;
    if (board == nullptr || state == nullptr) return 0;
    *state = SimCardState{};
    const PciFunction* card = board->FirstCard();
    state->cardPresent = card != nullptr;
    state->bus = vexo::sim::placeBus;
    state->device = vexo::sim::placeDevice;
    const PciFunction* shown = card != nullptr      ? card
                               : cardsAside.empty() ? nullptr
                                                    : &cardsAside[0];
    if (shown != nullptr) {
        state->bus = shown->bus;
        state->device = shown->device;
        state->command = shown->commandStatus;
        std::copy_n(shown->bars, 6, state->bars);
    }
    const vexo::sim::Driver& driver = board->driver;
    state->driverPresent = driver.present;
    state->deviceId = driver.deviceId;
    state->vendorId = driver.vendorId;
    state->driverInfo = driver.driverInfo;
    for (std::uint32_t code : driver.failingCodes) {
        if (state->failingCount == SIM_MAX_FAILING_SHOWN) break;
        state->failing[state->failingCount++] = code;
    }
    return 1;
}

uint32_t SIM_CALL SimGetCardFile(char* path, uint32_t size) {
    const vexo::sim::vxd::BusGuard guard;
    const std::string& file = vexo::sim::CardFilePath();
    if (path != nullptr && size != 0) {
        const std::size_t copied = std::min<std::size_t>(file.size(), size - 1);
        std::memcpy(path, file.data(), copied);
        path[copied] = '\0';
    }
    return static_cast<uint32_t>(file.size());
}

}  // extern "C"
