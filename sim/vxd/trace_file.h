// The bus trace file: every access and driver request of the process, as lines for users.
//
// With VEXO_SIM_TRACE=<file> in the environment when vexolite.vxd loads, every port access, window
// access and driver request of the process is written to that file as it happens, one line each,
// and a summary is added when the module unloads.
// docs/without-a-card.md describes the format; the constants below are the facts it names.
//
// Window accesses are plain loads and stores of process memory by the library. With the file on,
// the module makes the windows inaccessible views of the memories so that it sees and traces each
// of them too (emulated_bus.h); when it cannot, the file's first line says they are not traced.
//
// The trace never stops the program: a file that cannot be made, or a write that fails, is one
// line on the program's standard error, and the program goes on untraced.
//
// Not thread-safe by itself: callers hold the bus lock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "board.h"

namespace vexo::sim::vxd {

// A pause: at least this many reads of one port in a row, nothing else between them, made by
// instructions that follow each other in the code (the library's pause is an unrolled run of port
// reads), so that two pauses with an untraced window access between them count as two.
constexpr std::uint32_t kPauseMinimumReads = 10;

class TraceFile {
  public:
    TraceFile() = default;
    ~TraceFile() { Close(); }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // Opens the file VEXO_SIM_TRACE names, if any. False when tracing to a file is not wanted or
    // the file cannot be made (said on standard error).
    bool OpenFromEnvironment();
    // Writes the header, once the module knows whether it traces the windows.
    void Start(bool windowsTraced);
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }

    // One port access, classified by who answered it as the bus decoded it. `code` and `length`
    // place the port instruction that made it; accesses made without one pass 0.
    void Port(Board::PortOwner owner, bool input, std::uint16_t port, int width,
              std::uint32_t value, std::uintptr_t code = 0, std::uint32_t length = 0);
    // One window access: a load or store of `width` bits (0: made by an instruction the module
    // does not decode, so width and value are unknown) at `offset` in internal or external memory.
    void Window(bool load, bool external, std::uint32_t offset, int width, std::uint32_t value);
    // One driver request; the file is flushed after it, so a crash loses little.
    void Request(std::uint32_t code, std::uint32_t inSize, std::uint32_t outSize, bool ok);
    // Writes the summary and closes the file.
    void Close();

    // Where a port access went, as the summary counts it.
    enum Region { kConfig, kIo1, kIo2, kUndecoded, kRegionCount };

  private:
    struct Tally {
        std::uint64_t accesses = 0;
        std::uint64_t bytes = 0;
    };

    void Line(const char* text);
    void Flush();
    std::uint64_t Microseconds() const;
    void CountRead(std::uint16_t port, int width, std::uintptr_t code, std::uint32_t length);
    void EndReadRun();
    void TallyLines(const char* region, const char* first, const char* second,
                    const Tally (&tallies)[2]);
    void WriteSummary();

    void StopAfterWriteError(DWORD error);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string path_;
    std::string buffer_;
    LARGE_INTEGER start_ = {};
    LARGE_INTEGER frequency_ = {};
    std::uint64_t sequence_ = 0;

    Tally tallies_[kRegionCount][2] = {};  // [region][0 = in, 1 = out]
    bool windowsTraced_ = false;
    Tally windowTallies_[2][2] = {};  // [0 = int, 1 = ext][0 = load, 1 = store]
    std::uint64_t requests_ = 0;
    std::uint64_t failedRequests_ = 0;

    // The run of reads of one port that the last accesses made.
    std::uint32_t runPort_ = 0;
    int runWidth_ = 0;
    std::uint64_t runLength_ = 0;
    std::uintptr_t runCodeEnd_ = 0;  // where the next read's instruction must be to continue it
    std::uint64_t pauses_ = 0;
    std::uint64_t pauseReads_ = 0;
    std::uint64_t shortestPause_ = 0;
    std::uint64_t longestPause_ = 0;
};

}  // namespace vexo::sim::vxd
