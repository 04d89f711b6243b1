#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "link/CommandFrame.h"

namespace kv {

// Cuts the byte stream the PC sends to the unit into frames: F0 F0 A5 and 16 frame bytes.  There is
// no length or checksum on the line, so the 16 bytes after a header are taken whatever they hold;
// bytes outside a frame are garbage, and a frame left half-way for too long is dropped so that the
// next header starts afresh.
class ToUnitFrameParser {
public:
    // A real port delivers a frame's 19 bytes within ~80 ms; a gap this long inside a frame
    // means the rest is not coming.
    static constexpr std::int64_t kStaleFrameMs = 1000;

    // Appends received bytes; returns the frames completed by them, in order.
    std::vector<CommandFrame> feed(std::string_view bytes, std::int64_t nowMs);
    // Drops a frame that has been incomplete since kStaleFrameMs; true when one was dropped.
    bool expire(std::int64_t nowMs);
    // When expire() has something to do, if anything.
    std::optional<std::int64_t> expiryMs() const;

    // Garbage runs: each stretch of bytes that were not part of a frame counts once, as does
    // each dropped partial frame.
    std::uint32_t errors() const { return m_errors; }
    std::uint64_t garbageBytes() const { return m_garbageBytes; }

private:
    void garbage(std::size_t n);

    int m_headerSeen = 0;  // how many header bytes are matched: 0, 1 (F0), 2 (F0 F0)
    bool m_inFrame = false;
    CommandFrame m_frame;
    int m_filled = 0;
    std::int64_t m_lastByteMs = 0;
    bool m_inGarbage = false;
    std::uint32_t m_errors = 0;
    std::uint64_t m_garbageBytes = 0;
};

}  // namespace kv
