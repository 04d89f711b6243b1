#include "link/ToUnitFrameParser.h"

namespace kv {

void ToUnitFrameParser::garbage(std::size_t n) {
    if (n == 0) return;
    m_garbageBytes += n;
    if (!m_inGarbage) ++m_errors;
    m_inGarbage = true;
}

std::vector<CommandFrame> ToUnitFrameParser::feed(std::string_view bytes, std::int64_t nowMs) {
    std::vector<CommandFrame> frames;
    if (bytes.empty()) return frames;
    expire(nowMs);
    m_lastByteMs = nowMs;
    for (const char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (m_inFrame) {
            m_frame.bytes[static_cast<std::size_t>(m_filled++)] = b;
            if (m_filled == 16) {
                frames.push_back(m_frame);
                m_inFrame = false;
                m_filled = 0;
            }
            continue;
        }
        if (b == 0xF0) {
            // A third F0 in a row: the first one was garbage, the last two may still be a header.
            if (m_headerSeen == 2)
                garbage(1);
            else
                ++m_headerSeen;
            continue;
        }
        if (b == 0xA5 && m_headerSeen == 2) {
            m_headerSeen = 0;
            m_inFrame = true;
            m_inGarbage = false;
            continue;
        }
        garbage(static_cast<std::size_t>(m_headerSeen) + 1);
        m_headerSeen = 0;
    }
    return frames;
}

bool ToUnitFrameParser::expire(std::int64_t nowMs) {
    const auto due = expiryMs();
    if (!due || nowMs < *due) return false;
    garbage(static_cast<std::size_t>(m_inFrame ? 3 + m_filled : m_headerSeen));
    m_inFrame = false;
    m_filled = 0;
    m_headerSeen = 0;
    // What follows starts a new stretch even when it is garbage too.
    m_inGarbage = false;
    return true;
}

std::optional<std::int64_t> ToUnitFrameParser::expiryMs() const {
    if (!m_inFrame && m_headerSeen == 0) return std::nullopt;
    return m_lastByteMs + kStaleFrameMs;
}

}  // namespace kv
