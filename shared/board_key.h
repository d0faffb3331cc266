// The board configuration key: where the applet stores the four base addresses and where the
// library reads them on every cVexoOpen. Both DLLs name the key and its values only through here.
#pragma once

namespace vexo::board_key {

// Under HKEY_LOCAL_MACHINE.
constexpr char kPath[] = "System\\CurrentControlSet\\Services\\Class\\VexoLite";

constexpr char kIntMemBase[] = "IntMemBaseAddress";
constexpr char kExtMemBase[] = "ExtMemBaseAddress";
constexpr char kIo1Base[] = "Io1BaseAddress";
constexpr char kIo2Base[] = "Io2BaseAddress";

// The order in which both DLLs read and write the values.
constexpr const char* kValueNames[4] = {kIntMemBase, kExtMemBase, kIo1Base, kIo2Base};

}  // namespace vexo::board_key
