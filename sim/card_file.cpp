// The card file's layout and check. See card_file.h.
#include "card_file.h"

#include <cstring>

namespace vexo::sim::card_file {

Verdict Judge(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize) {
    if (fileSize == 0) return Verdict::Blank;
    if (headSize < sizeof kMagic || std::memcmp(head, kMagic, sizeof kMagic) != 0) {
        return Verdict::Foreign;
    }
    if (headSize < sizeof(Layout) || fileSize < kSize) return Verdict::Blank;
    Layout layout;
    std::memcpy(&layout, head, sizeof layout);
    const Header& h = layout.header;
    const bool thisLayout =
        h.version == kVersion && h.stateSize == sizeof(Layout) && h.fileSize == kSize;
    return thisLayout && StateIsSound(layout.state) ? Verdict::Card : Verdict::Blank;
}

bool IsMade(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize) {
    if (fileSize < kSize || headSize < sizeof(Header)) return false;
    Header h;
    std::memcpy(&h, head, sizeof h);
    const bool thisLayout =
        h.version == kVersion && h.stateSize == sizeof(Layout) && h.fileSize == kSize;
    const Header made = MadeHeader();
    const bool justMade =
        h.version == made.version && h.stateSize == made.stateSize && h.fileSize == made.fileSize;
    return std::memcmp(h.magic, kMagic, sizeof kMagic) == 0 && (thisLayout || justMade);
}

Header MadeHeader() {
    Header header = {};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    return header;
}

void CompleteHeader(Header& header) {
    header.version = kVersion;
    header.stateSize = sizeof(Layout);
    header.fileSize = kSize;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
}

}  // namespace vexo::sim::card_file
