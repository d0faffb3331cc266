// Why the card cannot be opened: the library's opening steps repeated until one fails.
#include "diagnose.h"

#include <cstdarg>
#include <cstdio>

#include "board_key.h"
#include "driver_protocol.h"
#include "pci_config.h"
#include "pci_scan.h"
#include "platform.h"

namespace vexotool {
namespace {

namespace board_key = vexo::board_key;
namespace driver = vexo::driver;
namespace pci = vexo::pci;
namespace platform = vexo::platform;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[200];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// "device 0x2004, vendor 0x10CF"
std::string CardIdentity() {
    return Format("device 0x%X, vendor 0x%X", pci::kCardDeviceId, pci::kCardVendorId);
}

bool RequestWord(platform::DriverHandle handle, std::uint32_t code, std::uint32_t* reply) {
    return platform::DriverRequest(handle, code, nullptr, 0, reply, sizeof *reply);
}

// The identity requests, in the library's order: device, vendor, driver information.
bool CheckIdentity(platform::DriverHandle handle, Diagnosis* diagnosis) {
    std::uint32_t device = 0, vendor = 0, info = 0;
    const struct {
        std::uint32_t code;
        std::uint32_t* reply;
        const char* what;
    } requests[] = {{driver::kGetDeviceId, &device, "device identifier"},
                    {driver::kGetVendorId, &vendor, "vendor identifier"},
                    {driver::kGetDriverInfo, &info, "driver information"}};
    for (const auto& request : requests) {
        if (RequestWord(handle, request.code, request.reply)) continue;
        *diagnosis = {OpenFailure::DriverSilent,
                      std::string("the driver refuses to report its ") + request.what +
                          Format(" (control code %u)", request.code),
                      "The VexoLite driver may be of another version than the library."};
        return false;
    }
    if (device == pci::kCardDeviceId && vendor == pci::kCardVendorId) return true;
    *diagnosis = {OpenFailure::WrongIdentity,
                  Format("the driver reports device 0x%X, vendor 0x%X, ", device, vendor) +
                      "not the VexoLite card (" + CardIdentity() + ")",
                  std::string("Another driver answers at ") + driver::kDevicePath + "."};
    return false;
}

// After a failed open the card's base address registers hold the bases the library used: hand
// them to the driver again and ask for both windows.
bool CheckWindows(platform::DriverHandle handle, const pci::CardLocation& card,
                  Diagnosis* diagnosis) {
    const auto cardBase = [&card](int value) {
        const board_key::BaseAddress& bar = board_key::kBases[value];
        return bar.AddressBits(pci::ReadConfig(card, bar.barRegister));
    };
    // The record and kBases share the key's value order; a braced list is read left to right.
    const driver::BaseAddressRecord bases = {cardBase(0), cardBase(1), cardBase(2), cardBase(3)};
    const std::string where = Format(" (card at bus %u, device %u)", card.bus, card.device);
    if (!platform::DriverRequest(handle, driver::kSetBaseAddresses, &bases, sizeof bases, nullptr,
                                 0)) {
        *diagnosis = {OpenFailure::WindowRefused,
                      Format("the driver refused the card's base addresses (control code %u)",
                             driver::kSetBaseAddresses) +
                          where,
                      "Check the four bases with the VEXOLITE Control Panel applet."};
        return false;
    }
    std::uint32_t window = 0;
    if (!RequestWord(handle, driver::kGetIntMemWindow, &window)) {
        *diagnosis = {OpenFailure::WindowRefused,
                      Format("the driver refused the internal memory window (control code %u)",
                             driver::kGetIntMemWindow) +
                          where,
                      Format("Internal memory base 0x%08X; check it with the VEXOLITE applet.",
                             bases.intMemBase)};
        return false;
    }
    if (!RequestWord(handle, driver::kGetExtMemWindow, &window)) {
        *diagnosis = {OpenFailure::WindowRefused,
                      Format("the driver refused the external memory window (control code %u)",
                             driver::kGetExtMemWindow) +
                          where,
                      Format("External memory base 0x%08X; check it with the VEXOLITE applet.",
                             bases.extMemBase)};
        return false;
    }
    return true;
}

}  // namespace

Diagnosis DiagnoseOpenFailure() {
    const platform::DriverHandle handle = platform::OpenDriver(driver::kDevicePath);
    if (handle == platform::kInvalidDriverHandle) {
        return {OpenFailure::DriverMissing,
                std::string("the driver ") + driver::kDevicePath + " cannot be opened",
                "Is the VexoLite driver installed? Without a card, put the simulated card "
                "vexolite.vxd beside the program."};
    }
    Diagnosis diagnosis{OpenFailure::Unexplained,
                        "the library failed although the driver, the PCI bus and the windows "
                        "all answer as expected",
                        "The process may be out of memory."};
    pci::CardLocation card = {};
    if (CheckIdentity(handle, &diagnosis)) {
        if (!pci::ScanForBoard(&card)) {
            diagnosis = {OpenFailure::NoCard,
                         Format("no card answers on the PCI bus (no function %u with %s on buses "
                                "0-%u, devices 0-%u)",
                                pci::kCardFunction, CardIdentity().c_str(), pci::kBusCount - 1,
                                pci::kDeviceCount - 1),
                         "Is the card seated? Does the machine use PCI configuration "
                         "mechanism #1?"};
        } else {
            CheckWindows(handle, card, &diagnosis);
        }
    }
    platform::CloseDriver(handle);
    return diagnosis;
}

}  // namespace vexotool
