// What the library says to the VexoLite driver: where it is, its control codes and the one record
// it sends.
#pragma once

#include <cstdint>

namespace vexo::driver {

// The driver's device path, for CreateFileA.
constexpr char kDevicePath[] = "\\\\.\\VexoLite.vxd";

constexpr std::uint32_t kGetDriverInfo = 1;      // reply: 4 bytes, reported, never interpreted
constexpr std::uint32_t kGetVendorId = 2;        // reply: 4 bytes, the PCI vendor identifier
constexpr std::uint32_t kGetDeviceId = 3;        // reply: 4 bytes, the PCI device identifier
constexpr std::uint32_t kGetIntMemWindow = 6;    // reply: 4 bytes, linear address of int. memory
constexpr std::uint32_t kGetExtMemWindow = 7;    // reply: 4 bytes, linear address of ext. memory
constexpr std::uint32_t kPciConfig = 15;         // reply: 256 bytes of configuration space
constexpr std::uint32_t kSetBaseAddresses = 16;  // input: BaseAddressRecord, no reply

constexpr std::uint32_t kPciConfigReplySize = 0x100;

// The input of kSetBaseAddresses: the four bases the card now decodes, in this order, as 32-bit
// little-endian values (the library only runs on little-endian machines).
struct BaseAddressRecord {
    std::uint32_t intMemBase;
    std::uint32_t extMemBase;
    std::uint32_t io1Base;
    std::uint32_t io2Base;
};
static_assert(sizeof(BaseAddressRecord) == 16, "the driver reads exactly 16 bytes");

}  // namespace vexo::driver
