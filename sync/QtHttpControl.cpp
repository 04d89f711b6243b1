#include "sync/QtHttpControl.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "link/NumberText.h"
#include "sync/Logging.h"

namespace kv {

namespace {

// Keeps what Qt holds for one reply small when the tick is slow to collect it.
constexpr qint64 kReadBufferSize = 1024 * 1024;

// Unreserved characters and the delimiters of a URL.
bool travelsAsIs(unsigned char c) {
    static constexpr std::string_view others = "-._~:/?[]@!$&'()*+,;=";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           others.find(static_cast<char>(c)) != std::string_view::npos;
}

// The URL's bytes as they go into the request line.  Bytes that a request line cannot carry
// (space, control characters, '#', '"', '<', '>', '\', '^', '`', '{', '|', '}', a '%' that
// starts no escape, and every byte above 0x7F) go as %XX of that very byte, which the server
// decodes back to the same byte; everything else, existing escapes such as the date's "%20"
// included, is left alone.  Left to QUrl, a Windows-1250 letter would become the UTF-8 of
// U+FFFD and one stray '%' would make it re-escape every escape in the URL.
QByteArray wireForm(const Bytes& url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(static_cast<qsizetype>(url.size()));
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        const bool escape =
            c == '%' && i + 2 < url.size() && isHexDigit(url[i + 1]) && isHexDigit(url[i + 2]);
        if (travelsAsIs(c) || escape) {
            out.append(static_cast<char>(c));
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0x0F]);
        }
    }
    return out;
}

// The empty body every request carries, which cannot be rewound.  Qt's network layer sends a
// request again by itself when the server drops the connection before answering, and rewinds
// the request's body first; with this body that second try ends the download as
// ContentReSendError instead of reaching the server a second time.  (The request says
// "Content-Length: 0", which servers take as no body.)  Qt also rewinds the body once on a 307
// or 308 answer, which is allowed: the redirect is then followed here with a new request.
class UnrepeatableBody final : public QIODevice {
public:
    explicit UnrepeatableBody(QObject* parent) : QIODevice(parent) { open(QIODevice::ReadOnly); }
    void allowOneRewind() { m_rewindAllowed = true; }
    qint64 size() const override { return 0; }
    bool reset() override { return std::exchange(m_rewindAllowed, false); }
    bool seek(qint64 pos) override { return pos == 0 && reset(); }

protected:
    qint64 readData(char*, qint64) override { return 0; }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool m_rewindAllowed = false;
};

// Whether the server answered with a whole document: success, or an HTTP error status (which
// Qt reports as an error of its own) with its page.  Transport, proxy and protocol failures
// deliver no document.
bool deliveredDocument(QNetworkReply::NetworkError error, bool hasStatus) {
    using E = QNetworkReply::NetworkError;
    const bool statusError = (error >= E::ContentAccessDenied && error <= E::UnknownContentError &&
                              error != E::ContentReSendError) ||
                             (error >= E::InternalServerError && error <= E::UnknownServerError) ||
                             error == E::ProtocolInvalidOperationError         // 400
                             || error == E::ProxyAuthenticationRequiredError;  // 407
    return error == E::NoError || (hasStatus && statusError);
}

// The length the server declared, when the bytes on the wire are the document's bytes.
std::optional<qint64> declaredLength(const QNetworkReply& reply) {
    const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
    const QByteArray coding = reply.rawHeader("Content-Encoding");
    if (!declared.isValid() || !(coding.isEmpty() || coding == "identity")) return std::nullopt;
    return declared.toLongLong();
}

// Why no document arrived, for the operator.
std::string causeOf(QNetworkReply::NetworkError error) {
    using E = QNetworkReply::NetworkError;
    switch (error) {
        case E::ConnectionRefusedError:
            return "spojení odmítnuto";
        case E::HostNotFoundError:
            return "server nenalezen";
        case E::RemoteHostClosedError:
            return "server ukončil spojení";
        case E::ContentReSendError:
            return "server ukončil spojení bez odpovědi";
        case E::TimeoutError:
            return "vypršel čas na spojení";
        case E::TooManyRedirectsError:
            return "příliš mnoho přesměrování";
        case E::InsecureRedirectError:
            return "přesměrování z https na http odmítnuto";
        case E::SslHandshakeFailedError:
            return "zabezpečené spojení selhalo";
        case E::TemporaryNetworkFailureError:
        case E::NetworkSessionFailedError:
            return "síť není dostupná";
        case E::ProtocolFailure:
        case E::ProtocolUnknownError:
        case E::ProtocolInvalidOperationError:
            return "nesrozumitelná odpověď serveru";
        default:
            return "chyba sítě";
    }
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

}  // namespace

QtHttpControl::QtHttpControl(QObject* parent) : m_nam(new QNetworkAccessManager(parent)) {
    // Proxy settings of the environment must not divert requests meant for this PC or the LAN.
    m_nam->setProxy(QNetworkProxy::NoProxy);
    // Redirects are followed here, each with a request of its own; Qt would send a 301, 302 or
    // 303 redirect as a plain GET that it may repeat.
    m_nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QtHttpControl::~QtHttpControl() {
    abandon();
    delete m_nam.data();
}

bool QtHttpControl::getDoc(const Bytes& url, const std::filesystem::path& file) {
    abandon();
    m_state = State::idle;
    m_status = 0;
    m_cause.clear();
    m_error.clear();
    m_received = 0;
    m_redirects = 0;
    m_elapsedMs = 0;
    m_started.start();
    if (!m_nam) {
        m_error = "Síťová vrstva již neexistuje.";
        return false;
    }

    const QUrl target = QUrl::fromEncoded(wireForm(url), QUrl::TolerantMode);
    const QString scheme = target.scheme();
    if (!target.isValid() || (scheme != u"http" && scheme != u"https") || target.host().isEmpty()) {
        m_error = "Neplatná adresa serveru (očekává se http://… nebo https://…).";
        qCWarning(lcSync) << "refused URL" << target.toEncoded();
        return false;
    }

    m_path = file;
    m_file.setFileName(file);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = "Nelze otevřít soubor " + file.filename().string() + ": " +
                  m_file.errorString().toStdString();
        qCWarning(lcSync) << "cannot open" << m_file.fileName() << m_file.errorString();
        return false;
    }

    m_limit = m_sizeCap;
    m_state = State::running;
    send(target);
    return true;
}

void QtHttpControl::send(const QUrl& target) {
    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // HTTP/2 multiplexes and retries streams on its own terms; one request, one connection.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // A kept-alive connection that the server closes while idle would make the next request
    // fail for no fault of the server; a fresh connection per request fails only for real.
    request.setRawHeader("Connection", "close");
    // The reply goes to disk, so a large compressed document is no danger to memory; the size
    // cap counts the bytes written.
    request.setDecompressedSafetyCheckThreshold(-1);
    request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
    auto* body = new UnrepeatableBody(m_nam);
    QNetworkReply* reply = m_nam->sendCustomRequest(request, "GET", body);
    // A request with a body starts on the next pass of the event loop, and only then does the
    // network thread listen for the buffer size: set now, the size would be lost and Qt would
    // hold whatever part of the reply arrives faster than this thread writes it to the file
    // (over 100 MB of a 100 MB reply).  Posted after the start, the size reaches the network
    // thread right behind the request.
    QMetaObject::invokeMethod(
        reply, [reply] { reply->setReadBufferSize(kReadBufferSize); }, Qt::QueuedConnection);
    m_reply = reply;
    m_body = body;
    m_readyRead =
        QObject::connect(reply, &QNetworkReply::readyRead, m_nam, [this, reply] { drain(reply); });
    m_finished =
        QObject::connect(reply, &QNetworkReply::finished, m_nam, [this, reply] { finish(reply); });
    // The headers arrive here before Qt asks for the rewind.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, body, [body, reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 307 || status == 308) body->allowOneRewind();
    });
    qCDebug(lcSync) << "GET" << target.toEncoded();
}

void QtHttpControl::cancel() {
    if (m_state != State::running) return;
    abandon();
    m_state = State::idle;
    m_elapsedMs = m_started.elapsed();
    qCInfo(lcSync) << "download cancelled after" << m_received << "bytes," << m_elapsedMs << "ms";
}

HttpOutcome QtHttpControl::outcome() const {
    const qint64 ms = m_state == State::running ? m_started.elapsed() : m_elapsedMs;
    return {m_state, m_status, m_cause, m_received, std::chrono::milliseconds(ms)};
}

void QtHttpControl::drain(QNetworkReply* reply) {
    if (reply != m_reply) return;
    const QByteArray piece = reply->readAll();
    if (piece.isEmpty()) return;
    if (m_received + static_cast<std::uint64_t>(piece.size()) > m_limit) {
        fail("odpověď větší než " + megabytes(m_limit));
        return;
    }
    if (m_file.write(piece) != piece.size()) {
        fail(writeCause());
        return;
    }
    m_received += static_cast<std::uint64_t>(piece.size());
}

void QtHttpControl::finish(QNetworkReply* reply) {
    if (reply != m_reply) return;  // an abandoned download; abandon() has disposed of it
    drain(reply);
    if (m_state != State::running) return;

    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const std::optional<qint64> declared = declaredLength(*reply);
    if (error != QNetworkReply::NoError) {
        qCInfo(lcSync) << "reply:" << error << reply->errorString();
    }
    const QVariant redirect = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (error == QNetworkReply::NoError && redirect.isValid()) {
        follow(reply, reply->url().resolved(redirect.toUrl()));
        return;
    }
    // A connection that ends before the document does shows as closed, or as the refused second
    // try; once the headers are in, that is a cut-off answer, not a missing one.
    const bool dropped =
        error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::ContentReSendError;
    const bool answered = status.isValid() || m_received > 0;
    const bool whole = deliveredDocument(error, status.isValid());
    // Qt takes a connection closed in mid-body for the end of the document when it notices the
    // close before the last data; the declared length tells.  (A chunked or compressed document
    // cut off between two chunks cannot be told from a whole one.)
    if (declared && *declared != static_cast<qint64>(m_received) &&
        (whole || (dropped && answered))) {
        fail("odpověď kratší, než server ohlásil (" + std::to_string(m_received) + " z " +
             std::to_string(*declared) + " bajtů)");
        return;
    }
    if (!whole) {
        fail(dropped && answered ? "server ukončil spojení uprostřed odpovědi" : causeOf(error));
        return;
    }

    release(reply);
    m_file.close();  // flushes
    if (m_file.error() != QFileDevice::NoError) {
        fail(writeCause());
        return;
    }
    m_state = State::complete;
    m_status = status.toInt();
    m_elapsedMs = m_started.elapsed();
    logEnd();
}

void QtHttpControl::follow(QNetworkReply* reply, const QUrl& target) {
    const bool downgrade = reply->url().scheme() == u"https" && target.scheme() == u"http";
    release(reply);
    qCInfo(lcSync) << "redirected to" << target.toEncoded();
    if (++m_redirects > kMaxRedirects) {
        fail("příliš mnoho přesměrování");
    } else if (downgrade) {
        fail("přesměrování z https na http odmítnuto");
    } else if (target.scheme() != u"http" && target.scheme() != u"https") {
        fail("přesměrování na adresu, která není http");
    } else if (!m_file.resize(0)) {  // the redirect's own page
        fail(writeCause());
    } else {
        m_received = 0;
        send(target);
    }
}

void QtHttpControl::release(QNetworkReply* reply) {
    QObject::disconnect(m_readyRead);
    QObject::disconnect(m_finished);
    m_reply = nullptr;
    reply->deleteLater();
    // After the reply, which reads it until it is gone.
    if (m_body) m_body->deleteLater();
}

std::string QtHttpControl::writeCause() const {
    std::string cause = "nelze zapsat soubor " + m_path.filename().string();
    std::error_code ec;
    const std::filesystem::path folder =
        m_path.has_parent_path() ? m_path.parent_path() : std::filesystem::path(".");
    const auto space = std::filesystem::space(folder, ec);
    // Less room than Qt's write buffer holds: the disk is full, whatever the system calls it.
    if (!ec && space.available < kReadBufferSize) return cause + ": disk je plný";
    return cause + " (" + m_file.errorString().toStdString() + ")";
}

void QtHttpControl::fail(std::string cause) {
    abandon();
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
    m_state = State::failed;
    m_cause = std::move(cause);
    m_elapsedMs = m_started.elapsed();
    logEnd();
}

void QtHttpControl::logEnd() const {
    if (m_state == State::complete) {
        qCInfo(lcSync).nospace() << "reply " << m_status << ", " << m_received << " bytes in "
                                 << m_elapsedMs << " ms";
    } else {
        qCWarning(lcSync).noquote().nospace()
            << "download failed, no whole document: " << QString::fromStdString(m_cause) << "; "
            << m_received << " bytes in " << m_elapsedMs << " ms";
    }
}

void QtHttpControl::abandon() {
    if (QNetworkReply* reply = m_reply) {
        // Disconnected first: abort() emits finished() at once.
        QObject::disconnect(m_readyRead);
        QObject::disconnect(m_finished);
        reply->abort();
        release(reply);
    }
    if (m_file.isOpen()) m_file.close();
}

std::unique_ptr<HttpControl> makeQtHttpControl(QObject* parent) {
    return std::make_unique<QtHttpControl>(parent);
}

}  // namespace kv
