#include <gtest/gtest.h>

#include <QString>
#include <set>
#include <string>

#include "link/Cp1250.h"

namespace kv {
namespace {

struct CodeRow {
    const char* name;
    unsigned char byte;
    char16_t unicode;
};

class Cp1250Byte : public testing::TestWithParam<CodeRow> {};

TEST_P(Cp1250Byte, DecodesAndEncodesBothWays) {
    const std::string byte(1, static_cast<char>(GetParam().byte));
    const QString text = fromCp1250(byte);
    ASSERT_EQ(text.size(), 1);
    EXPECT_EQ(text.at(0).unicode(), GetParam().unicode);
    EXPECT_EQ(toCp1250(QString(QChar(GetParam().unicode))), byte);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Cp1250Byte,
    testing::Values(CodeRow{"Nul", 0x00, 0x0000}, CodeRow{"AsciiA", 'A', u'A'},
                    CodeRow{"Delete", 0x7F, 0x007F}, CodeRow{"Euro", 0x80, 0x20AC},
                    CodeRow{"Undefined81", 0x81, 0x0081}, CodeRow{"Undefined83", 0x83, 0x0083},
                    CodeRow{"Undefined88", 0x88, 0x0088}, CodeRow{"Undefined90", 0x90, 0x0090},
                    CodeRow{"Undefined98", 0x98, 0x0098}, CodeRow{"SCaron", 0x8A, 0x0160},
                    CodeRow{"TCaron", 0x8D, 0x0164}, CodeRow{"ZCaronSmall", 0x9E, 0x017E},
                    CodeRow{"NoBreakSpace", 0xA0, 0x00A0}, CodeRow{"LCaron", 0xBC, 0x013D},
                    CodeRow{"RAcute", 0xC0, 0x0154}, CodeRow{"CCaron", 0xC8, 0x010C},
                    CodeRow{"URing", 0xD9, 0x016E}, CodeRow{"ADiaeresisSmall", 0xE4, 0x00E4},
                    CodeRow{"ECaronSmall", 0xEC, 0x011B}, CodeRow{"RCaronSmall", 0xF8, 0x0159},
                    CodeRow{"URingSmall", 0xF9, 0x016F}, CodeRow{"DotAbove", 0xFF, 0x02D9}),
    [](const testing::TestParamInfo<CodeRow>& info) { return std::string(info.param.name); });

TEST(Cp1250, All256ByteValuesSurviveTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const QString text = fromCp1250(all);
    EXPECT_EQ(text.size(), 256);
    std::set<char16_t> distinct;
    for (QChar c : text) distinct.insert(c.unicode());
    EXPECT_EQ(distinct.size(), 256u);
    EXPECT_EQ(toCp1250(text), all);
}

TEST(Cp1250, CzechSentenceFromTheWindow) {
    const QString typed = QString::fromUtf8("Příliš žluťoučký kůň úpěl ďábelské ódy");
    const std::string bytes =
        "P\xF8\xED"
        "li\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 \xFAp\xECl \xEF\xE1"
        "belsk\xE9 \xF3"
        "dy";
    EXPECT_EQ(toCp1250(typed), bytes);
    EXPECT_EQ(fromCp1250(bytes), typed);
}

struct UnmappableRow {
    const char* name;
    QString text;
    std::string bytes;
};

class Cp1250Unmappable : public testing::TestWithParam<UnmappableRow> {};

TEST_P(Cp1250Unmappable, BecomesQuestionMark) {
    EXPECT_EQ(toCp1250(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Cp1250Unmappable,
    testing::Values(
        // 0xE0 is r with acute in this code page, so a with grave has no byte.
        UnmappableRow{"AGrave", QString(QChar(0x00E0)), "?"},
        // 0x80 is the euro sign; the C1 control U+0080 has no byte of its own.
        UnmappableRow{"ControlU0080", QString(QChar(0x0080)), "?"},
        UnmappableRow{"Cjk", QString(QChar(0x4E2D)), "?"},
        UnmappableRow{"SurrogatePairIsOneCharacter",
                      QString::fromUtf8("a\xF0\x9F\x98\x80"
                                        "b"),
                      "a?b"},
        UnmappableRow{"LoneHighSurrogate", QString(QChar(0xD83D)) + QChar(u'x'), "?x"},
        UnmappableRow{"LoneLowSurrogate", QString(QChar(0xDE00)), "?"}),
    [](const testing::TestParamInfo<UnmappableRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
