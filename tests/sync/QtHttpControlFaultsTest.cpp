#include <QTcpServer>
#include <QTcpSocket>

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
        {"redirect loop",
         web.baseUrl(),
         {.status = 302, .location = web.baseUrl() + "kvsync.php?prikaz=4"},
         "příliš mnoho přesměrování",
         1 + QtHttpControl::kMaxRedirects,
         file},
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
        ASSERT_TRUE(http.getDoc(row.base + "kvsync.php?prikaz=4", row.file));
        ASSERT_TRUE(waitEnded(20s));
        const HttpOutcome outcome = http.outcome();
        EXPECT_EQ(outcome.state, State::failed);
        EXPECT_EQ(outcome.cause.substr(0, row.cause.size()), row.cause) << outcome.cause;
        EXPECT_LE(outcome.bytes, cap);
        EXPECT_FALSE(http.isComplete());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(row.file)));
        EXPECT_EQ(web.requestCount() - before, row.requests);
        // A failure stays visible until the next download.
        http.cancel();
        EXPECT_EQ(http.state(), State::failed);
    }

    // Qt's network layer would send the request again on a new connection.
    for (const DroppingServer* server : {&dropping, &resetting}) {
        ASSERT_TRUE(http.getDoc(server->baseUrl() + "kvsync.php?prikaz=2&indexza=7", file));
        ASSERT_TRUE(waitEnded());
        EXPECT_EQ(http.outcome().cause, "server ukončil spojení bez odpovědi");
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
        ASSERT_TRUE(http.getDoc(web.baseUrl() + "held", file));
        ASSERT_TRUE(web.waitForRequests(++count, 5s));
        EXPECT_FALSE(http.getDoc(url, file));
        EXPECT_FALSE(http.lastError().empty());
        EXPECT_EQ(http.state(), State::idle);
        EXPECT_FALSE(openInThisProcess(file));
    }
    EXPECT_EQ(web.requestCount(), count);
}

TEST_F(QtHttpControlTest, FileThatCannotBeOpenedIsRefused) {
    EXPECT_FALSE(
        http.getDoc(web.baseUrl() + "kvsync.php?prikaz=4", file.parent_path() / "no" / "get.tmp"));
    EXPECT_NE(http.lastError().find("get.tmp"), std::string::npos) << http.lastError();
    EXPECT_EQ(http.state(), State::idle);
    EXPECT_FALSE(web.waitForRequests(1, 300ms));
}

}  // namespace http_test
}  // namespace kv
