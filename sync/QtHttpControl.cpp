#include "sync/QtHttpControl.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <string_view>

#include "sync/Logging.h"

namespace kv {

namespace {

// Keeps what Qt holds for one reply small when the tick is slow to collect it.
constexpr qint64 kReadBufferSize = 1024 * 1024;

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

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

// Whether the server answered with a whole document: success, or an HTTP error status with its
// page.  Transport, proxy and protocol failures deliver no document.
bool deliveredDocument(QNetworkReply::NetworkError error) {
    using E = QNetworkReply::NetworkError;
    return error == E::NoError ||
           (error >= E::ContentAccessDenied && error <= E::UnknownContentError) ||
           (error >= E::InternalServerError && error <= E::UnknownServerError);
}

// Qt takes a connection closed in mid-body for the end of the document when it notices the
// close before the last data; the declared length tells.  (A chunked or compressed document
// cut off between two chunks cannot be told from a whole one.)
bool receivedAll(const QNetworkReply& reply, qint64 received) {
    const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
    const QByteArray coding = reply.rawHeader("Content-Encoding");
    if (!declared.isValid() || !(coding.isEmpty() || coding == "identity")) return true;
    return declared.toLongLong() == received;
}

}  // namespace

QtHttpControl::QtHttpControl(QObject* parent) : m_nam(new QNetworkAccessManager(parent)) {
    // Proxy settings of the environment must not divert requests meant for this PC or the LAN.
    m_nam->setProxy(QNetworkProxy::NoProxy);
    m_nam->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

QtHttpControl::~QtHttpControl() {
    abandon();
    delete m_nam.data();
}

bool QtHttpControl::getDoc(const Bytes& url, const std::filesystem::path& file) {
    abandon();
    m_state = State::idle;
    m_error.clear();
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

    m_file.setFileName(file);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = "Nelze otevřít soubor " + file.filename().string() + ": " +
                  m_file.errorString().toStdString();
        qCWarning(lcSync) << "cannot open" << m_file.fileName() << m_file.errorString();
        return false;
    }

    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // The reply goes to disk, so a large compressed document is no danger to memory.
    request.setDecompressedSafetyCheckThreshold(-1);
    QNetworkReply* reply = m_nam->get(request);
    reply->setReadBufferSize(kReadBufferSize);
    m_reply = reply;
    m_received = 0;
    m_state = State::running;
    m_readyRead =
        QObject::connect(reply, &QNetworkReply::readyRead, m_nam, [this, reply] { drain(reply); });
    m_finished =
        QObject::connect(reply, &QNetworkReply::finished, m_nam, [this, reply] { finish(reply); });
    qCDebug(lcSync) << "GET" << target.toEncoded();
    return true;
}

void QtHttpControl::cancel() {
    if (m_state == State::complete) return;
    abandon();
    m_state = State::idle;
}

void QtHttpControl::drain(QNetworkReply* reply) {
    if (reply != m_reply) return;
    const QByteArray piece = reply->readAll();
    m_received += piece.size();
    if (piece.isEmpty() || m_file.write(piece) == piece.size()) return;
    qCWarning(lcSync) << "cannot write" << m_file.fileName() << m_file.errorString();
    abandon();
    m_state = State::failed;
}

void QtHttpControl::finish(QNetworkReply* reply) {
    if (reply != m_reply) return;  // an abandoned download; abandon() has disposed of it
    drain(reply);
    if (m_state != State::running) return;

    const bool whole = deliveredDocument(reply->error()) && receivedAll(*reply, m_received);
    if (!whole) qCInfo(lcSync) << "no whole document:" << reply->errorString() << m_received;
    QObject::disconnect(m_readyRead);
    QObject::disconnect(m_finished);
    m_reply = nullptr;
    reply->deleteLater();

    m_file.close();  // flushes
    const bool written = m_file.error() == QFileDevice::NoError;
    if (!written) qCWarning(lcSync) << "cannot write" << m_file.fileName() << m_file.errorString();
    m_state = written && whole ? State::complete : State::failed;
}

void QtHttpControl::abandon() {
    if (QNetworkReply* reply = m_reply) {
        // Disconnected first: abort() emits finished() at once.
        QObject::disconnect(m_readyRead);
        QObject::disconnect(m_finished);
        m_reply = nullptr;
        reply->abort();
        reply->deleteLater();
    }
    if (m_file.isOpen()) m_file.close();
}

std::unique_ptr<HttpControl> makeQtHttpControl(QObject* parent) {
    return std::make_unique<QtHttpControl>(parent);
}

}  // namespace kv
