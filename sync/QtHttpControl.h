#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <string>

#include "sync/HttpControl.h"

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace kv {

// The production HTTP control on QNetworkAccessManager.  The document is written to the file
// as it arrives, so a reply of any size costs little memory.
//
// A download counts as complete when the server has answered with a whole document, whatever
// its status: an error page (404, 500) is complete with its body in the file, and its status
// tells.  When no whole document arrives (connection refused, host not found, connection lost,
// fewer bytes than the declared length, more bytes than the size cap, a redirect loop, a file
// that cannot be written) the download fails: it never completes, the file is deleted and
// outcome() says why at once.
//
// Every request goes out once, on a connection of its own that closes after the answer: the
// server may have recorded a request whose connection it dropped, so Qt must not send it again.
//
// No proxy (the server is on this PC or the local network), no cache, HTTP/1.1 only, at most
// kMaxRedirects redirects, each a new GET of its own (never from https to http).
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

    bool getDoc(const Bytes& url, const std::filesystem::path& file) override;
    bool isComplete() override { return m_state == State::complete; }
    void cancel() override;
    std::string lastError() const override { return m_error; }
    HttpOutcome outcome() const override;

    State state() const { return m_state; }
    // The largest document accepted, in bytes; applies from the next getDoc.
    void setSizeCap(std::uint64_t bytes) { m_sizeCap = bytes; }

private:
    void send(const QUrl& target);
    void drain(QNetworkReply* reply);
    void finish(QNetworkReply* reply);
    void follow(QNetworkReply* reply, const QUrl& target);
    // Lets go of a reply that has ended or been aborted.
    void release(QNetworkReply* reply);
    // Ends the running download as failed: abandons it, deletes its file, logs the cause.
    void fail(std::string cause);
    void abandon();
    std::string writeCause() const;
    void logEnd() const;

    QPointer<QNetworkAccessManager> m_nam;
    QPointer<QNetworkReply> m_reply;
    QPointer<QIODevice> m_body;  // the request's empty body, see getDoc
    QMetaObject::Connection m_readyRead;
    QMetaObject::Connection m_finished;
    QFile m_file;
    std::filesystem::path m_path;
    std::uint64_t m_sizeCap = kDefaultSizeCap;
    std::uint64_t m_limit = kDefaultSizeCap;  // the cap of the running download
    std::uint64_t m_received = 0;             // bytes of the document so far
    int m_redirects = 0;                      // followed for the running download
    QElapsedTimer m_started;
    qint64 m_elapsedMs = 0;  // of the ended download
    State m_state = State::idle;
    int m_status = 0;
    std::string m_cause;
    std::string m_error;
};

}  // namespace kv
