#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sync/TableRecords.h"

namespace kv {
namespace {

template <typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// What the previous sender left in the frame; bytes a record does not fill must keep it.
CommandFrame leftOver() {
    CommandFrame frame;
    for (int n = 1; n <= 16; ++n) frame[n] = static_cast<std::uint8_t>(0xE0 + n);
    return frame;
}

std::vector<int> span(const CommandFrame& frame, int first, int last) {
    std::vector<int> out;
    for (int n = first; n <= last; ++n) out.push_back(frame[n]);
    return out;
}

struct RecordRow {
    const char* name;
    std::string line;
    std::optional<std::vector<int>> bytes;  // nullopt: the line is not a record
};

class Section1Record : public testing::TestWithParam<RecordRow> {};

TEST_P(Section1Record, FillsBytes2To14OrLeavesTheFrame) {
    CommandFrame frame = leftOver();
    const bool ok = parseSection1Record(GetParam().line, frame);
    ASSERT_EQ(ok, GetParam().bytes.has_value());
    if (!ok) {
        EXPECT_EQ(frame, leftOver());
        return;
    }
    EXPECT_EQ(span(frame, 2, 14), *GetParam().bytes);
    EXPECT_EQ(span(frame, 1, 1), span(leftOver(), 1, 1));
    EXPECT_EQ(span(frame, 15, 16), span(leftOver(), 15, 16));
}

const std::string k198Zeros(198, '0');

INSTANTIATE_TEST_SUITE_P(
    Rows, Section1Record,
    testing::Values(
        RecordRow{"Index1234TimeCompletedTo0730", "1234|0011223344AA|730|5|-90",
                  std::vector<int>{4, 210, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAA, 7, 30, 5, 129, 30}},
        RecordRow{"Index5Time0815", "5|0102030405A0|815|3|-90",
                  std::vector<int>{0, 5, 0x01, 0x02, 0x03, 0x04, 0x05, 0xA0, 8, 15, 3, 129, 30}},
        RecordRow{"Index258IsHighByteFirst", "258|000000000000|0000|0|0",
                  std::vector<int>{1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        RecordRow{"IndexTakenModulo65536", "70000|000000000000|0000|0|0",
                  std::vector<int>{17, 112, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        RecordRow{"LowerCaseChip", "0|abcdef012345|2359|255|5999",
                  std::vector<int>{0, 0, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 23, 59, 255, 99, 59}},
        RecordRow{"ShortChipCompletesItsPairs", "0|ABC|1|0|6000",
                  std::vector<int>{0, 0, 0xAB, 0x0C, 0, 0, 0, 0, 0, 1, 0, 0, 128}},
        RecordRow{"EmptyChipIsZero", "0||1200|0|12000",
                  std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 128, 128}},
        RecordRow{"ChipDigitsAfterTwelfthUnused", "0|0102030405060708|0|0|18000",
                  std::vector<int>{0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 227, 227}},
        RecordRow{"EmptyTimeIsMidnight", "0|000000000000||0|-59",
                  std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 128, 59}},
        RecordRow{"TimeDigitsAfterFourthUnused", "0|000000000000|123456|0|-6000",
                  std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 12, 34, 0, 227, 99}},
        RecordRow{"NumberKeepsLowByte", "0|000000000000|0|300|0",
                  std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 44, 0, 0}},
        RecordRow{"BalanceCutTo100Characters", "0|0|0|0|" + std::string(100, '0') + "x",
                  std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        RecordRow{"RestCutTo200CharactersLosesSeparators", "1|" + k198Zeros + "|5|1|90",
                  std::nullopt},
        RecordRow{"EmptyLine", "", std::nullopt},
        RecordRow{"MissingSeparator", "1|000000000000|0730|5", std::nullopt},
        RecordRow{"EmptyBalanceIsZero", "1|000000000000|0730|5|",
                  std::vector<int>{0, 1, 0, 0, 0, 0, 0, 0, 7, 30, 5, 0, 0}},
        RecordRow{"EmptyIndex", "|000000000000|0730|5|0", std::nullopt},
        RecordRow{"NegativeIndexKeepsLow16Bits", "-1|000000000000|0730|+5|0",
                  std::vector<int>{255, 255, 0, 0, 0, 0, 0, 0, 7, 30, 5, 0, 0}},
        RecordRow{"IndexBeyond32Bits", "2147483648|000000000000|0730|5|0", std::nullopt},
        RecordRow{"SignAlone", "-|000000000000|0730|5|0", std::nullopt},
        RecordRow{"IndexWithLetter", "12a|000000000000|0730|5|0", std::nullopt},
        RecordRow{"ChipWithNonHexDigit", "1|00000000000G|0730|5|0", std::nullopt},
        RecordRow{"ChipWithBlank", "1|000000 00000|0730|5|0", std::nullopt},
        RecordRow{"TimeWithColon", "1|000000000000|7:30|5|0", std::nullopt},
        RecordRow{"EmptyNumber", "1|000000000000|0730||0", std::nullopt},
        RecordRow{"BlanksAroundFieldsNotRead", " 1 |0011223344AA |730  | 5| -90 ",
                  std::vector<int>{0, 1, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAA, 7, 30, 5, 129, 30}},
        RecordRow{"CharactersAfterChipAndTimeNotRead", "1|0011223344AAx|0730 h|5|0",
                  std::vector<int>{0, 1, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAA, 7, 30, 5, 0, 0}},
        RecordRow{"BalanceWithLetter", "1|000000000000|0730|5|9O", std::nullopt},
        RecordRow{"BalanceFollowedByAnotherField", "1|000000000000|0730|5|-90|x", std::nullopt}),
    rowName<RecordRow>);

class Section2Record : public testing::TestWithParam<RecordRow> {};

TEST_P(Section2Record, FillsBytes2To8OrLeavesTheFrame) {
    CommandFrame frame = leftOver();
    const bool ok = parseSection2Record(GetParam().line, frame);
    ASSERT_EQ(ok, GetParam().bytes.has_value());
    if (!ok) {
        EXPECT_EQ(frame, leftOver());
        return;
    }
    EXPECT_EQ(span(frame, 2, 8), *GetParam().bytes);
    EXPECT_EQ(span(frame, 1, 1), span(leftOver(), 1, 1));
    EXPECT_EQ(span(frame, 9, 16), span(leftOver(), 9, 16));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Section2Record,
    testing::Values(
        RecordRow{"Example", "3|17|615|90|2", std::vector<int>{3, 17, 10, 15, 1, 30, 2}},
        RecordRow{"SixCharacters", "1|2|||", std::nullopt},
        RecordRow{"ShortestRecord", "1|2|0|0|5", std::vector<int>{1, 2, 0, 0, 0, 0, 5}},
        RecordRow{"NumbersKeepLowByte", "256|511|0|0|257", std::vector<int>{0, 255, 0, 0, 0, 0, 1}},
        RecordRow{"DurationHasNoFlagsAndKeepsLowByteOfHours", "0|0|15360|65535|0",
                  std::vector<int>{0, 0, 0, 0, 68, 15, 0}},
        RecordRow{"DurationTakenModulo65536", "0|0|65536|65595|0",
                  std::vector<int>{0, 0, 0, 0, 0, 59, 0}},
        RecordRow{"EmptyLastField", "1|2|3|4|", std::nullopt},
        RecordRow{"MissingSeparator", "1|2|3|4", std::nullopt},
        RecordRow{"NegativeNumbersKeepTheirLowBits", "-1|2|-1|4|-2",
                  std::vector<int>{255, 2, 68, 15, 0, 4, 254}},
        RecordRow{"LetterInFirstField", "a|2|3|4|5", std::nullopt},
        RecordRow{"SeparatorLineIsNoRecord", "-------", std::nullopt}),
    rowName<RecordRow>);

}  // namespace
}  // namespace kv
