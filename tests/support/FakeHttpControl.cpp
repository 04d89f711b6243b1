#include "support/FakeHttpControl.h"

#include <gtest/gtest.h>

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

bool FakeHttpControl::getDoc(const Bytes& url, const std::filesystem::path& file) {
    m_calls.push_back({url, file});
    m_outcome = {};
    m_error.clear();
    if (m_refusal) {
        m_error = *m_refusal;
        return false;
    }
    if (!writeFile(file, {})) {
        m_error = "cannot create " + file.string();
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
    if (!running()) {
        ADD_FAILURE() << "FakeHttpControl::complete() with no download running";
        return;
    }
    m_outcome.state = HttpState::idle;
    if (!writeFile(m_calls.back().file, body)) {
        ADD_FAILURE() << "FakeHttpControl cannot write " << m_calls.back().file;
        return;
    }
    m_outcome = {HttpState::complete, status, {}, body.size(), {}};
}

void FakeHttpControl::fail(std::string cause) {
    if (!running()) {
        ADD_FAILURE() << "FakeHttpControl::fail() with no download running";
        return;
    }
    std::error_code ec;
    std::filesystem::remove(m_calls.back().file, ec);
    m_outcome = {HttpState::failed, 0, std::move(cause), 0, {}};
}

}  // namespace kv::test
