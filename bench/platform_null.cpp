// A bus that does nothing, for measuring the library's own work: ports read all ones, window
// loads return 0, stores and port writes vanish. Each access is counted. The driver and the
// registry answer just enough for cVexoOpen, and configuration space holds one card, at the slot
// the benchmark chooses: the first or the last one the scan reaches.
#include <cstdlib>
#include <cstring>

#include "board_key.h"
#include "driver_protocol.h"
#include "null_bus.h"
#include "pci_config.h"
#include "platform.h"

namespace vexo::bench {

BusCounts counts;
std::uint32_t cardSlot = kLastSlot;

}  // namespace vexo::bench

namespace vexo::platform {

namespace {

using bench::counts;

std::uint32_t configAddress = 0;

bool ReplyWord(void* out, std::uint32_t outSize, std::uint32_t word) {
    if (out == nullptr || outSize < 4) return false;
    std::memcpy(out, &word, 4);
    return true;
}

}  // namespace

DriverHandle OpenDriver(const char*) {
    return 1;
}

bool DriverRequest(DriverHandle, std::uint32_t code, const void*, std::uint32_t, void* out,
                   std::uint32_t outSize) {
    switch (code) {
        case driver::kGetDriverInfo:
            return ReplyWord(out, outSize, 0);
        case driver::kGetVendorId:
            return ReplyWord(out, outSize, pci::kCardVendorId);
        case driver::kGetDeviceId:
            return ReplyWord(out, outSize, pci::kCardDeviceId);
        case driver::kGetIntMemWindow:
            return ReplyWord(out, outSize, bench::kIntWindow);
        case driver::kGetExtMemWindow:
            return ReplyWord(out, outSize, bench::kExtWindow);
        case driver::kPciConfig:
        case driver::kSetBaseAddresses:
            return true;
        default:
            return false;
    }
}

void CloseDriver(DriverHandle) {}

bool OpenMachineKey(const char*, RegistryKey* key) {
    *key = 1;
    return true;
}

// The applet's defaults: internal and external memory, I/O ranges 1 and 2, in reading order.
bool QueryValue(RegistryKey, const char* name, void* data, std::uint32_t size) {
    std::uint32_t value = 0;
    if (std::strcmp(name, board_key::kIntMemBase) == 0) value = 0xE9000000u;
    if (std::strcmp(name, board_key::kExtMemBase) == 0) value = 0xEA000000u;
    if (std::strcmp(name, board_key::kIo1Base) == 0) value = bench::kIo1Base;
    if (std::strcmp(name, board_key::kIo2Base) == 0) value = bench::kIo2Base;
    if (value == 0 || size < 4) return false;
    std::memcpy(data, &value, 4);
    return true;
}

void CloseKey(RegistryKey) {}

std::uint8_t PortRead8(std::uint16_t) {
    ++counts.portReads;
    return 0xFF;
}

void PortReadRun8(std::uint16_t, int count) {
    counts.portReads += count;
}

std::uint16_t PortRead16(std::uint16_t) {
    ++counts.portReads;
    return 0xFFFF;
}

std::uint32_t PortRead32(std::uint16_t port) {
    ++counts.portReads;
    if (port == pci::kConfigDataPort && configAddress == bench::cardSlot) return pci::kCardId;
    return 0xFFFFFFFFu;
}

void PortWrite8(std::uint16_t, std::uint8_t) {
    ++counts.portWrites;
}

void PortWrite16(std::uint16_t, std::uint16_t) {
    ++counts.portWrites;
}

void PortWrite32(std::uint16_t port, std::uint32_t value) {
    ++counts.portWrites;
    if (port == pci::kConfigAddressPort) configAddress = value;
}

std::uint8_t WindowLoad8(std::uint32_t) {
    ++counts.windowLoads;
    return 0;
}

std::uint16_t WindowLoad16(std::uint32_t) {
    ++counts.windowLoads;
    return 0;
}

std::uint32_t WindowLoad32(std::uint32_t) {
    ++counts.windowLoads;
    return 0;
}

void WindowStore32(std::uint32_t, std::uint32_t) {
    ++counts.windowStores;
}

void* HeapAllocate(std::size_t size) {
    return std::malloc(size);
}

void HeapRelease(void* memory) {
    std::free(memory);
}

}  // namespace vexo::platform
