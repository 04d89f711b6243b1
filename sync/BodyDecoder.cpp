#include "sync/BodyDecoder.h"

namespace kv {

bool deliveredDocument(QNetworkReply::NetworkError error, bool hasStatus) {
    using E = QNetworkReply::NetworkError;
    const bool statusError = (error >= E::ContentAccessDenied && error <= E::UnknownContentError &&
                              error != E::ContentReSendError) ||
                             (error >= E::InternalServerError && error <= E::UnknownServerError) ||
                             error == E::ProtocolInvalidOperationError         // 400
                             || error == E::ProxyAuthenticationRequiredError;  // 407
    return error == E::NoError || (hasStatus && statusError);
}

std::string networkCause(QNetworkReply::NetworkError error) {
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

BodyDecoder::BodyDecoder(const QByteArray& coding) {
    const QByteArray name = coding.trimmed().toLower();
    if (name.isEmpty() || name == "identity") {
        m_coding = Coding::identity;
    } else if (name == "gzip" || name == "x-gzip") {
        m_coding = Coding::gzip;
    } else if (name == "deflate") {
        m_coding = Coding::deflate;
    } else {
        m_coding = Coding::unknown;
        m_name = name.toStdString();
    }
    if (compressed()) start(m_coding == Coding::gzip ? 16 + MAX_WBITS : MAX_WBITS);
}

BodyDecoder::~BodyDecoder() {
    if (m_started) inflateEnd(&m_stream);
}

void BodyDecoder::start(int windowBits) {
    m_stream = {};
    m_started = inflateInit2(&m_stream, windowBits) == Z_OK;
}

bool BodyDecoder::feed(const QByteArray& piece, QByteArray& out) {
    if (!compressed()) {
        out.append(piece);
        return true;
    }
    if (!m_started) return false;
    const bool first = !m_fed;
    m_fed = true;
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    m_stream.avail_in = static_cast<uInt>(piece.size());
    do {
        if (m_ended) {
            if (m_stream.avail_in == 0) break;
            // Only gzip may go on: a further member of the same body.
            if (m_coding != Coding::gzip || inflateReset(&m_stream) != Z_OK) return false;
            m_ended = false;
        }
        char buffer[64 * 1024];
        m_stream.next_out = reinterpret_cast<Bytef*>(buffer);
        m_stream.avail_out = sizeof buffer;
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        if (result == Z_DATA_ERROR && m_coding == Coding::deflate && !m_raw && first &&
            m_stream.total_out == 0) {
            // Some servers send "deflate" without its zlib wrapper.
            inflateEnd(&m_stream);
            start(-MAX_WBITS);
            if (!m_started) return false;
            m_raw = true;
            m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
            m_stream.avail_in = static_cast<uInt>(piece.size());
            continue;
        }
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - m_stream.avail_out));
        if (result == Z_STREAM_END) m_ended = true;
        if (result == Z_BUF_ERROR) break;  // all input taken, all output given
    } while (m_stream.avail_in > 0 || m_stream.avail_out == 0);
    return true;
}

std::string bodyFault(const BodyEnd& end, const std::string& networkCause) {
    // A connection that ends before the headers is a missing answer; after them it is the end of
    // a reply that declared no length and no chunks, a whole one, and for any other reply a
    // cut-off one unless all its declared length is in.
    const Framing& framing = end.framing;
    const bool endsWithConnection = !framing.length && !framing.chunked;
    const bool lengthIn = framing.length && *framing.length == static_cast<std::int64_t>(end.wire);
    const bool whole =
        end.delivered || (end.dropped && end.headersIn && (endsWithConnection || lengthIn));
    // The network layer takes a connection closed in mid-body for the end of the document when
    // it notices the close before the last data; the declared length tells.
    if (framing.length && !lengthIn && (whole || (end.dropped && end.answered)))
        return "odpověď kratší, než server ohlásil (" + std::to_string(end.wire) + " z " +
               std::to_string(*framing.length) + " bajtů)";
    if (!whole)
        return end.dropped && end.answered ? "server ukončil spojení uprostřed odpovědi"
                                           : networkCause;
    if (!end.streamEnded)
        return "odpověď serveru neúplná: komprimovaný obsah nekončí (" + std::to_string(end.wire) +
               " bajtů)";
    return {};
}

}  // namespace kv
