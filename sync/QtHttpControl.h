#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <string>

#include "sync/HttpControl.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace kv {

// The production HTTP control on QNetworkAccessManager.  The document is written to the file
// as it arrives, so a reply of any size costs little memory.
//
// A download counts as complete when the server has answered with a whole document, whatever
// its status: an error page (404, 500) is complete with its body in the file.  When no whole
// document arrives (connection refused, host not found, connection lost, fewer bytes than the
// declared length) the download never completes, and the bridge reports the time-out as for a
// silent server.
//
// No proxy (the server is on this PC or the local network), no cache, redirects followed as far
// as Qt's default allows (not from https to http).
//
// The network objects are children of the parent given: they live in its thread and go with it
// at the latest; after that getDoc refuses.  The control itself belongs to its owner.
class QtHttpControl final : public HttpControl {
public:
    enum class State { idle, running, complete, failed };

    explicit QtHttpControl(QObject* parent);
    ~QtHttpControl() override;
    QtHttpControl(const QtHttpControl&) = delete;
    QtHttpControl& operator=(const QtHttpControl&) = delete;

    bool getDoc(const Bytes& url, const std::filesystem::path& file) override;
    bool isComplete() override { return m_state == State::complete; }
    // A download that has already completed stays complete.
    void cancel() override;
    std::string lastError() const override { return m_error; }

    State state() const { return m_state; }

private:
    void drain(QNetworkReply* reply);
    void finish(QNetworkReply* reply);
    void abandon();

    QPointer<QNetworkAccessManager> m_nam;
    QPointer<QNetworkReply> m_reply;
    QMetaObject::Connection m_readyRead;
    QMetaObject::Connection m_finished;
    QFile m_file;
    qint64 m_received = 0;  // bytes of the document so far
    State m_state = State::idle;
    std::string m_error;
};

}  // namespace kv
