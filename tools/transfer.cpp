// Long transfers in chunks, with the progress line and Ctrl+C between them.
#include "transfer.h"

#include <algorithm>
#include <csignal>

#include "tool_platform.h"

namespace vexotool {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

// Elements per library call. Small enough that Ctrl+C and the progress line answer within a
// fraction of a second even in external memory.
constexpr std::uint32_t kChunkElements = 256;
constexpr double kQuietSeconds = 0.5;  // no line for work that ends sooner
constexpr double kRedrawSeconds = 0.25;
constexpr std::size_t kProgressWidth = 78;  // columns the line and its wiping cover

// An estimate made over a stall can be absurdly long; it is shown as it comes, up to what 64 bits
// of seconds hold.
constexpr double kLongestDuration = 9.0e18;

std::string Duration(double seconds) {
    const long long whole = static_cast<long long>(std::min(seconds, kLongestDuration) + 0.5);
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lldh%02lldm", whole / 3600, whole / 60 % 60);
    } else if (whole >= 60) {
        std::snprintf(text, sizeof text, "%lldm%02llds", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%llds", whole);
    }
    return text;
}

// Writes `text` in one piece: the console is unbuffered, where formatted output would go out a
// character at a time.
void PutOnConsole(std::FILE* console, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), console);
    std::fflush(console);
}

// What snprintf put into `text`: its result counts what would have been written had the buffer
// been large enough, and is negative on an encoding error.
std::string Written(const char* text, std::size_t size, int result) {
    if (result < 0) return "";
    return std::string(text, std::min(static_cast<std::size_t>(result), size - 1));
}

void DrawProgress(Progress& progress, double now) {
    std::string line = FormatProgressLine(progress.label, progress.done, progress.total,
                                          progress.unit, now - progress.started);
    if (line.size() < kProgressWidth) line.resize(kProgressWidth, ' ');
    // Output written so far goes out first: the line may share the console with it.
    std::fflush(nullptr);
    PutOnConsole(progress.console, "\r" + line);
    progress.drawn = true;
    progress.lastDrawn = now;
}

void* Advance(void* buffer, std::uint32_t bytes) {
    return static_cast<char*>(buffer) + bytes;
}
const void* Advance(const void* buffer, std::uint32_t bytes) {
    return static_cast<const char*>(buffer) + bytes;
}

template <typename Buffer, typename Move>
TransferResult Chunked(std::uint32_t address, Buffer* buffer, std::uint32_t count, unsigned width,
                       Progress& progress, Move move) {
    std::uint32_t done = 0;
    while (done < count) {
        if (StopRequested()) return {TransferStatus::Stopped, done};
        const std::uint32_t n = count - done < kChunkElements ? count - done : kChunkElements;
        const std::uint32_t offset = done * width;
        if (move(address + offset, Advance(buffer, offset), n) == 0) {
            return {TransferStatus::Failed, done};
        }
        done += n;
        AdvanceProgress(progress, n);
    }
    return {TransferStatus::Done, done};
}

}  // namespace

const BlockAccess& LibraryAccess() {
    static const BlockAccess access = {cVexoReadBlockByte,   cVexoReadBlockShort,
                                       cVexoReadBlockLong,   cVexoWriteBlockByte,
                                       cVexoWriteBlockShort, cVexoWriteBlockLong};
    return access;
}

void RequestStop() {
    stopRequested = 1;
}
void ClearStopRequest() {
    stopRequested = 0;
}
bool StopRequested() {
    return stopRequested != 0;
}

std::string FormatProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total,
                               const char* unit, double elapsedSeconds) {
    char text[160];
    const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
    int length = std::snprintf(text, sizeof text, "%s: %llu/%llu %s (%u%%)", label.c_str(),
                               static_cast<unsigned long long>(done),
                               static_cast<unsigned long long>(total), unit, percent);
    const std::string line = Written(text, sizeof text, length);
    if (done == 0 || elapsedSeconds <= 0) return line;
    const double rate = done / elapsedSeconds;
    length = std::snprintf(text, sizeof text, ", %.0f/s, %s left", rate,
                           Duration((total - done) / rate).c_str());
    return line + Written(text, sizeof text, length);
}

Progress StartProgress(std::FILE* err, const std::string& label, std::uint64_t total,
                       const char* unit) {
    Progress progress;
    progress.console = sys::IsConsole(err) ? err : nullptr;
    progress.label = label;
    progress.unit = unit;
    progress.total = total;
    progress.started = sys::NowSeconds();
    return progress;
}

void AdvanceProgress(Progress& progress, std::uint64_t amount) {
    progress.done += amount;
    if (progress.console == nullptr) return;
    const double now = sys::NowSeconds();
    if (now - progress.started < kQuietSeconds) return;
    if (progress.drawn && now - progress.lastDrawn < kRedrawSeconds) return;
    DrawProgress(progress, now);
}

void EndProgress(Progress& progress) {
    if (!progress.drawn) return;
    PutOnConsole(progress.console, "\r" + std::string(kProgressWidth, ' ') + "\r");
    progress.drawn = false;
}

int ReadBlock(const BlockAccess& access, unsigned width, std::uint32_t address, void* buffer,
              std::uint32_t count) {
    const ReadBlockFn read = width == 1   ? access.readByte
                             : width == 2 ? access.readShort
                                          : access.readLong;
    return read(address, buffer, count);
}

int WriteBlock(const BlockAccess& access, unsigned width, std::uint32_t address, const void* buffer,
               std::uint32_t count) {
    const WriteBlockFn write = width == 1   ? access.writeByte
                               : width == 2 ? access.writeShort
                                            : access.writeLong;
    return write(address, buffer, count);
}

TransferResult ReadElements(const BlockAccess& access, std::uint32_t address, void* buffer,
                            std::uint32_t count, unsigned width, Progress& progress) {
    return Chunked(address, buffer, count, width, progress,
                   [&](std::uint32_t at, void* into, std::uint32_t n) {
                       return ReadBlock(access, width, at, into, n);
                   });
}

TransferResult WriteElements(const BlockAccess& access, std::uint32_t address, const void* buffer,
                             std::uint32_t count, unsigned width, Progress& progress) {
    return Chunked(address, buffer, count, width, progress,
                   [&](std::uint32_t at, const void* from, std::uint32_t n) {
                       return WriteBlock(access, width, at, from, n);
                   });
}

}  // namespace vexotool
