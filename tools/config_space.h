// The card's PCI configuration space as `config` prints it: the header decoded, then all 256
// bytes in hex, laid out as lspci -xxx lays them out.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vexotool {

constexpr std::uint32_t kConfigSpaceSize = 256;

// `space` holds the function's 256 bytes as configuration reads return them (little-endian).
void PrintConfigSpace(std::FILE* out, std::uint32_t bus, std::uint32_t device,
                      std::uint32_t function, const std::uint8_t (&space)[kConfigSpaceSize]);

}  // namespace vexotool
