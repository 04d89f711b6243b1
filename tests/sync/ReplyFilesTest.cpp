#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
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

std::string repeated(const std::string& piece, std::size_t times) {
    std::string s;
    s.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) s += piece;
    return s;
}

// Shows where two replies part, also for replies of megabytes, whose full diff would take
// minutes to print.
testing::AssertionResult sameBytes(const std::string& got, const std::string& want) {
    if (got == want) return testing::AssertionSuccess();
    const std::size_t n = std::min(got.size(), want.size());
    std::size_t at = 0;
    while (at < n && got[at] == want[at]) ++at;
    const std::size_t from = at < 8 ? 0 : at - 8;
    return testing::AssertionFailure()
           << "sizes " << got.size() << " and " << want.size() << ", first difference at " << at
           << ": got " << testing::PrintToString(got.substr(from, 16)) << ", want "
           << testing::PrintToString(want.substr(from, 16));
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
    EXPECT_TRUE(sameBytes(readFile(dir.path("get.tmp")), GetParam().getTmp));
    EXPECT_TRUE(sameBytes(readFile(dir.path("get.txt")), GetParam().getTxt));
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
                    ConvertRow{"CrLfStaysCrLf", "a\r\n" + kPad, "a\r\n" + kPad},
                    ConvertRow{"CrCrLfStays", "a\r\r\n" + kPad, "a\r\r\n" + kPad},
                    ConvertRow{"LfCrLfGetsOneCr", kPad + "\n\r\n", kPad + "\r\n\r\n"},
                    ConvertRow{"ThirtyOneWithCrLf", std::string(29, 'x') + "\r\n",
                               std::string(29, 'x') + "\r\n"},
                    ConvertRow{"ThirtyWithCrLfAreNotCopied", std::string(28, 'x') + "\r\n", ""},
                    // Repeated often enough that buffer boundaries of any power-of-two size fall
                    // on each of the three bytes: a chunk ends in a CR whose LF starts the next
                    // one, ends in an LF after a CR, and ends in a bare LF.
                    ConvertRow{"CrLfAndLfAcrossChunkBoundaries", repeated("\r\n\n", 300'000),
                               repeated("\r\n\r\n", 300'000)},
                    ConvertRow{"ChunkEndingInCrBeforeOtherBytes", repeated("x\ry", 300'000),
                               repeated("x\ry", 300'000)},
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

// What the event answer reads after the conversion: the name follows the marker whichever line
// ends the server used.
TEST(Prevedfile, RepliesReadTheSameWithAnyLineEnds) {
    const Lines expected{"---OK---", "Jan Nov\xE1k", "# udalost 1 ulozena"};
    for (const char* end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        ReplyDir dir;
        std::string reply;
        for (const std::string& line : expected) reply += line + end;
        writeFile(dir.path("get.txt"), reply);
        ASSERT_GT(prevedfile(dir.path("get.txt"), dir.path("get.tmp")), 30u);
        EXPECT_EQ(readAll(dir.path("get.tmp")), expected);
    }
}

}  // namespace
}  // namespace kv
