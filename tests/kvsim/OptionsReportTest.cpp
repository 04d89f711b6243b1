#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "Options.h"
#include "Report.h"

namespace kvsim {
namespace {

CliOptions parse(std::vector<std::string> args) {
    const auto parsed = parseCommandLine(args);
    EXPECT_TRUE(parsed.options.has_value()) << parsed.error;
    return parsed.options.value_or(CliOptions{});
}

TEST(CommandLine, DefaultsAreThoseOfTheHelp) {
    const CliOptions o = parse({});
    EXPECT_EQ(o.unit.events, 10);
    EXPECT_DOUBLE_EQ(o.unit.intervalS, 2);
    EXPECT_EQ(o.unit.cardEvery, 0);
    EXPECT_EQ(o.unit.nameRequest, NameRequest::alternate);
    EXPECT_DOUBLE_EQ(o.unit.answerTimeoutS, 35);
    EXPECT_DOUBLE_EQ(o.unit.lingerS, 2);
    EXPECT_EQ(o.unit.chips, defaultChips());
    EXPECT_TRUE(o.unit.waitForBridge);
    EXPECT_FALSE(o.durationS.has_value());
}

TEST(CommandLine, ValuesInBothSpellingsAndFlags) {
    const CliOptions o = parse({"--events",
                                "0",
                                "--interval=0.5",
                                "--card-every",
                                "3",
                                "--name-request",
                                "never",
                                "--answer-timeout",
                                "1.5",
                                "--stats-every",
                                "4",
                                "--stats-at-start",
                                "--clock-report-every=9",
                                "--clock-report-at-start",
                                "--noise",
                                "--split",
                                "--truncate-every",
                                "4",
                                "--back-to-back-every",
                                "5",
                                "--z-in-data",
                                "--forever",
                                "--duration",
                                "60",
                                "--linger",
                                "0",
                                "--tables-out",
                                "t.txt",
                                "--summary-json",
                                "s.json",
                                "--device-file",
                                "dev",
                                "--log",
                                "l",
                                "--no-wait",
                                "--memory",
                                "32"});
    EXPECT_EQ(o.unit.events, 0);
    EXPECT_DOUBLE_EQ(o.unit.intervalS, 0.5);
    EXPECT_EQ(o.unit.cardEvery, 3);
    EXPECT_EQ(o.unit.nameRequest, NameRequest::never);
    EXPECT_DOUBLE_EQ(o.unit.answerTimeoutS, 1.5);
    EXPECT_DOUBLE_EQ(o.unit.statsEveryS, 4);
    EXPECT_DOUBLE_EQ(o.unit.clockReportEveryS, 9);
    EXPECT_TRUE(o.unit.statsAtStart && o.unit.clockReportAtStart && o.unit.noise && o.unit.split &&
                o.unit.zInData && o.unit.forever && o.unit.memory32k);
    EXPECT_FALSE(o.unit.waitForBridge);
    EXPECT_EQ(o.unit.truncateEvery, 4);
    EXPECT_EQ(o.unit.backToBackEvery, 5);
    EXPECT_EQ(o.durationS, 60.0);
    EXPECT_EQ(o.tablesOut, "t.txt");
    EXPECT_EQ(o.summaryJson, "s.json");
    EXPECT_EQ(o.deviceFile, "dev");
    EXPECT_EQ(o.logFile, "l");
}

TEST(CommandLine, ChipsFromFileThenArgumentsGiveTheKodOrder) {
    char path[] = "/tmp/kvsim-chipsXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text = "# workers\n0000A1B2C3D4\n\n  00001a2b3c4d  \r\n";
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    const CliOptions o = parse({"--chip", "0102030405A0", "--chips", path});
    ::unlink(path);
    const std::vector<Chip> expected = {{0x00, 0x00, 0xA1, 0xB2, 0xC3, 0xD4},
                                        {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D},
                                        {0x01, 0x02, 0x03, 0x04, 0x05, 0xA0}};
    EXPECT_EQ(o.unit.chips, expected);
}

TEST(CommandLine, BadInputIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--events"},
        {"--events", "many"},
        {"--interval", "-1"},
        {"--name-request", "sometimes"},
        {"--chip", "12345"},
        {"--chip", "00000000000G"},
        {"--chips", "/nonexistent/kvsim-chips"},
        {"--noise=yes"},
        {"--frobnicate"},
        {"--memory", "16"},
    };
    for (const auto& args : bad) {
        const auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.options.has_value()) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
}

TEST(ChipList, BadLineIsNamedByItsNumber) {
    const ParsedChips parsed = parseChipList("0000A1B2C3D4\nnot a chip\n");
    EXPECT_EQ(parsed.error.rfind("line 2:", 0), 0u) << parsed.error;
}

TEST(Summary, JsonKeepsNamesReadableAndExact) {
    Summary s;
    s.eventsSent = 3;
    s.answered = 2;
    s.answeredWithName = 2;
    s.names = {"Novak Jan", std::string("m\xE4so \"X\"")};
    const std::string json = summaryJson(s);
    EXPECT_NE(json.find("\"events_sent\": 3,"), std::string::npos);
    EXPECT_NE(json.find("\"names\": [\"Novak Jan\", \"m\\u00E4so \\\"X\\\"\"]"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"names_hex\": [\"4E6F76616B204A616E\", \"6DE4736F20225822\"]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"last_clock_set\": null"), std::string::npos);
    for (const char* key : {"timed_out", "table_downloads", "s1_records", "s2_records",
                            "clock_sets", "stats_requests", "chip_requests", "fictitious_events"})
        EXPECT_NE(json.find(std::string("\"") + key + "\": 0"), std::string::npos) << key;
}

TEST(Files, AtomicWriteReplacesTheWholeFile) {
    const std::string path = "/tmp/kvsim-atomic-" + std::to_string(::getpid());
    EXPECT_EQ(writeFileAtomically(path, "first, longer content\n"), "");
    EXPECT_EQ(writeFileAtomically(path, "second\n"), "");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "second\n");
    ::unlink(path.c_str());
    EXPECT_NE(writeFileAtomically("/nonexistent/dir/file", "x"), "");
}

}  // namespace
}  // namespace kvsim
