#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sync/HttpControl.h"

namespace kv::test {

// An HTTP control for tick-exact engine tests: nothing travels, the test decides when (and
// whether) the current download ends, and how.  Like the production control, getDoc creates the
// file empty at once, a failure deletes it, and cancel() leaves an ended download as it ended.
class FakeHttpControl : public HttpControl {
public:
    struct Call {
        Bytes url;
        std::filesystem::path file;
    };

    bool getDoc(const Bytes& url, const std::filesystem::path& file) override;
    bool isComplete() override { return m_outcome.state == HttpState::complete; }
    void cancel() override;
    std::string lastError() const override { return m_error; }
    HttpOutcome outcome() const override { return m_outcome; }

    // Every getDoc, refused ones included, in order.
    const std::vector<Call>& calls() const { return m_calls; }
    // A download has started and has neither ended nor been cancelled.
    bool running() const { return m_outcome.state == HttpState::running; }
    // The server's document arrives with this status: body is written to the current file and
    // the download is complete.  A test failure when nothing is running.
    void complete(const Bytes& body, int status = 200);
    // The download ends without a document for this cause: never complete, the file deleted.
    void fail(std::string cause = "spojení odmítnuto");
    // While set, getDoc refuses with this reason (and abandons a running download).
    void setRefusal(std::optional<std::string> reason) { m_refusal = std::move(reason); }

    int cancelCount() const { return m_cancels; }
    // cancel() calls that found a download running.
    int cancelsWhileRunning() const { return m_cancelsRunning; }

private:
    std::vector<Call> m_calls;
    std::optional<std::string> m_refusal;
    std::string m_error;
    HttpOutcome m_outcome;
    int m_cancels = 0;
    int m_cancelsRunning = 0;
};

}  // namespace kv::test
