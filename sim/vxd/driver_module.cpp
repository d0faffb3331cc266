// The module: vexolite.vxd's DllMain and exports, the simulated driver Wine loads for its path.
//
// Under Wine in Windows 98 mode, CreateFileA("\\.\VexoLite.vxd") loads this module and sends
// every DeviceIoControl on the handle to its export DeviceIoControl. Port instructions of the
// process trap into the handler installed at load (trap_handler.h) and reach the same card on
// the emulated bus (emulated_bus.h), whose state and memories every process shares through the
// card file (card_store.h). The Sim* exports shape that card and read back what reached it
// (vexolite_sim.h); each holds the bus.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "board.h"
#include "host_program.h"
#include "module_state.h"
#include "trap_handler.h"
#include "vexolite_sim.h"

namespace vexo::sim::vxd {
ModuleState theModule;
}  // namespace vexo::sim::vxd

namespace {

using vexo::sim::Board;
using vexo::sim::PciFunction;
using vexo::sim::vxd::BusGuard;
using vexo::sim::vxd::Module;
using vexo::sim::vxd::ProcessGuard;

static_assert(static_cast<int>(vexo::sim::Op::PortRead) == SIM_OP_PORT_READ &&
                  static_cast<int>(vexo::sim::Op::DriverRequest) == SIM_OP_DRIVER_REQUEST,
              "the trace operations of vexolite_sim.h follow the model's");
static_assert(SIM_MAX_FAILING_CODES == vexo::sim::kMaxFailingCodes,
              "vexolite_sim.h names how many failing codes the card keeps");
static_assert(SIM_DEFAULT_BUS == vexo::sim::kPowerOnBus &&
                  SIM_DEFAULT_DEVICE == vexo::sim::kPowerOnDevice,
              "vexolite_sim.h names the card's power-on place");

// How every export that reaches the card opens: `work` on the card with the bus held for all of
// it (Guard: the whole bus, or ProcessGuard for what is this process's own), or `absent` as the
// answer when there is no card (before the module attached, after it detached).
template <typename Guard = BusGuard, typename Result, typename Work>
Result OnCard(Result absent, Work work) {
    const Guard guard;
    Board* board = Module().bus.board;
    return board == nullptr ? absent : work(*board);
}

template <typename Guard = BusGuard, typename Work>
void OnCard(Work work) {
    const Guard guard;
    Board* board = Module().bus.board;
    if (board != nullptr) work(*board);
}

// For the exports that name a PCI function: `work` on it; 0 when it is not on the card.
template <typename Work>
int OnFunction(std::uint32_t bus, std::uint32_t device, std::uint32_t function, Work work) {
    return OnCard(0, [&](Board& board) {
        if (bus > 0xFF || device > 0x1F || function > 7) return 0;
        PciFunction* found =
            board.FindFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                               static_cast<std::uint8_t>(function));
        return found == nullptr ? 0 : work(*found);
    });
}

// The memory `which` names, when offset..offset+count lies inside it.
std::uint8_t* MemoryRange(Board& board, std::uint32_t which, std::uint32_t offset,
                          std::uint32_t count) {
    std::uint8_t* base = which == SIM_INT_MEM   ? board.intMem
                         : which == SIM_EXT_MEM ? board.extMem
                                                : nullptr;
    const std::uint64_t size =
        which == SIM_INT_MEM ? vexo::sim::kIntMemSize : vexo::sim::kExtMemSize;
    if (base == nullptr || std::uint64_t{offset} + count > size) return nullptr;
    return base + offset;
}

bool ValidWidth(std::uint32_t width) {
    return width == 8 || width == 16 || width == 32;
}

bool Attach() {
    return vexo::sim::vxd::OpenBus() && vexo::sim::vxd::InstallTrapHandler();
}

// Unloaded from a running process, the module first puts the calls it redirected back; at
// process exit they stay, for a module detaching after this one whose calls then meet a bus
// without a card.
void Detach(bool processExit) {
    vexo::sim::vxd::RemoveTrapHandler();
    if (!processExit) {
        const ProcessGuard guard;
        vexo::sim::vxd::SetTrapBatching(false);
    }
    vexo::sim::vxd::CloseBus(processExit);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) return Attach() ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH) Detach(reserved != nullptr);
    return TRUE;
}

// Exported as DeviceIoControl: what Wine calls for each request on the device path's handle.
BOOL WINAPI SimDeviceIoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned, OVERLAPPED*) {
    return OnCard(FALSE, [&](Board& board) {
        std::uint32_t count = 0;
        bool ok = false;
        if (board.driver.present) {
            ok = board.DriverRequest(code, in, inSize, out, outSize, &count);
        } else {
            vexo::sim::Event e{vexo::sim::Op::DriverRequest};
            e.where = code;
            board.Record(std::move(e));
        }
        Module().bus.trace.Request(code, inSize, outSize, ok);
        if (returned != nullptr) *returned = count;
        return ok ? TRUE : FALSE;
    });
}

void SIM_CALL SimResetBoard(void) {
    OnCard([](Board&) { vexo::sim::vxd::PowerCycle(); });
}

void SIM_CALL SimRemoveAllFunctions(void) {
    OnCard([](Board& board) { board.functions.clear(); });
}

void SIM_CALL SimAddFunction(uint32_t bus, uint32_t device, uint32_t function, uint32_t id) {
    OnCard([&](Board& board) {
        board.AddFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                          static_cast<std::uint8_t>(function), id);
    });
}

int SIM_CALL SimSetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t value) {
    return OnFunction(bus, device, function, [&](PciFunction& f) {
        if (index > 5) return 0;
        f.bars[index] = value;
        return 1;
    });
}

int SIM_CALL SimGetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t* value) {
    return OnFunction(bus, device, function, [&](PciFunction& f) {
        if (index > 5 || value == nullptr) return 0;
        *value = f.bars[index];
        return 1;
    });
}

int SIM_CALL SimSetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t value) {
    return OnFunction(bus, device, function, [&](PciFunction& f) {
        f.commandStatus = value;
        return 1;
    });
}

int SIM_CALL SimGetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t* value) {
    return OnFunction(bus, device, function, [&](PciFunction& f) {
        if (value == nullptr) return 0;
        *value = f.commandStatus;
        return 1;
    });
}

int SIM_CALL SimReadIoRegister(uint32_t bus, uint32_t device, uint32_t function, uint32_t range,
                               uint32_t offset, uint32_t width, uint32_t* value) {
    return OnFunction(bus, device, function, [&](PciFunction& f) {
        if (range > 1 || !ValidWidth(width) || value == nullptr) return 0;
        *value = f.IoRegister(static_cast<int>(range), offset, static_cast<int>(width));
        return 1;
    });
}

void SIM_CALL SimSetDriverPresent(int present) {
    OnCard([&](Board& board) { board.driver.present = present != 0; });
}

void SIM_CALL SimSetDriverIdentity(uint32_t deviceId, uint32_t vendorId) {
    OnCard([&](Board& board) {
        board.driver.deviceId = deviceId;
        board.driver.vendorId = vendorId;
    });
}

void SIM_CALL SimSetDriverInfo(uint32_t driverInfo) {
    OnCard([&](Board& board) { board.driver.driverInfo = driverInfo; });
}

int SIM_CALL SimSetFailingCode(uint32_t code, int failing) {
    return OnCard(0, [&](Board& board) {
        if (!failing) {
            board.driver.failingCodes.erase(code);
            return 1;
        }
        return board.driver.failingCodes.insert(code) ? 1 : 0;
    });
}

void SIM_CALL SimSetPciConfigReply(const void* bytes, uint32_t count) {
    OnCard([&](Board& board) {
        board.driver.overridePciConfigReply = bytes != nullptr;
        board.driver.pciConfigReply.clear();
        if (bytes != nullptr) {
            const auto* first = static_cast<const std::uint8_t*>(bytes);
            board.driver.pciConfigReply.assign(first, first + count);
        }
    });
}

int SIM_CALL SimGetLastBaseRecord(SimBaseRecord* record) {
    return OnCard(0, [&](Board& board) {
        if (!board.driver.basesKnown || record == nullptr) return 0;
        const vexo::sim::BaseAddressRecord& bases = board.driver.bases;
        *record = {bases.intMemBase, bases.extMemBase, bases.io1Base, bases.io2Base};
        return 1;
    });
}

int SIM_CALL SimReadMemory(uint32_t which, uint32_t offset, void* buffer, uint32_t count) {
    return OnCard(0, [&](Board& board) {
        const std::uint8_t* from = MemoryRange(board, which, offset, count);
        if (from == nullptr || (buffer == nullptr && count != 0)) return 0;
        if (count != 0) std::memcpy(buffer, from, count);
        return 1;
    });
}

int SIM_CALL SimWriteMemory(uint32_t which, uint32_t offset, const void* buffer, uint32_t count) {
    return OnCard(0, [&](Board& board) {
        std::uint8_t* to = MemoryRange(board, which, offset, count);
        if (to == nullptr || (buffer == nullptr && count != 0)) return 0;
        if (count != 0) std::memcpy(to, buffer, count);
        return 1;
    });
}

uint32_t SIM_CALL SimGetWindowAddress(uint32_t which) {
    return OnCard<ProcessGuard>(0u, [&](Board& board) {
        if (which == SIM_INT_MEM) return board.intWindowAddress;
        if (which == SIM_EXT_MEM) return board.extWindowAddress;
        return 0u;
    });
}

uint32_t SIM_CALL SimPortRead(uint32_t port, uint32_t width) {
    return OnCard(0xFFFFFFFFu, [&](Board& board) {
        if (!ValidWidth(width)) return 0xFFFFFFFFu;
        const auto at = static_cast<std::uint16_t>(port);
        Board::PortOwner owner = Board::PortOwner::Nobody;
        const std::uint32_t value = board.PortRead(at, static_cast<int>(width), &owner);
        Module().bus.trace.Port(owner, true, at, static_cast<int>(width), value);
        return value;
    });
}

void SIM_CALL SimPortWrite(uint32_t port, uint32_t width, uint32_t value) {
    OnCard([&](Board& board) {
        if (!ValidWidth(width)) return;
        const auto at = static_cast<std::uint16_t>(port);
        Board::PortOwner owner = Board::PortOwner::Nobody;
        board.PortWrite(at, static_cast<int>(width), value, &owner);
        Module().bus.trace.Port(owner, false, at, static_cast<int>(width), value);
    });
}

uint32_t SIM_CALL SimTraceCount(void) {
    return OnCard<ProcessGuard>(
        0u, [](Board& board) { return static_cast<uint32_t>(board.trace.size()); });
}

uint32_t SIM_CALL SimTraceDropped(void) {
    return OnCard<ProcessGuard>(
        0u, [](Board& board) { return static_cast<uint32_t>(board.traceDropped); });
}

int SIM_CALL SimGetTraceEvent(uint32_t index, SimTraceEvent* event) {
    return OnCard<ProcessGuard>(0, [&](Board& board) {
        if (event == nullptr || index >= board.trace.size()) return 0;
        const vexo::sim::Event& e = board.trace[index];
        *event = {static_cast<uint32_t>(e.op), e.width, e.where, e.value};
        return 1;
    });
}

void SIM_CALL SimClearTrace(void) {
    OnCard<ProcessGuard>([](Board& board) { board.ClearTrace(); });
}

void SIM_CALL SimSetTracing(int on) {
    OnCard<ProcessGuard>([&](Board& board) { board.tracing = on != 0; });
}

void SIM_CALL SimSetTrapBatching(int on) {
    const ProcessGuard guard;
    vexo::sim::vxd::SetTrapBatching(on != 0);
}

uint32_t SIM_CALL SimTrapCount(void) {
    return vexo::sim::vxd::TrapCount();
}

void SIM_CALL SimSetCardPresent(int present) {
    OnCard([&](Board& board) { board.SetCardPresent(present != 0); });
}

int SIM_CALL SimPlaceCard(uint32_t bus, uint32_t device) {
    return OnCard(0, [&](Board& board) { return board.PlaceCard(bus, device) ? 1 : 0; });
}

int SIM_CALL SimGetCardState(SimCardState* state) {
    return OnCard(0, [&](Board& board) {
        if (state == nullptr) return 0;
        *state = SimCardState{};
        const PciFunction* card = board.FirstCard();
        const vexo::sim::CardState& kept = board.state;
        state->cardPresent = card != nullptr;
        state->bus = kept.placeBus;
        state->device = kept.placeDevice;
        const PciFunction* shown = card != nullptr      ? card
                                   : kept.aside.empty() ? nullptr
                                                        : kept.aside.begin();
        if (shown != nullptr) {
            state->bus = shown->bus;
            state->device = shown->device;
            state->command = shown->commandStatus;
            std::copy_n(shown->bars, 6, state->bars);
        }
        const vexo::sim::Driver& driver = board.driver;
        state->driverPresent = driver.present;
        state->deviceId = driver.deviceId;
        state->vendorId = driver.vendorId;
        state->driverInfo = driver.driverInfo;
        for (std::uint32_t code : driver.failingCodes) {
            if (state->failingCount == SIM_MAX_FAILING_SHOWN) break;
            state->failing[state->failingCount++] = code;
        }
        return 1;
    });
}

uint32_t SIM_CALL SimGetFailingCodes(uint32_t* codes, uint32_t size) {
    return OnCard(0u, [&](Board& board) {
        const vexo::sim::CodeSet& failing = board.driver.failingCodes;
        if (codes != nullptr) {
            std::copy_n(failing.begin(), std::min<std::size_t>(size, failing.size()), codes);
        }
        return static_cast<uint32_t>(failing.size());
    });
}

uint32_t SIM_CALL SimGetCardFile(char* path, uint32_t size) {
    const ProcessGuard guard;  // the path is this process's own, set when the module loaded
    const std::string file = vexo::sim::vxd::Ansi(Module().bus.store.path);
    if (path != nullptr && size != 0) {
        const std::size_t copied = std::min<std::size_t>(file.size(), size - 1);
        std::memcpy(path, file.data(), copied);
        path[copied] = '\0';
    }
    return static_cast<uint32_t>(file.size());
}

}  // extern "C"
