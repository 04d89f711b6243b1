#include "support/FakeSerialDevice.h"

#include <algorithm>

namespace kv::test {

void FakeSerialLine::deliverDue() {
    const std::int64_t now = clock ? clock->monotonicMs() : INT64_MAX;
    const auto due = std::find_if(arrivals.begin(), arrivals.end(),
                                  [now](const Arrival& a) { return a.atMs > now; });
    // Taken off the list first: a unit asked whether it sends may add to it.
    const std::vector<Arrival> delivered(arrivals.begin(), due);
    arrivals.erase(arrivals.begin(), due);
    for (const Arrival& a : delivered)
        if (!a.sent || a.sent()) input += a.bytes;
}

void FakeSerialLine::advance() {
    const std::size_t heldBefore = held.size();
    const auto stalled = [this] { return stallAt >= 0 && std::int64_t(written.size()) >= stallAt; };
    if (bytesPerSecond <= 0) {
        while (!held.empty() && !stalled()) {
            const std::size_t n =
                stallAt < 0 ? held.size()
                            : std::min(held.size(), std::size_t(stallAt) - written.size());
            written += held.substr(0, n);
            held.erase(0, n);
        }
    } else {
        const std::int64_t byteUs = 1'000'000 / bytesPerSecond;
        const std::int64_t nowUs = (clock ? clock->monotonicMs() : 0) * 1000;
        // The system takes what its room allows; a byte taken onto an idle line starts at once.
        const auto take = [&](std::int64_t atUs) {
            const bool idle = onTheWay.empty();
            const std::size_t room = systemRoom < 0
                                         ? held.size()
                                         : std::size_t(std::max<std::int64_t>(
                                               systemRoom - std::int64_t(onTheWay.size()), 0));
            const std::size_t n = std::min(room, held.size());
            onTheWay += held.substr(0, n);
            held.erase(0, n);
            mostOnTheWay = std::max(mostOnTheWay, onTheWay.size());
            if (idle && !onTheWay.empty()) frontDoneUs = atUs + byteUs;
        };
        take(nowUs);
        while (!onTheWay.empty() && !stalled() && frontDoneUs <= nowUs) {
            const std::int64_t at = frontDoneUs;
            written += onTheWay.front();
            onTheWay.erase(0, 1);
            if (written.size() % 19 == 0) framesOutAtMs.push_back((at + 999) / 1000);
            if (!onTheWay.empty()) frontDoneUs = at + byteUs;
            take(at);
        }
    }
    if (held.size() < heldBefore && taken) taken();
}

std::optional<std::int64_t> FakeSerialLine::nextMoveMs() const {
    if (bytesPerSecond <= 0 || onTheWay.empty()) return std::nullopt;
    if (stallAt >= 0 && std::int64_t(written.size()) >= stallAt) return std::nullopt;
    return (frontDoneUs + 999) / 1000;
}

bool FakeSerialDevice::open(const std::string& deviceName) {
    ++m_line->openAttempts;
    m_line->attemptedNames.push_back(deviceName);
    if (m_open || m_line->open || m_line->failingNames.count(deviceName)) return false;
    m_open = true;
    m_line->open = true;
    m_line->openName = deviceName;
    ++m_line->opens;
    return true;
}

void FakeSerialDevice::applyLineSettings(int baud) {
    if (m_open) m_line->baud = baud;
}

int FakeSerialDevice::bytesWaiting() {
    if (!m_open) return 0;
    m_line->deliverDue();
    return int(m_line->input.size());
}

std::string FakeSerialDevice::read(int maxBytes) {
    if (!m_open || maxBytes <= 0) return {};
    m_line->deliverDue();
    const std::size_t n = std::min(std::size_t(maxBytes), m_line->input.size());
    std::string bytes = m_line->input.substr(0, n);
    m_line->input.erase(0, n);
    return bytes;
}

std::int64_t FakeSerialDevice::write(std::string_view bytes) {
    if (!m_open) return 0;
    std::size_t n = bytes.size();
    if (m_line->writeLimit >= 0) n = std::min(n, std::size_t(m_line->writeLimit));
    m_line->held.append(bytes.substr(0, n));
    m_line->advance();
    return std::int64_t(n);
}

std::int64_t FakeSerialDevice::bytesToWrite() {
    if (!m_open) return 0;
    m_line->advance();
    return std::int64_t(m_line->held.size());
}

void FakeSerialDevice::setWrittenListener(std::function<void()> listener) {
    m_line->taken = std::move(listener);
}

void FakeSerialDevice::purge() {
    if (!m_open) return;
    ++m_line->purges;
    m_line->deliverDue();
    m_line->input.clear();
}

void FakeSerialDevice::close() {
    if (!m_open) return;
    m_open = false;
    m_line->taken = nullptr;
    m_line->open = false;
    m_line->openName.clear();
    ++m_line->closes;
}

SerialDeviceFactory fakeSerialFactory(std::shared_ptr<FakeSerialLine> line) {
    return [line = std::move(line)]() -> std::unique_ptr<SerialDevice> {
        ++line->devicesMade;
        return std::make_unique<FakeSerialDevice>(line);
    };
}

}  // namespace kv::test
