// The memory test: data lines, byte lanes and address lines (or every word) of internal or
// external memory, through the library's block transfers.
#pragma once

#include <cstdio>

#include "tool_args.h"
#include "transfer.h"

namespace vexotool {

// Runs the memtest `command` describes and reports each step on `out`. Returns 0 when every step
// passed, 1 when a step found a fault, a transfer failed or Ctrl+C stopped it.
int RunMemTest(const Command& command, const BlockAccess& access, std::FILE* out, std::FILE* err);

}  // namespace vexotool
