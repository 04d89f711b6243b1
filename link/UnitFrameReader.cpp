#include "link/UnitFrameReader.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kv {

namespace {

constexpr char kMarker = 'Z';
constexpr std::size_t kFrameSize = 16;
constexpr std::size_t kLink = 1 + kFrameSize;  // a marker and its frame

// Where a frame can start: a 'Z' not followed by another.
bool isStart(const Bytes& t, std::size_t i) {
    return t[i] == kMarker && (i + 1 == t.size() || t[i + 1] != kMarker);
}

std::size_t firstStart(const Bytes& t, std::size_t from) {
    for (std::size_t i = from; i < t.size(); ++i)
        if (isStart(t, i)) return i;
    return Bytes::npos;
}

enum class Chain { whole, running, broken };
struct Walk {
    Chain chain;
    std::size_t frames;  // links walked, the last one included
    std::size_t last;    // the last link's marker: for a broken chain, the damaged frame's
};

// The markers every 17 bytes from the marker at m.  Behind a frame the next marker is wherever
// the frame ends, even when a 'Z' follows it: that frame lost its FrameCode, and the chain is
// broken there rather than at the whole frame in front.
Walk walk(const Bytes& t, std::size_t m) {
    for (std::size_t p = m, frames = 1;; ++frames) {
        const std::size_t next = p + kLink;
        if (next == t.size()) return {Chain::whole, frames, p};
        if (next > t.size()) return {Chain::running, frames, p};
        if (t[next] != kMarker) return {Chain::broken, frames, p};
        if (next + 1 < t.size() && t[next + 1] == kMarker) return {Chain::broken, frames + 1, next};
        p = next;
    }
}

}  // namespace

bool UnitFrameReader::feed(std::string_view bytes, std::int64_t nowMs) {
    if (bytes.empty()) {
        m_quiet = nowMs >= quietAtMs();
        return true;
    }
    const bool afterQuiet = std::exchange(m_quiet, false);
    m_lastInputMs = nowMs;
    if (m_text.size() + bytes.size() > kMaxPendingInput) {
        // Dropped before it is kept: a flood never makes the reader hold more than the cap.
        purge();
        return false;
    }
    if (afterQuiet) m_bursts.push_back(m_text.size());
    m_text.append(bytes);
    return true;
}

void UnitFrameReader::drop(std::size_t n, Result* r) {
    if (r) r->dropped += m_text.substr(0, n);
    m_text.erase(0, n);
    m_taken += n;
    std::erase_if(m_bursts, [n](std::size_t b) { return b < n; });
    for (std::size_t& b : m_bursts) b -= n;
}

bool UnitFrameReader::findMarker() {
    if (m_verified > 0) return true;
    drop(std::min(firstStart(m_text, 0), m_text.size()), nullptr);
    return !m_text.empty();
}

UnitFrameReader::Result UnitFrameReader::takeVerified(Result r) {
    r.status = Status::frame;
    std::copy_n(m_text.begin() + 1, kFrameSize, r.frame.bytes.begin());
    drop(kLink, nullptr);
    --m_verified;
    return r;
}

UnitFrameReader::Result UnitFrameReader::read() {
    Result r;
    if (m_verified > 0) return takeVerified(r);
    const auto status = [&r](Status s) {
        r.status = s;
        return r;
    };
    // The first chain, from a start at or after `from`, that is whole up to the end of input.
    const auto laterBurst = [&](std::size_t from, bool& running) -> std::optional<Result> {
        for (std::size_t m = firstStart(m_text, from); m != Bytes::npos;
             m = firstStart(m_text, m + 1)) {
            const Walk w = walk(m_text, m);
            if (w.chain == Chain::whole) {
                if (!m_quiet) return status(Status::needQuiet);
                drop(m, &r);
                m_verified = w.frames;
                m_afterBreak = false;
                return takeVerified(r);
            }
            running = running || w.chain == Chain::running;
        }
        return std::nullopt;
    };
    if (!m_afterBreak) {
        drop(std::min(firstStart(m_text, 0), m_text.size()), nullptr);  // noise
        if (m_text.empty()) return r;
        const Walk w = walk(m_text, 0);
        if (w.chain == Chain::whole && m_quiet) {
            m_verified = w.frames;
            return takeVerified(r);
        }
        // A frame without a 'Z' in its 16 bytes and with a marker right behind it holds no
        // start of another frame: it is whole whatever comes after it.
        if (m_text.size() > kLink && m_text[kLink] == kMarker && m_text.find(kMarker, 1) == kLink) {
            m_verified = 1;
            return takeVerified(r);
        }
        if (w.chain == Chain::whole) return status(Status::needQuiet);
        if (w.chain == Chain::running) {
            // The frame under way stopped short, and more came after the line was quiet:
            // that later burst, when whole, is the unit's next frames.
            bool running = false;
            const auto b = std::upper_bound(m_bursts.begin(), m_bursts.end(), std::size_t{0});
            if (m_quiet && b != m_bursts.end())
                if (auto later = laterBurst(*b, running)) return *later;
            return status(Status::needMore);
        }
        drop(w.last + 1, &r);
        m_afterBreak = true;
    }
    // Behind damage only a burst that came after a quiet line can hold whole frames: inside
    // the damaged burst a 'Z' in the data may line up with the end of what arrived.
    bool running = false;
    if (!m_bursts.empty())
        if (auto later = laterBurst(m_bursts.front(), running)) return *later;
    if (running || !m_quiet) return status(Status::needMore);
    drop(m_text.size(), &r);
    m_afterBreak = false;
    return r;
}

std::vector<Bytes> UnitFrameReader::framesSoFar() const {
    std::vector<Bytes> frames;
    for (std::size_t m = firstStart(m_text, 0); m < m_text.size() && m_text[m] == kMarker;
         m += kLink)
        frames.push_back(m_text.substr(m + 1, kFrameSize));
    return frames;
}

Bytes UnitFrameReader::abandon() {
    Bytes lost = m_text;
    purge();
    return lost;
}

void UnitFrameReader::purge() {
    m_taken += m_text.size();
    m_text.clear();
    m_bursts.clear();
    m_verified = 0;
    m_afterBreak = false;
}

}  // namespace kv
