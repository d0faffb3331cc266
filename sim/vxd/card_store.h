// The card store: the card file that holds the card's state and memories, mapped, and its header.
//
// Normally the card file, which every process maps, so that all programs share one card and the
// card keeps its state from one program to the next; else this process's own memory.
//
// The file lies in the Windows folder of the Wine prefix (C:\windows\vexolite-card.bin): the
// prefix is the simulated machine, and every program folder with its own copy of vexolite.vxd
// then reaches the same card. On Windows NT it lies in the machine's common application data
// folder instead (card_folder.h). VEXO_SIM_CARD names another file (a Windows path, or a Unix path
// starting with '/', which Wine reaches through drive Z:). Its layout is card_file.h's. Only a
// missing or empty file, or one that starts with the card's magic, is taken; any other, and any
// file that cannot be opened, mapped or given room for the whole card, is left as it is and the
// card lives in memory.
//
// The file is whole or not used: a blank card's file is given every byte on disk before it is
// mapped, so that a full disk is found then, and not by a store into a page with no room behind
// it; a file refused for want of room keeps its contents and its size. A file cut short by
// another program later ends the program with one line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "board.h"
#include "card_file.h"

namespace vexo::sim::vxd {

struct CardStore {
    card_file::Header* header = nullptr;  // with the lock word
    CardState* state = nullptr;
    std::uint8_t* intMem = nullptr;  // kIntMemSize bytes, then an inaccessible page
    std::uint8_t* extMem = nullptr;  // kExtMemSize bytes, then an inaccessible page
    // The programs that have the card open, kProgramSlots entries; null in memory.
    card_file::ProgramEntry* programs = nullptr;
    std::uint32_t slot = 0;  // this program's slot, with the file
    std::string path;        // the card file, Windows path (UTF-8); empty in memory
    std::string problem;     // why the card file is not used, with its name

    // One view of the file followed by an inaccessible page, so that an access running past a
    // memory faults at once as it does past the card's window.
    struct GuardedView {
        std::uint8_t* view = nullptr;
        void* guard = nullptr;
    };
    // What the store holds open to give the above: card_store.cpp's alone.
    struct Held {
        HANDLE file = INVALID_HANDLE_VALUE;
        bool making = false;  // the file's making lock is this process's
        bool slotHeld = false;
        std::uint32_t slot = 0;
        HANDLE mapping = nullptr;
        GuardedView head;  // header, state and internal memory
        GuardedView ext;   // external memory
        // With windows traced: the memories again, as the windows the library gets, inaccessible.
        GuardedView intWindow;
        GuardedView extWindow;
        // The card in memory: the state area with internal memory, and external memory.
        std::uint8_t* memory = nullptr;
        std::uint8_t* extMemory = nullptr;
    };
    Held held;
};

// Opens the card file, or else makes the card in memory (a header that is never complete, a
// state and memories of zeros, guarded as the file's). False only when even that fails. Call
// once, at module load; the check of the card in the file and the power-on of a blank card are
// the caller's, under the card's lock.
bool OpenCardStore(CardStore* store);
// Unmaps and closes everything.
void CloseCardStore(CardStore* store);

// Whether the program in `slot` has ended: then this process holds the slot, and no program can
// take it, until ReleaseEndedSlot.
bool HoldEndedSlot(const CardStore& store, std::uint32_t slot);
void ReleaseEndedSlot(const CardStore& store, std::uint32_t slot);

// Whether the card file is now shorter than the card, which only another program can have done,
// and how long it is.
bool CardFileCutShort(const CardStore& store, std::uint64_t* size);

// Zeroes both memories, writing only pages that hold something, so that a power cycle dirties
// no more of the file than the card used.
void ZeroMemories(const CardStore& store);

// For tracing window accesses: maps the memories a second time, inaccessible, for the windows
// the library gets, so that each of its loads and stores faults into the module. False (nothing
// changed) when the card lives in memory or the views cannot be made.
bool MapTracedWindows(CardStore* store, std::uint8_t** intWindow, std::uint8_t** extWindow);

}  // namespace vexo::sim::vxd
