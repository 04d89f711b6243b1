#include <gtest/gtest.h>

#include "link/ToUnitFrameParser.h"

namespace kv {
namespace {

std::string wire(std::uint8_t code, std::uint8_t fill = 0) {
    CommandFrame f;
    f.bytes.fill(fill);
    f[1] = code;
    const auto w = wireForm(f);
    return std::string(w.begin(), w.end());
}

std::vector<int> codes(const std::vector<CommandFrame>& frames) {
    std::vector<int> out;
    for (const auto& f : frames) out.push_back(f.code());
    return out;
}

TEST(ToUnitFrameParser, FindsFramesBetweenGarbage) {
    struct Row {
        const char* name;
        std::string input;
        std::vector<int> codes;
        std::uint64_t garbage;
        std::uint32_t errors;
    };
    const Row rows[] = {
        {"one frame", wire(8), {8}, 0, 0},
        {"two frames back to back", wire(8) + wire(9), {8, 9}, 0, 0},
        {"noise before", std::string("\x01\x02\x5A", 3) + wire(8), {8}, 3, 1},
        {"noise between counts once per stretch",
         wire(7) + "abc" + wire(8) + "d" + wire(9),
         {7, 8, 9},
         4,
         2},
        {"a third F0 before the header", "\xF0" + wire(8), {8}, 1, 1},
        {"header bytes out of order", std::string("\xF0\xA5\xF0", 3) + wire(8), {8}, 3, 1},
        {"header inside a frame's data is data", wire(3, 0xF0) + wire(9), {3, 9}, 0, 0},
    };
    for (const Row& row : rows) {
        ToUnitFrameParser p;
        EXPECT_EQ(codes(p.feed(row.input, 0)), row.codes) << row.name;
        EXPECT_EQ(p.garbageBytes(), row.garbage) << row.name;
        EXPECT_EQ(p.errors(), row.errors) << row.name;
    }
}

TEST(ToUnitFrameParser, FrameSpreadOverManyReadsIsWhole) {
    ToUnitFrameParser p;
    const std::string w = wire(6, 0x41);
    std::vector<CommandFrame> got;
    for (std::size_t i = 0; i < w.size(); ++i) {
        auto frames = p.feed(w.substr(i, 1), static_cast<std::int64_t>(i) * 5);
        got.insert(got.end(), frames.begin(), frames.end());
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(hexDump(got[0].bytes), "06 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41");
}

TEST(ToUnitFrameParser, HalfAFrameLeftTooLongIsDroppedAndTheNextFrameIsRead) {
    ToUnitFrameParser p;
    const std::string first = wire(8);
    EXPECT_TRUE(p.feed(first.substr(0, 10), 0).empty());
    ASSERT_TRUE(p.expiryMs().has_value());
    EXPECT_FALSE(p.expire(ToUnitFrameParser::kStaleFrameMs - 1));
    EXPECT_TRUE(p.expire(ToUnitFrameParser::kStaleFrameMs));
    EXPECT_FALSE(p.expiryMs().has_value());
    EXPECT_EQ(p.garbageBytes(), 10u);
    EXPECT_EQ(codes(p.feed(wire(9), 2000)), std::vector<int>{9});
}

TEST(ToUnitFrameParser, StaleHalfFrameIsDroppedWhenTheNextBytesArriveLate) {
    // Without expire() being called in between, feed() itself notices the gap.
    ToUnitFrameParser p;
    EXPECT_TRUE(p.feed(wire(8).substr(0, 5), 0).empty());
    EXPECT_EQ(codes(p.feed(wire(9), 5000)), std::vector<int>{9});
}

}  // namespace
}  // namespace kv
