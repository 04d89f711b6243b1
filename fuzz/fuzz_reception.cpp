// The reader of the unit's frames, driven as the engine drives it, on a line that damages what
// the unit sends.  Every frame the reader hands out must be one the unit sent whole.
//
// The input steers a unit that sends bursts of frames back to back, each burst followed by a
// quiet line (the unit waits for its answer).  A burst suffers at most one damage: a frame
// loses up to 16 of its bytes (its marker among them, or its end), or noise or a stray 'Z'
// comes in front of the burst.  A burst that arrives while the read still waits for a frame
// is sent undamaged.  Frame bytes are often 'Z'.  The burst comes in pieces, with reads in
// between, as the ticks fall; now and then the read's wait runs out, or an undamaged burst is
// cut by a purge.  A burst that reaches an empty reader undamaged must come out whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/FuzzEngine.h"
#include "link/UnitFrameReader.h"

using namespace kv;
using kv::fuzz::require;

namespace {

using Status = UnitFrameReader::Status;

std::string frameBody(FuzzedDataProvider& in) {
    std::string body(16, '\0');
    for (char& c : body) {
        const auto b = in.ConsumeIntegral<std::uint8_t>();
        c = static_cast<char>(b < 0x30 ? 'Z' : b);
    }
    if (body[0] == 'Z') body[0] = 2;  // the unit sends no FrameCode 0x5A
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    UnitFrameReader reader;
    std::set<std::string> sentWhole;
    std::int64_t now = 0;
    bool waiting = false;  // the read waits for more of a frame under way

    const auto check = [&](const UnitFrameReader::Result& r) {
        if (r.status != Status::frame) return std::string();
        const std::string got(r.frame.bytes.begin(), r.frame.bytes.end());
        // The message is built only when it is needed: a dump for every frame read took a
        // sixth of the target's time.
        if (sentWhole.count(got) != 1)
            kv::fuzz::broken("a frame handed out that was not sent whole: " + hexDump(got));
        return got;
    };

    while (in.remaining_bytes() > 0) {
        // The burst as the unit sends it.
        const int frames = in.ConsumeIntegralInRange(1, 4);
        std::vector<std::string> bodies;
        std::string burst;
        for (int i = 0; i < frames; ++i) {
            bodies.push_back(frameBody(in));
            burst += "Z" + bodies.back();
        }
        // Its damage.
        enum { none, lose, noise, stray } damage = none;
        if (!waiting) damage = static_cast<decltype(damage)>(in.ConsumeIntegralInRange(0, 3));
        std::size_t damaged = bodies.size();  // the frame that lost bytes of its 16
        if (damage == lose) {
            const std::size_t frame = in.ConsumeIntegralInRange<std::size_t>(0, bodies.size() - 1);
            const std::size_t from = in.ConsumeIntegralInRange<std::size_t>(0, 16);
            const std::size_t n =
                in.ConsumeIntegralInRange<std::size_t>(1, std::min<std::size_t>(16, 17 - from));
            burst.erase(frame * 17 + from, n);
            // A frame that lost only its marker may still come out behind a 'Z' of the frame
            // in front: its 16 bytes are the unit's.
            if (from + n > 1) damaged = frame;
        } else if (damage == noise) {
            std::string bytes = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(1, 8));
            for (char& c : bytes)
                if (c == 'Z') c = 'Y';
            burst.insert(0, bytes);
        } else if (damage == stray) {
            burst.insert(0, "Z");
        }
        for (std::size_t i = 0; i < bodies.size(); ++i)
            if (i != damaged) sentWhole.insert(bodies[i]);

        // Whether everything it sent must come out: nothing was pending and nothing is lost.
        const bool whole = damage != lose && !waiting && !reader.pending();
        bool purged = false;
        std::vector<std::string> got;

        // On the line in pieces a few milliseconds apart, read now and then.
        for (std::size_t at = 0; at < burst.size();) {
            const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(1, burst.size() - at);
            now += in.ConsumeIntegralInRange<std::int64_t>(0, UnitFrameReader::kQuietMs - 1);
            if (!reader.feed(std::string_view(burst).substr(at, n), now)) purged = true;
            at += n;
            const int act = in.ConsumeIntegralInRange(0, 15);
            if (act == 0 && damage == none) {  // a purge cuts the burst: its one damage
                reader.purge();
                purged = true;
                waiting = false;
            } else if (act < 4 && (waiting || reader.findMarker())) {
                reader.feed({}, now);
                const UnitFrameReader::Result r = reader.read();
                if (r.status == Status::frame) got.push_back(check(r));
                waiting = r.status == Status::needMore || r.status == Status::needQuiet;
            }
        }

        // The line is quiet: the engine reads until nothing is under way or a frame is short.
        now += UnitFrameReader::kQuietMs + in.ConsumeIntegralInRange(0, 3000);
        reader.feed({}, now);
        for (;;) {
            if (!waiting && !reader.findMarker()) break;
            const UnitFrameReader::Result r = reader.read();
            require(r.status != Status::needQuiet, "a quiet line not taken as quiet");
            waiting = r.status == Status::needMore;
            if (r.status == Status::frame)
                got.push_back(check(r));
            else
                break;
        }
        if (whole && !purged) require(got == bodies, "a burst sent whole did not come out whole");
        // The read's wait runs out unless the next burst comes in time.
        if (waiting && in.ConsumeBool()) {
            reader.abandon();
            waiting = false;
        }
    }
    return 0;
}
