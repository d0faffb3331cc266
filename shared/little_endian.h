// Values of 1, 2 or 4 bytes laid out least significant byte first, as the card, the driver's
// replies, the registry's REG_DWORD and the files of the kit store them. The byte-wise form
// reads the same on any host and makes no assumption about alignment.
#pragma once

#include <cstdint>

namespace vexo::little_endian {

// The `width` bytes at `bytes` as a number (width 1 to 4).
constexpr std::uint32_t Load(const std::uint8_t* bytes, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned k = 0; k < width; ++k) value |= std::uint32_t{bytes[k]} << (8 * k);
    return value;
}

// The low `width` bytes of `value` into `bytes` (width 1 to 4).
constexpr void Store(std::uint8_t* bytes, unsigned width, std::uint32_t value) {
    for (unsigned k = 0; k < width; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

constexpr std::uint16_t Load16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(Load(bytes, 2));
}
constexpr std::uint32_t Load32(const std::uint8_t* bytes) {
    return Load(bytes, 4);
}
constexpr void Store32(std::uint8_t* bytes, std::uint32_t value) {
    Store(bytes, 4, value);
}

}  // namespace vexo::little_endian
