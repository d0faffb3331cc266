#include "diagnose.h"

#include <cstdio>

#include "tool_platform.h"

namespace vexotool {
namespace {

// The driver's control codes the checks use.
constexpr std::uint32_t kGetDriverInfo = 1;
constexpr std::uint32_t kGetVendorId = 2;
constexpr std::uint32_t kGetDeviceId = 3;
constexpr std::uint32_t kGetIntMemWindow = 6;
constexpr std::uint32_t kGetExtMemWindow = 7;
constexpr std::uint32_t kSetBaseAddresses = 16;

constexpr std::uint32_t kCardDeviceId = 0x2004;
constexpr std::uint32_t kCardVendorId = 0x10CF;
constexpr std::uint32_t kCardId = kCardDeviceId << 16 | kCardVendorId;
constexpr std::uint32_t kCardFunction = 1;

std::string Format(const char* format, unsigned a, unsigned b = 0) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::uint32_t ConfigAddress(std::uint32_t bus, std::uint32_t device, std::uint32_t reg) {
    return 0x80000000u | bus << 16 | device << 11 | kCardFunction << 8 | reg;
}

// The library's scan: device by device, and within a device bus by bus, function 1 only.
bool FindCard(std::uint32_t* bus, std::uint32_t* device) {
    for (std::uint32_t d = 0; d < 32; ++d) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            if (sys::ReadConfig(ConfigAddress(b, d, 0)) != kCardId) continue;
            *bus = b;
            *device = d;
            return true;
        }
    }
    return false;
}

bool RequestWord(sys::Driver driver, std::uint32_t code, std::uint32_t* reply) {
    return sys::DriverRequest(driver, code, nullptr, 0, reply, sizeof *reply);
}

// The identity requests, in the library's order: device, vendor, driver information.
bool CheckIdentity(sys::Driver driver, Diagnosis* diagnosis) {
    std::uint32_t device = 0, vendor = 0, info = 0;
    const struct {
        std::uint32_t code;
        std::uint32_t* reply;
        const char* what;
    } requests[] = {{kGetDeviceId, &device, "device identifier"},
                    {kGetVendorId, &vendor, "vendor identifier"},
                    {kGetDriverInfo, &info, "driver information"}};
    for (const auto& request : requests) {
        if (RequestWord(driver, request.code, request.reply)) continue;
        *diagnosis = {OpenFailure::DriverSilent,
                      std::string("the driver refuses to report its ") + request.what +
                          Format(" (control code %u)", request.code),
                      "The VexoLite driver may be of another version than the library."};
        return false;
    }
    if (device == kCardDeviceId && vendor == kCardVendorId) return true;
    *diagnosis = {OpenFailure::WrongIdentity,
                  Format("the driver reports device 0x%X, vendor 0x%X, ", device, vendor) +
                      "not the VexoLite card (device 0x2004, vendor 0x10CF)",
                  "Another driver answers at \\\\.\\VexoLite.vxd."};
    return false;
}

// After a failed open the card's base address registers hold the bases the library used: hand
// them to the driver again and ask for both windows.
bool CheckWindows(sys::Driver driver, std::uint32_t bus, std::uint32_t device,
                  Diagnosis* diagnosis) {
    const std::uint32_t bases[4] = {
        sys::ReadConfig(ConfigAddress(bus, device, 0x14)) & ~0xFu,  // internal memory
        sys::ReadConfig(ConfigAddress(bus, device, 0x10)) & ~0xFu,  // external memory
        sys::ReadConfig(ConfigAddress(bus, device, 0x18)) & ~0x3u,  // I/O range 1
        sys::ReadConfig(ConfigAddress(bus, device, 0x1C)) & ~0x3u,  // I/O range 2
    };
    const std::string where = Format(" (card at bus %u, device %u)", bus, device);
    if (!sys::DriverRequest(driver, kSetBaseAddresses, bases, sizeof bases, nullptr, 0)) {
        *diagnosis = {OpenFailure::WindowRefused,
                      "the driver refused the card's base addresses (control code 16)" + where,
                      "Check the four bases with the VEXOLITE Control Panel applet."};
        return false;
    }
    std::uint32_t window = 0;
    if (!RequestWord(driver, kGetIntMemWindow, &window)) {
        *diagnosis = {
            OpenFailure::WindowRefused,
            "the driver refused the internal memory window (control code 6)" + where,
            Format("Internal memory base 0x%08X; check it with the VEXOLITE applet.", bases[0])};
        return false;
    }
    if (!RequestWord(driver, kGetExtMemWindow, &window)) {
        *diagnosis = {
            OpenFailure::WindowRefused,
            "the driver refused the external memory window (control code 7)" + where,
            Format("External memory base 0x%08X; check it with the VEXOLITE applet.", bases[1])};
        return false;
    }
    return true;
}

}  // namespace

Diagnosis DiagnoseOpenFailure() {
    const sys::Driver driver = sys::OpenDriver();
    if (driver == sys::kNoDriver) {
        return {OpenFailure::DriverMissing, "the driver \\\\.\\VexoLite.vxd cannot be opened",
                "Is the VexoLite driver installed? Without a card, put the simulated card "
                "vexolite.vxd beside the program."};
    }
    Diagnosis diagnosis{OpenFailure::Unexplained,
                        "the library failed although the driver, the PCI bus and the windows "
                        "all answer as expected",
                        "The process may be out of memory."};
    std::uint32_t bus = 0, device = 0;
    if (CheckIdentity(driver, &diagnosis)) {
        if (!FindCard(&bus, &device)) {
            diagnosis = {OpenFailure::NoCard,
                         "no card answers on the PCI bus (no function 1 with device 0x2004, "
                         "vendor 0x10CF on buses 0-255, devices 0-31)",
                         "Is the card seated? Does the machine use PCI configuration "
                         "mechanism #1?"};
        } else {
            CheckWindows(driver, bus, device, &diagnosis);
        }
    }
    sys::CloseDriver(driver);
    return diagnosis;
}

}  // namespace vexotool
