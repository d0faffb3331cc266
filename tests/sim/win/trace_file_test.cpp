// Proves under Wine that VEXO_SIM_TRACE makes vexolite.vxd write the bus trace a user reads: the
// program runs itself again with the variable set, as an application that opens the card, moves
// two words to I/O range 2, reads one byte of external memory, writes a word there and reads it
// back, and loads a byte through the window by itself; then it checks the file that run left: its
// header, cVexoOpen's driver requests in order, the transfers' port and window accesses, and a
// summary whose counts are those of the lines above it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "VexoDLL.h"
#include "board_key_registry.h"
#include "child_programs.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

constexpr char kTracedRun[] = "--traced-run";
constexpr std::uint32_t kIo1Base = 0xC000;
constexpr std::uint32_t kIo2Base = 0xC400;
constexpr std::uint32_t kWords[2] = {0x11223344u, 0x55667788u};

// ---- the traced application ----------------------------------------------------------------

// The application's own load of a byte of external memory through the window the driver hands
// out, by an instruction other than the library's (a load with a displacement).
int ExternalByteLoadedDirectly(std::uint32_t offset) {
    HANDLE device = CreateFileA("\\\\.\\VexoLite.vxd", 0, 0, nullptr, 0, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return -1;
    DWORD window = 0, returned = 0;
    const BOOL ok = DeviceIoControl(device, 7, nullptr, 0, &window, 4, &returned, nullptr);
    CloseHandle(device);
    if (!ok) return -1;
    return reinterpret_cast<const volatile std::uint8_t*>(window)[offset];
}

int TracedApplication() {
    if (cVexoOpen() != 1) return 2;
    if (cVexoWriteBlockLong(VEXO_IO_ADDRESS(VEXO_IO2_AREA, 0x20), kWords, 2) != 1) return 3;
    std::uint8_t byte = 0;
    if (cVexoReadBlockByte(VEXO_EXTMEM_START + 0x10, &byte, 1) != 1) return 4;
    std::uint32_t word = 0;
    if (cVexoWriteBlockLong(VEXO_EXTMEM_START + 0x40, &kWords[1], 1) != 1) return 5;
    if (cVexoReadBlockLong(VEXO_EXTMEM_START + 0x40, &word, 1) != 1 || word != kWords[1]) return 6;
    if (ExternalByteLoadedDirectly(0x41) != 0x77) return 7;
    return cVexoClose() == 1 ? 0 : 8;
}

// ---- reading the file -----------------------------------------------------------------------

struct Line {
    unsigned long long seq = 0, time = 0;
    std::string kind, region, where, width, value;
};

struct TraceFileContents {
    std::vector<std::string> header;  // the lines before the first event
    std::vector<Line> events;
    std::vector<std::string> summary;  // the '#' lines after the events
};

std::string Folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return lines;
    char text[512];
    while (std::fgets(text, sizeof text, file) != nullptr) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    std::fclose(file);
    return lines;
}

TraceFileContents Parse(const std::vector<std::string>& lines) {
    TraceFileContents contents;
    for (const std::string& text : lines) {
        char kind[16], region[16], where[32], width[32], value[32];
        Line line;
        if (std::sscanf(text.c_str(), "%llu %llu %15s %15s %31s %31s %31s", &line.seq, &line.time,
                        kind, region, where, width, value) == 7) {
            line.kind = kind, line.region = region, line.where = where;
            line.width = width, line.value = value;
            contents.events.push_back(line);
        } else if (contents.events.empty()) {
            contents.header.push_back(text);
        } else {
            contents.summary.push_back(text);
        }
    }
    return contents;
}

// Runs this program again as the traced application, with the variable naming `path`; with
// `decodeFaults`, the module finds each window fault's address from the instruction, as it must
// where the system reports faults without one.
DWORD RunTraced(const std::string& path, bool decodeFaults = false) {
    SetEnvironmentVariableA("VEXO_SIM_TRACE", path.c_str());
    SetEnvironmentVariableA("VEXO_SIM_DECODE_FAULTS", decodeFaults ? "1" : nullptr);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    child_programs::Started traced =
        child_programs::Launch(std::string("\"") + self + "\" " + kTracedRun);
    SetEnvironmentVariableA("VEXO_SIM_TRACE", nullptr);
    SetEnvironmentVariableA("VEXO_SIM_DECODE_FAULTS", nullptr);
    if (!traced.Running()) return 1000 + traced.startError;
    // A run that hangs is ended and fails with child_programs::kNotEnded.
    return child_programs::FinishWithin(&traced, 120000);
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

TraceFileContents traced;

TraceFileContents RunAndRead(bool decodeFaults) {
    const std::string path = Folder() + "bus-trace.txt";
    DeleteFileA(path.c_str());
    const DWORD code = RunTraced(path, decodeFaults);
    EXPECT_EQ(code, 0u) << "the traced run's exit code";
    return Parse(ReadLines(path));
}

void TheApplicationRanWithTheTraceOn() {
    traced = RunAndRead(false);
    ASSERT_TRUE(!traced.events.empty()) << "no events in the trace";
}

// The same run with every window fault's address decoded from its instruction leaves the same
// events, whichever way this machine reports faults.
void DecodedFaultAddressesGiveTheSameTrace() {
    const TraceFileContents decoded = RunAndRead(true);
    ASSERT_EQ(decoded.events.size(), traced.events.size());
    for (std::size_t i = 0; i < decoded.events.size(); ++i) {
        const Line& a = traced.events[i];
        const Line& b = decoded.events[i];
        EXPECT_EQ(a.kind + a.region + a.where + a.width + a.value,
                  b.kind + b.region + b.where + b.width + b.value)
            << "event " << i + 1;
    }
}

void HeaderNamesTheColumnsAndWhatIsTraced() {
    ASSERT_EQ(traced.header.size(), 2u);
    EXPECT_TRUE(traced.header[0].find("window loads and stores") != std::string::npos)
        << traced.header[0];
    EXPECT_EQ(traced.header[1], std::string("seq time_us kind region where width value"));
    unsigned long long expected = 1, time = 0;
    for (const Line& e : traced.events) {
        EXPECT_EQ(e.seq, expected++);
        EXPECT_TRUE(e.time >= time) << "time goes back at " << e.seq;
        time = e.time;
    }
}

void OpenAsksTheDriverInOrder() {
    struct Request {
        const char* code;
        const char* sizes;
    };
    const Request expected[] = {{"3", "0/4"},   {"2", "0/4"}, {"1", "0/4"},
                                {"16", "16/0"}, {"6", "0/4"}, {"7", "0/4"}};
    std::vector<Line> requests;
    for (const Line& e : traced.events) {
        if (e.kind == "req") requests.push_back(e);
    }
    // cVexoOpen's, then the application's own.
    ASSERT_EQ(requests.size(), sizeof expected / sizeof expected[0] + 1);
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        EXPECT_EQ(requests[i].region, std::string("driver"));
        EXPECT_EQ(requests[i].where, std::string(expected[i].code)) << "request " << i;
        EXPECT_EQ(requests[i].width, std::string(expected[i].sizes)) << "request " << i;
        EXPECT_EQ(requests[i].value, std::string("ok")) << "request " << i;
    }
}

// The events as runs of the same kind, region, place and width: "in io1 0xC000 8 x50".
std::vector<std::string> Runs(std::vector<Line>::const_iterator from,
                              std::vector<Line>::const_iterator to) {
    std::vector<std::string> runs;
    std::string last;
    int count = 0;
    for (auto e = from; e != to; ++e) {
        const std::string what = e->kind + " " + e->region + " " + e->where + " " + e->width;
        if (what != last && count != 0) runs.push_back(last + " x" + std::to_string(count));
        if (what != last) count = 0;
        last = what;
        ++count;
    }
    if (count != 0) runs.push_back(last + " x" + std::to_string(count));
    return runs;
}

void TheTransfersShowOnPortsAndWindows() {
    // After cVexoOpen's six requests: the set-up writes, the two words, the byte read (a pause,
    // then the load), the word written (two pauses, then the store) and read back (a pause, the
    // load), then the application's own request and load, which only the load's place shows.
    const std::vector<Line>& e = traced.events;
    std::size_t requests = 0, at = 0;
    while (at < e.size() && requests < 6) {
        if (e[at++].kind == "req") ++requests;
    }
    const std::string pause = "in io1 " + Hex(kIo1Base, 4) + " 8";
    const std::vector<std::string> expected = {"out io1 " + Hex(kIo1Base + 0xC4, 4) + " 32 x1",
                                               "out io2 " + Hex(kIo2Base + 0x00, 4) + " 32 x1",
                                               "out io2 " + Hex(kIo2Base + 0x10, 4) + " 32 x1",
                                               "out io2 " + Hex(kIo2Base + 0x20, 4) + " 32 x1",
                                               "out io2 " + Hex(kIo2Base + 0x24, 4) + " 32 x1",
                                               pause + " x50",
                                               "load ext 0x000010 8 x1",
                                               pause + " x100",
                                               "store ext 0x000040 32 x1",
                                               pause + " x50",
                                               "load ext 0x000040 32 x1",
                                               "req driver 7 0/4 x1",
                                               "load ext 0x000041 ? x1"};
    const std::vector<std::string> runs = Runs(e.begin() + at, e.end());
    EXPECT_EQ(runs.size(), expected.size());
    for (std::size_t i = 0; i < runs.size() && i < expected.size(); ++i) {
        EXPECT_EQ(runs[i], expected[i]) << "run " << i;
    }
    ASSERT_TRUE(e.size() >= at + 5 + 50 + 1 + 100 + 1 + 50 + 1) << e.size() << " events";
    for (int k = 0; k < 2; ++k) EXPECT_EQ(e[at + 3 + k].value, Hex(kWords[k], 8));
    EXPECT_EQ(e[at + 156].value, Hex(kWords[1], 8));  // the store
    EXPECT_EQ(e[at + 207].value, Hex(kWords[1], 8));  // the load back
}

// The summary's line for a region and kind: accesses and bytes, or zeros when it has none.
void SummaryTally(const char* region, const char* kind, unsigned long long* accesses,
                  unsigned long long* bytes) {
    *accesses = *bytes = 0;
    const std::string prefix = std::string("# ") + region + " " + kind + " ";
    for (const std::string& line : traced.summary) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            std::sscanf(line.c_str() + prefix.size(), "%llu %llu", accesses, bytes);
        }
    }
}

void SummaryCountsTheEvents() {
    ASSERT_TRUE(!traced.summary.empty());
    unsigned long long events = 0, ports = 0, requests = 0, failed = 0, windows = 0;
    EXPECT_EQ(std::sscanf(traced.summary[0].c_str(),
                          "# summary: %llu events, %llu port accesses, %llu driver requests (%llu "
                          "failed), %llu window accesses",
                          &events, &ports, &requests, &failed, &windows),
              5)
        << traced.summary[0];
    EXPECT_EQ(events, traced.events.size());
    EXPECT_EQ(requests, 7u);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(windows, 4u);
    EXPECT_EQ(ports, traced.events.size() - 7 - 4);

    const std::pair<const char*, const char*> tallies[] = {
        {"config", "in"}, {"config", "out"}, {"io1", "in"},   {"io1", "out"},
        {"io2", "in"},    {"io2", "out"},    {"none", "in"},  {"none", "out"},
        {"int", "load"},  {"int", "store"},  {"ext", "load"}, {"ext", "store"}};
    for (const auto& [region, kind] : tallies) {
        {
            unsigned long long count = 0, bytes = 0;
            for (const Line& e : traced.events) {
                if (e.region != region || e.kind != kind) continue;
                ++count;
                if (e.width != "?") bytes += std::stoul(e.width) / 8;
            }
            unsigned long long summaryCount = 0, summaryBytes = 0;
            SummaryTally(region, kind, &summaryCount, &summaryBytes);
            EXPECT_EQ(summaryCount, count) << region << " " << kind;
            EXPECT_EQ(summaryBytes, bytes) << region << " " << kind;
        }
    }
    bool pauseLine = false;
    for (const std::string& line : traced.summary) {
        unsigned long long pauses = 0, reads = 0;
        if (std::sscanf(line.c_str(), "# pauses: %llu (runs of 10 or more reads of one port: %llu",
                        &pauses, &reads) == 2) {
            pauseLine = true;
            EXPECT_EQ(pauses, 4u);
            EXPECT_EQ(reads, 200u);
        }
    }
    EXPECT_TRUE(pauseLine) << "no pause line in the summary";
}

// ---- a trace that cannot be written ---------------------------------------------------------

struct ModuleLoad {
    bool loaded = false;
    std::string errorOutput;     // what the module wrote on standard error
    DWORD windowProtection = 0;  // how external memory's window is mapped
};

// Loads and unloads the module in this process with VEXO_SIM_TRACE naming `path`, its standard
// error caught in a file.
ModuleLoad LoadWithTrace(const std::string& path) {
    ModuleLoad load;
    const std::string caught = Folder() + "module-errors.txt";
    const HANDLE file = CreateFileA(caught.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return load;
    const HANDLE errorOutput = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, file);
    SetEnvironmentVariableA("VEXO_SIM_TRACE", path.c_str());
    const HMODULE module = LoadLibraryA("vexolite.vxd");
    SetEnvironmentVariableA("VEXO_SIM_TRACE", nullptr);
    if (module != nullptr) {
        load.loaded = true;
        const auto windowAddress = reinterpret_cast<SimGetWindowAddressFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "SimGetWindowAddress")));
        MEMORY_BASIC_INFORMATION region = {};
        if (windowAddress != nullptr &&
            VirtualQuery(reinterpret_cast<void*>(windowAddress(SIM_EXT_MEM)), &region,
                         sizeof region) != 0) {
            load.windowProtection = region.Protect;
        }
        FreeLibrary(module);
    }
    SetStdHandle(STD_ERROR_HANDLE, errorOutput);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char text[1024];
    DWORD got = 0;
    while (ReadFile(file, text, sizeof text, &got, nullptr) && got != 0) {
        load.errorOutput.append(text, got);
    }
    CloseHandle(file);
    DeleteFileA(caught.c_str());
    return load;
}

// A trace file that cannot be made is one line, and the program runs untraced with its windows
// as they are without a trace; one whose writes fail is one line, and the program goes on.
void AnUnwritableTraceIsOneLineAndTheProgramGoesOn() {
    const std::string folder = Folder();
    const struct {
        std::string path;
        std::string reasonAndEnd;  // what follows the path; empty: the system's reason
        bool opens;
    } cases[] = {
        {folder + "no such folder\\trace.txt", "", false},
        {folder.substr(0, folder.size() - 1), "", false},  // a folder
        {folder + std::string(300, 'a') + ".txt",
         "the name is " + std::to_string(folder.size() + 304) +
             " characters long, Windows takes 259; this program runs untraced\r\n",
         false},
        {"Z:\\dev\\full", "", true},
    };
    for (const auto& c : cases) {
        const ModuleLoad load = LoadWithTrace(c.path);
        EXPECT_TRUE(load.loaded) << c.path;
        const std::string& text = load.errorOutput;
        const std::string start = "vexolite.vxd: cannot write the bus trace to '" + c.path + "': ";
        const std::string end =
            c.opens ? "; tracing stopped after 0 events\r\n" : "; this program runs untraced\r\n";
        const bool oneLine = text.find('\n') == text.size() - 1;
        EXPECT_TRUE(oneLine && text.compare(0, start.size(), start) == 0 &&
                    text.size() > start.size() + end.size() &&
                    text.compare(text.size() - end.size(), end.size(), end) == 0)
            << "for " << c.path << ":\n"
            << text;
        if (!c.reasonAndEnd.empty()) {
            EXPECT_EQ(text, start + c.reasonAndEnd);
        }
        if (!c.opens) {
            EXPECT_NE(load.windowProtection, static_cast<DWORD>(PAGE_NOACCESS)) << c.path;
        }
    }
}

const win_test::Case kCases[] = {
    {"the application ran with VEXO_SIM_TRACE set", TheApplicationRanWithTheTraceOn},
    {"the header names the columns and what is traced", HeaderNamesTheColumnsAndWhatIsTraced},
    {"cVexoOpen's driver requests are in the file in order", OpenAsksTheDriverInOrder},
    {"the transfers show on ports and windows with their values and pauses",
     TheTransfersShowOnPortsAndWindows},
    {"the summary counts the events above it", SummaryCountsTheEvents},
    {"window faults whose address is decoded from the instruction leave the same trace",
     DecodedFaultAddressesGiveTheSameTrace},
    {"a trace that cannot be written is one line and the program goes on",
     AnUnwritableTraceIsOneLineAndTheProgramGoesOn},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kTracedRun) == 0) return TracedApplication();
    win_test::ReportCrashes();
    if (!board_key_registry::WriteBoardKey(0xE9000000u, 0xEA000000u, kIo1Base, kIo2Base)) {
        std::printf("cannot write the board configuration key\n");
        return 1;
    }
    win_test::RunCases(kCases);
    return win_test::Summary();
}
