// Where the card file lives by default on Windows NT: one folder that every program of every user
// of the machine reaches alike.
//
// On Windows 9x the card file stays in the Windows folder, where it always was. On NT that folder
// is the system's: from Vista on, a 32-bit program without a manifest that writes there is quietly
// sent to a copy of its own user's (VirtualStore), and one with a manifest is refused, so two
// programs could see two cards. There the file lives in the machine's common application data
// folder (CSIDL_COMMON_APPDATA: C:\ProgramData from Vista on, All Users\Application Data on XP),
// in a folder of the kit's whose access list lets every user read and write what it holds (a file
// made in the common folder is by default writable by its maker alone).
#pragma once

#include <string>

namespace vexo::sim::vxd {

// The kit's folder in the common application data folder, made when missing, with a final
// backslash, in UTF-8 as every path inside the module; empty when the system does not say where
// that folder is.
std::string CommonCardFolder();

}  // namespace vexo::sim::vxd
