#include "sync/TableSignalling.h"

#include <algorithm>

#include "sync/Logging.h"

namespace kv {

namespace {
constexpr std::uint8_t kRepeat = 255;  // 254 ticks between tables-changed frames
constexpr std::int64_t kFirstRetryMs = 30'000;
constexpr std::int64_t kLongestRetryMs = 600'000;
}  // namespace

bool TableSignalling::step() {
    bool tell = false;
    if (m_countdown == 1) {
        if (m_retryAt && m_clock.monotonicMs() < *m_retryAt) return false;
        tell = true;
        m_countdown = kRepeat;
    }
    if (m_countdown > 1) --m_countdown;
    return tell;
}

void TableSignalling::downloadFailed() {
    m_countdown = 1;
    ++m_failures;
    const std::int64_t wait =
        std::min(kFirstRetryMs << std::min<std::uint32_t>(m_failures - 1, 5), kLongestRetryMs);
    m_retryAt = m_clock.monotonicMs() + wait;
    m_view.change([&](BridgeStatus& s) {
        s.tableFailures = m_failures;
        s.nextTableAttemptMs = m_retryAt;
    });
    qCWarning(lcSync).nospace() << "table download failed " << m_failures
                                << " times in a row: tables announced again in " << wait / 1000
                                << " s, at monotonic " << *m_retryAt << " ms";
}

void TableSignalling::endBackOff() {
    if (m_failures != 0) qCInfo(lcSync) << "table back-off ended";
    m_failures = 0;
    m_retryAt.reset();
    m_view.change([](BridgeStatus& s) {
        s.tableFailures = 0;
        s.nextTableAttemptMs.reset();
    });
}

void TableSignalling::reset() {
    m_countdown = 0;
    m_triggerFileError = 0;
    endBackOff();
}

}  // namespace kv
