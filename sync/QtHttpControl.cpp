#include "sync/QtHttpControl.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "link/NumberText.h"
#include "sync/BodyDecoder.h"
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

// The empty body every request carries, which cannot be rewound.  Qt's
// network layer sends a request again by itself when the connection ends in a way it takes for
// a kept-alive connection closed under the request, and rewinds the request's body first; with
// this body that second try ends the download as ContentReSendError instead of reaching the
// server a second time.  Qt may take that way also when the server closes the connection right
// after a reply that ends with its connection, so the error is no proof of a missing answer
// (see finish()).  A request that may be repeated carries it as well: as a plain GET, Qt takes a
// chunked body that a closed connection cuts short for a whole one, while for this request it
// reports the cut.  (The request says "Content-Length: 0", which servers take as no body.)  Qt
// also rewinds the body once on a 307 or 308 answer, which is allowed: the redirect is then
// followed here with a new request.
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

Framing framingOf(const QNetworkReply& reply) {
    Framing framing;
    framing.chunked = reply.rawHeader("Transfer-Encoding").toLower().contains("chunked");
    const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && !framing.chunked) framing.length = declared.toLongLong();
    return framing;
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

}  // namespace

QtHttpControl::QtHttpControl(QObject* parent)
    : m_nam(new QNetworkAccessManager(parent)), m_keptAlive(new QNetworkAccessManager(parent)) {
    for (QNetworkAccessManager* nam : {m_nam.data(), m_keptAlive.data()}) {
        // Proxy settings of the environment must not divert requests meant for this PC or the
        // LAN.
        nam->setProxy(QNetworkProxy::NoProxy);
        // Redirects are followed here, each with a request of its own; Qt would send a 301, 302
        // or 303 redirect as a plain GET that it may repeat.
        nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
}

QtHttpControl::~QtHttpControl() {
    abandon();
    delete m_nam.data();
    delete m_keptAlive.data();
}

void QtHttpControl::refuse(std::string why) {
    m_state = State::refused;
    m_cause = std::move(why);
}

bool QtHttpControl::getDoc(const Bytes& url, const std::filesystem::path& file, Repeat repeat) {
    abandon();
    m_state = State::idle;
    m_status = 0;
    m_cause.clear();
    m_localFault = false;
    m_connectionBroke = false;
    m_repeat = repeat;
    m_received = 0;
    m_wire = 0;
    m_redirects = 0;
    m_elapsedMs = 0;
    m_started.start();
    if (!m_nam || !m_keptAlive) {
        refuse("Síťová vrstva již neexistuje.");
        return false;
    }

    const QUrl target = QUrl::fromEncoded(wireForm(url), QUrl::TolerantMode);
    const QString scheme = target.scheme();
    if (!target.isValid() || (scheme != u"http" && scheme != u"https") || target.host().isEmpty()) {
        refuse("Neplatná adresa serveru (očekává se http://… nebo https://…).");
        qCWarning(lcSync) << "refused URL" << target.toEncoded();
        return false;
    }

    m_path = file;
    m_file.setFileName(file);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        refuse("Nelze otevřít soubor " + file.filename().string() + ": " +
               m_file.errorString().toStdString());
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
    // HTTP/2 multiplexes and retries streams on its own terms.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Offered here rather than by Qt, which would then decode the body itself and take a
    // compressed stream cut short for a whole one; the body comes as sent and BodyDecoder checks
    // that its stream ends.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    m_decoder.reset();
    // A request that may not be repeated asks for a connection of its own; one that may be
    // repeated leaves the connection open, and servers then mark the reply's end by its length
    // or its last chunk, which shows a reply cut short.
    if (m_repeat == Repeat::never) request.setRawHeader("Connection", "close");
    request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
    QNetworkAccessManager* nam = m_repeat == Repeat::never ? m_nam : m_keptAlive;
    auto* body = new UnrepeatableBody(nam);
    QNetworkReply* reply = nam->sendCustomRequest(request, "GET", body);
    // The headers arrive here before Qt asks for the rewind.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, body, [body, reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 307 || status == 308) body->allowOneRewind();
    });
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
    qCDebug(lcSync) << "GET" << target.toEncoded()
                    << (m_repeat == Repeat::allowed ? "(may be repeated)" : "(sent once)");
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
    return {m_state,      m_status,         m_cause, m_received, std::chrono::milliseconds(ms),
            m_localFault, m_connectionBroke};
}

void QtHttpControl::drain(QNetworkReply* reply) {
    if (reply != m_reply) return;
    const QByteArray piece = reply->readAll();
    if (piece.isEmpty()) return;
    m_wire += static_cast<std::uint64_t>(piece.size());
    // A redirect's own page is not the document.
    if (reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) return;
    if (!m_decoder) {
        m_decoder = std::make_unique<BodyDecoder>(reply->rawHeader("Content-Encoding"));
        if (!m_decoder->known()) {
            fail("nesrozumitelná odpověď serveru (kódování " + m_decoder->name() + ")");
            return;
        }
    }
    QByteArray decoded;
    if (!m_decoder->feed(piece, decoded)) {
        fail("nesrozumitelná odpověď serveru (poškozený komprimovaný obsah)");
        return;
    }
    if (m_received + static_cast<std::uint64_t>(decoded.size()) > m_limit) {
        fail("odpověď větší než " + megabytes(m_limit));
        return;
    }
    if (m_file.write(decoded) != decoded.size()) {
        failWriting();
        return;
    }
    m_received += static_cast<std::uint64_t>(decoded.size());
}

void QtHttpControl::finish(QNetworkReply* reply) {
    if (reply != m_reply) return;  // an abandoned download; abandon() has disposed of it
    drain(reply);
    if (m_state != State::running) return;

    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (error != QNetworkReply::NoError) {
        qCInfo(lcSync) << "reply:" << error << reply->errorString();
    }
    const QVariant redirect = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (error == QNetworkReply::NoError && redirect.isValid()) {
        follow(reply, redirect.toUrl());
        return;
    }
    // A connection that ends shows as closed, or as Qt's refused second try.
    BodyEnd end;
    end.framing = framingOf(*reply);
    end.wire = m_wire;
    end.headersIn = status.isValid();
    end.delivered = deliveredDocument(error, end.headersIn);
    end.dropped =
        error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::ContentReSendError;
    end.answered = end.headersIn || m_received > 0;
    end.streamEnded = !m_decoder || m_decoder->ended();
    if (std::string fault = bodyFault(end, networkCause(error)); !fault.empty()) {
        fail(std::move(fault));
        m_connectionBroke = end.dropped || end.answered;
        return;
    }

    release(reply);
    m_file.close();  // flushes
    if (m_file.error() != QFileDevice::NoError) {
        failWriting();
        return;
    }
    m_state = State::complete;
    m_status = status.toInt();
    m_elapsedMs = m_started.elapsed();
    logEnd();
}

void QtHttpControl::follow(QNetworkReply* reply, const QUrl& location) {
    const QUrl from = reply->url();
    const QUrl target = from.resolved(location);
    const bool downgrade = from.scheme() == u"https" && target.scheme() == u"http";
    release(reply);
    qCInfo(lcSync) << "redirected to" << target.toEncoded();
    // A request that records something reaches the server once more at most, and only at
    // another address: a server that recorded it and then sent it back to the same address would
    // record it twice.
    const bool once = m_repeat == Repeat::never;
    if (location.isEmpty()) {
        fail("přesměrování bez cílové adresy");
    } else if (++m_redirects > (once ? 1 : kMaxRedirects)) {
        fail("příliš mnoho přesměrování");
    } else if (once && target.adjusted(QUrl::NormalizePathSegments) ==
                           from.adjusted(QUrl::NormalizePathSegments)) {
        fail("přesměrování na tutéž adresu");
    } else if (downgrade) {
        fail("přesměrování z https na http odmítnuto");
    } else if (target.scheme() != u"http" && target.scheme() != u"https") {
        fail("přesměrování na adresu, která není http");
    } else if (!m_file.resize(0)) {  // nothing of the redirect's own page stays
        failWriting();
    } else {
        m_received = 0;
        m_wire = 0;
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

void QtHttpControl::failWriting() {
    fail(writeCause());
    m_localFault = true;
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
        qCInfo(lcSync).nospace() << "reply " << m_status << ", " << m_received << " bytes ("
                                 << m_wire << " as sent) in " << m_elapsedMs << " ms";
    } else {
        qCWarning(lcSync).noquote().nospace()
            << "download failed, no whole document: " << QString::fromStdString(m_cause) << "; "
            << m_received << " bytes (" << m_wire << " as sent) in " << m_elapsedMs << " ms";
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
    m_decoder.reset();
}

std::unique_ptr<HttpControl> makeQtHttpControl(QObject* parent) {
    return std::make_unique<QtHttpControl>(parent);
}

}  // namespace kv
