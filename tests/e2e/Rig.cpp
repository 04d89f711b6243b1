#include "e2e/Rig.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpServer>
#include <stdexcept>

#include "support/WebStub.h"

namespace kv::e2e {

namespace {

std::runtime_error failure(const QString& what) { return std::runtime_error(what.toStdString()); }

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Ends a process that has not ended by itself: politely first, then for good.
void endProcess(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

}  // namespace

std::chrono::milliseconds scaled(std::chrono::milliseconds base) {
#ifdef KVE2E_SANITIZED
    return base * 2;
#else
    return base;
#endif
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        kv::test::pumpUntil([] { return false; }, std::min(period, left));
    }
    return true;
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) throw failure("no free port on 127.0.0.1");
    return probe.serverPort();
}

std::optional<QByteArray> httpGet(const QString& url, std::chrono::milliseconds timeout) {
    QNetworkAccessManager nam;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = nam.get(request);
    const bool done = kv::test::pumpUntil([reply] { return reply->isFinished(); }, timeout);
    std::optional<QByteArray> body;
    if (done && reply->error() == QNetworkReply::NoError) body = reply->readAll();
    reply->abort();
    delete reply;
    return body;
}

// ---------------------------------------------------------------------------------------------

WebApp::WebApp(const QString& dir, const QString& driveC) : m_dir(dir), m_driveC(driveC) {
    m_php.setProcessChannelMode(QProcess::MergedChannels);
    m_php.setStandardOutputFile(m_dir + "/php.log", QIODevice::Append);
}

WebApp::~WebApp() { stop(); }

void WebApp::start(quint16 port) {
    const QString php = QStandardPaths::findExecutable("php");
    if (php.isEmpty()) throw failure("php not found: tools/install-deps installs php-cli");
    // A port found free may be taken before PHP binds it; then another is tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = port != 0 ? port : freeLoopbackPort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVWEB_DB", m_dir + "/kvweb.sqlite");
        env.insert("KVBRIDGE_DRIVE_C", m_driveC);
        m_php.setProcessEnvironment(env);
        m_php.start(php, {"-S", QString("127.0.0.1:%1").arg(m_port), "-t", KVE2E_WEBAPP_DIR});
        if (!m_php.waitForStarted(5000)) throw failure("php did not start");
        const bool up = waitUntil(
            [this] {
                return m_php.state() != QProcess::Running ||
                       httpGet(baseUrl() + "admin.php?action=tables", 1s).has_value();
            },
            scaled(10s), 50ms);
        if (up && m_php.state() == QProcess::Running) return;
        endProcess(m_php);
        // The same port may be free again in a moment; another one is free now.
        if (port != 0) waitUntil([] { return false; }, 200ms);
    }
    throw failure("the web application did not come up; see php.log in " + m_dir);
}

void WebApp::stop() { endProcess(m_php); }

QString WebApp::baseUrl() const { return QString("http://127.0.0.1:%1/").arg(m_port); }

QByteArray WebApp::get(const QString& pathAndQuery) const {
    const auto body = httpGet(baseUrl() + pathAndQuery, scaled(5s));
    if (!body) throw failure("no answer from the web application to " + pathAndQuery);
    return *body;
}

QJsonArray WebApp::jsonArray(const QString& pathAndQuery) const {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(get(pathAndQuery), &error);
    if (!doc.isArray())
        throw failure(pathAndQuery + " did not give a JSON array: " + error.errorString());
    return doc.array();
}

QJsonArray WebApp::events() const { return jsonArray("admin.php?action=events"); }

QJsonArray WebApp::requests(const QString& prikaz) const {
    return jsonArray(prikaz.isEmpty() ? "admin.php?action=requests"
                                      : "admin.php?action=requests&prikaz=" + prikaz);
}

void WebApp::addEmployees(int count, int idx, int chipBase, const QString& prefix) const {
    for (int i = 0; i < count; ++i) {
        const QString chip = QString("%1").arg(chipBase + i, 12, 16, QLatin1Char('0')).toUpper();
        get(QString("admin.php?action=add_employee&idx=%1&chip=%2&name=%3%1")
                .arg(idx + i)
                .arg(chip, prefix));
    }
}

QByteArray WebApp::tables() const { return get("admin.php?action=tables"); }

// ---------------------------------------------------------------------------------------------

Simulator::Simulator(const QString& dir) : m_dir(dir) {
    m_sim.setProcessChannelMode(QProcess::SeparateChannels);
    m_sim.setStandardErrorFile(m_dir + "/kvsim.err", QIODevice::Append);
}

Simulator::~Simulator() { endProcess(m_sim); }

void Simulator::start(const QStringList& args) {
    QStringList all = args;
    all << "--summary-json" << m_dir + "/kvsim-summary.json"
        << "--log" << m_dir + "/kvsim.log"
        << "--tables-out" << tablesPath();
    m_sim.start(KVE2E_KVSIM, all);
    if (!m_sim.waitForStarted(5000)) throw failure("kvsim did not start");
    const QByteArray marker = "KVSIM DEVICE ";
    const bool told = kv::test::pumpUntil(
        [&] {
            output();
            return m_output.contains('\n') || m_sim.state() != QProcess::Running;
        },
        scaled(10s));
    const QByteArray first = m_output.left(m_output.indexOf('\n')).trimmed();
    if (!told || !first.startsWith(marker))
        throw failure("kvsim gave no device; its first line: " + QString::fromLocal8Bit(first));
    m_device = QString::fromLocal8Bit(first.mid(marker.size()));
}

QByteArray Simulator::output() {
    m_output += m_sim.readAllStandardOutput();
    return m_output;
}

bool Simulator::waitFinished(std::chrono::milliseconds timeout) {
    kv::test::pumpUntil([this] { return m_sim.state() == QProcess::NotRunning; }, timeout);
    if (m_sim.state() != QProcess::NotRunning) return false;
    output();
    return m_sim.exitStatus() == QProcess::NormalExit && m_sim.exitCode() == 0;
}

bool Simulator::stop() {
    if (m_sim.state() == QProcess::NotRunning) return false;
    m_sim.terminate();
    return waitFinished(scaled(10s));
}

bool Simulator::waitForLog(const QByteArray& text, int times, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return log().count(text) >= times; }, timeout);
}

QJsonObject Simulator::summary() const {
    return QJsonDocument::fromJson(readFile(m_dir + "/kvsim-summary.json")).object();
}

QByteArray Simulator::log() const {
    return readFile(m_dir + "/kvsim.log") + readFile(m_dir + "/kvsim.err");
}

QString Simulator::tablesPath() const { return m_dir + "/kvsim-tables.txt"; }

// ---------------------------------------------------------------------------------------------

Bridge::Bridge(const QString& workDir, const QString& driveC)
    : m_workDir(workDir), m_driveC(driveC) {
    m_bridge.setProcessChannelMode(QProcess::MergedChannels);
}

Bridge::~Bridge() { stop(); }

void Bridge::start(const QString& device, const QString& webUrl, const QStringList& args) {
    QFile cfg(m_workDir + "/terminal.cfg");
    if (!cfg.open(QIODevice::WriteOnly)) throw failure("cannot write terminal.cfg");
    const auto flag = [](bool on) { return on ? QString("1") : QString("0"); };
    for (const QString& line : {QString("1"), webUrl, QString("localhost"), flag(autoStart),
                                QString("0"), flag(delayedStart), flag(slowTransfer), QString("0")})
        cfg.write(line.toLatin1() + "\r\n");
    cfg.close();
    run(args, device);
}

void Bridge::startAsIs(const QStringList& args) { run(args, {}); }

void Bridge::run(const QStringList& args, const QString& device) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!device.isEmpty()) env.insert("KVBRIDGE_COM1", device);
    env.insert("KVBRIDGE_DRIVE_C", m_driveC);
    if (!loggingRules.isEmpty()) env.insert("QT_LOGGING_RULES", loggingRules);
    env.insert(this->env);
    m_bridge.setProcessEnvironment(env);
    m_bridge.setWorkingDirectory(m_workDir);
    m_bridge.start(KVE2E_KVBRIDGE, args);
    if (!m_bridge.waitForStarted(5000)) throw failure("kvbridge did not start");
}

bool Bridge::running() const { return m_bridge.state() == QProcess::Running; }

QByteArray Bridge::output() {
    m_output += m_bridge.readAll();
    return m_output;
}

bool Bridge::waitForOutput(const QByteArray& text, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return output().contains(text); }, timeout);
}

std::optional<int> Bridge::waitFinished(std::chrono::milliseconds timeout, bool terminate) {
    if (terminate) m_bridge.terminate();
    const bool ended = m_bridge.waitForFinished(int(timeout.count()));
    output();
    if (!ended || m_bridge.exitStatus() != QProcess::NormalExit) return std::nullopt;
    return m_bridge.exitCode();
}

void Bridge::stop() {
    endProcess(m_bridge);
    output();
}

StatusReply runBridgeCommand(const QString& workDir, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    p.setProcessEnvironment(env);
    p.start(KVE2E_KVBRIDGE, args);
    StatusReply reply;
    if (p.waitForFinished(int(scaled(10s).count())) && p.exitStatus() == QProcess::NormalExit)
        reply.exit = p.exitCode();
    else
        p.kill();
    reply.out = p.readAllStandardOutput() + p.readAllStandardError();
    return reply;
}

StatusReply askStatus(const QString& workDir, bool json) {
    return runBridgeCommand(workDir,
                            json ? QStringList{"--status", "--json"} : QStringList{"--status"});
}

bool hasSanitizerReport(const QByteArray& output) {
    return output.contains("ERROR: AddressSanitizer") || output.contains("ERROR: LeakSanitizer") ||
           output.contains("runtime error:");
}

}  // namespace kv::e2e
