// Why the card cannot be opened. When cVexoOpen fails the library says no more than that; the
// tool then repeats the library's steps, through the library's own platform seam and PCI scan
// but with a driver handle of its own, and names the first one that fails.
#pragma once

#include <cstdint>
#include <string>

namespace vexotool {

enum class OpenFailure {
    DriverMissing,  // the device path cannot be opened
    DriverSilent,   // the driver refuses an identity request
    WrongIdentity,  // the driver reports another vendor or device
    NoCard,         // no function 1 on the PCI bus answers with the card's identity
    WindowRefused,  // the driver refuses the bases or a memory window
    Unexplained,    // every check passes
};

struct Diagnosis {
    OpenFailure failure;
    std::string reason;  // one line, "the driver ... cannot be opened"
    std::string hint;    // what to look at next; may be empty
};

Diagnosis DiagnoseOpenFailure();

}  // namespace vexotool
