// Many seeded random transfers, each run on the library and on the independent model; result,
// buffer, memories, I/O registers and the whole bus trace must agree. For long runs the
// environment sets the seed and the number of transfers of each test, for example
//   VEXO_DIFFERENTIAL_SEED=7 VEXO_DIFFERENTIAL_TRANSFERS=100000 transfer_tests
//   --gtest_filter='TransferDifferential.*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "transfer_model.h"

namespace vexo::testing {
namespace {

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    std::uint32_t Below(std::uint32_t n) { return random_() % n; }

    model::Transfer Next() {
        model::Transfer t;
        t.write = Below(2) == 1;
        t.size = static_cast<std::uint16_t>(1u << Below(3));
        t.address = Start();
        t.count = Count();
        t.nullBuffer = Below(100) == 0;
        t.buffer.resize(std::size_t{t.count} * t.size + 8);
        for (std::uint8_t& byte : t.buffer) byte = static_cast<std::uint8_t>(random_());
        return t;
    }

    void Fill(std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(random_());
    }

  private:
    std::uint32_t Start() {
        const std::uint32_t pick = Below(20);
        if (pick == 0) return random_();                       // anywhere
        if (pick == 1) return Below(0x10400);                  // anywhere in the low map
        if (pick == 2) return 0x08000000 + Below(0x01000000);  // anywhere in external memory
        const std::uint32_t anchor =
            model::kInterestingStarts[Below(std::size(model::kInterestingStarts))];
        return anchor + Below(25) - 12;
    }

    std::uint32_t Count() {
        const std::uint32_t pick = Below(20);
        if (pick == 0) return 0;
        if (pick < 12) return 1 + Below(8);
        if (pick < 19) return 9 + Below(72);
        return 81 + Below(220);
    }

    std::mt19937 random_;
};

void RunRandomTransfers(std::uint32_t seed, std::uint32_t io1Base, std::uint32_t io2Base,
                        int transfers) {
    WiredBoard wired(io1Base, io2Base);
    Generator generate(seed);
    generate.Fill(wired.Sim().intMem, sim::kIntMemSize);
    generate.Fill(wired.Sim().extMem, sim::kExtMemSize);
    generate.Fill(&wired.machine.Card().io[0][0], sizeof wired.machine.Card().io);
    model::Machine machine = model::Snapshot(wired);

    for (int i = 0; i < transfers; ++i) {
        const model::Transfer t = generate.Next();
        const std::string difference = model::Compare(wired, machine, t);
        ASSERT_EQ(difference, "") << "seed " << seed << ", transfer " << i << ": "
                                  << (t.write ? "write" : "read") << " of " << t.count << " x "
                                  << t.size << " bytes at 0x" << std::hex << t.address
                                  << (t.nullBuffer ? " from a null buffer" : "");
    }
    EXPECT_EQ(model::CompareMemories(wired, machine), "") << "seed " << seed;
}

// A number from the environment, or `otherwise` when the variable is not set.
std::uint32_t FromEnvironment(const char* name, std::uint32_t otherwise) {
    const char* text = std::getenv(name);
    return text && *text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)) : otherwise;
}

std::uint32_t Seed(std::uint32_t offset) {
    return FromEnvironment("VEXO_DIFFERENTIAL_SEED", 1) + offset;
}

int Transfers(int otherwise) {
    return static_cast<int>(FromEnvironment("VEXO_DIFFERENTIAL_TRANSFERS", otherwise));
}

TEST(TransferDifferential, RandomTransfersAgreeWithTheModel) {
    RunRandomTransfers(Seed(0), 0xC000, 0xC400, Transfers(1500));
}

TEST(TransferDifferential, RandomTransfersAgreeWithTheModelWhenPortNumbersWrap) {
    // Range 1's ports 0x80 and up lie past 0xFFFF and wrap to port 0.
    RunRandomTransfers(Seed(1), 0xFF80, 0x0100, Transfers(1000));
}

}  // namespace
}  // namespace vexo::testing
