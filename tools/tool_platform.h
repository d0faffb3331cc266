// What vexotool needs of the machine besides VexoDLL: its own look at the driver, the PCI bus and
// the board configuration key (to say why the card cannot be opened and where each base came
// from), and the console. Two implementations are chosen at link time:
//   tool_platform_win32.cpp - kernel32, advapi32 and in/out instructions;
//   tool_platform_host.cpp  - the board simulator, for the host tests.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vexotool::sys {

using Driver = std::uintptr_t;
constexpr Driver kNoDriver = ~Driver{0};

// Opens the VexoLite driver's device path; kNoDriver when it cannot be opened.
Driver OpenDriver();
// One synchronous control request; true when the driver accepted it.
bool DriverRequest(Driver driver, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize);
void CloseDriver(Driver driver);

// Reads the configuration double word that `configAddress` selects (mechanism #1).
std::uint32_t ReadConfig(std::uint32_t configAddress);

// Reads one 32-bit value of the board configuration key; false when the key or the value cannot
// be read.
bool ReadBoardKeyValue(const char* name, std::uint32_t* value);

// True when `stream` is an interactive console, where a progress line makes sense.
bool IsConsole(std::FILE* stream);

// Seconds since some fixed moment, for rates and time left.
double NowSeconds();

}  // namespace vexotool::sys
