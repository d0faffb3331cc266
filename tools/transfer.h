// Long transfers, cut into chunks: between chunks the tool draws its progress line and looks for
// Ctrl+C. On a card every external-memory element costs about a hundred bus accesses, so a
// megabyte runs for minutes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "VexoDLL.h"

namespace vexotool {

using ReadBlockFn = int(VEXO_CALL*)(uint32_t address, void* buffer, uint32_t count);
using WriteBlockFn = int(VEXO_CALL*)(uint32_t address, const void* buffer, uint32_t count);

// The six block exports, by element width. The tool uses the library's; tests of the memory test
// hand it a memory with faults.
struct BlockAccess {
    ReadBlockFn readByte, readShort, readLong;
    WriteBlockFn writeByte, writeShort, writeLong;
};
const BlockAccess& LibraryAccess();

// Ctrl+C: asks long work to stop after its current chunk. Safe inside a signal handler.
void RequestStop();
void ClearStopRequest();
bool StopRequested();

// The progress line, drawn on `console` (null: never drawn) at most a few times a second once
// the work has run for a moment, and wiped when the work ends.
struct Progress {
    std::FILE* console = nullptr;
    std::string label;
    const char* unit = "elements";
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    double started = 0;
    double lastDrawn = 0;
    bool drawn = false;
};
Progress StartProgress(std::FILE* err, const std::string& label, std::uint64_t total,
                       const char* unit);
void AdvanceProgress(Progress& progress, std::uint64_t amount);
void EndProgress(Progress& progress);

// "fill: 4096/65536 elements (6%), 1200/s, 54s left"
std::string FormatProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total,
                               const char* unit, double elapsedSeconds);

enum class TransferStatus { Done, Failed, Stopped };
struct TransferResult {
    TransferStatus status;
    std::uint32_t done;  // elements moved before the failure or the stop
};

// Moves `count` elements of `width` bytes between `buffer` and the card, chunk by chunk.
TransferResult ReadElements(const BlockAccess& access, std::uint32_t address, void* buffer,
                            std::uint32_t count, unsigned width, Progress& progress);
TransferResult WriteElements(const BlockAccess& access, std::uint32_t address, const void* buffer,
                             std::uint32_t count, unsigned width, Progress& progress);

// One call of the export for `width`; 1 or 0 as the library returns it.
int ReadBlock(const BlockAccess& access, unsigned width, std::uint32_t address, void* buffer,
              std::uint32_t count);
int WriteBlock(const BlockAccess& access, unsigned width, std::uint32_t address, const void* buffer,
               std::uint32_t count);

}  // namespace vexotool
