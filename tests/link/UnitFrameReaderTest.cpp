// Golden rows for the reader of the unit's frames: what arrives when, what the engine asks, and
// every answer in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/UnitFrameReader.h"

namespace kv {
namespace {

// 16 frame bytes: the code, then fill.
std::string body(int code, int fill = 0x11) {
    std::string b(16, static_cast<char>(fill));
    b[0] = static_cast<char>(code);
    return b;
}
std::string Z(const std::string& b) { return "Z" + b; }
// The wire form of a frame with the byte at offset `at` (0 is the marker) lost on the line.
std::string lost(const std::string& b, std::size_t at, std::size_t n = 1) {
    return Z(b).erase(at, n);
}

struct Step {
    enum Op { feed, search, read, abandon, purge } op;
    std::int64_t atMs = 0;
    std::string bytes;
};
Step feed(std::int64_t at, std::string bytes) { return {Step::feed, at, std::move(bytes)}; }
Step search() { return {Step::search, 0, {}}; }
Step read(std::int64_t at) { return {Step::read, at, {}}; }
Step abandon() { return {Step::abandon, 0, {}}; }
Step purge() { return {Step::purge, 0, {}}; }

// What each step answered: "frame <hex>", "more", "quiet", "none", "marker", "no marker",
// "overflow" (feeds that were taken say nothing).
std::string out(const std::string& frame) { return "frame " + hexDump(frame); }

struct Row {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> answers;
    std::string dropped = {};  // damaged or abandoned bytes, all of them in order
};

void run(const Row& row) {
    SCOPED_TRACE(row.name);
    UnitFrameReader r;
    std::vector<std::string> answers;
    std::string dropped;
    for (const Step& s : row.steps) {
        switch (s.op) {
            case Step::feed:
                if (!r.feed(s.bytes, s.atMs)) answers.push_back("overflow");
                break;
            case Step::search:
                answers.push_back(r.findMarker() ? "marker" : "no marker");
                break;
            case Step::read: {
                r.feed({}, s.atMs);  // the engine looks at the port before it reads
                const UnitFrameReader::Result res = r.read();
                dropped += res.dropped;
                using S = UnitFrameReader::Status;
                const std::string frame(res.frame.bytes.begin(), res.frame.bytes.end());
                answers.push_back(res.status == S::frame       ? out(frame)
                                  : res.status == S::needMore  ? "more"
                                  : res.status == S::needQuiet ? "quiet"
                                                               : "none");
                break;
            }
            case Step::abandon:
                dropped += r.abandon();
                break;
            case Step::purge:
                r.purge();
                break;
        }
    }
    EXPECT_EQ(answers, row.answers);
    EXPECT_EQ(hexDump(dropped), hexDump(row.dropped));
}

const std::string A = body(2), B = body(3, 0x22), C = body(4, 0x33);
const std::string zA = body(2, 0x5A);  // every byte after the code is 'Z'
const std::string zB = [] {  // 'Z' only where a frame 11 bytes short would see its next marker
    std::string b = body(3, 0x22);
    b[5] = 'Z';
    return b;
}();

TEST(UnitFrameReader, WholeFramesComeOutAndDamagedOnesNever) {
    // A frame whose 15th byte is 'Z': behind a frame that lost two bytes, it lines up with the
    // marker of the frame after, as a frame of its own would.
    std::string zAt15 = body(5, 0x44);
    zAt15[14] = 'Z';
    const Row rows[] = {
        {"one frame, read two ticks after its marker",
         {feed(0, Z(A)), search(), read(200)},
         {"marker", out(A)}},
        {"noise before the marker goes at the search",
         {feed(0, "xy\x01" + Z(A)), search(), read(200)},
         {"marker", out(A)}},
        {"noise without a marker", {feed(0, "xyz"), search()}, {"no marker"}},
        {"'Z' in the data", {feed(0, Z(zA)), search(), read(200)}, {"marker", out(zA)}},
        {"frame split across the settle ticks",
         {feed(0, Z(A).substr(0, 8)), search(), feed(100, Z(A).substr(8)), read(200)},
         {"marker", out(A)}},
        {"tail arriving during the read's wait is taken once the line is quiet",
         {feed(0, Z(A).substr(0, 11)), search(), read(200), feed(1500, Z(A).substr(11)), read(1500),
          read(1600)},
         {"marker", "more", "quiet", out(A)}},
        {"short frame abandoned at the end of the wait",
         {feed(0, Z(A).substr(0, 11)), search(), read(200), read(3000), abandon(), search()},
         {"marker", "more", "more", "no marker"},
         Z(A).substr(0, 11)},
        {"back-to-back frames, one per read",
         {feed(0, Z(A) + Z(B) + Z(C)), search(), read(200), search(), read(500), search(),
          read(800), search()},
         {"marker", out(A), "marker", out(B), "marker", out(C), "no marker"}},
        {"back-to-back frames with 'Z's at the joint",
         {feed(0, Z(zA) + Z(zA)), search(), read(200), read(200)},
         {"marker", out(zA), out(zA)}},
        {"frames known whole stay whole whatever arrives behind them",
         {feed(0, Z(A) + Z(B)), search(), read(200), feed(250, lost(C, 3)), read(500)},
         {"marker", out(A), out(B)}},
        // The unit sent events 11, damaged, and 12 within the read's wait.
        {"damaged frame followed by a frame",
         {feed(0, lost(A, 5)), search(), read(200), feed(1000, Z(B)), read(1000), read(1100)},
         {"marker", "more", "quiet", out(B)},
         lost(A, 5)},
        {"damaged frame completed by the next marker alone is not taken",
         {feed(0, lost(A, 5)), search(), read(200), feed(1000, "Z"), read(1000), feed(1004, B),
          read(1004), read(1104)},
         {"marker", "more", "quiet", "quiet", out(B)},
         lost(A, 5)},
        {"damaged frame and the next frame in one burst: both dropped",
         {feed(0, lost(A, 9) + Z(B)), search(), read(200)},
         {"marker", "none"},
         lost(A, 9) + Z(B)},
        {"frame cut short, then after a quiet line a frame with a 'Z' where the first ends",
         {feed(0, Z(A).substr(0, 11)), search(), read(200), feed(1000, Z(zB)), read(1000),
          read(1100)},
         {"marker", "more", "more", out(zB)},
         Z(A).substr(0, 11)},
        {"frame that lost its marker, then a frame",
         {feed(0, lost(A, 0) + Z(B)), search(), read(200)},
         {"marker", out(B)}},
        {"stray 'Z' before a frame",
         {feed(0, "Z" + Z(B)), search(), read(200)},
         {"marker", out(B)}},
        {"stray 'Z' before a frame that ends in 'Z'",
         {feed(0, "Z" + Z(zA)), search(), read(200)},
         {"marker", out(zA)}},
        {"stray 'Z' between back-to-back frames",
         {feed(0, Z(A) + "Z" + Z(B)), search(), read(200), search(), read(300)},
         {"marker", out(A), "marker", out(B)}},
        {"damaged frame amid back-to-back frames costs the frames behind it",
         {feed(0, Z(A) + lost(B, 7, 2) + Z(C)), search(), read(200), search(), read(300)},
         {"marker", out(A), "marker", "none"},
         lost(B, 7, 2) + Z(C)},
        {"a data 'Z' lining up with the frame behind a damaged one is no marker",
         {feed(0, Z(zAt15) + lost(B, 7, 2) + Z(C)), search(), read(200)},
         {"marker", "none"},
         Z(zAt15) + lost(B, 7, 2) + Z(C)},
        {"a data 'Z' lining up with the end of a frame's tail is no marker",
         {feed(0, Z(zAt15) + Z(C).substr(2)), search(), read(200)},
         {"marker", "none"},
         Z(zAt15) + Z(C).substr(2)},
        {"frames with a 'Z' inside still arriving at the end of the wait are all dropped",
         {feed(0, Z(zA) + Z(B).substr(0, 5)), search(), read(200), abandon()},
         {"marker", "more"},
         Z(zA) + Z(B).substr(0, 5)},
        {"a frame without a 'Z' inside is taken when the next marker follows",
         {feed(0, Z(A) + Z(B).substr(0, 5)), search(), read(200), read(300), abandon()},
         {"marker", out(A), "more"},
         Z(B).substr(0, 5)},
        {"nothing whole behind a damaged frame",
         {feed(0, lost(A, 4) + "xyzw"), search(), read(200)},
         {"marker", "none"},
         lost(A, 4) + "xyzw"},
        {"purge mid-frame drops the frame under way",
         {feed(0, Z(A).substr(0, 8)), search(), feed(50, Z(A).substr(8)), purge(), feed(100, Z(B)),
          search(), read(300)},
         {"marker", "marker", out(B)}},
        {"purge drops frames kept behind a frame",
         {feed(0, Z(A) + Z(B)), search(), read(200), purge(), search()},
         {"marker", out(A), "no marker"}},
        {"input beyond the cap is dropped whole",
         {feed(0, Z(A).substr(0, 5)), search(),
          feed(10, std::string(UnitFrameReader::kMaxPendingInput, 'Z')), search(), feed(20, Z(B)),
          search(), read(300)},
         {"marker", "overflow", "no marker", "marker", out(B)}},
    };
    for (const Row& row : rows) run(row);
}

}  // namespace
}  // namespace kv
