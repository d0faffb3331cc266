// The card file's layout and check: which files hold the simulated card, and where in them.
//
// What a file must hold to be taken for the simulated card, and where the card's state, its lock
// and its memories lie in it. Plain C++, so that the check of a file read from disk runs (and is
// fuzzed) on the host too.
//
// Layout, 64 KiB aligned so that each memory can be mapped as a view of its own with an
// inaccessible page after it:
//   0x00000  header (magic, version, sizes, the lock word), then the card's state
//   0x0C000  the programs that have the card open, one entry per slot
//   0x10000  internal memory, 64 KiB
//   0x20000  external memory, 16 MiB
//
// Every program that has the card open holds a slot: a byte-range lock on byte kSlotLocks + slot
// of the file (far past its end), which the system lets go when the program ends, however it
// ends. The lock word names the slot of the program that holds the card's bus, so a program
// waiting for the bus can tell a live holder from one that ended while it held it. A process id
// could not: ids are reused, and programs of two Wine prefixes that share one card file have ids
// of their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board.h"

namespace vexo::sim::card_file {

constexpr char kMagic[8] = {'V', 'E', 'X', 'O', 'C', 'A', 'R', 'D'};
constexpr std::uint32_t kVersion = 3;
constexpr std::uint32_t kStateArea = 0x10000;
constexpr std::uint32_t kProgramsOffset = 0xC000;
constexpr std::uint32_t kIntMemOffset = kStateArea;
constexpr std::uint32_t kExtMemOffset = kIntMemOffset + kIntMemSize;
constexpr std::uint32_t kSize = kExtMemOffset + kExtMemSize;

// The magic and the version stay where every layout of the file has had them.
struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t stateSize;  // sizeof(Layout): a different layout is another format
    std::uint32_t fileSize;
    // The slot of the program that holds the card's bus, plus one; 0 when none does. Taken and
    // given back with interlocked operations by every program that maps the file.
    std::int32_t lockOwner;
};

// A program that has the card open, as it entered itself in its slot: for a program that waits
// for it to say whom it waits for.
struct ProgramEntry {
    std::uint32_t processId;
    char name[60];  // its file name, cut short and terminated
};
constexpr std::uint32_t kProgramSlots = (kStateArea - kProgramsOffset) / sizeof(ProgramEntry);
constexpr std::uint64_t kSlotLocks = 0x100000000;
// The byte-range lock a program holds while it looks at the file and makes it whole.
constexpr std::uint64_t kMakingLock = kSlotLocks - 1;

struct Layout {
    Header header;
    CardState state;
};
static_assert(sizeof(Layout) <= kProgramsOffset, "the state fits before the programs");
static_assert(offsetof(Layout, header.lockOwner) % 4 == 0, "the lock word is aligned");

enum class Verdict {
    Foreign,  // not a card file: leave it as it is
    Blank,    // empty, or a card file of another layout or with a state out of bounds: the card
              // takes it over at power-on
    Card,     // the card as the last program left it
};

// What to make of a file of `fileSize` bytes whose first `headSize` bytes are `head` (as many as
// it has, up to sizeof(Layout)). A file that starts with the magic is the card's own; only a
// complete header of this layout with a sound state is used as it is.
Verdict Judge(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize);

// Whether a card file of `fileSize` bytes starting with `head` has been made: whole, with a header
// of this layout, or with the magic alone after the card's room was written out (MadeHeader). Its
// header alone decides, which only a program that makes the file changes: the state may be
// changing under another program's bus.
bool IsMade(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize);

// The header of a file just made: the magic alone, no card in it yet.
Header MadeHeader();

// The header of this layout, all but the lock word. Written last when a card is made, so that a
// file cut short meanwhile is not taken for a card.
void CompleteHeader(Header& header);

}  // namespace vexo::sim::card_file
