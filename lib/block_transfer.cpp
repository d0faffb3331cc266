// Block transfers: `count` elements of 1, 2 or 4 bytes between the caller's buffer and the board,
// each element on its own: its board address is translated through the map, then it is moved by
// one load through a memory window, one port access of its width, or not at all when it leads
// nowhere. The memory windows are only ever stored to as whole aligned 32-bit words, and every
// store is preceded by a pause.
#include <type_traits>

#include "address_map.h"
#include "board_context.h"
#include "platform.h"

namespace vexo {

namespace {

// What the element loops report: every element handled, or stopped at the map limit.
constexpr int kAllElementsHandled = 1;
constexpr int kStoppedAtMapLimit = -1;
// Not an element width of any export: nothing is moved.
constexpr int kNoElementWidth = 0;

template <typename Element>
constexpr Element kAllOnes = static_cast<Element>(~Element{0});

// The caller's buffer holds little-endian elements at any alignment. An element is moved with
// one unaligned access of its width (x86 allows it), typed so that the compiler neither assumes
// alignment nor lets the access alias-analyse away; no C runtime routine is involved.
template <typename Element>
using UnalignedElement [[gnu::may_alias, gnu::aligned(1)]] = Element;

template <typename Element>
Element TakeElement(const std::uint8_t* bytes) {
    return *reinterpret_cast<const UnalignedElement<Element>*>(bytes);
}

template <typename Element>
void PutElement(std::uint8_t* bytes, Element value) {
    *reinterpret_cast<UnalignedElement<Element>*>(bytes) = value;
}

template <typename Element>
Element LoadFromWindow(std::uint32_t windowAddress) {
    if constexpr (std::is_same_v<Element, std::uint8_t>) {
        return platform::WindowLoad8(windowAddress);
    } else if constexpr (std::is_same_v<Element, std::uint16_t>) {
        return platform::WindowLoad16(windowAddress);
    } else {
        return platform::WindowLoad32(windowAddress);
    }
}

template <typename Element>
Element InFromPort(std::uint32_t port) {
    const auto port16 = static_cast<std::uint16_t>(port);
    if constexpr (std::is_same_v<Element, std::uint8_t>) {
        return platform::PortRead8(port16);
    } else if constexpr (std::is_same_v<Element, std::uint16_t>) {
        return platform::PortRead16(port16);
    } else {
        return platform::PortRead32(port16);
    }
}

template <typename Element>
void OutToPort(std::uint32_t port, Element value) {
    const auto port16 = static_cast<std::uint16_t>(port);
    if constexpr (std::is_same_v<Element, std::uint8_t>) {
        platform::PortWrite8(port16, value);
    } else if constexpr (std::is_same_v<Element, std::uint16_t>) {
        platform::PortWrite16(port16, value);
    } else {
        platform::PortWrite32(port16, value);
    }
}

// A 16- or 32-bit element whose first byte lies in the last one to three bytes of the external
// memory would be loaded partly from beyond the 16 MiB window, where nothing may be mapped.
// Only the bytes inside the window are loaded, one at a time; each byte past its end reads as
// 0xFF, as a location that leads nowhere does.
template <typename Element>
[[gnu::noinline, gnu::cold]] Element LoadAtExternalEnd(std::uint32_t windowAddress,
                                                       std::uint32_t address) {
    const std::uint32_t bytesInside = map::kExtMemLast - address + 1;
    std::uint32_t value = kAllOnes<std::uint32_t>;
    for (std::uint32_t k = 0; k < bytesInside; ++k) {
        const std::uint32_t byte = platform::WindowLoad8(windowAddress + k);
        value = (value & ~(0xFFu << (8 * k))) | (byte << (8 * k));
    }
    return static_cast<Element>(value);
}

template <typename Element>
bool RunsPastExternalEnd(std::uint32_t address) {
    return address > map::kExtMemLast - (sizeof(Element) - 1);
}

template <typename Element>
Element ReadElement(BoardContext& board, std::uint32_t address) {
    const std::uint32_t windowAddress = board.MapMemoryAddress(address);
    if (windowAddress != kNotMapped) {
        // Only the external window can end inside an element. Internal memory is loaded at the
        // exact address even past a block's last byte: its window reaches on beyond every block.
        if (RunsPastExternalEnd<Element>(address)) {
            return LoadAtExternalEnd<Element>(windowAddress, address);
        }
        return LoadFromWindow<Element>(windowAddress);
    }
    const std::uint32_t port = board.MapIoAddress(address);
    if (port != kNotMapped) return InFromPort<Element>(port);
    return kAllOnes<Element>;
}

// Merges the element into its byte lanes of the aligned word. A Byte replaces lane (address & 3),
// a Short the lower or upper half as bit 1 of the address says (bit 0 is ignored), a Long the
// whole word.
template <typename Element>
std::uint32_t MergeIntoWord(std::uint32_t oldWord, std::uint32_t address, Element value) {
    if constexpr (std::is_same_v<Element, std::uint8_t>) {
        const std::uint32_t shift = 8 * (address & 3u);
        return (oldWord & ~(0xFFu << shift)) | (std::uint32_t{value} << shift);
    } else {
        const std::uint32_t shift = 8 * (address & 2u);
        return (oldWord & ~(0xFFFFu << shift)) | (std::uint32_t{value} << shift);
    }
}

template <typename Element>
void StoreIntoWindowWord(BoardContext& board, std::uint32_t wordAddress, std::uint32_t address,
                         Element value) {
    if constexpr (std::is_same_v<Element, std::uint32_t>) {
        board.AccessPause();
        platform::WindowStore32(wordAddress, value);
    } else {
        // The memory takes only whole words: the other lanes are stored back as just loaded.
        const std::uint32_t oldWord = platform::WindowLoad32(wordAddress);
        const std::uint32_t newWord = MergeIntoWord(oldWord, address, value);
        board.AccessPause();
        platform::WindowStore32(wordAddress, newWord);
    }
}

template <typename Element>
void WriteElement(BoardContext& board, std::uint32_t address, Element value) {
    const std::uint32_t wordAddress = board.MapMemoryAddress(address & ~3u);
    if (wordAddress != kNotMapped) {
        StoreIntoWindowWord(board, wordAddress, address, value);
        return;
    }
    // Ports are reached at the element's exact address, not the aligned one.
    const std::uint32_t port = board.MapIoAddress(address);
    if (port != kNotMapped) OutToPort(port, value);
}

template <typename Element>
int ReadElementsOf(BoardContext& board, std::uint32_t address, std::uint8_t* buffer,
                   std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (address > map::kMapLimit) return kStoppedAtMapLimit;
        PutElement(buffer, ReadElement<Element>(board, address));
        address += sizeof(Element);
        buffer += sizeof(Element);
    }
    return kAllElementsHandled;
}

template <typename Element>
int WriteElementsOf(BoardContext& board, std::uint32_t address, const std::uint8_t* buffer,
                    std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (address > map::kMapLimit) return kStoppedAtMapLimit;
        WriteElement(board, address, TakeElement<Element>(buffer));
        address += sizeof(Element);
        buffer += sizeof(Element);
    }
    return kAllElementsHandled;
}

// The element loops: 1 when all `count` elements were handled, -1 when the transfer stopped at
// the map limit (the elements before it stay moved, the rest of the buffer stays untouched).
int ReadElements(BoardContext& board, std::uint32_t address, void* buffer, std::uint32_t count,
                 std::uint16_t elementSize) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    switch (elementSize) {
        case 1:
            return ReadElementsOf<std::uint8_t>(board, address, bytes, count);
        case 2:
            return ReadElementsOf<std::uint16_t>(board, address, bytes, count);
        case 4:
            return ReadElementsOf<std::uint32_t>(board, address, bytes, count);
        default:
            return kNoElementWidth;
    }
}

int WriteElements(BoardContext& board, std::uint32_t address, const void* buffer,
                  std::uint32_t count, std::uint16_t elementSize) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    switch (elementSize) {
        case 1:
            return WriteElementsOf<std::uint8_t>(board, address, bytes, count);
        case 2:
            return WriteElementsOf<std::uint16_t>(board, address, bytes, count);
        case 4:
            return WriteElementsOf<std::uint32_t>(board, address, bytes, count);
        default:
            return kNoElementWidth;
    }
}

// A null buffer with elements to move is refused before anything is touched; with no elements
// it is never dereferenced and the transfer answers as any empty one does.
bool BufferUsable(const void* buffer, std::uint32_t count) {
    return buffer != nullptr || count == 0;
}

}  // namespace

int BoardContext::ReadBlock(std::uint32_t address, void* buffer, std::uint32_t count,
                            std::uint16_t elementSize) {
    if (!AcceptsStart(address)) return 0;
    if (!BufferUsable(buffer, count)) return 0;
    return ReadElements(*this, address, buffer, count, elementSize) == kAllElementsHandled ? 1 : 0;
}

int BoardContext::WriteBlock(std::uint32_t address, const void* buffer, std::uint32_t count,
                             std::uint16_t elementSize) {
    if (!AcceptsStart(address)) return 0;
    if (!BufferUsable(buffer, count)) return 0;
    return WriteElements(*this, address, buffer, count, elementSize) == kAllElementsHandled ? 1 : 0;
}

}  // namespace vexo
