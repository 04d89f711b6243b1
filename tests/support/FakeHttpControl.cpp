#include "support/FakeHttpControl.h"

#include <fstream>

namespace kv::test {

namespace {

bool writeFile(const std::filesystem::path& file, const Bytes& body) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

bool FakeHttpControl::getDoc(const Bytes& url, const std::filesystem::path& file, Repeat repeat) {
    m_calls.push_back({url, file, repeat});
    m_outcome = {};
    if (m_refusal) {
        m_outcome = {HttpState::refused, 0, *m_refusal, 0, {}};
        return false;
    }
    if (!writeFile(file, {})) {
        m_outcome = {HttpState::refused, 0, "cannot create " + file.string(), 0, {}};
        return false;
    }
    m_outcome.state = HttpState::running;
    return true;
}

void FakeHttpControl::cancel() {
    ++m_cancels;
    if (!running()) return;
    ++m_cancelsRunning;
    m_outcome.state = HttpState::idle;
}

void FakeHttpControl::complete(const Bytes& body, int status) {
    if (!running()) return fakeHttpMisuse("FakeHttpControl::complete() with no download running");
    m_outcome.state = HttpState::idle;
    if (!writeFile(m_calls.back().file, body))
        return fakeHttpMisuse("FakeHttpControl cannot write " + m_calls.back().file.string());
    m_outcome = {HttpState::complete, status, {}, body.size(), {}};
}

void FakeHttpControl::fail(std::string cause, bool localFault, bool connectionBroke) {
    if (!running()) return fakeHttpMisuse("FakeHttpControl::fail() with no download running");
    std::error_code ec;
    std::filesystem::remove(m_calls.back().file, ec);
    m_outcome = {HttpState::failed, 0, std::move(cause), 0, {}, localFault, connectionBroke};
}

}  // namespace kv::test
