// The memory test: its patterns, where they failed and the report.
#include "memtest.h"

#include <cstdarg>
#include <string>
#include <vector>

#include "board_map.h"

namespace vexotool {
namespace {

// Faults listed per step; the rest are only counted.
constexpr unsigned kFaultsShown = 8;
// Words generated and checked per library call in the every-word passes.
constexpr std::uint32_t kPieceWords = 0x4000;

struct Span {
    std::uint32_t first;
    std::uint32_t length;  // bytes, a multiple of 4
};

struct MemTest {
    const BlockAccess& access;
    std::FILE* out;
    std::FILE* err;
    std::string name;                 // "memtest internal"
    std::vector<std::string> faults;  // of the current step
    unsigned faultCount = 0;          // of the current step
    unsigned totalFaults = 0;
    std::string abort;  // why the test could not go on; empty while it can
};

#ifdef __MINGW_PRINTF_FORMAT
#define VEXOTOOL_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define VEXOTOOL_PRINTF_FORMAT printf
#endif
std::string Format(const char* format, ...) __attribute__((format(VEXOTOOL_PRINTF_FORMAT, 1, 2)));
std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, length < 0 ? 0 : static_cast<std::size_t>(length));
}

void AddFault(MemTest& test, std::string line) {
    if (test.faultCount++ < kFaultsShown) test.faults.push_back(std::move(line));
}

// Prints the step's line with its verdict and the faults it found, then starts the next step.
void EndStep(MemTest& test, const std::string& step) {
    std::fprintf(test.out, "  %-58s %s\n", step.c_str(), test.faultCount == 0 ? "ok" : "FAIL");
    for (const std::string& fault : test.faults) std::fprintf(test.out, "    %s\n", fault.c_str());
    if (test.faultCount > kFaultsShown) {
        std::fprintf(test.out, "    ... and %u more\n", test.faultCount - kFaultsShown);
    }
    std::fflush(test.out);
    test.totalFaults += test.faultCount;
    test.faultCount = 0;
    test.faults.clear();
}

bool Write(MemTest& test, unsigned width, std::uint32_t address, std::uint32_t value) {
    if (WriteBlock(test.access, width, address, &value, 1) != 0) return true;
    test.abort = Format("the library refused a %u-bit write at 0x%08X", width * 8, address);
    return false;
}

bool ReadWord(MemTest& test, std::uint32_t address, std::uint32_t* value) {
    if (ReadBlock(test.access, 4, address, value, 1) != 0) return true;
    test.abort = Format("the library refused a 32-bit read at 0x%08X", address);
    return false;
}

std::string BitList(std::uint32_t bits, char prefix) {
    std::string list;
    for (int bit = 0; bit < 32; ++bit) {
        if ((bits >> bit & 1u) == 0) continue;
        list += (list.empty() ? "" : ", ") + std::string(1, prefix) + std::to_string(bit);
    }
    return list;
}

// Walking ones, then walking zeros, in one word: a data line that cannot carry a 1 or a 0 shows
// as a bit that never reads back as written.
void TestDataLines(MemTest& test, std::uint32_t address) {
    std::uint32_t holdsNoOne = 0, holdsNoZero = 0;
    for (int pass = 0; pass < 2 && test.abort.empty(); ++pass) {
        for (int bit = 0; bit < 32; ++bit) {
            const std::uint32_t written = pass == 0 ? 1u << bit : ~(1u << bit);
            std::uint32_t read = 0;
            if (!Write(test, 4, address, written) || !ReadWord(test, address, &read)) return;
            holdsNoOne |= written & ~read;
            holdsNoZero |= ~written & read;
        }
    }
    if (holdsNoOne != 0) AddFault(test, "cannot hold 1: " + BitList(holdsNoOne, 'D'));
    if (holdsNoZero != 0) AddFault(test, "cannot hold 0: " + BitList(holdsNoZero, 'D'));
    EndStep(test, Format("data lines    D0-D31, walking 1 and 0 at 0x%08X", address));
}

// 8- and 16-bit writes land in one lane of the word and leave the others as they were.
void TestByteLanes(MemTest& test, std::uint32_t address) {
    struct LaneWrite {
        unsigned width, offset;
        std::uint32_t value, wordAfter;
    };
    static const LaneWrite kWrites[] = {
        {1, 0, 0x11, 0x00000011u}, {1, 1, 0x22, 0x00002211u},   {1, 2, 0x33, 0x00332211u},
        {1, 3, 0x44, 0x44332211u}, {2, 2, 0xBEEF, 0xBEEF2211u}, {2, 0, 0xCAFE, 0xBEEFCAFEu},
    };
    if (!Write(test, 4, address, 0)) return;
    for (const LaneWrite& write : kWrites) {
        std::uint32_t word = 0;
        if (!Write(test, write.width, address + write.offset, write.value) ||
            !ReadWord(test, address, &word)) {
            return;
        }
        if (word == write.wordAfter) continue;
        std::string lanes;
        for (unsigned lane = 0; lane < 4; ++lane) {
            if (((word ^ write.wordAfter) >> (8 * lane) & 0xFFu) == 0) continue;
            lanes += (lanes.empty() ? "" : ", ") + std::to_string(lane);
        }
        AddFault(test, Format("lane %s: after a %u-bit write of 0x%X at 0x%08X the word reads "
                              "0x%08X, not 0x%08X",
                              lanes.c_str(), write.width * 8, static_cast<unsigned>(write.value),
                              address + write.offset, static_cast<unsigned>(word),
                              static_cast<unsigned>(write.wordAfter)));
        if (!Write(test, 4, address, write.wordAfter)) return;  // the next write starts clean
    }
    EndStep(test, Format("byte lanes    0-3, 8- and 16-bit writes at 0x%08X", address));
}

int HighestBit(std::uint32_t value) {
    int bit = -1;
    while (value != 0) {
        ++bit;
        value >>= 1;
    }
    return bit;
}

// Each word at offset 0 and at every power-of-two offset holds its own address, written in
// ascending order: an address line that is stuck or shorted makes two of them one word, and the
// earlier reads back what was written to the later.
void TestAddressLines(MemTest& test, const Span& span) {
    std::vector<std::uint32_t> addresses = {span.first};
    for (std::uint32_t offset = 4; offset < span.length; offset <<= 1) {
        addresses.push_back(span.first + offset);
    }
    for (std::uint32_t address : addresses) {
        if (!Write(test, 4, address, address)) return;
    }
    for (std::uint32_t address : addresses) {
        std::uint32_t read = 0;
        if (!ReadWord(test, address, &read)) return;
        if (read == address) continue;
        const std::uint32_t offsetBits = (read ^ address);
        const bool aliased =
            read - span.first < span.length && (offsetBits & (offsetBits - 1)) == 0;
        if (aliased) {
            AddFault(test, Format("address line A%d: 0x%08X reads what was written to 0x%08X",
                                  HighestBit(offsetBits), address, static_cast<unsigned>(read)));
        } else {
            AddFault(test, Format("0x%08X: wrote 0x%08X, read 0x%08X", address, address,
                                  static_cast<unsigned>(read)));
        }
    }
    EndStep(test, Format("address lines A2-A%d, %zu addresses from 0x%08X",
                         HighestBit(span.length - 1), addresses.size(), span.first));
}

bool Stopped(MemTest& test, const TransferResult& result, const Progress& progress) {
    if (result.status == TransferStatus::Done) return false;
    if (result.status == TransferStatus::Stopped) {
        test.abort = Format("stopped by Ctrl+C after %llu of %llu word accesses",
                            static_cast<unsigned long long>(progress.done),
                            static_cast<unsigned long long>(progress.total));
    } else {
        test.abort = "the library refused a 32-bit transfer";
    }
    return true;
}

// One pass of the every-word test: writes each word `address ^ flip`, or reads and checks it.
bool EveryWordPass(MemTest& test, const Span& span, std::uint32_t flip, bool write,
                   Progress& progress) {
    std::vector<std::uint32_t> words;
    for (std::uint32_t done = 0; done < span.length / 4;) {
        const std::uint32_t n =
            span.length / 4 - done < kPieceWords ? span.length / 4 - done : kPieceWords;
        const std::uint32_t first = span.first + done * 4;
        words.assign(n, 0);
        if (write) {
            for (std::uint32_t i = 0; i < n; ++i) words[i] = (first + i * 4) ^ flip;
            if (Stopped(test, WriteElements(test.access, first, words.data(), n, 4, progress),
                        progress)) {
                return false;
            }
        } else {
            if (Stopped(test, ReadElements(test.access, first, words.data(), n, 4, progress),
                        progress)) {
                return false;
            }
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint32_t expected = (first + i * 4) ^ flip;
                if (words[i] == expected) continue;
                AddFault(test, Format("0x%08X: wrote 0x%08X, read 0x%08X", first + i * 4, expected,
                                      words[i]));
            }
        }
        done += n;
    }
    return true;
}

// Address-in-address over every word, then its complement, so each bit is seen at 0 and at 1.
void TestEveryWord(MemTest& test, const Span& span) {
    const std::uint64_t passes = 4;  // write, check, write the complement, check
    Progress progress =
        StartProgress(test.err, test.name, passes * (span.length / 4), "word accesses");
    for (const std::uint32_t flip : {0u, 0xFFFFFFFFu}) {
        if (!EveryWordPass(test, span, flip, true, progress) ||
            !EveryWordPass(test, span, flip, false, progress)) {
            break;
        }
    }
    EndProgress(progress);
    if (!test.abort.empty()) return;
    EndStep(test, Format("every word    0x%08X-0x%08X, %u words", span.first,
                         span.first + span.length - 1, span.length / 4));
}

std::vector<Span> SpansOf(const Command& command) {
    if (command.ranged) return {{command.address, command.count}};
    if (command.external) return {{kExternalFirst, kExternalSize}};
    std::vector<Span> spans;
    for (std::uint32_t block : kInternalBlocks) spans.push_back({block, kInternalBlockSize});
    return spans;
}

std::string Describe(const Command& command, const std::vector<Span>& spans) {
    std::string where;
    for (const Span& span : spans) {
        const char* format = command.external ? "0x%08X-0x%08X" : "0x%04X-0x%04X";
        where +=
            (where.empty() ? "" : ", ") + Format(format, span.first, span.first + span.length - 1);
    }
    const bool quick = command.external && !command.full && !command.ranged;
    return where + (quick ? ", quick: one word per address line"
                          : ", every word (address, then complement)");
}

}  // namespace

int RunMemTest(const Command& command, const BlockAccess& access, std::FILE* out, std::FILE* err) {
    MemTest test{access, out, err, command.external ? "memtest external" : "memtest internal",
                 {},     0,   0,   ""};
    const std::vector<Span> spans = SpansOf(command);
    const bool quick = command.external && !command.full && !command.ranged;
    std::fprintf(out, "%s: %s\n", test.name.c_str(), Describe(command, spans).c_str());
    std::fflush(out);

    TestDataLines(test, spans[0].first);
    if (test.abort.empty()) TestByteLanes(test, spans[0].first);
    for (const Span& span : spans) {
        if (!test.abort.empty()) break;
        if (quick) {
            TestAddressLines(test, span);
        } else {
            TestEveryWord(test, span);
        }
    }
    if (!test.abort.empty()) {
        std::fprintf(err, "vexotool: %s: %s\n", test.name.c_str(), test.abort.c_str());
        return 1;
    }
    if (test.totalFaults != 0) {
        std::fprintf(out, "%s: FAIL, %u fault%s\n", test.name.c_str(), test.totalFaults,
                     test.totalFaults == 1 ? "" : "s");
        return 1;
    }
    std::fprintf(out, "%s: PASS\n", test.name.c_str());
    return 0;
}

}  // namespace vexotool
