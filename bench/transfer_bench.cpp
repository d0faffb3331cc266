// Bus accesses per element of every kind of block transfer, next to the counts the transfer
// rules prescribe, on a bus that does nothing. Run under callgrind (bench/callgrind_table.py) it
// also marks each case with a client request, so that the library's own instructions can be
// read per case; natively the marks cost nothing.
//
// Exit code 0 when every count equals the prescribed one.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "VexoDLL.h"
#include "null_bus.h"
#include "transfer_cases.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name) (void)(name)
#endif

namespace {

using vexo::bench::BusCounts;
using vexo::bench::counts;

using vexo::bench::kElementsPerCase;
using vexo::bench::PerElement;
using vexo::bench::Placement;
using vexo::bench::Region;

bool RunCase(bool write, int size, Region region) {
    char name[64];
    std::snprintf(name, sizeof name, "%s %s %s", write ? "write" : "read",
                  vexo::bench::kWidthNames[size],
                  vexo::bench::kRegionNames[static_cast<int>(region)]);
    const Placement placement = vexo::bench::PlacementOf(region, size);
    std::vector<std::uint8_t> buffer(std::size_t{placement.elementsPerCall} * size, 0x5A);
    const std::uint32_t calls = kElementsPerCase / placement.elementsPerCall;

    counts = BusCounts{};
    bool allHandled = true;
    CALLGRIND_ZERO_STATS;
    for (std::uint32_t call = 0; call < calls; ++call) {
        allHandled &= vexo::bench::Transfer(write, size, placement.address, buffer.data(),
                                            placement.elementsPerCall) == 1;
    }
    CALLGRIND_DUMP_STATS_AT(name);

    const std::uint64_t elements = std::uint64_t{calls} * placement.elementsPerCall;
    const PerElement expected = vexo::bench::Prescribed(write, size, region);
    const bool equal = allHandled && counts.portReads == expected.portReads * elements &&
                       counts.portWrites == expected.portWrites * elements &&
                       counts.windowLoads == expected.windowLoads * elements &&
                       counts.windowStores == expected.windowStores * elements;
    std::printf("| %-20s | %5" PRIu64 " | %6.2f | %6.2f | %6.2f | %6.2f | %3u/%u/%u/%u | %s |\n",
                name, elements, double(counts.portReads) / elements,
                double(counts.portWrites) / elements, double(counts.windowLoads) / elements,
                double(counts.windowStores) / elements, expected.portReads, expected.portWrites,
                expected.windowLoads, expected.windowStores, equal ? "equal" : "DIFFERENT");
    return equal;
}

// Opens the board with the card at `slot` and returns the number of probes the scan made: each
// is one write of the configuration address and one read of the data port; after the scan come
// five configuration writes (two accesses each) and three set-up writes.
std::uint64_t OpenWithCardAt(std::uint32_t slot, const char* name) {
    vexo::bench::cardSlot = slot;
    counts = BusCounts{};
    CALLGRIND_ZERO_STATS;
    const int opened = cVexoOpen();
    CALLGRIND_DUMP_STATS_AT(name);
    const std::uint64_t probes = (counts.portReads + counts.portWrites - 2 * 5 - 3) / 2;
    std::printf("%s: result %d, %" PRIu64 " port reads, %" PRIu64 " port writes, %" PRIu64
                " probes\n",
                name, opened, counts.portReads, counts.portWrites, probes);
    return opened == 1 ? probes : 0;
}

}  // namespace

int main() {
    // The scan's own cost per probe is the difference between an open that finds the card at
    // the first probe and one whose scan runs to the last slot.
    if (OpenWithCardAt(vexo::bench::kFirstSlot, "open first") != 1) return 1;
    cVexoClose();
    if (OpenWithCardAt(vexo::bench::kLastSlot, "open last") != 8192) return 1;
    std::printf("\n");

    std::printf(
        "| transfer             | elems | port rd | port wr | loads  | stores | "
        "prescribed rd/wr/ld/st | counts |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    bool allEqual = true;
    for (bool write : {false, true}) {
        for (int size : {1, 2, 4}) {
            for (Region region :
                 {Region::Internal, Region::External, Region::Io, Region::Nowhere}) {
                allEqual &= RunCase(write, size, region);
            }
        }
    }
    cVexoClose();
    return allEqual ? 0 : 1;
}
