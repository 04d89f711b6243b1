#include <gtest/gtest.h>

#include <vector>

#include "sync/Statistics.h"

namespace kv {
namespace {

template <typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// A FrameCode-3 report; the 16-bit positions are given as values.
CommandFrame statisticsFrame(std::uint8_t size, std::uint16_t p6, std::uint16_t p8,
                             std::uint16_t p10, std::uint16_t p12, std::uint8_t lost = 0) {
    CommandFrame frame;
    frame[1] = 3;
    frame[2] = size;
    frame[3] = 11;  // transmission errors
    frame[4] = 22;  // transmissions
    frame[5] = 33;  // last terminal
    auto put = [&frame](int n, std::uint16_t v) {
        frame[n] = static_cast<std::uint8_t>(v >> 8);
        frame[n + 1] = static_cast<std::uint8_t>(v & 0xFF);
    };
    put(6, p6);
    put(8, p8);
    put(10, p10);
    put(12, p12);
    frame[14] = lost;
    frame[15] = 0xEE;
    frame[16] = 0xEE;
    return frame;
}

Bytes textOf(const std::vector<FieldUpdate>& updates, Field field) {
    for (const auto& u : updates)
        if (u.field == field) return u.text;
    return "<none>";
}

struct RoundRow {
    const char* name;
    std::uint32_t num;
    std::uint32_t den;
    std::uint32_t result;
};

class RoundHalfEven : public testing::TestWithParam<RoundRow> {};

TEST_P(RoundHalfEven, NearestWithHalvesToEven) {
    EXPECT_EQ(roundHalfEven(GetParam().num, GetParam().den), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RoundHalfEven,
    testing::Values(RoundRow{"HalfDownToZero", 2, 4, 0}, RoundRow{"HalfUpToTwo", 6, 4, 2},
                    RoundRow{"HalfDownToTwo", 10, 4, 2}, RoundRow{"HalfUpToFour", 14, 4, 4},
                    RoundRow{"BelowHalf", 5, 4, 1}, RoundRow{"AboveHalf", 7, 4, 2},
                    RoundRow{"Exact", 13, 13, 1}, RoundRow{"Zero", 0, 7, 0},
                    RoundRow{"LargestOf16Bits", 65535, 11, 5958}),
    rowName<RoundRow>);

TEST(StatisticsUpdates, ExampleReportAllFieldsInOrder) {
    const auto updates = statisticsUpdates(statisticsFrame(0, 0xFF00, 516, 1196, 866, 2));
    const std::vector<FieldUpdate> expected = {
        {Field::statram, "64 kB"},   {Field::statneterr, "11"}, {Field::statout, "22"},
        {Field::statadr, "33"},      {Field::statwramt, "64"},  {Field::statsubj, "20"},
        {Field::statopr, "50"},      {Field::statud, "30"},     {Field::statfree, "64084"},
        {Field::statfreeid, "5825"}, {Field::statlost, "2"},
    };
    EXPECT_EQ(updates, expected);
}

struct StatRow {
    const char* name;
    CommandFrame frame;
    Field field;
    Bytes text;
};

class StatisticsField : public testing::TestWithParam<StatRow> {};

TEST_P(StatisticsField, Shows) {
    EXPECT_EQ(textOf(statisticsUpdates(GetParam().frame), GetParam().field), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatisticsField,
    testing::Values(
        StatRow{"SizeCode80Is32kB", statisticsFrame(0x80, 0, 0, 0, 0), Field::statram, "32 kB"},
        StatRow{"UnknownSizeCodeShownAsNumber", statisticsFrame(1, 0, 0, 0, 0), Field::statram,
                "1"},
        // With an unknown code the top of memory is 0x7FFF: 32767 - 65280 wraps to 33023, +1.
        StatRow{"TerminalsWrapBelowSmallTop", statisticsFrame(1, 0xFF00, 516, 1196, 866),
                Field::statwramt, "8256"},
        StatRow{"NoTerminalTableShowsZero", statisticsFrame(0, 0, 516, 1196, 866), Field::statwramt,
                "0"},
        StatRow{"FreeFromTopWhenNoTerminalTable", statisticsFrame(0, 0, 516, 1196, 866),
                Field::statfree, "64339"},
        StatRow{"FreeFromSmallTopWhenNoTerminalTable", statisticsFrame(0x80, 0, 0, 767, 0),
                Field::statfree, "32000"},
        StatRow{"FreeIdIsCutNotRounded", statisticsFrame(0, 0, 0, 65535 - 21, 0), Field::statfreeid,
                "1"},
        StatRow{"TerminalsX2RoundsToZero", statisticsFrame(0, 0xFFFE, 0, 0, 0), Field::statwramt,
                "0"},
        StatRow{"TerminalsX6RoundsToTwo", statisticsFrame(0, 0xFFFA, 0, 0, 0), Field::statwramt,
                "2"},
        StatRow{"TerminalsX10RoundsToTwo", statisticsFrame(0, 0xFFF6, 0, 0, 0), Field::statwramt,
                "2"},
        // 0x7FFF - 0x8000 wraps to 0xFFFF; the +1 does not wrap: 65536 / 4.
        StatRow{"TerminalsPlusOneDoesNotWrap", statisticsFrame(1, 0x8000, 0, 0, 0),
                Field::statwramt, "16384"},
        StatRow{"SubjectsBelow256Wrap", statisticsFrame(0, 0, 0, 0, 0), Field::statsubj, "5022"},
        StatRow{"PermissionsWrap", statisticsFrame(0, 0, 7, 0, 0), Field::statopr, "9361"},
        StatRow{"QueueWraps", statisticsFrame(0, 0, 0, 0, 11), Field::statud, "5957"},
        StatRow{"LostIsByte14", statisticsFrame(0, 0, 0, 0, 0, 255), Field::statlost, "255"}),
    rowName<StatRow>);

CommandFrame chipFrame(std::uint8_t size, std::uint16_t p8, std::uint16_t p10, std::uint16_t p12) {
    CommandFrame frame;
    frame[1] = 4;
    const std::uint8_t chip[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (int i = 0; i < 6; ++i) frame[2 + i] = chip[i];
    frame[8] = static_cast<std::uint8_t>(p8 >> 8);
    frame[9] = static_cast<std::uint8_t>(p8 & 0xFF);
    frame[10] = static_cast<std::uint8_t>(p10 >> 8);
    frame[11] = static_cast<std::uint8_t>(p10 & 0xFF);
    frame[12] = static_cast<std::uint8_t>(p12 >> 8);
    frame[13] = static_cast<std::uint8_t>(p12 & 0xFF);
    frame[14] = size;
    frame[15] = 4;
    frame[16] = 9;
    return frame;
}

TEST(ChipText, Bytes2To7FirstByteFirstUpperCase) {
    EXPECT_EQ(chipText(chipFrame(0, 0, 0, 0)), "001A2B3C4D5E");
    CommandFrame frame;
    for (int n = 2; n <= 7; ++n) frame[n] = 0xFF;
    EXPECT_EQ(chipText(frame), "FFFFFFFFFFFF");
}

struct ChipRow {
    const char* name;
    CommandFrame frame;
    std::vector<FieldUpdate> updates;
};

class ChipStatistics : public testing::TestWithParam<ChipRow> {};

TEST_P(ChipStatistics, FieldsInOrder) {
    EXPECT_EQ(chipStatisticsUpdates(GetParam().frame), GetParam().updates);
}

INSTANTIATE_TEST_SUITE_P(Rows, ChipStatistics,
                         testing::Values(ChipRow{"SizeCode0IsShownAndAveragesRounded",
                                                 chipFrame(0, 1196, 866, 1251),
                                                 {{Field::statram, "64 kB"},
                                                  {Field::statneterr, "4"},
                                                  {Field::statlost, "9"},
                                                  {Field::statud, "30"},
                                                  {Field::statfreeid, "5"}}},
                                         ChipRow{"SizeCode80Is32kB",
                                                 chipFrame(0x80, 0, 0, 0),
                                                 {{Field::statram, "32 kB"},
                                                  {Field::statneterr, "4"},
                                                  {Field::statlost, "9"},
                                                  {Field::statud, "0"},
                                                  {Field::statfreeid, "0"}}},
                                         // Unlike the statistics report an unknown code leaves the
                                         // memory size as it was.
                                         ChipRow{"UnknownSizeCodeLeavesMemoryField",
                                                 chipFrame(5, 0, 11, 5),
                                                 {{Field::statneterr, "4"},
                                                  {Field::statlost, "9"},
                                                  {Field::statud, "5957"},
                                                  {Field::statfreeid, "0"}}},
                                         ChipRow{"FreeIdIsRoundedNotCut",
                                                 chipFrame(0, 0, 0, 10),
                                                 {{Field::statram, "64 kB"},
                                                  {Field::statneterr, "4"},
                                                  {Field::statlost, "9"},
                                                  {Field::statud, "0"},
                                                  {Field::statfreeid, "1"}}}),
                         rowName<ChipRow>);

}  // namespace
}  // namespace kv
