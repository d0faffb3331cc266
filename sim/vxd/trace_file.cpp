// The bus trace file. See trace_file.h; the format is documented in docs/without-a-card.md.
#include "trace_file.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "host_program.h"

namespace vexo::sim::vxd {

namespace {

constexpr char kTraceVariable[] = "VEXO_SIM_TRACE";
// Lines are gathered and written in pieces of about this size, and at every driver request.
constexpr std::size_t kFlushSize = 64 * 1024;
constexpr const char* kRegionNames[] = {"config", "io1", "io2", "none"};
constexpr const char* kWindowNames[] = {"int", "ext"};

TraceFile::Region RegionOf(Board::PortOwner owner) {
    switch (owner) {
        case Board::PortOwner::Config:
            return TraceFile::kConfig;
        case Board::PortOwner::Io1:
            return TraceFile::kIo1;
        case Board::PortOwner::Io2:
            return TraceFile::kIo2;
        case Board::PortOwner::Nobody:
            break;
    }
    return TraceFile::kUndecoded;
}

// The value as many hex digits as the access has bits.
const char* ValueFormat(int width) {
    return width == 8 ? "0x%02" PRIX32 : width == 16 ? "0x%04" PRIX32 : "0x%08" PRIX32;
}

std::string CannotWrite(const std::string& path, const std::string& reason) {
    return "cannot write the bus trace to '" + path + "': " + reason;
}

}  // namespace

bool TraceFile::OpenFromEnvironment() {
    const std::string path = EnvironmentValue(kTraceVariable);
    if (path.empty()) return false;
    const std::wstring widePath = Utf16(path);
    if (widePath.size() >= MAX_PATH) {
        TellTheProgram(CannotWrite(path, "the name is " + std::to_string(widePath.size()) +
                                             " characters long, Windows takes " +
                                             std::to_string(MAX_PATH - 1)) +
                       "; this program runs untraced");
        return false;
    }
    file_ = CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsOpen()) {
        TellTheProgram(CannotWrite(path, SystemReason(GetLastError())) +
                       "; this program runs untraced");
        return false;
    }
    path_ = path;
    return true;
}

void TraceFile::Start(bool windowsTraced) {
    if (!IsOpen()) return;
    windowsTraced_ = windowsTraced;
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    buffer_.reserve(kFlushSize + 256);
    Line(windowsTraced
             ? "# vexolite.vxd bus trace: port accesses, window loads and stores and driver "
               "requests in the order the card saw them."
             : "# vexolite.vxd bus trace: port accesses and driver requests in the order the card "
               "saw them. Window accesses are not traced: the library loads and stores the "
               "memories directly.");
    Line("seq time_us kind region where width value");
    Flush();
}

void TraceFile::Port(Board::PortOwner owner, bool input, std::uint16_t port, int width,
                     std::uint32_t value, std::uintptr_t code, std::uint32_t length) {
    if (!IsOpen()) return;
    value &= WidthMask(width);
    const Region region = RegionOf(owner);
    Tally& tally = tallies_[region][input ? 0 : 1];
    ++tally.accesses;
    tally.bytes += static_cast<std::uint32_t>(width) / 8;
    if (input) {
        CountRead(port, width, code, length);
    } else {
        EndReadRun();
    }

    char text[128];
    const int n = std::snprintf(text, sizeof text, "%" PRIu64 " %" PRIu64 " %s %s 0x%04X %d ",
                                ++sequence_, Microseconds(), input ? "in" : "out",
                                kRegionNames[region], static_cast<unsigned>(port), width);
    std::snprintf(text + n, sizeof text - n, ValueFormat(width), value);
    Line(text);
}

void TraceFile::Window(bool load, bool external, std::uint32_t offset, int width,
                       std::uint32_t value) {
    if (!IsOpen()) return;
    EndReadRun();
    Tally& tally = windowTallies_[external ? 1 : 0][load ? 0 : 1];
    ++tally.accesses;
    tally.bytes += static_cast<std::uint32_t>(width) / 8;
    char text[128];
    const int n = std::snprintf(text, sizeof text, "%" PRIu64 " %" PRIu64 " %s %s 0x%06" PRIX32 " ",
                                ++sequence_, Microseconds(), load ? "load" : "store",
                                kWindowNames[external ? 1 : 0], offset);
    if (width == 0) {
        std::snprintf(text + n, sizeof text - n, "? ?");
    } else {
        value &= WidthMask(width);
        const int m = std::snprintf(text + n, sizeof text - n, "%d ", width);
        std::snprintf(text + n + m, sizeof text - n - m, ValueFormat(width), value);
    }
    Line(text);
}

void TraceFile::Request(std::uint32_t code, std::uint32_t inSize, std::uint32_t outSize, bool ok) {
    if (!IsOpen()) return;
    EndReadRun();
    ++requests_;
    if (!ok) ++failedRequests_;
    char text[128];
    std::snprintf(text, sizeof text,
                  "%" PRIu64 " %" PRIu64 " req driver %" PRIu32 " %" PRIu32 "/%" PRIu32 " %s",
                  ++sequence_, Microseconds(), code, inSize, outSize, ok ? "ok" : "FAILED");
    Line(text);
    Flush();
}

void TraceFile::Close() {
    if (!IsOpen()) return;
    EndReadRun();
    WriteSummary();
    Flush();
    if (!IsOpen()) return;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

void TraceFile::Line(const char* text) {
    buffer_ += text;
    buffer_ += "\r\n";
    if (buffer_.size() >= kFlushSize) Flush();
}

void TraceFile::Flush() {
    if (!IsOpen() || buffer_.empty()) {
        buffer_.clear();
        return;
    }
    const DWORD size = static_cast<DWORD>(buffer_.size());
    DWORD written = 0;
    const BOOL ok = WriteFile(file_, buffer_.data(), size, &written, nullptr);
    // A write cut short is a full disk (how Windows 9x reports one).
    const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
    buffer_.clear();
    if (!ok || written != size) StopAfterWriteError(error);
}

// The lines so far stay in the file; no more follow, and the program goes on.
void TraceFile::StopAfterWriteError(DWORD error) {
    TellTheProgram(CannotWrite(path_, SystemReason(error)) + "; tracing stopped after " +
                   std::to_string(sequence_) + " events");
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

std::uint64_t TraceFile::Microseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (frequency_.QuadPart == 0) return 0;
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.QuadPart - start_.QuadPart);
    const std::uint64_t perSecond = static_cast<std::uint64_t>(frequency_.QuadPart);
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

void TraceFile::CountRead(std::uint16_t port, int width, std::uintptr_t code,
                          std::uint32_t length) {
    const bool continues = port == runPort_ && width == runWidth_ && code == runCodeEnd_;
    if (runLength_ != 0 && !continues) EndReadRun();
    runCodeEnd_ = code == 0 ? 0 : code + length;
    runPort_ = port;
    runWidth_ = width;
    ++runLength_;
}

void TraceFile::EndReadRun() {
    if (runLength_ >= kPauseMinimumReads) {
        ++pauses_;
        pauseReads_ += runLength_;
        if (shortestPause_ == 0 || runLength_ < shortestPause_) shortestPause_ = runLength_;
        if (runLength_ > longestPause_) longestPause_ = runLength_;
    }
    runLength_ = 0;
}

// The summary lines of one region's two kinds of access, those it had.
void TraceFile::TallyLines(const char* region, const char* first, const char* second,
                           const Tally (&tallies)[2]) {
    for (int kind = 0; kind < 2; ++kind) {
        if (tallies[kind].accesses == 0) continue;
        char text[96];
        std::snprintf(text, sizeof text, "# %s %s %" PRIu64 " %" PRIu64, region,
                      kind == 0 ? first : second, tallies[kind].accesses, tallies[kind].bytes);
        Line(text);
    }
}

void TraceFile::WriteSummary() {
    char text[192];
    std::uint64_t accesses = 0, windowAccesses = 0;
    for (const auto& region : tallies_) accesses += region[0].accesses + region[1].accesses;
    for (const auto& window : windowTallies_) {
        windowAccesses += window[0].accesses + window[1].accesses;
    }
    std::snprintf(text, sizeof text,
                  "# summary: %" PRIu64 " events, %" PRIu64 " port accesses, %" PRIu64
                  " driver requests (%" PRIu64 " failed), %" PRIu64
                  " window accesses, after %" PRIu64 " us",
                  sequence_, accesses, requests_, failedRequests_, windowAccesses, Microseconds());
    Line(text);
    Line("# region kind accesses bytes");
    for (int region = 0; region < kRegionCount; ++region) {
        TallyLines(kRegionNames[region], "in", "out", tallies_[region]);
    }
    for (int window = 0; window < 2; ++window) {
        TallyLines(kWindowNames[window], "load", "store", windowTallies_[window]);
    }
    std::snprintf(text, sizeof text,
                  "# pauses: %" PRIu64 " (runs of %" PRIu32 " or more reads of one port: %" PRIu64
                  " reads, %" PRIu64 " to %" PRIu64 " long)",
                  pauses_, kPauseMinimumReads, pauseReads_, shortestPause_, longestPause_);
    Line(text);
    if (!windowsTraced_) Line("# window accesses: not traced");
}

}  // namespace vexo::sim::vxd
