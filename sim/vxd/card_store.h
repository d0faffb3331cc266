// The simulated card's state in a file that every process maps, so that the card keeps its
// memories, registers, configuration space and the driver's settings from one program to the
// next, as a powered card in a running machine does.
//
// The file lies in the Windows folder of the Wine prefix (C:\windows\vexolite-card.bin): the
// prefix is the simulated machine, and every program folder with its own copy of vexolite.vxd
// then reaches the same card. VEXO_SIM_CARD names another file (a Windows path, or a Unix path
// starting with '/', which Wine reaches through drive Z:). Layout, 64 KiB aligned so that each
// memory can be mapped as a view of its own with an inaccessible page after it:
//   0x00000  header and state (magic, version, sizes; registers, functions, driver settings)
//   0x10000  internal memory, 64 KiB
//   0x20000  external memory, 16 MiB
// A file of another size, magic or version is made anew at power-on state, never trusted.
#pragma once

#include <cstdint>
#include <string>

#include "board.h"

namespace vexo::sim {

// The board on the card file's memories, loaded from it (or at power-on state when the file is
// new or not one of ours). When no file can be opened or mapped, a board of its own memory at
// power-on state: the card then forgets as it did before. Call once, at module load.
Board* OpenCard();
// The board's registers, functions and driver settings into the file. Memories need no saving:
// the windows are the file's memory.
void SaveCard();
// Saves, unmaps the file and deletes the board.
void CloseCard();

// Power-on state of everything the file keeps: one card at the default place with power-on
// registers, the driver answering as the card's with no failing codes and no bases received,
// memories zeroed.
void PowerOnCard(Board& board);

// For tracing window accesses: maps the memories a second time, inaccessible, and makes those
// views the windows codes 6 and 7 hand out, so that every load and store of the library faults
// and the module can perform and trace it on the board's own views. Returns the two windows;
// false (nothing changed) when the card lives in memory only or the views cannot be made.
bool MapTracedWindows(Board& board, std::uint8_t** intWindow, std::uint8_t** extWindow);

// The file in use, as a Windows path; empty when the card lives in memory only.
const std::string& CardFilePath();

}  // namespace vexo::sim
