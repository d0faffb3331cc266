// Loading and storing the four base addresses, against an in-memory registry key that can be told
// to refuse a write.
#include "base_addresses.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "board_key.h"

namespace vexo::applet {
namespace {

// The fake key: value name -> stored bytes, every call in order, and the names whose writes fail.
struct FakeKey {
    std::map<std::string, std::vector<unsigned char>> values;
    std::vector<std::string> calls;
    std::set<std::string> refusedWrites;
};
FakeKey fakeKey;

std::vector<unsigned char> Dword(std::uint32_t value) {
    std::vector<unsigned char> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::uint32_t StoredDword(const std::string& name) {
    const auto& bytes = fakeKey.values.at(name);
    EXPECT_EQ(bytes.size(), 4u) << name;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return value;
}

// The four values the key holds, in key order.
void ExpectStoredValues(const BaseAddressValues& expected) {
    for (int i = 0; i < kFieldCount; ++i) {
        EXPECT_EQ(StoredDword(board_key::kValueNames[i]), expected[i]) << board_key::kValueNames[i];
    }
}

class KeyStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { fakeKey = FakeKey{}; }
};

using LoadBaseAddressesTest = KeyStoreTest;
using SaveBaseAddressesTest = KeyStoreTest;

TEST_F(LoadBaseAddressesTest, AnEmptyKeyGetsEveryDefaultWrittenInKeyOrder) {
    BaseAddressValues values = {1, 2, 3, 4};
    EXPECT_EQ(LoadBaseAddresses(values), 1);
    EXPECT_EQ(values[0], 0xE9000000u);
    EXPECT_EQ(values[1], 0xEA000000u);
    EXPECT_EQ(values[2], 0xC000u);
    EXPECT_EQ(values[3], 0xC400u);
    EXPECT_EQ(fakeKey.calls,
              (std::vector<std::string>{"read IntMemBaseAddress", "write IntMemBaseAddress",
                                        "read ExtMemBaseAddress", "write ExtMemBaseAddress",
                                        "read Io1BaseAddress", "write Io1BaseAddress",
                                        "read Io2BaseAddress", "write Io2BaseAddress"}));
    ExpectStoredValues({0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u});
}

TEST_F(LoadBaseAddressesTest, StoredValuesAreTakenAsTheyAreAndNotRewritten) {
    fakeKey.values = {{"IntMemBaseAddress", Dword(0x12345678)},
                      {"ExtMemBaseAddress", Dword(0)},
                      {"Io1BaseAddress", Dword(0x12345)},
                      {"Io2BaseAddress", Dword(0xC4FF)}};
    BaseAddressValues values = {};
    EXPECT_EQ(LoadBaseAddresses(values), 1);
    EXPECT_EQ(values[0], 0x12345678u);
    EXPECT_EQ(values[1], 0u);
    EXPECT_EQ(values[2], 0x12345u);
    EXPECT_EQ(values[3], 0xC4FFu);
    for (const auto& call : fakeKey.calls) EXPECT_EQ(call.rfind("read ", 0), 0u) << call;
}

TEST_F(LoadBaseAddressesTest, AShortValueLandsOnTheLowBytesOfItsDefault) {
    fakeKey.values["IntMemBaseAddress"] = {0x34, 0x12};
    BaseAddressValues values = {};
    EXPECT_EQ(LoadBaseAddresses(values), 1);
    EXPECT_EQ(values[0], 0xE9001234u);
    EXPECT_EQ(fakeKey.values["IntMemBaseAddress"].size(), 2u);  // not rewritten
}

TEST_F(LoadBaseAddressesTest, AnOversizedValueIsReplacedByItsDefault) {
    // The fake scribbles into the buffer when the data does not fit, as a failed read may.
    fakeKey.values["Io1BaseAddress"] = {'1', '2', '3', '4', '5', '6', '7', 0};
    BaseAddressValues values = {};
    EXPECT_EQ(LoadBaseAddresses(values), 1);
    EXPECT_EQ(values[2], 0xC000u);
    EXPECT_EQ(StoredDword("Io1BaseAddress"), 0xC000u);
}

TEST_F(LoadBaseAddressesTest, AFailedDefaultWriteStopsAtOnce) {
    fakeKey.refusedWrites = {"ExtMemBaseAddress"};
    BaseAddressValues values = {};
    EXPECT_EQ(LoadBaseAddresses(values), 0);
    EXPECT_EQ(fakeKey.calls,
              (std::vector<std::string>{"read IntMemBaseAddress", "write IntMemBaseAddress",
                                        "read ExtMemBaseAddress", "write ExtMemBaseAddress"}));
    // The default written before the failure stays.
    EXPECT_EQ(StoredDword("IntMemBaseAddress"), 0xE9000000u);
    EXPECT_EQ(fakeKey.values.count("ExtMemBaseAddress"), 0u);
}

TEST_F(SaveBaseAddressesTest, WritesAllFourInKeyOrderExactlyAsHeld) {
    const BaseAddressValues values = {0x12345678u, 0, 0x12345u, 0xFF00u};
    EXPECT_EQ(SaveBaseAddresses(values), 1);
    EXPECT_EQ(fakeKey.calls,
              (std::vector<std::string>{"write IntMemBaseAddress", "write ExtMemBaseAddress",
                                        "write Io1BaseAddress", "write Io2BaseAddress"}));
    ExpectStoredValues(values);
}

TEST_F(SaveBaseAddressesTest, AFailedWriteReportsFailureAndStopsThere) {
    fakeKey.values = {{"IntMemBaseAddress", Dword(1)},
                      {"ExtMemBaseAddress", Dword(2)},
                      {"Io1BaseAddress", Dword(3)},
                      {"Io2BaseAddress", Dword(4)}};
    fakeKey.refusedWrites = {"Io1BaseAddress"};
    const BaseAddressValues values = {0xE9000000u, 0xEA000000u, 0xC000u, 0xC400u};
    EXPECT_EQ(SaveBaseAddresses(values), 0);
    EXPECT_EQ(fakeKey.calls.size(), 3u);
    EXPECT_EQ(StoredDword("IntMemBaseAddress"), 0xE9000000u);
    EXPECT_EQ(StoredDword("ExtMemBaseAddress"), 0xEA000000u);
    EXPECT_EQ(StoredDword("Io1BaseAddress"), 3u);
    EXPECT_EQ(StoredDword("Io2BaseAddress"), 4u);
}

}  // namespace

namespace key_store {

bool ReadValue(const char* name, void* data, std::uint32_t size) {
    fakeKey.calls.push_back(std::string("read ") + name);
    const auto found = fakeKey.values.find(name);
    if (found == fakeKey.values.end()) return false;
    const auto& bytes = found->second;
    if (bytes.size() > size) {
        std::memset(data, 0x5A, size);
        return false;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    return true;
}

bool WriteDword(const char* name, std::uint32_t value) {
    fakeKey.calls.push_back(std::string("write ") + name);
    if (fakeKey.refusedWrites.count(name) != 0) return false;
    fakeKey.values[name] = Dword(value);
    return true;
}

}  // namespace key_store
}  // namespace vexo::applet
