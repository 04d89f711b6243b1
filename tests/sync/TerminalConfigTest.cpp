#include <gtest/gtest.h>

#include "sync/TerminalConfig.h"

namespace kv {
namespace {

struct ReadCase {
    const char* name;
    std::string file;
    TerminalConfig expected;
};

class ReadTerminalConfig : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTerminalConfig, AppliesTheLineRules) {
    EXPECT_EQ(parseTerminalConfig(GetParam().file), GetParam().expected);
}

const std::string kDefaults =
    "2\r\nhttp://localhost/kordavoweb/\r\nlocalhost\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadTerminalConfig,
    ::testing::Values(ReadCase{"defaults", kDefaults, defaultTerminalConfig()},
                      ReadCase{"empty_file", "", {"", "", "", "", "", "0", "0", "0"}},
                      ReadCase{"five_lines_leave_options_off",
                               "1\r\na\r\nh\r\n1\r\n7\r\n",
                               {"1", "a", "h", "1", "7", "0", "0", "0"}},
                      ReadCase{"five_lines_without_final_line_end",
                               "1\r\na\r\nh\r\n1\r\n7",
                               {"1", "a", "h", "1", "7", "0", "0", "0"}},
                      ReadCase{"lf_alone_is_no_line_end",
                               "2\nhttp://x/\nlocalhost\n0\n",
                               {"2\nhttp://x/\nlocalhost\n0\n", "", "", "", "", "0", "0", "0"}},
                      ReadCase{"cr_alone_ends_a_line",
                               "3\ra\rb\r1\r5\r1\r1\r1\r",
                               {"3", "a", "b", "1", "5", "1", "1", "1"}},
                      ReadCase{"ctrl_z_ends_the_file",
                               "4\r\nadr\r\n\x1A"
                               "host\r\n1\r\n",
                               {"4", "adr", "", "", "", "0", "0", "0"}},
                      ReadCase{"nothing_trimmed",
                               " 1 \r\n adr \r\n\r\n1 \r\n01\r\n01\r\n\r\n1\r\n",
                               {" 1 ", " adr ", "", "1 ", "01", "01", "", "1"}},
                      ReadCase{"beyond_line_eight_ignored", kDefaults + "9\r\n9\r\n",
                               defaultTerminalConfig()},
                      ReadCase{"seventh_line_missing_only",
                               "1\r\na\r\nh\r\n0\r\n0\r\n1\r\n",
                               {"1", "a", "h", "0", "0", "1", "0", "0"}},
                      ReadCase{"cp1250_bytes_pass",
                               "1\r\nhttp://\xE8\x9E/\r\n\r\n0\r\n0\r\n",
                               {"1", "http://\xE8\x9E/", "", "0", "0", "0", "0", "0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteTerminalConfig, EightLinesEachEndedByCrLf) {
    EXPECT_EQ(formatTerminalConfig(defaultTerminalConfig()), kDefaults);
    const TerminalConfig noPort{"", "a", "b", "1", "x", "1", "0", "1"};
    EXPECT_EQ(formatTerminalConfig(noPort), "\r\na\r\nb\r\n1\r\nx\r\n1\r\n0\r\n1\r\n");
    EXPECT_EQ(parseTerminalConfig(formatTerminalConfig(noPort)), noPort);
}

TEST(IntegerText, AcceptsWhatATypedNumberCanBe) {
    struct Row {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Row rows[] = {
        {"0", 0},
        {"12", 12},
        {"-1", -1},
        {"+5", 5},
        {"  42", 42},
        {"$1F", 31},
        {"0x10", 16},
        {"65536", 65536},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"12a", std::nullopt},
        {"1 ", std::nullopt},
        {"-", std::nullopt},
        {"2147483648", std::nullopt},
        {"1.5", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(parseIntegerText(row.text), row.value) << row.text;
}

}  // namespace
}  // namespace kv
