#include "Simulator.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

#include "Report.h"

namespace kvsim {

std::int64_t Simulator::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Simulator::Simulator(const CliOptions& options, Unit::LogSink log, const kv::WallTime& unitClock)
    : m_options(options),
      m_log(std::move(log)),
      m_startMs(nowMs()),
      m_unit(options.unit, m_startMs, unitClock, m_log) {}

void Simulator::runUnit(std::int64_t now) {
    m_unit.advance(now);
    const std::string out = m_unit.takeOutput();
    if (!out.empty()) {
        const std::size_t written = m_line.write(out);
        if (written < out.size() && m_log)
            m_log("unit    line full, nobody reads the port: " +
                  std::to_string(out.size() - written) + " bytes not sent");
    }
    if (m_unit.takeTablesChanged() && !m_options.tablesOut.empty()) {
        const std::string error =
            writeFileAtomically(m_options.tablesOut, tableText(m_unit.table()));
        if (!error.empty() && m_log) m_log("unit    cannot write the tables: " + error);
    }
}

bool Simulator::finished() const {
    const std::int64_t now = nowMs();
    if (m_options.durationS &&
        now >= m_startMs + static_cast<std::int64_t>(*m_options.durationS * 1000))
        return true;
    return m_unit.finished(now);
}

bool Simulator::step(int maxWaitMs, int stopFd) {
    std::int64_t now = nowMs();
    runUnit(now);
    if (finished()) return false;

    std::int64_t wake = m_unit.nextWakeMs();
    if (m_options.durationS)
        wake = std::min(wake, m_startMs + static_cast<std::int64_t>(*m_options.durationS * 1000));
    const std::int64_t timeout = std::clamp<std::int64_t>(wake - now, 0, std::max(maxWaitMs, 0));

    pollfd fds[2];
    nfds_t count = 0;
    const bool watchLine = now >= m_lineQuietUntilMs;
    if (watchLine) fds[count++] = {m_line.masterFd(), POLLIN, 0};
    const nfds_t stopIndex = count;
    if (stopFd >= 0) fds[count++] = {stopFd, POLLIN, 0};
    int ready = ::poll(fds, count, static_cast<int>(timeout));
    if (ready < 0 && errno != EINTR) ready = 0;

    now = nowMs();
    if (ready > 0 && watchLine) {
        if (fds[0].revents & POLLIN) {
            for (const PtyLine::Event& e : m_line.readAvailable()) {
                if (!e.bytes.empty())
                    m_unit.onBytes(e.bytes, now);
                else
                    m_unit.onPurge(e.purgedBridgeOutput, e.purgedBridgeInput, now);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Should not happen while our own slave descriptor is open; do not spin on it.
            m_lineQuietUntilMs = now + 100;
        }
    }
    runUnit(now);
    return ready > 0 && stopFd >= 0 && (fds[stopIndex].revents & (POLLIN | POLLHUP)) != 0;
}

}  // namespace kvsim
