#include "support/FakeSerialDevice.h"

#include <algorithm>

namespace kv::test {

void FakeSerialLine::deliverDue() {
    const std::int64_t now = clock ? clock->monotonicMs() : INT64_MAX;
    auto due = arrivals.begin();
    while (due != arrivals.end() && due->atMs <= now) input += (due++)->bytes;
    arrivals.erase(arrivals.begin(), due);
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

void FakeSerialDevice::applyLineSettings(int baud, Handshake handshake) {
    if (!m_open) return;
    m_line->baud = baud;
    m_line->handshake = handshake;
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
    if (m_line->stallAt >= 0)
        n = std::min(n, std::size_t(std::max<std::int64_t>(
                            m_line->stallAt - std::int64_t(m_line->written.size()), 0)));
    m_line->written.append(bytes.substr(0, n));
    return std::int64_t(n);
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
