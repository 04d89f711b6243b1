#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QNetworkReply>
#include <cstdint>
#include <optional>
#include <string>

namespace kv {

// The body as the server encoded it, decoded as it arrives.  A compressed body is whole only
// when its stream has ended: a body cut short, whether by a closed connection or by a length
// declared for the cut stream, never ends it.
class BodyDecoder {
public:
    // The Content-Encoding header's value; only what the request offers can be decoded.
    explicit BodyDecoder(const QByteArray& coding);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    bool known() const { return m_coding != Coding::unknown; }
    const std::string& name() const { return m_name; }
    // Every stream begun has ended (always for a body that is not compressed).
    bool ended() const { return !compressed() || m_ended; }

    // Appends the decoded piece to out; false when the piece is no part of a valid stream.
    bool feed(const QByteArray& piece, QByteArray& out);

private:
    enum class Coding { identity, gzip, deflate, unknown };
    bool compressed() const { return m_coding == Coding::gzip || m_coding == Coding::deflate; }
    void start(int windowBits);

    Coding m_coding = Coding::identity;
    std::string m_name;
    z_stream m_stream{};
    bool m_started = false;
    bool m_ended = false;
    bool m_raw = false;
    bool m_fed = false;
};

// How a reply marks the end of its body: a declared length (of the body as sent, before
// decoding), the chunked coding's last chunk, or with neither the end of the connection.
struct Framing {
    std::optional<std::int64_t> length;
    bool chunked = false;
};

// How a reply ended, as the network layer reported it.
struct BodyEnd {
    Framing framing;
    std::uint64_t wire = 0;   // bytes of the body as sent
    bool delivered = false;   // a document with its status, by the network layer's account
    bool dropped = false;     // the connection ended under the reply
    bool headersIn = false;   // the status line and headers had arrived
    bool answered = false;    // headers or body bytes had arrived
    bool streamEnded = true;  // a compressed body's stream ended
};

// Whether the server answered with a whole document: success, or an HTTP error status (which
// Qt reports as an error of its own) with its page.  Transport, proxy and protocol failures
// deliver no document.
bool deliveredDocument(QNetworkReply::NetworkError error, bool hasStatus);
// Why no document arrived, for the operator.
std::string networkCause(QNetworkReply::NetworkError error);

// Why the reply is no whole document, in Czech; empty when it is whole.  networkCause is what
// the network layer's own error says, for a reply that never began.
std::string bodyFault(const BodyEnd& end, const std::string& networkCause);

}  // namespace kv
