// The board configuration key: where the applet and vexotool store the four base addresses and
// where the library reads them on every cVexoOpen. The DLLs and the tool name the key, its
// values, their defaults and their alignment only through here.
#pragma once

#include <cstdint>

namespace vexo::board_key {

// Under HKEY_LOCAL_MACHINE.
constexpr char kPath[] = "System\\CurrentControlSet\\Services\\Class\\VexoLite";
// The class string the key is created with.
constexpr char kClass[] = "VEXOLITE";

constexpr char kIntMemBase[] = "IntMemBaseAddress";
constexpr char kExtMemBase[] = "ExtMemBaseAddress";
constexpr char kIo1Base[] = "Io1BaseAddress";
constexpr char kIo2Base[] = "Io2BaseAddress";

constexpr int kValueCount = 4;

// The order in which the DLLs and the tool read and write the values; every table below follows it.
constexpr const char* kValueNames[kValueCount] = {kIntMemBase, kExtMemBase, kIo1Base, kIo2Base};

// What a value that cannot be read is set to (and written as) when the key is opened for editing.
constexpr std::uint32_t kDefaults[kValueCount] = {0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u};

// The alignment forced on an edited value: a memory base is a multiple of 16 MiB, an I/O base a
// multiple of 256 ports below 0x10000.
constexpr std::uint32_t kMemoryBaseMask = 0xFF000000u;
constexpr std::uint32_t kIoBaseMask = 0x0000FF00u;

}  // namespace vexo::board_key
