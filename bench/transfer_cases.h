// The benchmarks' transfer cases, shared by the bench on a null bus and the one on the simulated
// card under Wine: the regions, where each case's transfers go, the export each case calls and
// the bus accesses the transfer rules prescribe per element.
#pragma once

#include <cstdint>

#include "VexoDLL.h"

namespace vexo::bench {

enum class Region { Internal, External, Io, Nowhere };
inline const char* const kRegionNames[] = {"internal", "external", "I/O", "nowhere"};
inline const char* const kWidthNames[] = {"", "Byte", "Short", "", "Long"};

constexpr std::uint32_t kElementsPerCase = 4096;
constexpr std::uint32_t kPause = 50;  // port reads in one pause

struct PerElement {
    std::uint32_t portReads, portWrites, windowLoads, windowStores;
    std::uint32_t PortAccesses() const { return portReads + portWrites; }
    std::uint32_t Total() const { return portReads + portWrites + windowLoads + windowStores; }
};

// What the transfer rules prescribe for one element.
inline PerElement Prescribed(bool write, int size, Region region) {
    switch (region) {
        case Region::Internal:
            if (!write) return {0, 0, 1, 0};
            return size == 4 ? PerElement{kPause, 0, 0, 1} : PerElement{kPause, 0, 1, 1};
        case Region::External:
            if (!write) return {kPause, 0, 1, 0};
            return size == 4 ? PerElement{2 * kPause, 0, 0, 1} : PerElement{2 * kPause, 0, 1, 1};
        case Region::Io:
            return write ? PerElement{0, 1, 0, 0} : PerElement{1, 0, 0, 0};
        case Region::Nowhere:
            return {0, 0, 0, 0};
    }
    return {};
}

// Where a case's transfers start and how many elements one transfer moves, so that every
// element stays in its region.
struct Placement {
    std::uint32_t address;
    std::uint32_t elementsPerCall;
};

inline Placement PlacementOf(Region region, int size) {
    switch (region) {
        case Region::Internal:
            return {0x8000, 0x100u / size};  // one block of 256 bytes
        case Region::External:
            return {0x08000000, 1024};
        case Region::Io:
            return {0x10000, 0x40u / size};  // 64 ports of I/O range 1
        case Region::Nowhere:
            return {0x0100, 1024};
    }
    return {};
}

inline int Transfer(bool write, int size, std::uint32_t address, std::uint8_t* buffer,
                    std::uint32_t count) {
    if (write) {
        switch (size) {
            case 1:
                return cVexoWriteBlockByte(address, buffer, count);
            case 2:
                return cVexoWriteBlockShort(address, buffer, count);
            default:
                return cVexoWriteBlockLong(address, buffer, count);
        }
    }
    switch (size) {
        case 1:
            return cVexoReadBlockByte(address, buffer, count);
        case 2:
            return cVexoReadBlockShort(address, buffer, count);
        default:
            return cVexoReadBlockLong(address, buffer, count);
    }
}

}  // namespace vexo::bench
