// What the library's host tests share: a simulated machine with one card (bus 2, device 5),
// the board closed after every test, and readable renderings of the trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "VexoDLL.h"
#include "host_machine.h"
#include "little_endian.h"

namespace vexo::test {

// One bus access as "out32 CF8 80021100" / "in32 CFC 200410CF" (hexadecimal port and value).
inline std::string Describe(const sim::Event& e) {
    const char* direction = "?";
    switch (e.op) {
        case sim::Op::PortRead:
            direction = "in";
            break;
        case sim::Op::PortWrite:
            direction = "out";
            break;
        case sim::Op::WindowLoad:
            direction = "load";
            break;
        case sim::Op::WindowStore:
            direction = "store";
            break;
        default:
            break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%s%u %X %08X", direction, unsigned{e.width},
                  unsigned{e.where}, unsigned{e.value});
    return text;
}

inline std::string Out32(std::uint32_t port, std::uint32_t value) {
    return Describe({sim::Op::PortWrite, 32, port, value, {}, {}});
}
inline std::string In32(std::uint32_t port, std::uint32_t value) {
    return Describe({sim::Op::PortRead, 32, port, value, {}, {}});
}

// The number of probes a scan makes to find the card at bus/device: every bus of the lower
// devices, then the buses of its own device up to and including its bus.
constexpr std::size_t ProbesToFind(std::uint32_t bus, std::uint32_t device) {
    return device * 256 + bus + 1;
}

class LibraryTest : public ::testing::Test {
  protected:
    void TearDown() override { cVexoClose(); }

    std::vector<std::string> BusTrace() const {
        std::vector<std::string> lines;
        for (const sim::Event& e : board.BusAccesses()) lines.push_back(Describe(e));
        return lines;
    }
    // The bus accesses after the scan's probes for the card at its default place.
    std::vector<std::string> BusTraceAfterScan() const {
        std::vector<std::string> lines = BusTrace();
        const std::size_t scan = 2 * ProbesToFind(machine.bus, machine.device);
        lines.erase(lines.begin(), lines.begin() + std::min(scan, lines.size()));
        return lines;
    }
    std::vector<std::uint32_t> RequestCodes() const {
        std::vector<std::uint32_t> codes;
        for (const sim::Event& e : board.DriverRequests()) codes.push_back(e.where);
        return codes;
    }
    std::size_t CountOf(sim::Op op) const {
        std::size_t n = 0;
        for (const sim::Event& e : board.trace) n += e.op == op ? 1 : 0;
        return n;
    }
    // The input of the last code 16 request as four words.
    std::vector<std::uint32_t> BaseAddressRecordSent() const {
        std::vector<std::uint32_t> words;
        for (const sim::Event& e : board.DriverRequests()) {
            if (e.where != 16) continue;
            words.clear();
            for (std::size_t i = 0; i + 3 < e.input.size(); i += 4) {
                words.push_back(vexo::little_endian::Load32(&e.input[i]));
            }
        }
        return words;
    }
    std::vector<std::uint32_t> DeviceInfoWords() {
        DeviceInfo info = {};
        EXPECT_EQ(1, cVexoDeviceInfo(&info));
        return {info.driverInfo, info.deviceId, info.vendorId, info.intMemBase,
                info.extMemBase, info.io1Base,  info.io2Base};
    }

    sim::HostMachine machine;
    sim::Board& board = machine.board;
};

}  // namespace vexo::test
