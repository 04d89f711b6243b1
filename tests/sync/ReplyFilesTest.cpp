#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/Errors.h"
#include "sync/ReplyFiles.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

template <typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

class ReplyDir {
public:
    ReplyDir() { EXPECT_TRUE(m_dir.isValid()); }
    fs::path path(const char* name) const { return fs::path(m_dir.path().toStdString()) / name; }

private:
    QTemporaryDir m_dir;
};

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Padding that makes a reply long enough to be converted; it has no line ends of its own.
const std::string kPad(40, '.');

struct ConvertRow {
    const char* name;
    std::string getTxt;
    std::string getTmp;
};

class Prevedfile : public testing::TestWithParam<ConvertRow> {};

TEST_P(Prevedfile, ConvertsAndReturnsTheSize) {
    ReplyDir dir;
    writeFile(dir.path("get.txt"), GetParam().getTxt);
    writeFile(dir.path("get.tmp"), "stale download");
    EXPECT_EQ(prevedfile(dir.path("get.txt"), dir.path("get.tmp")), GetParam().getTxt.size());
    EXPECT_EQ(readFile(dir.path("get.tmp")), GetParam().getTmp);
    EXPECT_EQ(readFile(dir.path("get.txt")), GetParam().getTxt);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Prevedfile,
    testing::Values(ConvertRow{"EmptyReplyLeavesEmptyCopy", "", ""},
                    ConvertRow{"ThirtyBytesAreNotCopied", std::string(29, 'x') + "\n", ""},
                    ConvertRow{"ThirtyOneBytesAreCopied", std::string(31, 'x'),
                               std::string(31, 'x')},
                    ConvertRow{"ThirtyOneWithLineEnd", std::string(30, 'x') + "\n",
                               std::string(30, 'x') + "\r\n"},
                    ConvertRow{"LfBecomesCrLf", "a\nb\n" + kPad, "a\r\nb\r\n" + kPad},
                    ConvertRow{"CrLfBecomesCrCrLf", "a\r\n" + kPad, "a\r\r\n" + kPad},
                    ConvertRow{"LoneCrStays", "a\rb" + kPad, "a\rb" + kPad},
                    ConvertRow{"LfLfGetsTwoCrs", kPad + "\n\n", kPad + "\r\n\r\n"},
                    ConvertRow{"AllByteValuesPass",
                               [] {
                                   std::string s;
                                   for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
                                   return s;
                               }(),
                               [] {
                                   std::string s;
                                   for (int b = 0; b < 256; ++b) {
                                       if (b == '\n') s.push_back('\r');
                                       s.push_back(static_cast<char>(b));
                                   }
                                   return s;
                               }()}),
    rowName<ConvertRow>);

TEST(Prevedfile, LargeReplyAcrossBufferBoundaries) {
    ReplyDir dir;
    std::string reply;
    std::string expected;
    for (int i = 0; reply.size() < 300'000; ++i) {
        const std::string line =
            std::to_string(i) + "|" + std::string(static_cast<std::size_t>(i % 97), 'a');
        reply += line + "\n";
        expected += line + "\r\n";
    }
    writeFile(dir.path("get.txt"), reply);
    EXPECT_EQ(prevedfile(dir.path("get.txt"), dir.path("get.tmp")), reply.size());
    EXPECT_EQ(readFile(dir.path("get.tmp")), expected);
}

TEST(Prevedfile, MissingReplyGivesZeroAndLeavesCopyAlone) {
    ReplyDir dir;
    EXPECT_EQ(prevedfile(dir.path("get.txt"), dir.path("get.tmp")), 0u);
    EXPECT_FALSE(fs::exists(dir.path("get.tmp")));
}

TEST(Prevedfile, UnwritableCopyIsAHandlerError) {
    ReplyDir dir;
    writeFile(dir.path("get.txt"), kPad);
    fs::create_directory(dir.path("get.tmp"));
    EXPECT_THROW(prevedfile(dir.path("get.txt"), dir.path("get.tmp")), HandlerError);
}

struct LinesRow {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

class ReplyLines : public testing::TestWithParam<LinesRow> {};

std::vector<std::string> readAll(const fs::path& path) {
    ReplyLineReader reader(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.next(line)) lines.push_back(line);
    EXPECT_FALSE(reader.next(line)) << "the end stays the end";
    return lines;
}

TEST_P(ReplyLines, SplitsAtCr) {
    ReplyDir dir;
    writeFile(dir.path("get.tmp"), GetParam().text);
    EXPECT_EQ(readAll(dir.path("get.tmp")), GetParam().lines);
}

using Lines = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyLines,
    testing::Values(LinesRow{"EmptyFileHasNoLines", "", Lines{}},
                    LinesRow{"CrLfEnds", "a\r\nb\r\n", Lines{"a", "b"}},
                    LinesRow{"LoneCrEnds", "a\rb\r", Lines{"a", "b"}},
                    LinesRow{"LastLineWithoutEnd", "a\r\nb", Lines{"a", "b"}},
                    LinesRow{"ConvertedCrLfGivesEmptyLine", "a\r\r\nb\r\r\n",
                             Lines{"a", "", "b", ""}},
                    LinesRow{"CrCrWithoutLfGivesEmptyLine", "a\r\rb", Lines{"a", "", "b"}},
                    LinesRow{"LfAloneIsNoLineEnd", "a\nb\r\n", Lines{"a\nb"}},
                    LinesRow{"LfCrIsLfThenLineEnd", "a\n\rb", Lines{"a\n", "b"}},
                    LinesRow{"OnlyCrIsOneEmptyLine", "\r", Lines{""}},
                    LinesRow{"CtrlZEndsTheText",
                             "a\r\nb\x1A"
                             "c\r\nd\r\n",
                             Lines{"a", "b"}},
                    LinesRow{"CtrlZAtStart",
                             "\x1A"
                             "a\r\n",
                             Lines{}},
                    LinesRow{"CtrlZAfterCr", "a\r\x1A\nb", Lines{"a"}},
                    LinesRow{"Cp1250AndNulPass", std::string("\xE8\xE1\0x\r\n", 6),
                             Lines{std::string("\xE8\xE1\0x", 4)}},
                    LinesRow{"LongLineKeepsItsStart", std::string(1000, 'x') + "y\r\nnext\r\n",
                             Lines{std::string(ReplyLineReader::kKeptPerLine, 'x'), "next"}}),
    rowName<LinesRow>);

TEST(ReplyLineReader, MissingFileIsAHandlerError) {
    ReplyDir dir;
    EXPECT_THROW(ReplyLineReader reader(dir.path("get.tmp")), HandlerError);
}

TEST(ReplyLineReader, HugeLineIsReadToItsEnd) {
    ReplyDir dir;
    {
        std::ofstream out(dir.path("get.tmp"), std::ios::binary);
        out << "first\r\n";
        const std::string block(1 << 16, 'z');
        for (int i = 0; i < 64; ++i) out << block;  // a 4 MB line
        out << "\r\nlast";
        ASSERT_TRUE(out.good());
    }
    EXPECT_EQ(readAll(dir.path("get.tmp")),
              (Lines{"first", std::string(ReplyLineReader::kKeptPerLine, 'z'), "last"}));
}

}  // namespace
}  // namespace kv
