#include "support/WebStub.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kv::test {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Whether the request in hand on this stub thread reached serve(); httplib answers some
// targets (a second '?') with 400 before any handler sees them.
thread_local bool t_served = false;

void fillStreamed(std::uint64_t offset, char* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = WebStub::streamedByte(offset + i);
}

}  // namespace

struct WebStub::Impl {
    httplib::Server server;
    std::thread listener;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wake;  // stopping
    bool stopping = false;
    Handler handler = [](const std::string&) { return WebReply{}; };
    std::vector<std::string> targets;
    std::size_t answered = 0;

    bool isStopping() const {
        std::lock_guard lock(mutex);
        return stopping;
    }

    httplib::Server::HandlerResponse serve(const httplib::Request& req, httplib::Response& res);
};

httplib::Server::HandlerResponse WebStub::Impl::serve(const httplib::Request& req,
                                                      httplib::Response& res) {
    t_served = true;
    Handler current;
    {
        std::lock_guard lock(mutex);
        targets.push_back(req.target);
        current = handler;
    }
    const WebReply reply = current(req.target);
    {
        std::unique_lock lock(mutex);
        if (reply.neverAnswer) {
            wake.wait(lock, [this] { return stopping; });
        } else if (reply.delay.count() > 0) {
            wake.wait_for(lock, reply.delay, [this] { return stopping; });
        }
        if (stopping) {
            res.status = 503;
            return httplib::Server::HandlerResponse::Handled;
        }
        ++answered;
    }

    res.status = reply.status;
    if (!reply.location.empty()) res.set_header("Location", reply.location);
    if (reply.streamedSize == 0) {
        res.set_content(reply.body, reply.contentType);
        return httplib::Server::HandlerResponse::Handled;
    }

    const std::uint64_t size = reply.streamedSize;
    const std::uint64_t cutAfter = reply.cutAfter;
    // Writes the next piece starting at offset; false ends the connection.
    auto sendFrom = [this, size, cutAfter](std::uint64_t offset, httplib::DataSink& sink) {
        if (offset >= cutAfter || isStopping()) return false;
        const std::uint64_t end = std::min(size, cutAfter);
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - offset));
        char buffer[kChunk];
        fillStreamed(offset, buffer, n);
        return sink.write(buffer, n);
    };
    if (reply.chunked) {
        res.set_chunked_content_provider(
            reply.contentType, [size, sendFrom](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= size) {
                    sink.done();
                    return true;
                }
                return sendFrom(offset, sink);
            });
    } else {
        res.set_content_provider(
            static_cast<std::size_t>(size), reply.contentType,
            [sendFrom](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return sendFrom(offset, sink);
            });
    }
    return httplib::Server::HandlerResponse::Handled;
}

WebStub::WebStub() : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    // One request per connection: an idle kept-alive connection would hold up stop().
    impl.server.set_keep_alive_max_count(1);
    // Every method and path lands here, before httplib's own routing.
    impl.server.set_pre_routing_handler(
        [&impl](const httplib::Request& req, httplib::Response& res) {
            return impl.serve(req, res);
        });
    // Requests that httplib refuses itself are recorded as well.
    impl.server.set_error_handler(httplib::Server::HandlerWithResponse(
        [&impl](const httplib::Request& req, httplib::Response&) {
            if (!t_served) {
                std::lock_guard lock(impl.mutex);
                impl.targets.push_back(req.target);
            }
            return httplib::Server::HandlerResponse::Unhandled;
        }));
    impl.server.set_logger(
        [](const httplib::Request&, const httplib::Response&) { t_served = false; });
    impl.port = impl.server.bind_to_any_port("127.0.0.1");
    if (impl.port <= 0) throw std::runtime_error("web stub: cannot bind to 127.0.0.1");
    impl.listener = std::thread([&impl] { impl.server.listen_after_bind(); });
    // stop() only works on a running server; connections made before then wait in the backlog.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!impl.server.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    if (!impl.server.is_running()) {
        impl.listener.detach();
        throw std::runtime_error("web stub: server did not start");
    }
}

WebStub::~WebStub() { stop(); }

int WebStub::port() const { return m_impl->port; }

std::string WebStub::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_impl->port) + "/";
}

void WebStub::setHandler(Handler handler) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->handler = std::move(handler);
}

void WebStub::setReply(WebReply reply) {
    setHandler([reply = std::move(reply)](const std::string&) { return reply; });
}

std::vector<std::string> WebStub::targets() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->targets;
}

std::size_t WebStub::requestCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->targets.size();
}

std::size_t WebStub::answeredCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->answered;
}

bool WebStub::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    return pumpUntil([this, count] { return requestCount() >= count; }, timeout);
}

void WebStub::stop() {
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->stopping = true;
    }
    m_impl->wake.notify_all();
    if (m_impl->listener.joinable()) {
        m_impl->server.stop();
        m_impl->listener.join();  // also waits for the request threads
    }
}

char WebStub::streamedByte(std::uint64_t offset) {
    // Not periodic in 256, so a lost or repeated piece shows.
    return static_cast<char>((offset * 31 + (offset >> 11)) & 0xFF);
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Wakes the event loop now and then, for conditions that change outside it.
    QTimer heartbeat;
    heartbeat.start(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace kv::test
