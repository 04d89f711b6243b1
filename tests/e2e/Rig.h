#pragma once

// The three real programs of an end-to-end run, each in a process of its own: the stand-in web
// application under PHP's built-in server, the unit simulator on a pseudo-terminal, and the
// bridge on the offscreen platform.  Each object stops its process when it goes away, also when
// a test fails half-way.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>

// Readable texts in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace kv::e2e {

using namespace std::chrono_literals;

// Slower under the sanitizers: every deadline of these tests is stretched by this factor.
std::chrono::milliseconds scaled(std::chrono::milliseconds base);

// Asks done() every period, keeping the event loop going meanwhile, until it is true or the
// timeout has passed; returns done().  For conditions that cost a request or a file read.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds period = 100ms);

// A port on 127.0.0.1 that nothing listens on at the moment of asking.
quint16 freeLoopbackPort();

// GET on the loopback interface; nothing when the request fails or takes longer than timeout.
std::optional<QByteArray> httpGet(const QString& url, std::chrono::milliseconds timeout = 5s);

class WebApp {
public:
    // dir holds the database; driveC is where the admin endpoint drops trigger files.
    WebApp(const QString& dir, const QString& driveC);
    ~WebApp();

    // Starts the server on port (0: a free one) and waits until it answers; throws otherwise.
    void start(quint16 port = 0);
    void stop();

    quint16 port() const { return m_port; }
    qint64 pid() const { return m_php.processId(); }
    // "http://127.0.0.1:PORT/", as the bridge's address wants it.
    QString baseUrl() const;

    // count workers more, numbered from idx; chips from chipBase (hex), names prefix + idx.
    void addEmployees(int count, int idx, int chipBase, const QString& prefix) const;
    // GET of a path with query below the base URL; throws when there is no answer.
    QByteArray get(const QString& pathAndQuery) const;
    QJsonArray events() const;
    QJsonArray requests(const QString& prikaz = {}) const;
    // The table reply as kvsync.php?prikaz=1 serves it now.
    QByteArray tables() const;

private:
    QJsonArray jsonArray(const QString& pathAndQuery) const;

    QString m_dir;
    QString m_driveC;
    quint16 m_port = 0;
    QProcess m_php;
};

class Simulator {
public:
    // dir receives the simulator's log, summary and tables.
    explicit Simulator(const QString& dir);
    ~Simulator();

    // Starts build/kvsim with args (plus its output files) and waits for its device path.
    void start(const QStringList& args);
    const QString& device() const { return m_device; }
    qint64 pid() const { return m_sim.processId(); }
    // Waits for the simulator to end by itself; true when it did and exited cleanly.
    bool waitFinished(std::chrono::milliseconds timeout);
    // Ends a simulator that runs on (it writes its summary when told to end); true when clean.
    bool stop();
    // Waits until the simulator's log holds text at least times times.
    bool waitForLog(const QByteArray& text, int times, std::chrono::milliseconds timeout);
    QJsonObject summary() const;
    QByteArray log() const;
    QString tablesPath() const;
    QByteArray output();

private:
    QString m_dir;
    QString m_device;
    QByteArray m_output;
    QProcess m_sim;
};

class Bridge {
public:
    // workDir holds terminal.cfg and the reply files; driveC stands for drive C:.
    Bridge(const QString& workDir, const QString& driveC);
    ~Bridge();

    // Writes terminal.cfg (port 1, the web application, host "localhost", automatic start,
    // company 0) and starts build/kvbridge with port 1 on device and the given arguments.
    void start(const QString& device, const QString& webUrl, const QStringList& args = {});
    // Starts build/kvbridge on terminal.cfg as it is (none: a first start), without
    // KVBRIDGE_COM1.
    void startAsIs(const QStringList& args);
    qint64 pid() const { return m_bridge.processId(); }
    bool running() const;
    // Everything the bridge wrote to stdout and stderr so far.
    QByteArray output();
    bool waitForOutput(const QByteArray& text, std::chrono::milliseconds timeout);
    // Waits for the bridge to end (after SIGTERM when terminate); its exit status when it
    // ended by itself, in time and without a crash.
    std::optional<int> waitFinished(std::chrono::milliseconds timeout, bool terminate = false);
    void stop();

    // QT_LOGGING_RULES for the next start, e.g. to see every frame in the output.
    QString loggingRules;
    // terminal.cfg's lines 4 (automatic start), 6 (delayed start), 7 (slower transfer).
    bool autoStart = true;
    bool delayedStart = false;
    bool slowTransfer = false;
    // More environment for the next start.
    QProcessEnvironment env;

private:
    void run(const QStringList& args, const QString& device);

    QString m_workDir;
    QString m_driveC;
    QByteArray m_output;
    QProcess m_bridge;
};

// kvbridge --status (with --json when json) in workDir: its exit status (nothing when it did
// not end in time) and what it printed.
struct StatusReply {
    std::optional<int> exit;
    QByteArray out;
};
StatusReply askStatus(const QString& workDir, bool json = false);
// kvbridge with args in workDir without any display, as a script or a service would run it.
StatusReply runBridgeCommand(const QString& workDir, const QStringList& args);

// Sanitizer or runtime-error reports in a process's output.
bool hasSanitizerReport(const QByteArray& output);

}  // namespace kv::e2e
