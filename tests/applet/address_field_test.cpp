// The address fields' pure rules: the typing filter, reading a field's text and showing a value.
#include "address_field.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace vexo::applet {
namespace {

std::string Shown(std::uint32_t value, const FieldFormat& format) {
    char text[kTextBufferSize];
    FormatFieldValue(value, format, text);
    return text;
}

// What leaving a field with this text turns it into.
std::string LeaveField(const char* text, const FieldFormat& format) {
    return Shown(TakeOverText(text, format), format);
}

TEST(TypingFilter, HexDigitsPassAndLowerCaseBecomesUpperCase) {
    for (char c : std::string("0123456789ABCDEF")) EXPECT_EQ(FilterTypedChar(c), c) << c;
    const std::string lower = "abcdef", upper = "ABCDEF";
    for (size_t i = 0; i < lower.size(); ++i) EXPECT_EQ(FilterTypedChar(lower[i]), upper[i]);
}

TEST(TypingFilter, ControlCodesReachTheControl) {
    // Backspace, Tab, Enter, Esc, Ctrl+C, Ctrl+V, Ctrl+X, Ctrl+Z, and the ends of the range.
    for (unsigned code :
         {0x08u, 0x09u, 0x0Du, 0x1Bu, 0x03u, 0x16u, 0x18u, 0x1Au, 0x00u, 0x1Fu, 0x7Fu}) {
        EXPECT_EQ(FilterTypedChar(code), static_cast<int>(code)) << code;
    }
}

TEST(TypingFilter, EverythingElseIsDropped) {
    for (char c : std::string("gGxXzZ- +.,:;/\\_~!@#$%^&*()=[]{}'\"<>?`|hH")) {
        EXPECT_EQ(FilterTypedChar(static_cast<unsigned char>(c)), kDroppedChar) << c;
    }
    for (unsigned code = 0x80; code <= 0xFF; ++code) {
        EXPECT_EQ(FilterTypedChar(code), kDroppedChar) << code;
    }
    // Lower-case letters beyond f become upper case and are still refused; so is what lies
    // 0x20 above a passing code.
    EXPECT_EQ(FilterTypedChar(0x100 + 'A'), kDroppedChar);
    EXPECT_EQ(FilterTypedChar(0xE1), kDroppedChar);
}

TEST(TypingFilter, ExactlyTheHexDigitsAndControlCodesOfTheByteRangePass) {
    int passing = 0;
    for (unsigned code = 0; code <= 0xFF; ++code) passing += FilterTypedChar(code) != kDroppedChar;
    EXPECT_EQ(passing, 10 + 6 + 6 + 32 + 1);
}

// Text typed into a field, and what the field shows once it is left.
struct Left {
    const char* typed;
    const char* shown;
};

void ExpectLeftAs(const FieldFormat& format, std::initializer_list<Left> cases) {
    for (const Left& c : cases) {
        EXPECT_EQ(LeaveField(c.typed, format), c.shown) << "typed \"" << c.typed << '"';
    }
}

TEST(LeavingAMemoryField, KeepsTheTopByteInEightDigits) {
    ExpectLeftAs(kMemoryField, {{"E9123456", "E9000000"},
                                {"123", "00000000"},
                                {"", "00000000"},
                                {"ea000000", "EA000000"},
                                {"-1", "FF000000"}});
    EXPECT_EQ(TakeOverText("FFFFFFFF", kMemoryField), 0xFF000000u);
}

TEST(LeavingAnIoField, KeepsBitsEightToFifteenInFourDigits) {
    ExpectLeftAs(
        kIoField,
        {{"C0FF", "C000"}, {"12345", "2300"}, {"", "0000"}, {"-1", "FF00"}, {"C4", "0000"}});
}

TEST(ParsingFieldText, FollowsStrtoulWithBase16) {
    EXPECT_EQ(ParseFieldText("  +E9"), 0xE9u);
    EXPECT_EQ(ParseFieldText("0x1F"), 0x1Fu);
    EXPECT_EQ(ParseFieldText("0Xab"), 0xABu);
    EXPECT_EQ(ParseFieldText("12G4"), 0x12u);
    EXPECT_EQ(ParseFieldText("G"), 0u);
    EXPECT_EQ(ParseFieldText("0x"), 0u);
    // The minus sign wraps modulo 2^32.
    EXPECT_EQ(ParseFieldText("-2"), 0xFFFFFFFEu);
    EXPECT_EQ(ParseFieldText("-FFFFFFF"), 0xF0000001u);
}

TEST(ParsingFieldText, OnlyTheFirstEightCharactersCount) {
    EXPECT_EQ(ParseFieldText("E91234567ABC"), 0xE9123456u);
    // Nine ones would overflow 32 bits and saturate if all were read.
    EXPECT_EQ(ParseFieldText("111111111"), 0x11111111u);
    EXPECT_EQ(LeaveField("111111111", kMemoryField), "11000000");
    // A prefix takes room from the digits.
    EXPECT_EQ(ParseFieldText("0xE9000000"), 0x00E90000u);
    EXPECT_EQ(ParseFieldText("        E9"), 0u);
}

TEST(ShowingAValue, PadsToTheFieldWidthButNeverCutsDigits) {
    EXPECT_EQ(Shown(0xE9000000u, kMemoryField), "E9000000");
    EXPECT_EQ(Shown(0, kMemoryField), "00000000");
    EXPECT_EQ(Shown(0x12345678u, kMemoryField), "12345678");
    EXPECT_EQ(Shown(0xC000u, kIoField), "C000");
    EXPECT_EQ(Shown(0x12345u, kIoField), "12345");
    EXPECT_EQ(Shown(0xFFFFFFFFu, kIoField), "FFFFFFFF");
}

}  // namespace
}  // namespace vexo::applet
