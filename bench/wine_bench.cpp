// How fast the library runs on the simulated card under Wine, next to a real card's estimate of
// one microsecond per bus access: elements per second, traps per element and bus accesses per
// element for every region x width x direction, and the same for cVexoOpen. Also a run of 50
// port reads written as one run of instructions, which shows what one batched trap costs.
//
//   vexo_wine_bench.exe [--one-at-a-time]
//
// --one-at-a-time turns trap batching off for the run (so does VEXO_SIM_TRAP_BATCHING=0). The
// program also runs beside a vexolite.vxd without trap batching: its traps are then its port
// accesses. The figures are a benchmark's, not a test's: the exit code only says whether every
// transfer succeeded with the prescribed port accesses.
#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "VexoDLL.h"
#include "transfer_cases.h"
#include "vexolite_sim.h"

namespace {

using vexo::bench::PerElement;
using vexo::bench::Region;

constexpr double kRealCardAccessSeconds = 1e-6;
constexpr double kSecondsPerCase = 0.5;

// The module's trap counter, when it has one (it is looked up, so that the benchmark also runs
// beside a module from before trap batching).
SimTrapCountFn trapCount = nullptr;

double Now() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Port accesses that reached the card since the last call; the trace is emptied each time so that
// it never grows past its limit.
std::uint64_t TakePortAccesses() {
    std::uint64_t accesses = 0;
    const std::uint32_t count = SimTraceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        SimTraceEvent e;
        if (SimGetTraceEvent(i, &e) && (e.op == SIM_OP_PORT_READ || e.op == SIM_OP_PORT_WRITE)) {
            ++accesses;
        }
    }
    accesses += SimTraceDropped();  // only port accesses come in such numbers
    SimClearTrace();
    return accesses;
}

// Work repeated for about kSecondsPerCase, with what it cost.
struct Measured {
    std::uint64_t units = 0;  // elements, or opens
    std::uint64_t portAccesses = 0;
    std::uint64_t traps = 0;
    double seconds = 0;
    bool allSucceeded = true;
};

template <typename Step>  // bool(std::uint64_t* units): one call, true when it succeeded
Measured Repeat(Step step) {
    Measured m;
    SimClearTrace();
    const std::uint32_t trapsBefore = trapCount != nullptr ? trapCount() : 0;
    const double started = Now();
    do {
        m.allSucceeded &= step(&m.units);
        m.portAccesses += TakePortAccesses();
        m.seconds = Now() - started;
    } while (m.seconds < kSecondsPerCase);
    m.traps = trapCount != nullptr ? trapCount() - trapsBefore : m.portAccesses;
    return m;
}

void PrintRow(const char* name, const Measured& m, double accessesPerUnit) {
    const double perSecond = m.units / m.seconds;
    const double realCard = 1.0 / (accessesPerUnit * kRealCardAccessSeconds);
    std::printf("| %-20s | %12.0f | %8.2f | %8.2f | %12.0f | %6.2f |\n", name, perSecond,
                double(m.traps) / m.units, accessesPerUnit, realCard, perSecond / realCard);
}

bool RunTransferCase(bool write, int size, Region region) {
    char name[64];
    std::snprintf(name, sizeof name, "%s %s %s", write ? "write" : "read",
                  vexo::bench::kWidthNames[size],
                  vexo::bench::kRegionNames[static_cast<int>(region)]);
    const vexo::bench::Placement placement = vexo::bench::PlacementOf(region, size);
    // External elements cost 50-100 trapped reads each: short calls keep the case near its time.
    const std::uint32_t perCall = region == Region::External ? 64 : placement.elementsPerCall;
    std::vector<std::uint8_t> buffer(std::size_t{perCall} * size, 0x5A);
    const Measured m = Repeat([&](std::uint64_t* units) {
        *units += perCall;
        return vexo::bench::Transfer(write, size, placement.address, buffer.data(), perCall) == 1;
    });
    const PerElement prescribed = vexo::bench::Prescribed(write, size, region);
    const bool asPrescribed =
        m.allSucceeded && m.portAccesses == std::uint64_t{prescribed.PortAccesses()} * m.units;
    // Window accesses are plain memory accesses here and never trace; a card makes them on the bus.
    PrintRow(name, m, prescribed.Total());
    if (!asPrescribed) {
        std::printf("  %s: %" PRIu64 " port accesses for %" PRIu64 " elements, %u each expected\n",
                    m.allSucceeded ? "DIFFERENT" : "FAILED", m.portAccesses, m.units,
                    prescribed.PortAccesses());
    }
    return asPrescribed;
}

bool RunOpenCase() {
    cVexoClose();
    std::uint64_t accesses = 0;
    const Measured m = Repeat([&](std::uint64_t* units) {
        ++*units;
        const bool opened = cVexoOpen() == 1;
        cVexoClose();
        return opened;
    });
    accesses = m.portAccesses;
    PrintRow("cVexoOpen", m, double(accesses) / m.units);
    return m.allSucceeded && cVexoOpen() == 1;
}

// 50 reads of one port as one run of instructions: the shape of the pause if its reads were
// consecutive. A unit is one run.
void RunPortRun(std::uint16_t port) {
    const Measured m = Repeat([&](std::uint64_t* units) {
        ++*units;
        asm volatile(".rept 50\n\tinb %%dx, %%al\n\t.endr" : : "d"(port) : "eax", "memory");
        return true;
    });
    PrintRow("run of 50 port reads", m, 50);
}

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

int main(int argc, char** argv) {
    const HMODULE simulator = GetModuleHandleA("vexolite.vxd");
    trapCount = Lookup<SimTrapCountFn>(simulator, "SimTrapCount");
    const auto setBatching = Lookup<SimSetTrapBatchingFn>(simulator, "SimSetTrapBatching");
    const bool oneAtATime = argc > 1 && std::strcmp(argv[1], "--one-at-a-time") == 0;
    if (oneAtATime && setBatching != nullptr) setBatching(0);
    std::printf("vexolite.vxd %s; trap batching %s\n\n",
                trapCount != nullptr ? "counts its traps" : "from before trap batching",
                trapCount == nullptr || oneAtATime ? "off" : "on (unless the environment says 0)");

    if (cVexoOpen() != 1) {
        std::printf("cVexoOpen failed on the simulated card\n");
        return 1;
    }
    std::printf(
        "| case                 |   elements/s | traps/el | bus acc/el | real card el/s | "
        "ratio  |\n");
    std::printf("|---|---|---|---|---|---|\n");
    bool allAsPrescribed = RunOpenCase();
    for (bool write : {false, true}) {
        for (int size : {1, 2, 4}) {
            for (Region region : {Region::Internal, Region::External, Region::Io}) {
                allAsPrescribed &= RunTransferCase(write, size, region);
            }
        }
    }
    SimBaseRecord bases = {};
    if (SimGetLastBaseRecord(&bases)) RunPortRun(static_cast<std::uint16_t>(bases.io1Base));
    std::printf(
        "\nelements/s: measured here; real card: 1 us per bus access (port and window accesses);\n"
        "ratio: measured / real card (above 1: faster than the card). cVexoOpen: units are "
        "opens.\n");
    cVexoClose();
    return allAsPrescribed ? 0 : 1;
}
