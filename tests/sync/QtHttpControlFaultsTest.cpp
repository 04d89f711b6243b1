#include <zlib.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "support/Compressed.h"
#include "sync/QtHttpControlFixture.h"

namespace kv {
namespace http_test {

// Takes each connection's request and drops the connection without an answer: closes it, or
// resets it by leaving most of the request unread.
class DroppingServer {
public:
    explicit DroppingServer(bool reset) {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, reset] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                if (reset) socket->setReadBufferSize(4);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reset] {
                    m_heads.push_back(reset ? socket->peek(4) : socket->readAll());
                    socket->abort();
                    socket->deleteLater();
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    std::string baseUrl() const {
        return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + "/";
    }
    // What arrived on each connection.
    const std::vector<QByteArray>& heads() const { return m_heads; }

private:
    QTcpServer m_server;
    std::vector<QByteArray> m_heads;
};

// Answers each connection's request with the bytes given, as they are, then closes the
// connection in order: what a server does whose reply ends with its connection, or one that
// stops in mid-reply.
class RawServer {
public:
    RawServer() {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_heads.push_back(socket->readAll());
                    socket->write(m_answer);
                    QTimer::singleShot(m_closeAfter, socket,
                                       [socket] { socket->disconnectFromHost(); });
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    std::string baseUrl() const {
        return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + "/";
    }
    // The connection closes this long after the answer was written.
    void setAnswer(QByteArray answer, std::chrono::milliseconds closeAfter = 0ms) {
        m_answer = std::move(answer);
        m_closeAfter = closeAfter;
    }
    const std::vector<QByteArray>& heads() const { return m_heads; }

private:
    QTcpServer m_server;
    QByteArray m_answer;
    std::chrono::milliseconds m_closeAfter{0};
    std::vector<QByteArray> m_heads;
};

using test::compressed;

QByteArray head(const QByteArray& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n"; }

// Each reply tells its own end: a declared length, the last chunk, a compressed stream's end,
// or with none of them the end of the connection.  Only a reply whole by its own measure is
// complete; a table stored from a reply cut short would replace the unit's whole tables.
TEST_F(QtHttpControlTest, AReplyIsWholeOnlyByItsOwnEnd) {
    std::string text;
    for (int i = 1; i <= 300; ++i)
        text += std::to_string(i) + "|" + std::to_string(100000007ull * i % 999999999989ull) +
                "|0800|" + std::to_string(i % 7) + "|" + std::to_string(i * 37 % 1000) + "\n";
    const QByteArray plain = QByteArray::fromStdString(text);
    const QByteArray gzip = compressed(plain, 16 + MAX_WBITS);
    const QByteArray gzipCut = gzip.left(gzip.size() * 6 / 10);
    const QByteArray length = QByteArray::number(plain.size());
    struct Row {
        const char* what;
        QByteArray answer;
        std::string cause;  // empty: complete with text
        // Data and close arriving together let Qt take a chunked body cut short for a whole
        // one, and its last chunk is not seen here; a server that stops in mid-reply usually
        // closes a moment after its last data.
        std::chrono::milliseconds closeAfter{0};
    };
    const Row rows[] = {
        {"ended by closing", head("Content-Type: text/plain\r\n") + plain, ""},
        {"short of its length", head("Content-Length: " + length + "\r\n") + plain.left(600),
         "odpověď kratší, než server ohlásil (600 z " + length.toStdString() + " bajtů)"},
        {"chunked without its last chunk",
         head("Transfer-Encoding: chunked\r\n") + "258\r\n" + plain.left(600) + "\r\n",
         "server ukončil spojení uprostřed odpovědi", 200ms},
        {"gzip ended by closing", head("Content-Encoding: gzip\r\n") + gzip, ""},
        {"chunked gzip",
         head("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n") +
             QByteArray::number(gzip.size(), 16) + "\r\n" + gzip + "\r\n0\r\n\r\n",
         ""},
        {"gzip with its whole length declared, 60 % sent",
         head("Content-Encoding: gzip\r\nContent-Length: " + QByteArray::number(gzip.size()) +
              "\r\n") +
             gzipCut,
         "odpověď kratší, než server ohlásil"},
        {"gzip cut, ended by closing", head("Content-Encoding: gzip\r\n") + gzipCut,
         "odpověď serveru neúplná: komprimovaný obsah nekončí"},
    };
    RawServer server;
    for (const Row& row : rows) {
        for (const Repeat repeat : {Repeat::never, Repeat::allowed}) {
            // The server's close right after the reply races with Qt's reading of it.
            for (int attempt = 0; attempt < 10; ++attempt) {
                SCOPED_TRACE(std::string(row.what) +
                             (repeat == Repeat::never ? ", sent once" : ", repeatable"));
                server.setAnswer(row.answer, row.closeAfter);
                ASSERT_TRUE(http.getDoc(server.baseUrl() + "kvsync.php?prikaz=1", file, repeat));
                ASSERT_TRUE(waitEnded());
                const HttpOutcome outcome = http.outcome();
                if (row.cause.empty()) {
                    ASSERT_EQ(outcome.state, State::complete) << outcome.cause;
                    EXPECT_EQ(readFile(file), text);
                } else {
                    ASSERT_EQ(outcome.state, State::failed);
                    // Qt may drop what it read when the close comes with the reply's end, and
                    // then tells of no answer at all.
                    if (outcome.cause != "server ukončil spojení bez odpovědi") {
                        EXPECT_EQ(outcome.cause.substr(0, row.cause.size()), row.cause)
                            << outcome.cause;
                    }
                    EXPECT_FALSE(std::filesystem::exists(file));
                }
            }
        }
    }
    // A request sent once says so; one that may be repeated keeps its connection.  Both offer
    // only what is decoded here.
    for (const QByteArray& request : server.heads()) {
        EXPECT_TRUE(request.contains("\r\nAccept-Encoding: gzip, deflate\r\n"))
            << request.toStdString();
    }
    EXPECT_TRUE(server.heads().front().contains("\r\nConnection: close\r\n"));
    EXPECT_TRUE(server.heads().front().contains("\r\nContent-Length: 0\r\n"));
    EXPECT_FALSE(server.heads().back().contains("Connection: close"));
}

TEST_F(QtHttpControlTest, FailureEndsAtOnceWithItsCauseAndLeavesNoFile) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const std::string closedBase = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/";
    closed.close();
    DroppingServer dropping(false);
    DroppingServer resetting(true);
    const std::filesystem::path full = file.parent_path() / "full" / "get.tmp";
    std::filesystem::create_directory(full.parent_path());
    if (const auto device = test::fullDevice()) std::filesystem::create_symlink(*device, full);

    constexpr std::uint64_t cap = 1 << 20;
    const WebReply streamed{.contentType = "application/octet-stream", .streamedSize = 1ull << 30};
    struct Row {
        const char* what;
        std::string base;
        WebReply reply;
        std::string cause;
        std::size_t requests;  // that reach the web stub
        std::filesystem::path file;
        Repeat repeat = Repeat::never;
    };
    std::vector<Row> rows = {
        {"connection refused", closedBase, {}, "spojení odmítnuto", 0, file},
        {"body cut short",
         web.baseUrl(),
         {.contentType = "application/octet-stream", .streamedSize = 1 << 20, .cutAfter = 100'000},
         "odpověď kratší, než server ohlásil (100000 z 1048576 bajtů)",
         1,
         file},
        {"declared body over the cap", web.baseUrl(), streamed, "odpověď větší než 1 MB", 1, file},
        {"endless body over the cap",
         web.baseUrl(),
         {.contentType = "application/octet-stream", .streamedSize = ~0ull, .chunked = true},
         "odpověď větší než 1 MB",
         1,
         file},
        // An event request goes once more at most, and only to another address.
        {"redirect without an address",
         web.baseUrl(),
         {.status = 302},
         "přesměrování bez cílové adresy",
         1,
         file},
        {"redirect to the same address",
         web.baseUrl(),
         {.status = 302, .location = web.baseUrl() + "kvsync.php?prikaz=4"},
         "přesměrování na tutéž adresu",
         1,
         file},
        {"second redirect",
         web.baseUrl(),
         {.status = 302, .location = web.baseUrl() + "kvsync.php?prikaz=4&moved"},
         "příliš mnoho přesměrování",
         2,
         file},
        {"redirect loop of a repeatable request",
         web.baseUrl(),
         {.status = 302, .location = web.baseUrl() + "kvsync.php?prikaz=4"},
         "příliš mnoho přesměrování",
         1 + QtHttpControl::kMaxRedirects,
         file,
         Repeat::allowed},
    };
    if (test::fullDevice())
        rows.push_back({"disk full",
                        web.baseUrl(),
                        {.body = "---OK---\n"},
                        "nelze zapsat soubor get.tmp",
                        1,
                        full});
    http.setSizeCap(cap);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        web.setReply(row.reply);
        const std::size_t before = web.requestCount();
        ASSERT_TRUE(http.getDoc(row.base + "kvsync.php?prikaz=4", row.file, row.repeat));
        ASSERT_TRUE(waitEnded(20s));
        const HttpOutcome outcome = http.outcome();
        EXPECT_EQ(outcome.state, State::failed);
        EXPECT_EQ(outcome.cause.substr(0, row.cause.size()), row.cause) << outcome.cause;
        EXPECT_EQ(outcome.localFault, row.file == full) << "the disk's fault, not the server's";
        if (row.requests == 0) EXPECT_FALSE(outcome.connectionBroke) << "no server was reached";
        EXPECT_LE(outcome.bytes, cap);
        EXPECT_FALSE(http.outcome().complete());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(row.file)));
        EXPECT_EQ(web.requestCount() - before, row.requests);
        // A failure stays visible until the next download.
        http.cancel();
        EXPECT_EQ(http.state(), State::failed);
    }

    // Under wine, once a download has run in the process, a connection dropped without a reply
    // is never reported to Qt (seen only there; alone the case passes under wine too).
    if (test::underWine()) GTEST_SKIP() << "wine does not report the dropped connection";
    // Qt's network layer would send the request again on a new connection.
    for (const DroppingServer* server : {&dropping, &resetting}) {
        ASSERT_TRUE(
            http.getDoc(server->baseUrl() + "kvsync.php?prikaz=2&indexza=7", file, Repeat::never));
        ASSERT_TRUE(waitEnded());
        EXPECT_EQ(http.outcome().cause, "server ukončil spojení bez odpovědi");
        EXPECT_TRUE(http.outcome().connectionBroke) << "the server was there";
        ASSERT_EQ(server->heads().size(), 1u);
        EXPECT_TRUE(server->heads()[0].startsWith(
            server == &dropping ? "GET /kvsync.php?prikaz=2&indexza=7 HTTP/1.1\r\n" : "GET "))
            << server->heads()[0].toStdString();
    }
}

TEST_F(QtHttpControlTest, UnusableAddressIsRefusedAndNothingRuns) {
    const std::string urls[] = {
        "",
        "localhost/kordavoweb/kvsync.php?prikaz=4",
        "ftp://127.0.0.1/kordavoweb/kvsync.php?prikaz=4",
        "http:///kordavoweb/kvsync.php?prikaz=4",
        "http://127.0.0.1:99999/kvsync.php?prikaz=4",
        "http://local host/kvsync.php?prikaz=4",
    };
    web.setReply({.neverAnswer = true});
    std::size_t count = 0;
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        ASSERT_TRUE(http.getDoc(web.baseUrl() + "held", file, Repeat::never));
        ASSERT_TRUE(web.waitForRequests(++count, 5s));
        EXPECT_FALSE(http.getDoc(url, file, Repeat::never));
        EXPECT_FALSE(http.outcome().cause.empty());
        EXPECT_EQ(http.state(), State::refused);
        EXPECT_FALSE(openInThisProcess(file));
    }
    EXPECT_EQ(web.requestCount(), count);
}

TEST_F(QtHttpControlTest, FileThatCannotBeOpenedIsRefused) {
    EXPECT_FALSE(http.getDoc(web.baseUrl() + "kvsync.php?prikaz=4",
                             file.parent_path() / "no" / "get.tmp", Repeat::never));
    EXPECT_NE(http.outcome().cause.find("get.tmp"), std::string::npos) << http.outcome().cause;
    EXPECT_EQ(http.state(), State::refused);
    EXPECT_FALSE(web.waitForRequests(1, 300ms));
}

}  // namespace http_test
}  // namespace kv
