// Discovery and handshake: the driver names the card, the board configuration key supplies the
// bases, a scan of configuration space finds the card, the card is configured, the driver learns
// the bases and hands out the memory windows, and three set-up registers are written.
#include "board_context.h"
#include "board_key.h"
#include "driver_protocol.h"
#include "pci_config.h"
#include "pci_scan.h"
#include "set_up_registers.h"

namespace vexo {
namespace {

// A request whose 4-byte reply lands in `field` only when the driver accepted it.
bool RequestWord(platform::DriverHandle driver, std::uint32_t code, std::uint32_t* field) {
    std::uint32_t reply = 0;
    if (!platform::DriverRequest(driver, code, nullptr, 0, &reply, sizeof reply)) return false;
    *field = reply;
    return true;
}

bool HasExpectedIdentity(const BoardContext& board) {
    return board.vendorId == pci::kCardVendorId && board.deviceId == pci::kCardDeviceId;
}

// The context's field for each base, in the key's value order (board_key::kBases).
constexpr std::uint32_t BoardContext::*kBaseFields[board_key::kValueCount] = {
    &BoardContext::intMemBase, &BoardContext::extMemBase, &BoardContext::io1Base,
    &BoardContext::io2Base};

// A value that is missing, larger than 4 bytes or otherwise unreadable leaves the base at 0,
// which means "take it from the card". The field is cleared before the query, so a value
// shorter than 4 bytes fills only the low bytes of an otherwise zero field.
void QueryBase(platform::RegistryKey key, const char* name, std::uint32_t* field) {
    *field = 0;
    if (!platform::QueryValue(key, name, field, sizeof *field)) *field = 0;
}

void ReadBoardKey(BoardContext& board) {
    platform::RegistryKey key = 0;
    const bool opened = platform::OpenMachineKey(board_key::kPath, &key);
    for (int i = 0; i < board_key::kValueCount; ++i) {
        std::uint32_t* field = &(board.*kBaseFields[i]);
        if (opened) {
            QueryBase(key, board_key::kBases[i].valueName, field);
        } else {
            *field = 0;
        }
    }
    if (opened) platform::CloseKey(key);
}

// A non-zero base is programmed into its register as it stands. A zero base is taken from the
// register with the register's flag bits cleared: they are not part of the address, and an
// I/O base with bit 0 kept would put every port access one port off.
void SetOrTakeBase(const pci::CardLocation& card, const board_key::BaseAddress& bar,
                   std::uint32_t* base) {
    if (*base == 0) {
        *base = bar.AddressBits(pci::ReadConfig(card, bar.barRegister));
    } else {
        pci::WriteConfig(card, bar.barRegister, *base);
    }
}

// Decoding goes on before the base address registers change, which are then programmed in the
// card's order, BAR0 first.
void ConfigureFunction(BoardContext& board, const pci::CardLocation& card) {
    pci::WriteConfig(card, pci::kCommandStatusRegister, pci::kDecodeIoAndMemory);
    for (std::uint32_t reg = pci::kBar0Register; reg <= pci::kBar3Register; reg += 4) {
        const int i = board_key::IndexOfRegister(reg);
        SetOrTakeBase(card, board_key::kBases[i], &(board.*kBaseFields[i]));
    }
}

bool SendBaseAddresses(const BoardContext& board) {
    const driver::BaseAddressRecord record = {board.intMemBase, board.extMemBase, board.io1Base,
                                              board.io2Base};
    return platform::DriverRequest(board.hDriver, driver::kSetBaseAddresses, &record, sizeof record,
                                   nullptr, 0);
}

// Port numbers are 16 bits wide; a base near the top of the range wraps around.
std::uint16_t Port(std::uint32_t base, std::uint32_t offset) {
    return static_cast<std::uint16_t>(base + offset);
}

void WriteSetUpRegisters(const BoardContext& board) {
    for (const set_up::SetUpWrite& write : set_up::kWrites) {
        const std::uint32_t base =
            write.range == set_up::IoRange::First ? board.io1Base : board.io2Base;
        platform::PortWrite32(Port(base, write.offset), write.value);
    }
}

}  // namespace

int BoardContext::Initialize() {
    if (hDriver == platform::kInvalidDriverHandle) return 0;
    if (!RequestWord(hDriver, driver::kGetDeviceId, &deviceId)) return 0;
    if (!RequestWord(hDriver, driver::kGetVendorId, &vendorId)) return 0;
    if (!RequestWord(hDriver, driver::kGetDriverInfo, &driverInfo)) return 0;
    if (!HasExpectedIdentity(*this)) return 0;
    ReadBoardKey(*this);
    pci::CardLocation card = {};
    if (!pci::ScanForBoard(&card)) return 0;
    ConfigureFunction(*this, card);
    if (!SendBaseAddresses(*this)) return 0;
    if (!RequestWord(hDriver, driver::kGetIntMemWindow, &intMemWindow)) return 0;
    if (!RequestWord(hDriver, driver::kGetExtMemWindow, &extMemWindow)) return 0;
    ready = 1;
    WriteSetUpRegisters(*this);
    return 1;
}

}  // namespace vexo
