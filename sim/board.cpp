// The card model: the simulated card, bus and driver. See board.h for what each part models.
#include "board.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "little_endian.h"

namespace vexo::sim {

namespace {

constexpr std::uint32_t kPciConfigReplySize = driver::kPciConfigReplySize;

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

bool InWindow(std::uint32_t address, std::uint32_t bytes, std::uint32_t base, std::uint32_t size) {
    const std::uint64_t first = address;
    const std::uint64_t end = first + std::max<std::uint32_t>(bytes, 1);
    return first >= base && end <= std::uint64_t{base} + size;
}

// What a write to each of the card's BAR0-BAR3 can change. As on any PCI card, the flag bits
// (I/O space; memory type and prefetchable) are wired, and so are the address bits below the
// size of the range: writing all ones reads back the size mask with the flags.
constexpr std::uint32_t kBarFlagBits[4] = {
    kDefaultBars[0] & ~pci::kMemoryBarAddressMask, kDefaultBars[1] & ~pci::kMemoryBarAddressMask,
    kDefaultBars[2] & ~pci::kIoBarAddressMask, kDefaultBars[3] & ~pci::kIoBarAddressMask};
constexpr std::uint32_t kBarWritableBits[4] = {~(kExtMemSize - 1), ~(kIntMemSize - 1),
                                               ~(kIoRangeSize - 1), ~(kIoRangeSize - 1)};

bool IsCard(const PciFunction& f) {
    return f.isCard != 0;
}

}  // namespace

// ---- PCI function ------------------------------------------------------------------------------

std::uint32_t PciFunction::ConfigRead(std::uint32_t reg) const {
    reg &= 0xFCu;
    if (reg == 0x00) return id;
    if (reg == 0x04) return commandStatus;
    if (reg >= 0x10 && reg <= 0x24) return bars[(reg - 0x10) / 4];
    return plainRegisters[reg / 4];
}

void PciFunction::ConfigWrite(std::uint32_t reg, std::uint32_t value) {
    reg &= 0xFCu;
    if (reg == 0x00) return;  // identity is read-only
    if (reg == 0x04) {
        commandStatus = value;
    } else if (reg >= 0x10 && reg <= 0x24) {
        const std::uint32_t bar = (reg - 0x10) / 4;
        const bool wired = isCard && bar < 4;
        bars[bar] = wired ? (value & kBarWritableBits[bar]) | kBarFlagBits[bar] : value;
    } else {
        plainRegisters[reg / 4] = value;
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

// ---- driver settings ---------------------------------------------------------------------------

bool CodeSet::insert(std::uint32_t code) {
    if (Contains(code)) return true;
    if (count == kMaxFailingCodes) return false;
    codes[count++] = code;
    return true;
}

void CodeSet::erase(std::uint32_t code) {
    count = static_cast<std::uint32_t>(std::remove(codes, codes + count, code) - codes);
}

CodeSet& CodeSet::operator=(std::initializer_list<std::uint32_t> list) {
    clear();
    for (std::uint32_t code : list) insert(code);
    return *this;
}

void ConfigReply::assign(const std::uint8_t* first, const std::uint8_t* last) {
    length = static_cast<std::uint32_t>(
        std::min<std::ptrdiff_t>(last - first, static_cast<std::ptrdiff_t>(sizeof bytes)));
    std::memset(bytes, 0, sizeof bytes);
    std::copy_n(first, length, bytes);
}

// ---- board -------------------------------------------------------------------------------------

Board::Board(CardState& cardState, std::uint8_t* intMemory, std::uint8_t* extMemory)
    : state(cardState),
      configAddress(cardState.configAddress),
      functions(cardState.functions),
      driver(cardState.driver),
      intMem(intMemory),
      extMem(extMemory) {}

PciFunction* Board::AddCard(std::uint8_t bus, std::uint8_t device) {
    return AddFunction(bus, device, pci::kCardFunction, kCardId);
}

PciFunction* Board::AddFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                std::uint32_t id) {
    PciFunction added;
    added.bus = bus;
    added.device = device & 0x1Fu;
    added.function = function & 0x7u;
    added.id = id;
    added.isCard = (id == kCardId);
    return functions.Append(added);
}

PciFunction* Board::FindFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
    for (PciFunction& f : functions) {
        if (f.bus == bus && f.device == device && f.function == function) return &f;
    }
    return nullptr;
}

PciFunction* Board::FirstCard() {
    const auto card = std::find_if(functions.begin(), functions.end(), IsCard);
    return card == functions.end() ? nullptr : card;
}

void Board::PowerOn() {
    state = CardState{};
    AddCard(state.placeBus, state.placeDevice);
}

bool Board::CardPresent() const {
    return std::any_of(functions.begin(), functions.end(), IsCard);
}

void Board::SetCardPresent(bool present) {
    if (!present) {
        for (const PciFunction& f : functions) {
            if (IsCard(f)) state.aside.Append(f);
        }
        functions.RemoveIf(IsCard);
        return;
    }
    if (CardPresent()) return;
    if (state.aside.empty()) {
        AddCard(state.placeBus, state.placeDevice);
    } else {
        for (const PciFunction& f : state.aside) functions.Append(f);
    }
    state.aside.clear();
}

bool Board::PlaceCard(std::uint32_t bus, std::uint32_t device) {
    if (bus > 0xFF || device > 0x1F) return false;
    const auto newBus = static_cast<std::uint8_t>(bus);
    const auto newDevice = static_cast<std::uint8_t>(device);
    // Another function already there would answer in the card's place.
    const PciFunction* there = FindFunction(newBus, newDevice, pci::kCardFunction);
    if (there != nullptr && !IsCard(*there)) return false;
    state.placeBus = newBus;
    state.placeDevice = newDevice;
    const auto move = [&](PciFunction& f) {
        f.bus = newBus;
        f.device = newDevice;
        f.function = pci::kCardFunction;
    };
    for (PciFunction& f : functions) {
        if (IsCard(f)) move(f);
    }
    for (PciFunction& f : state.aside) move(f);
    return true;
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
        if (!IsCard(f) || !f.IoDecoding()) continue;
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

// Who answers a port that is no configuration port, from whether and where a card decodes it.
static Board::PortOwner IoOwner(bool decoded, int range) {
    if (!decoded) return Board::PortOwner::Nobody;
    return range == 0 ? Board::PortOwner::Io1 : Board::PortOwner::Io2;
}

// The card register that decodes `port`, or null; `owner`, when not null, gets who answers it.
static std::uint8_t* DecodedIoByte(Board& board, std::uint32_t port,
                                   Board::PortOwner* owner = nullptr) {
    PciFunction* f = nullptr;
    int range = 0;
    const bool decoded = FindDecoder(board.functions, port, &f, &range);
    if (owner != nullptr) *owner = IoOwner(decoded, range);
    if (!decoded) return nullptr;
    return &f->io[range][port - f->IoBase(range)];
}

Board::PortOwner Board::OwnerOf(std::uint16_t port) const {
    if (IsConfigPort(port)) return PortOwner::Config;
    const PciFunction* f = nullptr;
    int range = 0;
    const bool decoded = FindDecoder(functions, port, &f, &range);
    return IoOwner(decoded, range);
}

static std::uint32_t ReadBusPort(Board& board, std::uint16_t port, int width,
                                 Board::PortOwner* owner) {
    if (IsConfigPort(port) && owner != nullptr) *owner = Board::PortOwner::Config;
    if (width == 32 && port == kConfigAddressPort) return board.configAddress;
    if (width == 32 && port == kConfigDataPort) {
        const PciFunction* selected = SelectedFunction(board);
        return selected ? selected->ConfigRead(LatchRegister(board.configAddress)) : 0xFFFFFFFFu;
    }
    if (IsConfigPort(port)) return WidthMask(width);
    std::uint32_t value = 0;
    for (int k = 0; k < width / 8; ++k) {
        const std::uint8_t* reg =
            DecodedIoByte(board, (port + k) & 0xFFFFu, k == 0 ? owner : nullptr);
        value |= static_cast<std::uint32_t>(reg ? *reg : 0xFFu) << (8 * k);
    }
    return value;
}

static void WriteBusPort(Board& board, std::uint16_t port, int width, std::uint32_t value,
                         Board::PortOwner* owner) {
    if (IsConfigPort(port) && owner != nullptr) *owner = Board::PortOwner::Config;
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
        std::uint8_t* reg = DecodedIoByte(board, (port + k) & 0xFFFFu, k == 0 ? owner : nullptr);
        if (reg) *reg = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

std::uint32_t Board::PortRead(std::uint16_t port, int width, PortOwner* owner) {
    const std::uint32_t value = ReadBusPort(*this, port, width, owner);
    Event e{Op::PortRead};
    e.width = static_cast<std::uint8_t>(width);
    e.where = port;
    e.value = value;
    Record(std::move(e));
    return value;
}

void Board::PortWrite(std::uint16_t port, int width, std::uint32_t value, PortOwner* owner) {
    value &= WidthMask(width);
    Event e{Op::PortWrite};
    e.width = static_cast<std::uint8_t>(width);
    e.where = port;
    e.value = value;
    Record(std::move(e));
    WriteBusPort(*this, port, width, value, owner);
}

// ---- driver ------------------------------------------------------------------------------------

// A request whose reply is one 32-bit word.
static bool ReplyWord(std::uint32_t word, void* out, std::uint32_t outSize,
                      std::uint32_t* returned) {
    if (out == nullptr || outSize < 4) return false;
    little_endian::Store32(static_cast<std::uint8_t*>(out), word);
    *returned = 4;
    return true;
}

static bool ReplyPciConfig(Board& board, void* out, std::uint32_t outSize,
                           std::uint32_t* returned) {
    if (out == nullptr || outSize < kPciConfigReplySize) return false;
    std::uint8_t reply[kPciConfigReplySize] = {};
    if (board.driver.overridePciConfigReply) {
        const ConfigReply& bytes = board.driver.pciConfigReply;
        std::copy_n(bytes.bytes, std::min(bytes.length, kPciConfigReplySize), reply);
    } else {
        const PciFunction* card = board.FirstCard();
        if (card == nullptr) return false;
        for (std::uint32_t reg = 0; reg < kPciConfigReplySize; reg += 4) {
            little_endian::Store32(reply + reg, card->ConfigRead(reg));
        }
    }
    std::memcpy(out, reply, kPciConfigReplySize);
    *returned = kPciConfigReplySize;
    return true;
}

static bool TakeBaseAddresses(Driver& driver, const void* in, std::uint32_t inSize) {
    if (in == nullptr || inSize != sizeof(BaseAddressRecord)) return false;
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(in);
    driver.bases = {little_endian::Load32(bytes), little_endian::Load32(bytes + 4),
                    little_endian::Load32(bytes + 8), little_endian::Load32(bytes + 12)};
    driver.basesKnown = true;
    return true;
}

static bool AnswerRequest(Board& board, std::uint32_t code, const void* in, std::uint32_t inSize,
                          void* out, std::uint32_t outSize, std::uint32_t* returned) {
    Driver& driver = board.driver;
    if (driver.failingCodes.Contains(code)) return false;
    switch (code) {
        case vexo::driver::kGetDriverInfo:
            return ReplyWord(driver.driverInfo, out, outSize, returned);
        case vexo::driver::kGetVendorId:
            return ReplyWord(driver.vendorId, out, outSize, returned);
        case vexo::driver::kGetDeviceId:
            return ReplyWord(driver.deviceId, out, outSize, returned);
        case vexo::driver::kGetIntMemWindow:
            return driver.basesKnown && ReplyWord(board.intWindowAddress, out, outSize, returned);
        case vexo::driver::kGetExtMemWindow:
            return driver.basesKnown && ReplyWord(board.extWindowAddress, out, outSize, returned);
        case vexo::driver::kPciConfig:
            return ReplyPciConfig(board, out, outSize, returned);
        case vexo::driver::kSetBaseAddresses:
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

bool StateIsSound(const CardState& s) {
    if (s.functions.count > s.functions.Capacity() || s.aside.count > s.aside.Capacity() ||
        s.placeDevice > 0x1F || s.driver.failingCodes.count > kMaxFailingCodes ||
        s.driver.pciConfigReply.length > sizeof s.driver.pciConfigReply.bytes) {
        return false;
    }
    const auto sound = [](const PciFunction& f) { return f.device <= 0x1F && f.function <= 7; };
    return std::all_of(s.functions.begin(), s.functions.end(), sound) &&
           std::all_of(s.aside.begin(), s.aside.end(), sound);
}

}  // namespace vexo::sim
