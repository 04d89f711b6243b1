#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {

// What the stub answers to one request.
struct WebReply {
    int status = 200;
    std::string body{};  // sent as is (any bytes)
    // The stub compresses text/* bodies when the client accepts it, as a web server may; use
    // application/octet-stream to have the body travel as is.
    std::string contentType = "text/plain";
    // Sent as the Location header when not empty (for redirects).
    std::string location{};
    // Wait this long before answering (cut short when the stub stops).
    std::chrono::milliseconds delay{0};
    // Hold the request without answering until the stub stops.
    bool neverAnswer = false;
    // When > 0 the body is instead streamedSize bytes of streamedByte(offset), generated while
    // it is sent, so huge replies cost no memory.
    std::uint64_t streamedSize = 0;
    // Send the streamed body in chunked transfer encoding instead of with a Content-Length.
    bool chunked = false;
    // Stop sending the streamed body after this many bytes and drop the connection.
    std::uint64_t cutAfter = std::numeric_limits<std::uint64_t>::max();
};

// The web application on 127.0.0.1 for tests: an HTTP server on an ephemeral port, in threads
// of its own.  It records the raw target (path and query, byte for byte as received) of every
// request and answers each with what the handler returns.  (A target with a second '?' is
// answered 400 by the underlying server without asking the handler, but it is recorded.)  Every
// response closes its connection, so no idle connection outlives a request.
//
//   WebStub web;
//   web.setReply({.body = "---OK---\nNovak Jan\n"});
//   http.getDoc(web.baseUrl() + "kvsync.php?prikaz=4", "get.tmp", Repeat::never);
//   ASSERT_TRUE(web.waitForRequests(1, 5s));
//   EXPECT_EQ(web.targets()[0], "/kvsync.php?prikaz=4");
//
// The destructor stops the stub, also while requests are being held or delayed.
class WebStub {
public:
    // Called on a stub thread with the raw target; must be thread-safe.
    using Handler = std::function<WebReply(const std::string& target)>;

    // Starts listening at once; until told otherwise answers 200 with an empty body.
    WebStub();
    ~WebStub();
    WebStub(const WebStub&) = delete;
    WebStub& operator=(const WebStub&) = delete;

    int port() const;
    // "http://127.0.0.1:PORT/"
    std::string baseUrl() const;

    void setHandler(Handler handler);
    // Answers every request with the same reply.
    void setReply(WebReply reply);

    // Raw targets of all requests received so far, in order of arrival.
    std::vector<std::string> targets() const;
    std::size_t requestCount() const;
    // Requests whose answer (after any delay) has been handed to the connection.
    std::size_t answeredCount() const;
    // Waits until at least count requests have arrived, pumping the Qt event loop meanwhile so
    // that a download started from this thread gets going.  False at the deadline.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // Releases held requests and stops listening; idempotent.
    void stop();

    // Byte number offset of a streamed body.
    static char streamedByte(std::uint64_t offset);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Pumps the Qt event loop until done() is true or the timeout has passed; returns done().
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace kv::test
