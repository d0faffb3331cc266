// The simulated card, bus, driver and registry key. See board.h for what each part models.
#include "board.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vexo::sim {

namespace {

Board* installedBoard = nullptr;

// Control codes the driver answers.
constexpr std::uint32_t kCodeDriverInfo = 1;
constexpr std::uint32_t kCodeVendorId = 2;
constexpr std::uint32_t kCodeDeviceId = 3;
constexpr std::uint32_t kCodeIntMemWindow = 6;
constexpr std::uint32_t kCodeExtMemWindow = 7;
constexpr std::uint32_t kCodePciConfig = 15;
constexpr std::uint32_t kCodeSetBaseAddresses = 16;

constexpr std::uint32_t kPciConfigReplySize = 256;
constexpr std::uint32_t kIoRangeSize = 256;

// Host window addresses: plausible 32-bit linear addresses that no real pointer is taken for.
constexpr std::uint32_t kHostIntWindow = 0x40000000u;
constexpr std::uint32_t kHostExtWindow = 0x50000000u;

// The configuration address latch.
constexpr std::uint32_t kConfigEnable = 0x80000000u;
std::uint8_t LatchBus(std::uint32_t latch) {
    return static_cast<std::uint8_t>(latch >> 16);
}
std::uint8_t LatchDevice(std::uint32_t latch) {
    return (latch >> 11) & 0x1Fu;
}
std::uint8_t LatchFunction(std::uint32_t latch) {
    return (latch >> 8) & 0x7u;
}
std::uint32_t LatchRegister(std::uint32_t latch) {
    return latch & 0xFCu;
}

bool IsConfigPort(std::uint16_t port) {
    return port >= 0xCF8 && port <= 0xCFF;
}

std::uint32_t AllOnes(int width) {
    return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
}

// Zero-filled memory for a window, followed by an inaccessible page so that a load or store
// running past the window's end faults at once instead of reading a neighbour.
std::uint8_t* AllocateWindow(std::uint32_t size) {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const SIZE_T total = size + info.dwPageSize;
    void* memory = VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) throw std::bad_alloc();
    DWORD previous = 0;
    VirtualProtect(static_cast<std::uint8_t*>(memory) + size, info.dwPageSize, PAGE_NOACCESS,
                   &previous);
    return static_cast<std::uint8_t*>(memory);
#else
    // Fresh anonymous pages are zero and cost nothing until touched, which keeps a 16 MiB
    // board cheap for tests that make hundreds of them.
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* memory =
        mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    mprotect(static_cast<std::uint8_t*>(memory) + size, page, PROT_NONE);
    return static_cast<std::uint8_t*>(memory);
#endif
}

void ReleaseWindow(std::uint8_t* memory, std::uint32_t size) {
#if defined(_WIN32)
    (void)size;
    if (memory != nullptr) VirtualFree(memory, 0, MEM_RELEASE);
#else
    if (memory != nullptr) munmap(memory, size + static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
#endif
}

std::uint32_t WindowAddressOf(const std::uint8_t* memory, std::uint32_t hostAddress) {
#if defined(_WIN32)
    (void)hostAddress;
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory));
#else
    (void)memory;
    return hostAddress;
#endif
}

void PutWord(void* out, std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    std::memcpy(out, bytes, 4);
}

std::uint32_t GetWord(const void* in) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, in, 4);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool InWindow(std::uint32_t address, std::uint32_t bytes, std::uint32_t base, std::uint32_t size) {
    const std::uint64_t first = address;
    const std::uint64_t end = first + std::max<std::uint32_t>(bytes, 1);
    return first >= base && end <= std::uint64_t{base} + size;
}

}  // namespace

// ---- PCI function ------------------------------------------------------------------------------

std::uint32_t PciFunction::ConfigRead(std::uint32_t reg) const {
    reg &= 0xFCu;
    if (reg == 0x00) return id;
    if (reg == 0x04) return commandStatus;
    if (reg >= 0x10 && reg <= 0x24) return bars[(reg - 0x10) / 4];
    return other[reg / 4];
}

void PciFunction::ConfigWrite(std::uint32_t reg, std::uint32_t value) {
    reg &= 0xFCu;
    if (reg == 0x00) return;  // identity is read-only
    if (reg == 0x04) {
        commandStatus = value;
    } else if (reg >= 0x10 && reg <= 0x24) {
        bars[(reg - 0x10) / 4] = value;
    } else {
        other[reg / 4] = value;
    }
}

std::uint32_t PciFunction::IoRegister(int range, std::uint32_t offset, int width) const {
    std::uint32_t value = 0;
    for (int k = 0; k < width / 8; ++k) {
        const std::uint32_t at = offset + k;
        const std::uint32_t byte = at < kIoRangeSize ? io[range][at] : 0xFFu;
        value |= byte << (8 * k);
    }
    return value;
}

// ---- registry ----------------------------------------------------------------------------------

void Registry::SetDword(const std::string& name, std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    PutWord(bytes.data(), value);
    SetBytes(name, std::move(bytes), kRegDword);
}

void Registry::SetString(const std::string& name, const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetBytes(name, std::move(bytes), kRegSz);
}

void Registry::SetBytes(const std::string& name, std::vector<std::uint8_t> bytes,
                        std::uint32_t type) {
    keyPresent = true;
    values[name] = RegistryValue{type, std::move(bytes)};
}

std::uint32_t Registry::Query(const std::string& name, void* data, std::uint32_t size,
                              std::uint32_t* written) const {
    if (written != nullptr) *written = 0;
    if (!keyPresent) return kErrorFileNotFound;
    const auto found = values.find(name);
    if (found == values.end()) return kErrorFileNotFound;
    const std::vector<std::uint8_t>& stored = found->second.data;
    if (stored.size() > size) return kErrorMoreData;
    if (data != nullptr && !stored.empty()) std::memcpy(data, stored.data(), stored.size());
    if (written != nullptr) *written = static_cast<std::uint32_t>(stored.size());
    return 0;
}

// ---- board -------------------------------------------------------------------------------------

Board::Board() {
    intMem = AllocateWindow(kIntMemSize);
    try {
        extMem = AllocateWindow(kExtMemSize);
    } catch (...) {
        ReleaseWindow(intMem, kIntMemSize);
        throw;
    }
    intWindowAddress = WindowAddressOf(intMem, kHostIntWindow);
    extWindowAddress = WindowAddressOf(extMem, kHostExtWindow);
}

Board::Board(std::uint8_t* intMemory, std::uint8_t* extMemory)
    : intMem(intMemory), extMem(extMemory), ownsMemories(false) {
    intWindowAddress = WindowAddressOf(intMem, kHostIntWindow);
    extWindowAddress = WindowAddressOf(extMem, kHostExtWindow);
}

Board::~Board() {
    if (installedBoard == this) installedBoard = nullptr;
    if (!ownsMemories) return;
    ReleaseWindow(intMem, kIntMemSize);
    ReleaseWindow(extMem, kExtMemSize);
}

PciFunction& Board::AddCard(std::uint8_t bus, std::uint8_t device) {
    return AddFunction(bus, device, 1, kCardId);
}

PciFunction& Board::AddFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                std::uint32_t id) {
    PciFunction added;
    added.bus = bus;
    added.device = device & 0x1Fu;
    added.function = function & 0x7u;
    added.id = id;
    added.isCard = (id == kCardId);
    functions.push_back(added);
    return functions.back();
}

PciFunction* Board::FindFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
    for (PciFunction& f : functions) {
        if (f.bus == bus && f.device == device && f.function == function) return &f;
    }
    return nullptr;
}

PciFunction* Board::FirstCard() {
    for (PciFunction& f : functions) {
        if (f.isCard) return &f;
    }
    return nullptr;
}

// The configuration double word the latch selects, or null when the latch is disabled or no
// function sits at the selected address.
static PciFunction* SelectedFunction(Board& board) {
    const std::uint32_t latch = board.configAddress;
    if ((latch & kConfigEnable) == 0) return nullptr;
    return board.FindFunction(LatchBus(latch), LatchDevice(latch), LatchFunction(latch));
}

// The card and I/O range that decode `port`; false when no card does.
template <typename Functions, typename Function>
static bool FindDecoder(Functions& functions, std::uint32_t port, Function** found, int* range) {
    for (auto& f : functions) {
        if (!f.isCard || !f.IoDecoding()) continue;
        for (int r = 0; r < 2; ++r) {
            const std::uint64_t base = f.IoBase(r);
            if (port >= base && port < base + kIoRangeSize) {
                *found = &f;
                *range = r;
                return true;
            }
        }
    }
    return false;
}

// The card register that decodes `port`, or null.
static std::uint8_t* DecodedIoByte(Board& board, std::uint32_t port) {
    PciFunction* f = nullptr;
    int range = 0;
    if (!FindDecoder(board.functions, port, &f, &range)) return nullptr;
    return &f->io[range][port - f->IoBase(range)];
}

Board::PortOwner Board::OwnerOf(std::uint16_t port) const {
    if (IsConfigPort(port)) return PortOwner::Config;
    const PciFunction* f = nullptr;
    int range = 0;
    if (!FindDecoder(functions, port, &f, &range)) return PortOwner::Nobody;
    return range == 0 ? PortOwner::Io1 : PortOwner::Io2;
}

static std::uint32_t ReadBusPort(Board& board, std::uint16_t port, int width) {
    if (width == 32 && port == kConfigAddressPort) return board.configAddress;
    if (width == 32 && port == kConfigDataPort) {
        const PciFunction* selected = SelectedFunction(board);
        return selected ? selected->ConfigRead(LatchRegister(board.configAddress)) : 0xFFFFFFFFu;
    }
    if (IsConfigPort(port)) return AllOnes(width);
    std::uint32_t value = 0;
    for (int k = 0; k < width / 8; ++k) {
        const std::uint8_t* reg = DecodedIoByte(board, (port + k) & 0xFFFFu);
        value |= static_cast<std::uint32_t>(reg ? *reg : 0xFFu) << (8 * k);
    }
    return value;
}

static void WriteBusPort(Board& board, std::uint16_t port, int width, std::uint32_t value) {
    if (width == 32 && port == kConfigAddressPort) {
        board.configAddress = value;
        return;
    }
    if (width == 32 && port == kConfigDataPort) {
        PciFunction* selected = SelectedFunction(board);
        if (selected) selected->ConfigWrite(LatchRegister(board.configAddress), value);
        return;
    }
    if (IsConfigPort(port)) return;
    for (int k = 0; k < width / 8; ++k) {
        std::uint8_t* reg = DecodedIoByte(board, (port + k) & 0xFFFFu);
        if (reg) *reg = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

std::uint32_t Board::PortRead(std::uint16_t port, int width) {
    const std::uint32_t value = ReadBusPort(*this, port, width);
    Event e{Op::PortRead};
    e.width = static_cast<std::uint8_t>(width);
    e.where = port;
    e.value = value;
    Record(std::move(e));
    return value;
}

void Board::PortWrite(std::uint16_t port, int width, std::uint32_t value) {
    value &= AllOnes(width);
    Event e{Op::PortWrite};
    e.width = static_cast<std::uint8_t>(width);
    e.where = port;
    e.value = value;
    Record(std::move(e));
    WriteBusPort(*this, port, width, value);
}

// ---- driver ------------------------------------------------------------------------------------

// A request whose reply is one 32-bit word.
static bool ReplyWord(std::uint32_t word, void* out, std::uint32_t outSize,
                      std::uint32_t* returned) {
    if (out == nullptr || outSize < 4) return false;
    PutWord(out, word);
    *returned = 4;
    return true;
}

static bool ReplyPciConfig(Board& board, void* out, std::uint32_t outSize,
                           std::uint32_t* returned) {
    if (out == nullptr || outSize < kPciConfigReplySize) return false;
    std::uint8_t reply[kPciConfigReplySize] = {};
    if (board.driver.overridePciConfigReply) {
        const std::vector<std::uint8_t>& bytes = board.driver.pciConfigReply;
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), kPciConfigReplySize), reply);
    } else {
        const PciFunction* card = board.FirstCard();
        if (card == nullptr) return false;
        for (std::uint32_t reg = 0; reg < kPciConfigReplySize; reg += 4) {
            PutWord(reply + reg, card->ConfigRead(reg));
        }
    }
    std::memcpy(out, reply, kPciConfigReplySize);
    *returned = kPciConfigReplySize;
    return true;
}

static bool TakeBaseAddresses(Driver& driver, const void* in, std::uint32_t inSize) {
    if (in == nullptr || inSize != sizeof(BaseAddressRecord)) return false;
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(in);
    driver.bases = {GetWord(bytes), GetWord(bytes + 4), GetWord(bytes + 8), GetWord(bytes + 12)};
    driver.basesKnown = true;
    return true;
}

static bool AnswerRequest(Board& board, std::uint32_t code, const void* in, std::uint32_t inSize,
                          void* out, std::uint32_t outSize, std::uint32_t* returned) {
    Driver& driver = board.driver;
    if (driver.failingCodes.count(code) != 0) return false;
    switch (code) {
        case kCodeDriverInfo:
            return ReplyWord(driver.driverInfo, out, outSize, returned);
        case kCodeVendorId:
            return ReplyWord(driver.vendorId, out, outSize, returned);
        case kCodeDeviceId:
            return ReplyWord(driver.deviceId, out, outSize, returned);
        case kCodeIntMemWindow:
            return driver.basesKnown && ReplyWord(board.intWindowAddress, out, outSize, returned);
        case kCodeExtMemWindow:
            return driver.basesKnown && ReplyWord(board.extWindowAddress, out, outSize, returned);
        case kCodePciConfig:
            return ReplyPciConfig(board, out, outSize, returned);
        case kCodeSetBaseAddresses:
            return TakeBaseAddresses(driver, in, inSize);
        default:
            return false;
    }
}

bool Board::DriverRequest(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                          std::uint32_t outSize, std::uint32_t* returned) {
    Event e{Op::DriverRequest};
    e.where = code;
    if (in != nullptr && inSize != 0) {
        const std::uint8_t* bytes = static_cast<const std::uint8_t*>(in);
        e.input.assign(bytes, bytes + inSize);
    }
    std::uint32_t count = 0;
    const bool ok = AnswerRequest(*this, code, in, inSize, out, outSize, &count);
    if (returned != nullptr) *returned = ok ? count : 0;
    e.value = ok ? 1 : 0;
    Record(std::move(e));
    return ok;
}

// ---- windows and trace -------------------------------------------------------------------------

std::uint8_t* Board::WindowByte(std::uint32_t address, std::uint32_t bytes) {
    if (InWindow(address, bytes, intWindowAddress, kIntMemSize)) {
        return intMem + (address - intWindowAddress);
    }
    if (InWindow(address, bytes, extWindowAddress, kExtMemSize)) {
        return extMem + (address - extWindowAddress);
    }
    return nullptr;
}

void Board::Record(Event e) {
    if (!tracing) return;
    if (traceLimit != 0 && trace.size() >= traceLimit) {
        ++traceDropped;
        return;
    }
    trace.push_back(std::move(e));
}

std::vector<Event> Board::BusAccesses() const {
    std::vector<Event> picked;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(picked),
                 [](const Event& e) { return e.IsBusAccess(); });
    return picked;
}

std::vector<Event> Board::DriverRequests() const {
    std::vector<Event> picked;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(picked),
                 [](const Event& e) { return e.op == Op::DriverRequest; });
    return picked;
}

void Install(Board* board) {
    installedBoard = board;
}

Board* Installed() {
    return installedBoard;
}

}  // namespace vexo::sim
