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
    m_running = false;
    m_complete = false;
    m_error.clear();
    if (m_refusal) {
        m_error = *m_refusal;
        return false;
    }
    if (!writeFile(file, {})) {
        m_error = "cannot create " + file.string();
        return false;
    }
    m_running = true;
    return true;
}

void FakeHttpControl::cancel() {
    ++m_cancels;
    if (!m_running) return;
    ++m_cancelsRunning;
    m_running = false;
}

void FakeHttpControl::complete(const Bytes& body) {
    if (!m_running) {
        ADD_FAILURE() << "FakeHttpControl::complete() with no download running";
        return;
    }
    m_running = false;
    if (!writeFile(m_calls.back().file, body)) {
        ADD_FAILURE() << "FakeHttpControl cannot write " << m_calls.back().file;
        return;
    }
    m_complete = true;
}

void FakeHttpControl::fail() {
    if (!m_running) ADD_FAILURE() << "FakeHttpControl::fail() with no download running";
    m_running = false;
}

}  // namespace kv::test
