#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sync/HttpControl.h"

namespace kv::test {

// An HTTP control for tick-exact engine tests and the fuzz targets: nothing travels, the caller
// decides when (and whether) the current download ends, and how.  Like the production control,
// getDoc creates the file empty at once, a failure deletes it, and cancel() leaves an ended
// download as it ended.
class FakeHttpControl : public HttpControl {
public:
    struct Call {
        Bytes url;
        std::filesystem::path file;
        Repeat repeat;
    };

    bool getDoc(const Bytes& url, const std::filesystem::path& file, Repeat repeat) override;
    void cancel() override;
    HttpOutcome outcome() const override { return m_outcome; }

    // Every getDoc, refused ones included, in order.
    const std::vector<Call>& calls() const { return m_calls; }
    // A download has started and has neither ended nor been cancelled.
    bool running() const { return m_outcome.state == HttpState::running; }
    // The server's document arrives with this status: body is written to the current file and
    // the download is complete.  A misuse when nothing is running.
    void complete(const Bytes& body, int status = 200);
    // The download ends without a document for this cause: never complete, the file deleted.
    void fail(std::string cause = "spojení odmítnuto", bool localFault = false,
              bool connectionBroke = false);
    // While set, getDoc refuses with this reason (and abandons a running download).
    void setRefusal(std::optional<std::string> reason) { m_refusal = std::move(reason); }

    int cancelCount() const { return m_cancels; }
    // cancel() calls that found a download running.
    int cancelsWhileRunning() const { return m_cancelsRunning; }

private:
    std::vector<Call> m_calls;
    std::optional<std::string> m_refusal;
    HttpOutcome m_outcome;
    int m_cancels = 0;
    int m_cancelsRunning = 0;
};

// What a misuse of the fake (an answer with nothing running, a reply file that cannot be
// written) becomes: defined by the program that uses it, a test failure in the tests and a
// broken property in the fuzz targets.
void fakeHttpMisuse(const std::string& what);

}  // namespace kv::test
