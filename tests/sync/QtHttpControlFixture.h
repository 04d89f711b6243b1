#pragma once

// What the HTTP control tests share: a temporary get.tmp, a web stub and the control.

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/OsSupport.h"
#include "support/WebStub.h"
#include "sync/QtHttpControl.h"

#if defined(__SANITIZE_ADDRESS__)
#define KV_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_UNDER_ASAN 1
#endif
#endif

namespace kv {

namespace http_test {

using namespace std::chrono_literals;
using test::openInThisProcess;
using test::pumpUntil;
using test::WebReply;
using test::WebStub;
using State = QtHttpControl::State;

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string allByteValues(int times) {
    std::string bytes;
    for (int t = 0; t < times; ++t) {
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

class QtHttpControlTest : public ::testing::Test {
protected:
    // Until the download has ended one way or the other.
    bool waitEnded(std::chrono::milliseconds timeout = 10s) {
        return pumpUntil([this] { return http.state() != State::running; }, timeout);
    }
    bool waitComplete(std::chrono::milliseconds timeout = 10s) {
        return pumpUntil([this] { return http.outcome().complete(); }, timeout);
    }

    QTemporaryDir dir;
    std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "get.tmp";
    WebStub web;
    QtHttpControl http{nullptr};
};

}  // namespace http_test
}  // namespace kv
