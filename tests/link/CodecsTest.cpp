#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/CommandFrame.h"
#include "link/NumberText.h"

namespace kv {
namespace {

std::vector<int> span(const CommandFrame& frame, int first, int last) {
    std::vector<int> out;
    for (int n = first; n <= last; ++n) out.push_back(frame[n]);
    return out;
}

// A frame whose every byte says where it is, so untouched bytes are easy to spot.
CommandFrame numbered() {
    CommandFrame frame;
    for (int n = 1; n <= 16; ++n) frame[n] = static_cast<std::uint8_t>(0xA0 + n);
    return frame;
}

template <typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

TEST(WireForm, FrameCode1OnSunday7March2027At140509KeepsBytes10To16) {
    CommandFrame frame = numbered();
    frame[1] = 1;
    pridejcas(frame, WallTime{2027, 3, 7, 14, 5, 9, 0, 7});
    const auto wire = wireForm(frame);
    const std::vector<int> expected = {0xF0, 0xF0, 0xA5, 0x01, 0x0E, 0x05, 0x09, 0x07, 0x03, 0x1B,
                                       0x07, 0x00, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0};
    EXPECT_EQ(std::vector<int>(wire.begin(), wire.end()), expected);
}

TEST(WireForm, EveryByteValuePassesUnchanged) {
    CommandFrame frame;
    for (int n = 1; n <= 16; ++n) frame[n] = static_cast<std::uint8_t>(n == 1 ? 0xFF : n * 16 - 1);
    frame[2] = 0x00;
    const auto wire = wireForm(frame);
    for (int n = 1; n <= 16; ++n) EXPECT_EQ(wire[static_cast<std::size_t>(n + 2)], frame[n]) << n;
}

struct TimeRow {
    const char* name;
    WallTime time;
    std::vector<int> bytes2to9;
};

class Pridejcas : public testing::TestWithParam<TimeRow> {};

TEST_P(Pridejcas, FillsBytes2To9Only) {
    CommandFrame frame = numbered();
    pridejcas(frame, GetParam().time);
    EXPECT_EQ(span(frame, 2, 9), GetParam().bytes2to9);
    EXPECT_EQ(frame[1], 0xA1);
    EXPECT_EQ(span(frame, 10, 16), span(numbered(), 10, 16));
}

INSTANTIATE_TEST_SUITE_P(Rows, Pridejcas,
                         testing::Values(TimeRow{"Midnight1January2000IsSaturday",
                                                 {2000, 1, 1, 0, 0, 0, 0, 6},
                                                 {0, 0, 0, 1, 1, 0, 6, 0}},
                                         TimeRow{"Sunday7March2027",
                                                 {2027, 3, 7, 14, 5, 9, 0, 7},
                                                 {14, 5, 9, 7, 3, 27, 7, 0}},
                                         TimeRow{"LastSecondOf2099",
                                                 {2099, 12, 31, 23, 59, 59, 999, 4},
                                                 {23, 59, 59, 31, 12, 99, 4, 0}},
                                         TimeRow{"Year2300KeepsLow8BitsOf300",
                                                 {2300, 6, 1, 12, 0, 0, 0, 5},
                                                 {12, 0, 0, 1, 6, 44, 5, 0}}),
                         rowName<TimeRow>);

struct NameRow {
    const char* name;
    std::string cp1250;
    std::string bytes2to16;
};

class Pridejmeno : public testing::TestWithParam<NameRow> {};

TEST_P(Pridejmeno, StripsCutsAndBlankFills) {
    CommandFrame frame = numbered();
    pridejmeno(frame, GetParam().cp1250);
    std::string sent;
    for (int n = 2; n <= 16; ++n) sent.push_back(static_cast<char>(frame[n]));
    EXPECT_EQ(sent, GetParam().bytes2to16);
    EXPECT_EQ(frame[1], 0xA1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Pridejmeno,
    testing::Values(NameRow{"TwentyLettersAreTranslatedAndCut",
                            "P\xF8\xED"
                            "li\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2",
                            "Prilis zlutouck"},
                    NameRow{"ShortNameIsBlankFilled", "D\xF9m", "Dum            "},
                    NameRow{"LetterOutsideTheTableGoesAsItsCode", "m\xE4so", "m\xE4so           "},
                    NameRow{"EmptyNameIsFifteenBlanks", "", "               "},
                    NameRow{"ExactlyFifteen", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
                    NameRow{"CapitalsWithCaronAndRing", "\x8A\x8D\x8E\xC8\xCF\xCC\xD2\xD8\xD9",
                            "STZCDENRU      "}),
    rowName<NameRow>);

TEST(StripCzechDiacritic, TheThirtyLettersBecomePlainAndNothingElseChanges) {
    const std::string from =
        "\xC1\xE1\xC8\xE8\xCF\xEF\xC9\xE9\xCC\xEC\xCD\xED\xD2\xF2\xD3"
        "\xF3\xD8\xF8\x8A\x9A\x8D\x9D\xDA\xFA\xD9\xF9\xDD\xFD\x8E\x9E";
    const std::string to = "AaCcDdEeEeIiNnOoRrSsTtUuUuYyZz";
    ASSERT_EQ(from.size(), 30u);
    for (std::size_t i = 0; i < from.size(); ++i)
        EXPECT_EQ(stripCzechDiacritic(from[i]), to[i]) << "byte " << i;

    int changed = 0;
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (stripCzechDiacritic(c) != c) ++changed;
    }
    EXPECT_EQ(changed, 30);
    // Slovak and other letters stay as they are.
    for (char c : std::string("\xC4\xE4\xD6\xF6\xDC\xFC\xBC\xBE\xC5\xE5\xC0\xE0"))
        EXPECT_EQ(stripCzechDiacritic(c), c);
}

struct DecToHexRow {
    const char* name;
    std::uint8_t value;
    std::string text;
};

class Dectohex : public testing::TestWithParam<DecToHexRow> {};

TEST_P(Dectohex, TwoUpperCaseDigits) { EXPECT_EQ(dectohex(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Rows, Dectohex,
                         testing::Values(DecToHexRow{"Zero", 0, "00"}, DecToHexRow{"Ten", 10, "0A"},
                                         DecToHexRow{"A5", 165, "A5"},
                                         DecToHexRow{"FF", 255, "FF"}),
                         rowName<DecToHexRow>);

TEST(Dectohex, EveryByteComesBackThroughHextodec) {
    for (int b = 0; b < 256; ++b) {
        std::string text = dectohex(static_cast<std::uint8_t>(b));
        EXPECT_EQ(hextodec(text), std::optional<std::uint8_t>(static_cast<std::uint8_t>(b)));
    }
}

struct HexToDecRow {
    const char* name;
    std::string text;
    std::optional<std::uint8_t> value;
    std::string textAfter;
};

class Hextodec : public testing::TestWithParam<HexToDecRow> {};

TEST_P(Hextodec, ValueAndCompletedText) {
    std::string text = GetParam().text;
    EXPECT_EQ(hextodec(text), GetParam().value);
    EXPECT_EQ(text, GetParam().textAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Hextodec,
    testing::Values(HexToDecRow{"EmptyBecomes00", "", 0, "00"},
                    HexToDecRow{"OneDigitGetsLeadingZero", "7", 7, "07"},
                    HexToDecRow{"OneLetterGetsLeadingZero", "A", 10, "0A"},
                    HexToDecRow{"LowerCase0a", "0a", 10, "0a"}, HexToDecRow{"A5", "A5", 165, "A5"},
                    HexToDecRow{"LowerCaseff", "ff", 255, "ff"},
                    HexToDecRow{"OnlyTheFirstTwoOf1234Count", "1234", 18, "1234"},
                    HexToDecRow{"NonHexAfterTheSecondIsIgnored", "12G", 18, "12G"},
                    HexToDecRow{"NonHexHighDigit", "G1", std::nullopt, "G1"},
                    HexToDecRow{"NonHexLowDigit", "1g", std::nullopt, "1g"},
                    HexToDecRow{"OneNonHexCharacter", " ", std::nullopt, "0 "}),
    rowName<HexToDecRow>);

struct BalanceRow {
    const char* name;
    std::string text;
    std::optional<BytePair> bytes;
};

class EncodeBalance : public testing::TestWithParam<BalanceRow> {};

TEST_P(EncodeBalance, Bytes13And14) { EXPECT_EQ(encodeBalance(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(
    Rows, EncodeBalance,
    testing::Values(BalanceRow{"Zero", "0", BytePair{0, 0}},
                    BalanceRow{"NinetyMinutes", "90", BytePair{1, 30}},
                    BalanceRow{"MinusNinety", "-90", BytePair{129, 30}},
                    BalanceRow{"JustUnder100Hours", "5999", BytePair{99, 59}},
                    BalanceRow{"Exactly100HoursSetsMinuteBit", "6000", BytePair{0, 128}},
                    BalanceRow{"Exactly200HoursSetsBothBits", "12000", BytePair{128, 128}},
                    BalanceRow{"200Hours59Minutes", "12059", BytePair{128, 187}},
                    BalanceRow{"JustUnder300Hours", "17999", BytePair{227, 187}},
                    BalanceRow{"300HoursIsPositiveOverflow", "18000", BytePair{227, 227}},
                    BalanceRow{"Largest16BitValue", "65535", BytePair{227, 227}},
                    BalanceRow{"MinusFiftyNine", "-59", BytePair{128, 59}},
                    BalanceRow{"MinusZeroIsNegativeZero", "-0", BytePair{128, 0}},
                    BalanceRow{"Minus5999", "-5999", BytePair{227, 59}},
                    BalanceRow{"Minus100HoursIsNegativeOverflow", "-6000", BytePair{227, 99}},
                    BalanceRow{"Beyond16BitsIsOverflow", "65626", BytePair{227, 227}},
                    BalanceRow{"MinusBeyond16BitsIsOverflow", "-65626", BytePair{227, 99}},
                    BalanceRow{"LeadingZeros", "0090", BytePair{1, 30}},
                    BalanceRow{"EmptyIsRejected", "", std::nullopt},
                    BalanceRow{"MinusAloneIsRejected", "-", std::nullopt},
                    BalanceRow{"PlusSignIsRejected", "+90", std::nullopt},
                    BalanceRow{"DoubleMinusIsRejected", "--90", std::nullopt},
                    BalanceRow{"TrailingBlankIsRejected", "90 ", std::nullopt},
                    BalanceRow{"LetterIsRejected", "9a", std::nullopt}),
    rowName<BalanceRow>);

struct DurationRow {
    const char* name;
    std::uint16_t minutes;
    BytePair bytes;
};

class SplitDuration : public testing::TestWithParam<DurationRow> {};

TEST_P(SplitDuration, HoursAndMinutesNoFlags) {
    EXPECT_EQ(splitDuration(GetParam().minutes), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitDuration,
                         testing::Values(DurationRow{"Zero", 0, {0, 0}},
                                         DurationRow{"TenHoursFifteen", 615, {10, 15}},
                                         DurationRow{"HundredHoursHasNoFlag", 6000, {100, 0}},
                                         DurationRow{"255Hours59", 15359, {255, 59}},
                                         DurationRow{"256HoursKeepsLow8Bits", 15360, {0, 0}},
                                         DurationRow{"Largest16BitValue", 65535, {68, 15}}),
                         rowName<DurationRow>);

TEST(TimeStamp, AtAnOffsetWritesSixBytesAndReadsThemBack) {
    CommandFrame frame = numbered();
    putTimeStamp(frame, 11, WallTime{2099, 12, 31, 23, 59, 58});
    EXPECT_EQ(span(frame, 10, 16), (std::vector<int>{0xAA, 23, 59, 58, 31, 12, 99}));
    const WallTime t = timeStampAt(frame, 11);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{2099, 12, 31, 23, 59, 58}));
}

TEST(Word, HighByteFirst) {
    CommandFrame frame = numbered();
    frame.setWord(2, 0x04D2);
    EXPECT_EQ(span(frame, 1, 4), (std::vector<int>{0xA1, 0x04, 0xD2, 0xA4}));
    EXPECT_EQ(frame.word(2), 1234);
}

TEST(HexDump, UpperCasePairsSeparatedByBlanks) {
    EXPECT_EQ(hexDump(std::string_view("\xF0\xF0\xA5\x00\x5a", 5)), "F0 F0 A5 00 5A");
    EXPECT_EQ(hexDump(std::string_view()), "");
}

TEST(ParseInt32, SignAndDigitsWithin32Bits) {
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } rows[] = {
        {"0", 0},
        {"+17", 17},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"2147483648", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1a", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(parseInt32(row.text), row.value) << row.text;
    EXPECT_EQ(parseInt32("7fffffff", 16, true), -INT32_MAX);
    EXPECT_EQ(parseInt32("80000001", 16, true), std::nullopt);
}

}  // namespace
}  // namespace kv
