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
#include "emulated_bus.h"
#include "host_program.h"
#include "trap_handler.h"
#include "vexolite_sim.h"

namespace {

using vexo::sim::Board;
using vexo::sim::PciFunction;
using vexo::sim::vxd::BusBoard;
using vexo::sim::vxd::BusGuard;
using vexo::sim::vxd::BusTrace;
using vexo::sim::vxd::ProcessGuard;

static_assert(static_cast<int>(vexo::sim::Op::PortRead) == SIM_OP_PORT_READ &&
                  static_cast<int>(vexo::sim::Op::DriverRequest) == SIM_OP_DRIVER_REQUEST,
              "the trace operations of vexolite_sim.h follow the model's");
static_assert(SIM_MAX_FAILING_CODES == vexo::sim::kMaxFailingCodes,
              "vexolite_sim.h names how many failing codes the card keeps");
static_assert(SIM_DEFAULT_BUS == vexo::sim::kPowerOnBus &&
                  SIM_DEFAULT_DEVICE == vexo::sim::kPowerOnDevice,
              "vexolite_sim.h names the card's power-on place");

PciFunction* FunctionAt(std::uint32_t bus, std::uint32_t device, std::uint32_t function) {
    Board* board = BusBoard();
    if (board == nullptr || bus > 0xFF || device > 0x1F || function > 7) return nullptr;
    return board->FindFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                               static_cast<std::uint8_t>(function));
}

// The memory `which` names, when offset..offset+count lies inside it.
std::uint8_t* MemoryRange(std::uint32_t which, std::uint32_t offset, std::uint32_t count) {
    Board* board = BusBoard();
    if (board == nullptr) return nullptr;
    std::uint8_t* base = which == SIM_INT_MEM   ? board->intMem
                         : which == SIM_EXT_MEM ? board->extMem
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
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return FALSE;
    std::uint32_t count = 0;
    bool ok = false;
    if (board->driver.present) {
        ok = board->DriverRequest(code, in, inSize, out, outSize, &count);
    } else {
        vexo::sim::Event e{vexo::sim::Op::DriverRequest};
        e.where = code;
        board->Record(std::move(e));
    }
    BusTrace().Request(code, inSize, outSize, ok);
    if (returned != nullptr) *returned = count;
    return ok ? TRUE : FALSE;
}

void SIM_CALL SimResetBoard(void) {
    const BusGuard guard;
    vexo::sim::vxd::PowerCycle();
}

void SIM_CALL SimRemoveAllFunctions(void) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->functions.clear();
}

void SIM_CALL SimAddFunction(uint32_t bus, uint32_t device, uint32_t function, uint32_t id) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return;
    board->AddFunction(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                       static_cast<std::uint8_t>(function), id);
}

int SIM_CALL SimSetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t value) {
    const BusGuard guard;
    PciFunction* f = FunctionAt(bus, device, function);
    if (f == nullptr || index > 5) return 0;
    f->bars[index] = value;
    return 1;
}

int SIM_CALL SimGetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = FunctionAt(bus, device, function);
    if (f == nullptr || index > 5 || value == nullptr) return 0;
    *value = f->bars[index];
    return 1;
}

int SIM_CALL SimSetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t value) {
    const BusGuard guard;
    PciFunction* f = FunctionAt(bus, device, function);
    if (f == nullptr) return 0;
    f->commandStatus = value;
    return 1;
}

int SIM_CALL SimGetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = FunctionAt(bus, device, function);
    if (f == nullptr || value == nullptr) return 0;
    *value = f->commandStatus;
    return 1;
}

int SIM_CALL SimReadIoRegister(uint32_t bus, uint32_t device, uint32_t function, uint32_t range,
                               uint32_t offset, uint32_t width, uint32_t* value) {
    const BusGuard guard;
    PciFunction* f = FunctionAt(bus, device, function);
    if (f == nullptr || range > 1 || !ValidWidth(width) || value == nullptr) return 0;
    *value = f->IoRegister(static_cast<int>(range), offset, static_cast<int>(width));
    return 1;
}

void SIM_CALL SimSetDriverPresent(int present) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->driver.present = present != 0;
}

void SIM_CALL SimSetDriverIdentity(uint32_t deviceId, uint32_t vendorId) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return;
    board->driver.deviceId = deviceId;
    board->driver.vendorId = vendorId;
}

void SIM_CALL SimSetDriverInfo(uint32_t driverInfo) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->driver.driverInfo = driverInfo;
}

int SIM_CALL SimSetFailingCode(uint32_t code, int failing) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return 0;
    if (!failing) {
        board->driver.failingCodes.erase(code);
        return 1;
    }
    return board->driver.failingCodes.insert(code) ? 1 : 0;
}

void SIM_CALL SimSetPciConfigReply(const void* bytes, uint32_t count) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return;
    board->driver.overridePciConfigReply = bytes != nullptr;
    board->driver.pciConfigReply.clear();
    if (bytes != nullptr) {
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        board->driver.pciConfigReply.assign(first, first + count);
    }
}

int SIM_CALL SimGetLastBaseRecord(SimBaseRecord* record) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr || !board->driver.basesKnown || record == nullptr) return 0;
    const vexo::sim::BaseAddressRecord& bases = board->driver.bases;
    *record = {bases.intMemBase, bases.extMemBase, bases.io1Base, bases.io2Base};
    return 1;
}

int SIM_CALL SimReadMemory(uint32_t which, uint32_t offset, void* buffer, uint32_t count) {
    const BusGuard guard;
    const std::uint8_t* from = MemoryRange(which, offset, count);
    if (from == nullptr || (buffer == nullptr && count != 0)) return 0;
    if (count != 0) std::memcpy(buffer, from, count);
    return 1;
}

int SIM_CALL SimWriteMemory(uint32_t which, uint32_t offset, const void* buffer, uint32_t count) {
    const BusGuard guard;
    std::uint8_t* to = MemoryRange(which, offset, count);
    if (to == nullptr || (buffer == nullptr && count != 0)) return 0;
    if (count != 0) std::memcpy(to, buffer, count);
    return 1;
}

uint32_t SIM_CALL SimGetWindowAddress(uint32_t which) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return 0;
    if (which == SIM_INT_MEM) return board->intWindowAddress;
    if (which == SIM_EXT_MEM) return board->extWindowAddress;
    return 0;
}

uint32_t SIM_CALL SimPortRead(uint32_t port, uint32_t width) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr || !ValidWidth(width)) return 0xFFFFFFFFu;
    const auto at = static_cast<std::uint16_t>(port);
    Board::PortOwner owner = Board::PortOwner::Nobody;
    const std::uint32_t value = board->PortRead(at, static_cast<int>(width), &owner);
    BusTrace().Port(owner, true, at, static_cast<int>(width), value);
    return value;
}

void SIM_CALL SimPortWrite(uint32_t port, uint32_t width, uint32_t value) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr || !ValidWidth(width)) return;
    const auto at = static_cast<std::uint16_t>(port);
    Board::PortOwner owner = Board::PortOwner::Nobody;
    board->PortWrite(at, static_cast<int>(width), value, &owner);
    BusTrace().Port(owner, false, at, static_cast<int>(width), value);
}

uint32_t SIM_CALL SimTraceCount(void) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    return board == nullptr ? 0 : static_cast<uint32_t>(board->trace.size());
}

uint32_t SIM_CALL SimTraceDropped(void) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    return board == nullptr ? 0 : static_cast<uint32_t>(board->traceDropped);
}

int SIM_CALL SimGetTraceEvent(uint32_t index, SimTraceEvent* event) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    if (board == nullptr || event == nullptr || index >= board->trace.size()) return 0;
    const vexo::sim::Event& e = board->trace[index];
    *event = {static_cast<uint32_t>(e.op), e.width, e.where, e.value};
    return 1;
}

void SIM_CALL SimClearTrace(void) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->ClearTrace();
}

void SIM_CALL SimSetTracing(int on) {
    const ProcessGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->tracing = on != 0;
}

void SIM_CALL SimSetTrapBatching(int on) {
    const ProcessGuard guard;
    vexo::sim::vxd::SetTrapBatching(on != 0);
}

uint32_t SIM_CALL SimTrapCount(void) {
    return vexo::sim::vxd::TrapCount();
}

void SIM_CALL SimSetCardPresent(int present) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board != nullptr) board->SetCardPresent(present != 0);
}

int SIM_CALL SimPlaceCard(uint32_t bus, uint32_t device) {
    const BusGuard guard;
    Board* board = BusBoard();
    return board != nullptr && board->PlaceCard(bus, device) ? 1 : 0;
}

int SIM_CALL SimGetCardState(SimCardState* state) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr || state == nullptr) return 0;
    *state = SimCardState{};
    const PciFunction* card = board->FirstCard();
    const vexo::sim::CardState& kept = board->state;
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

uint32_t SIM_CALL SimGetFailingCodes(uint32_t* codes, uint32_t size) {
    const BusGuard guard;
    Board* board = BusBoard();
    if (board == nullptr) return 0;
    const vexo::sim::CodeSet& failing = board->driver.failingCodes;
    if (codes != nullptr) {
        std::copy_n(failing.begin(), std::min<std::size_t>(size, failing.size()), codes);
    }
    return static_cast<uint32_t>(failing.size());
}

uint32_t SIM_CALL SimGetCardFile(char* path, uint32_t size) {
    const ProcessGuard guard;  // the path is this process's own, set when the module loaded
    const std::string file = vexo::sim::vxd::Ansi(vexo::sim::vxd::BusStore().path);
    if (path != nullptr && size != 0) {
        const std::size_t copied = std::min<std::size_t>(file.size(), size - 1);
        std::memcpy(path, file.data(), copied);
        path[copied] = '\0';
    }
    return static_cast<uint32_t>(file.size());
}

}  // extern "C"
