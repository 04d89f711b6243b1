#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

#include "sync/HttpControl.h"

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace kv {

class BodyDecoder;

// The production HTTP control on QNetworkAccessManager.  The document is written to the file
// as it arrives, so a reply of any size costs little memory.
//
// A download counts as complete when the server has answered with a whole document, whatever
// its status: an error page (404, 500) is complete with its body in the file, and its status
// tells.  When no whole document arrives (connection refused, host not found, connection lost,
// fewer bytes than the declared length, a compressed body whose stream does not end, more bytes
// than the size cap, a redirect loop, a file that cannot be written) the download fails: it
// never completes, the file is deleted and outcome() says why at once.
//
// A reply tells its own end: by its declared length, by its last chunk, or, with neither, by
// the server closing the connection after the body.  The request offers gzip and deflate and
// the body is decoded here, so that a compressed stream cut short shows.  A reply with neither
// a length nor chunks that is cut short at a line end, and is not compressed, cannot be told
// from a whole one: nothing on the wire says more bytes were meant.
//
// Every request goes out once: Qt's own second try is refused.  A request that may not be
// repeated goes on a connection of its own that closes after the answer: the server may have
// recorded a request whose connection it dropped.  A request that may be repeated goes on a
// connection kept open between such requests, so that the server marks the reply's end by a
// length or chunks.  The two kinds never share a connection.
//
// No proxy (the server is on this PC or the local network), no cache, HTTP/1.1 only, at most
// kMaxRedirects redirects, each a new GET of its own (never from https to http).  A request
// that may not be repeated follows one redirect at most, and only to another address.
//
// The network objects are children of the parent given: they live in its thread and go with it
// at the latest; after that getDoc refuses.  The control itself belongs to its owner.
class QtHttpControl final : public HttpControl {
public:
    using State = HttpState;
    // Well above the largest table the server sends; an endless body must not fill the disk.
    static constexpr std::uint64_t kDefaultSizeCap = 256ull << 20;
    static constexpr int kMaxRedirects = 5;

    explicit QtHttpControl(QObject* parent);
    ~QtHttpControl() override;
    QtHttpControl(const QtHttpControl&) = delete;
    QtHttpControl& operator=(const QtHttpControl&) = delete;

    bool getDoc(const Bytes& url, const std::filesystem::path& file, Repeat repeat) override;
    void cancel() override;
    HttpOutcome outcome() const override;

    State state() const { return m_state; }
    // The largest document accepted, in bytes; applies from the next getDoc.
    void setSizeCap(std::uint64_t bytes) { m_sizeCap = bytes; }

private:
    void send(const QUrl& target);
    void refuse(std::string why);
    void drain(QNetworkReply* reply);
    void finish(QNetworkReply* reply);
    void follow(QNetworkReply* reply, const QUrl& location);
    // Lets go of a reply that has ended or been aborted.
    void release(QNetworkReply* reply);
    // Ends the running download as failed: abandons it, deletes its file, logs the cause.
    void fail(std::string cause);
    // The document could not be written to its file: the local disk's fault, not the server's.
    void failWriting();
    void abandon();
    std::string writeCause() const;
    void logEnd() const;

    QPointer<QNetworkAccessManager> m_nam;        // requests sent once
    QPointer<QNetworkAccessManager> m_keptAlive;  // requests that may be repeated
    QPointer<QNetworkReply> m_reply;
    QPointer<QIODevice> m_body;  // the request's empty body, see getDoc
    QMetaObject::Connection m_readyRead;
    QMetaObject::Connection m_finished;
    std::unique_ptr<BodyDecoder> m_decoder;  // of the running reply, once its headers are in
    Repeat m_repeat = Repeat::never;
    QFile m_file;
    std::filesystem::path m_path;
    std::uint64_t m_sizeCap = kDefaultSizeCap;
    std::uint64_t m_limit = kDefaultSizeCap;  // the cap of the running download
    std::uint64_t m_received = 0;             // bytes of the document so far
    std::uint64_t m_wire = 0;                 // bytes of the body as sent, before decoding
    int m_redirects = 0;                      // followed for the running download
    QElapsedTimer m_started;
    qint64 m_elapsedMs = 0;  // of the ended download
    State m_state = State::idle;
    int m_status = 0;
    std::string m_cause;
    bool m_localFault = false;
    bool m_connectionBroke = false;
};

}  // namespace kv
