// The six block exports of the shipped VexoDLL.dll against the simulated card under Wine: data
// through every export, across widths, onto the right ports, with the pauses on the port trace,
// and reads at the very end of the external window, which is followed by an inaccessible page.
//
// External memory elements cost 50-100 trapped port reads each, so those transfers stay short.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "VexoDLL.h"
#include "block_exports.h"
#include "board_key_registry.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

// ---- the simulated machine --------------------------------------------------------------------

constexpr std::uint32_t kIo1Base = 0xC000;
constexpr std::uint32_t kIo2Base = 0xC400;
constexpr std::uint32_t kPauseReads = 50;

bool WriteBoardKey() {
    return board_key_registry::WriteBoardKey(0xE9000000u, 0xEA000000u, kIo1Base, kIo2Base);
}

std::vector<SimTraceEvent> TakeTrace() {
    std::vector<SimTraceEvent> trace;
    const std::uint32_t count = SimTraceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        SimTraceEvent e;
        if (SimGetTraceEvent(i, &e)) trace.push_back(e);
    }
    SimClearTrace();
    return trace;
}

// What a transfer did on the ports: pauses (50 8-bit reads of io1Base in a row) and every other
// port access in order.
struct PortActivity {
    std::uint32_t pauses = 0;
    std::uint32_t strayPauseReads = 0;  // reads of io1Base that do not make whole pauses
    std::vector<SimTraceEvent> others;
};

bool IsPauseRead(const SimTraceEvent& e) {
    return e.op == SIM_OP_PORT_READ && e.width == 8 && e.where == kIo1Base;
}

PortActivity TakePortActivity() {
    const std::vector<SimTraceEvent> trace = TakeTrace();
    PortActivity activity;
    std::size_t i = 0;
    while (i < trace.size()) {
        std::size_t run = 0;
        while (i + run < trace.size() && IsPauseRead(trace[i + run])) ++run;
        activity.pauses += run / kPauseReads;
        activity.strayPauseReads += run % kPauseReads;
        i += run;
        if (run == 0) activity.others.push_back(trace[i++]);
    }
    return activity;
}

void CheckPortAccess(int line, const PortActivity& activity, std::size_t index, std::uint32_t op,
                     std::uint32_t width, std::uint32_t port) {
    if (index >= activity.others.size()) {
        win_test::Fail(__FILE__, line,
                       (win_test::Message() << "port access " << index << " missing").str());
        return;
    }
    const SimTraceEvent& e = activity.others[index];
    if (e.op != op || e.width != width || e.where != port) {
        win_test::Fail(
            __FILE__, line,
            (win_test::Message() << "port access " << index << ": op " << e.op << ", " << e.width
                                 << " bits at " << win_test::Hex(e.where) << "; expected op " << op
                                 << ", " << width << " bits at " << win_test::Hex(port))
                .str());
    }
}

std::vector<std::uint8_t> Memory(std::uint32_t which, std::uint32_t offset, std::uint32_t count) {
    std::vector<std::uint8_t> bytes(count, 0xEE);
    EXPECT_TRUE(SimReadMemory(which, offset, bytes.data(), count)) << "memory read refused";
    return bytes;
}

std::uint32_t IoRegister(std::uint32_t range, std::uint32_t offset, std::uint32_t width) {
    std::uint32_t value = 0;
    SimReadIoRegister(SIM_DEFAULT_BUS, SIM_DEFAULT_DEVICE, 1, range, offset, width, &value);
    return value;
}

// ---- cases ------------------------------------------------------------------------------------

const std::uint8_t kPattern[16] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                                   0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};

// One width's exports end to end: the pattern written from `address` on, found in the card's
// memory at `offset`, and read back.
struct RoundTrip {
    const char* width;
    int(VEXO_CALL* write)(VexoUInt32 address, const void* buffer, VexoUInt32 count);
    int(VEXO_CALL* read)(VexoUInt32 address, void* buffer, VexoUInt32 count);
    std::uint32_t address;
    std::uint32_t count;
    std::uint32_t bytes;
    std::uint32_t memory;
    std::uint32_t offset;
};

void EachExportMovesItsWidthEndToEnd() {
    const RoundTrip trips[] = {
        // Byte: internal memory block 1; short: external memory; long: internal memory block 2.
        {"byte", cVexoWriteBlockByte, cVexoReadBlockByte, 0x8000, 16, 16, SIM_INT_MEM, 0x8000},
        {"short", cVexoWriteBlockShort, cVexoReadBlockShort, 0x08000100, 4, 8, SIM_EXT_MEM, 0x100},
        {"long", cVexoWriteBlockLong, cVexoReadBlockLong, 0xC000, 4, 16, SIM_INT_MEM, 0xC000},
    };
    for (const RoundTrip& trip : trips) {
        EXPECT_EQ(1, trip.write(trip.address, kPattern, trip.count)) << trip.width;
        EXPECT_BYTES_EQ(kPattern, Memory(trip.memory, trip.offset, trip.bytes).data(), trip.bytes)
            << trip.width;
        std::uint32_t back[4] = {};
        EXPECT_EQ(1, trip.read(trip.address, back, trip.count)) << trip.width;
        EXPECT_BYTES_EQ(kPattern, back, trip.bytes) << trip.width;
    }

    // Long: I/O range 2 too.
    EXPECT_EQ(1, cVexoWriteBlockLong(0x10220, kPattern, 2));
    EXPECT_EQ(0x43322110u, IoRegister(1, 0x20, 32));
    EXPECT_EQ(0x87766554u, IoRegister(1, 0x24, 32));
    TakeTrace();
}

void DataWrittenWithOneWidthReadsBackWithTheOthers() {
    // Longs to external memory, read back as bytes and shorts, at an odd start too.
    EXPECT_EQ(1, cVexoWriteBlockLong(0x08000200, kPattern, 4));
    std::uint8_t bytes[16] = {};
    EXPECT_EQ(1, cVexoReadBlockByte(0x08000200, bytes, 16));
    EXPECT_BYTES_EQ(kPattern, bytes, 16);
    std::uint16_t shorts[2] = {};
    EXPECT_EQ(1, cVexoReadBlockShort(0x08000201, shorts, 2));
    EXPECT_EQ(0x3221, shorts[0]);
    EXPECT_EQ(0x5443, shorts[1]);

    // Bytes to internal memory one lane at a time, read back as one Long.
    const std::uint8_t lanes[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    for (std::uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(1, cVexoWriteBlockByte(0x0010 + k, &lanes[k], 1));
    std::uint32_t word = 0;
    EXPECT_EQ(1, cVexoReadBlockLong(0x0010, &word, 1));
    EXPECT_EQ(0xDDCCBBAAu, word);

    // Shorts at odd addresses merge into the half that bit 1 selects.
    const std::uint16_t halves[2] = {0x1111, 0x2222};
    EXPECT_EQ(1, cVexoWriteBlockShort(0x0021, halves, 2));
    EXPECT_EQ(1, cVexoReadBlockLong(0x0020, &word, 1));
    EXPECT_EQ(0x22221111u, word);
    TakeTrace();
}

void IoRangeAccessesLandOnTheRightPorts() {
    const std::uint8_t byte = 0x5A;
    EXPECT_EQ(1, cVexoWriteBlockByte(0x100BF, &byte, 1));  // range 1, port 0x7F
    const std::uint16_t half = 0xBEEF;
    EXPECT_EQ(1, cVexoWriteBlockShort(0x10300, &half, 1));  // range 2, port 0x80
    std::uint32_t longs[2] = {};
    EXPECT_EQ(1, cVexoReadBlockLong(0x10380, longs, 2));  // range 2, ports 0xC0 and 0xC4
    std::uint16_t nowhere = 0;
    EXPECT_EQ(1, cVexoReadBlockShort(0x10280, &nowhere, 1));
    EXPECT_EQ(1, cVexoWriteBlockByte(0x10040, &byte, 1));

    EXPECT_EQ(0x5A, IoRegister(0, 0x7F, 8));
    EXPECT_EQ(0xBEEF, IoRegister(1, 0x80, 16));
    EXPECT_EQ(0xFFFF, nowhere);
    const PortActivity activity = TakePortActivity();
    EXPECT_EQ(0, activity.pauses);
    EXPECT_EQ(4, activity.others.size());
    CheckPortAccess(__LINE__, activity, 0, SIM_OP_PORT_WRITE, 8, kIo1Base + 0x7F);
    CheckPortAccess(__LINE__, activity, 1, SIM_OP_PORT_WRITE, 16, kIo2Base + 0x80);
    CheckPortAccess(__LINE__, activity, 2, SIM_OP_PORT_READ, 32, kIo2Base + 0xC0);
    CheckPortAccess(__LINE__, activity, 3, SIM_OP_PORT_READ, 32, kIo2Base + 0xC4);
}

void MemoryAccessesPauseAsPrescribed() {
    struct Case {
        const char* what;
        bool write;
        int size;
        std::uint32_t address;
        std::uint32_t pauses;
    };
    const Case cases[] = {
        {"read internal", false, 4, 0x80F0, 0},
        {"read external", false, 1, 0x08000010, 1},
        {"write internal byte", true, 1, 0x0031, 1},
        {"write internal long", true, 4, 0x0030, 1},
        {"write external short", true, 2, 0x08000012, 2},
        {"write external long", true, 4, 0x08000014, 2},
    };
    std::uint8_t element[4] = {1, 2, 3, 4};
    for (const Case& c : cases) {
        TakeTrace();
        int result = 0;
        if (c.write) {
            result = c.size == 1   ? cVexoWriteBlockByte(c.address, element, 1)
                     : c.size == 2 ? cVexoWriteBlockShort(c.address, element, 1)
                                   : cVexoWriteBlockLong(c.address, element, 1);
        } else {
            result = c.size == 1   ? cVexoReadBlockByte(c.address, element, 1)
                     : c.size == 2 ? cVexoReadBlockShort(c.address, element, 1)
                                   : cVexoReadBlockLong(c.address, element, 1);
        }
        const PortActivity activity = TakePortActivity();
        if (result != 1 || activity.pauses != c.pauses || activity.strayPauseReads != 0 ||
            !activity.others.empty()) {
            ADD_FAILURE() << c.what << ": result " << result << ", " << activity.pauses
                          << " pauses (expected " << c.pauses << "), " << activity.strayPauseReads
                          << " stray reads, " << activity.others.size() << " others";
        }
    }
}

void ReadsAtTheEndOfTheExternalWindowStayInside() {
    const std::uint8_t last[4] = {0x11, 0x22, 0x33, 0x44};
    SimWriteMemory(SIM_EXT_MEM, 0xFFFFFC, last, 4);
    std::uint32_t word = 0;
    EXPECT_EQ(1, cVexoReadBlockLong(0x08FFFFFD, &word, 1));
    EXPECT_EQ(0xFF443322u, word);
    EXPECT_EQ(1, cVexoReadBlockLong(0x08FFFFFE, &word, 1));
    EXPECT_EQ(0xFFFF4433u, word);
    EXPECT_EQ(1, cVexoReadBlockLong(0x08FFFFFF, &word, 1));
    EXPECT_EQ(0xFFFFFF44u, word);
    std::uint16_t shorts[2] = {0, 0x1234};
    EXPECT_EQ(0, cVexoReadBlockShort(0x08FFFFFF, shorts, 2));  // the second is past the map
    EXPECT_EQ(0xFF44, shorts[0]);
    EXPECT_EQ(0x1234, shorts[1]);
    EXPECT_EQ(1, cVexoReadBlockLong(0x08FFFFFC, &word, 1));
    EXPECT_EQ(0x44332211u, word);
    TakeTrace();
}

void RefusedTransfersTouchNothing() {
    std::uint8_t bytes[4] = {9, 9, 9, 9};
    EXPECT_EQ(0, cVexoReadBlockByte(0x10400, bytes, 4));
    EXPECT_EQ(0, cVexoWriteBlockLong(0x09000000, bytes, 1));
    EXPECT_EQ(0, cVexoReadBlockLong(0x0000, nullptr, 1));
    EXPECT_EQ(0, cVexoWriteBlockShort(0x08000000, nullptr, 2));
    EXPECT_EQ(1, cVexoReadBlockByte(0x08000000, nullptr, 0));
    EXPECT_EQ(9, bytes[0]);
    EXPECT_EQ(0, TakeTrace().size());
}

// One of each kind of transfer from blank memories, with what it read and the port trace.
struct TransferRound {
    std::uint8_t read[16 + 8 + 4] = {};
    std::vector<SimTraceEvent> trace;
    std::uint32_t traps = 0;
};

TransferRound RoundWithTrapBatching(bool batching) {
    const std::vector<std::uint8_t> zeros(64, 0);
    SimWriteMemory(SIM_INT_MEM, 0x8000, zeros.data(), 64);
    SimWriteMemory(SIM_EXT_MEM, 0x300, zeros.data(), 64);
    SimClearTrace();
    SimSetTrapBatching(batching);
    TransferRound round;
    const std::uint32_t trapsBefore = SimTrapCount();
    EXPECT_EQ(1, cVexoWriteBlockByte(0x08000301, kPattern, 5));
    EXPECT_EQ(1, cVexoReadBlockLong(0x08000300, round.read, 4));
    EXPECT_EQ(1, cVexoWriteBlockShort(0x8002, kPattern, 3));
    EXPECT_EQ(1, cVexoReadBlockShort(0x8000, round.read + 16, 4));
    EXPECT_EQ(1, cVexoWriteBlockLong(0x10230, kPattern, 1));
    EXPECT_EQ(1, cVexoReadBlockByte(0x10230, round.read + 24, 4));
    round.traps = SimTrapCount() - trapsBefore;
    SimSetTrapBatching(1);
    round.trace = TakeTrace();
    return round;
}

void TransfersAreTheSameWithTrapBatchingOnAndOff() {
    const TransferRound single = RoundWithTrapBatching(false);
    const TransferRound batched = RoundWithTrapBatching(true);
    EXPECT_BYTES_EQ(single.read, batched.read, sizeof single.read);
    EXPECT_EQ(single.trace.size(), batched.trace.size());
    if (single.trace.size() == batched.trace.size() && !single.trace.empty()) {
        EXPECT_BYTES_EQ(single.trace.data(), batched.trace.data(),
                        single.trace.size() * sizeof(SimTraceEvent));
    }
    EXPECT_EQ(single.trace.size(), single.traps);  // one trap per port instruction
    EXPECT_TRUE(batched.traps <= single.traps);
    const std::uint8_t expected[sizeof single.read] = {
        0x00, 0x10, 0x21, 0x32, 0x43, 0x54, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // external
        0x00, 0x00, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65,                          // internal
        0x10, 0x21, 0x32, 0x43};                                                 // I/O range 2
    EXPECT_BYTES_EQ(expected, single.read, sizeof expected);
}

void AfterCloseEveryExportFails() {
    EXPECT_EQ(1, cVexoClose());
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(block_exports::Succeeding(0x0000, bytes, 1), "");
    EXPECT_EQ(0, TakeTrace().size());
}

const win_test::Case kCases[] = {
    {"each export moves its width end to end", EachExportMovesItsWidthEndToEnd},
    {"data written with one width reads back with the others",
     DataWrittenWithOneWidthReadsBackWithTheOthers},
    {"I/O range accesses land on the right ports", IoRangeAccessesLandOnTheRightPorts},
    {"memory accesses pause as prescribed", MemoryAccessesPauseAsPrescribed},
    {"reads at the end of the external window stay inside",
     ReadsAtTheEndOfTheExternalWindowStayInside},
    {"refused transfers touch nothing", RefusedTransfersTouchNothing},
    {"transfers are the same with trap batching on and off",
     TransfersAreTheSameWithTrapBatchingOnAndOff},
    {"after close every export fails", AfterCloseEveryExportFails},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    SimResetBoard();
    if (!WriteBoardKey()) {
        std::printf("cannot write the board configuration key\n");
        return 1;
    }
    if (cVexoOpen() != 1) {
        std::printf("cVexoOpen failed on the simulated card\n");
        return 1;
    }
    SimClearTrace();

    win_test::RunCases(kCases);
    return win_test::Summary();
}
