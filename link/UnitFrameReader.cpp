#include "link/UnitFrameReader.h"

#include <algorithm>

namespace kv {

namespace {

constexpr char kMarker = 'Z';
constexpr std::size_t kFrameSize = 16;
constexpr std::size_t kLink = 1 + kFrameSize;  // a marker and its frame

bool isMarker(const Bytes& t, std::size_t i) {
    return t[i] == kMarker && (i + 1 == t.size() || t[i + 1] != kMarker);
}

std::size_t firstMarker(const Bytes& t, std::size_t from) {
    for (std::size_t i = from; i < t.size(); ++i)
        if (isMarker(t, i)) return i;
    return Bytes::npos;
}

enum class Chain { whole, running, broken };
struct Walk {
    Chain chain;
    std::size_t frames;  // links walked, the last one included
    std::size_t last;    // the last link's marker: for a broken chain, the damaged frame's
};

// The markers every 17 bytes from the marker at m.
Walk walk(const Bytes& t, std::size_t m) {
    for (std::size_t p = m, frames = 1;; ++frames) {
        const std::size_t next = p + kLink;
        if (next == t.size()) return {Chain::whole, frames, p};
        if (next > t.size()) return {Chain::running, frames, p};
        if (!isMarker(t, next)) return {Chain::broken, frames, p};
        p = next;
    }
}

}  // namespace

bool UnitFrameReader::feed(std::string_view bytes, std::int64_t nowMs) {
    if (bytes.empty()) return true;
    m_text.append(bytes);
    m_lastInputMs = nowMs;
    if (m_text.size() <= kMaxPendingInput) return true;
    purge();
    return false;
}

bool UnitFrameReader::findMarker() {
    if (m_verified > 0) return true;
    const std::size_t m = firstMarker(m_text, 0);
    m_text.erase(0, std::min(m, m_text.size()));
    return !m_text.empty();
}

UnitFrameReader::Result UnitFrameReader::takeVerified(Result r) {
    r.status = Status::frame;
    std::copy_n(m_text.begin() + 1, kFrameSize, r.frame.bytes.begin());
    m_text.erase(0, kLink);
    --m_verified;
    return r;
}

UnitFrameReader::Result UnitFrameReader::read(std::int64_t nowMs) {
    Result r;
    if (m_verified > 0) return takeVerified(r);
    const bool quiet = nowMs >= quietAtMs();
    const auto accept = [&](std::size_t marker, std::size_t frames) {
        r.dropped += m_text.substr(0, marker);
        m_text.erase(0, marker);
        m_verified = frames;
        m_afterBreak = false;
        return takeVerified(r);
    };
    if (!m_afterBreak) {
        const std::size_t m = firstMarker(m_text, 0);
        if (m == Bytes::npos) {
            m_text.clear();
            return r;
        }
        m_text.erase(0, m);  // noise in front of the first marker
        const Walk w = walk(m_text, 0);
        if (w.chain == Chain::running) {
            r.status = Status::needMore;
            return r;
        }
        if (w.chain == Chain::whole) {
            if (quiet) return accept(0, w.frames);
            r.status = Status::needQuiet;
            return r;
        }
        r.dropped += m_text.substr(0, w.last + 1);
        m_text.erase(0, w.last + 1);
        m_afterBreak = true;
    }
    // Behind a broken chain only the frames that line up with the end of the input are whole.
    bool running = false;
    for (std::size_t m = firstMarker(m_text, 0); m != Bytes::npos; m = firstMarker(m_text, m + 1)) {
        const Walk w = walk(m_text, m);
        if (w.chain == Chain::whole) {
            if (quiet) return accept(m, w.frames);
            r.status = Status::needQuiet;
            return r;
        }
        running = running || w.chain == Chain::running;
    }
    if (running) {
        r.status = Status::needMore;
        return r;
    }
    r.dropped += m_text;
    m_text.clear();
    m_afterBreak = false;
    return r;
}

Bytes UnitFrameReader::abandon() {
    Bytes lost = std::move(m_text);
    purge();
    return lost;
}

void UnitFrameReader::purge() {
    m_text.clear();
    m_verified = 0;
    m_afterBreak = false;
}

}  // namespace kv
