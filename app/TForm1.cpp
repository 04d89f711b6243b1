#include "app/TForm1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPushButton>
#include <algorithm>
#include <system_error>

#include "link/Cp1250.h"
#include "link/Deadline.h"
#include "link/Errors.h"
#include "sync/DriveC.h"
#include "sync/Files.h"
#include "ui_TForm1.h"

Q_LOGGING_CATEGORY(lcApp, "kvbridge.app")

namespace kv {

namespace {

constexpr Check kPorts[] = {Check::cfgport1, Check::cfgport2, Check::cfgport3, Check::cfgport4};

QString u8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

TForm1::TForm1(FormServices services, QWidget* parent)
    : QWidget(parent),
      m_ui(std::make_unique<Ui::TForm1>()),
      m_services(std::move(services)),
      m_fields(*this) {
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_QuitOnClose);

    m_com = new TQCCom32(m_services.serialFactory, *m_services.prompts, *m_services.clock, this);
    m_com->setObjectName(QStringLiteral("QCCom321"));
    m_http = m_services.httpFactory(this);
    m_engine = std::make_unique<Engine>(*m_com, *m_http, m_fields, *m_services.clock,
                                        EnginePaths{m_services.workDir, driveCRoot()});

    // While the engine waits inside a tick the window still repaints; clicks wait until the
    // tick is over, and ticks that fall due meanwhile are skipped by the tick guard.
    m_engine->setWaitHook(
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(100);
    m_timer.setTimerType(Qt::PreciseTimer);  // the 254-tick repetition is 25.4 s
    connect(&m_timer, &QTimer::timeout, this, &TForm1::Timer1Timer);

    const auto on = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    on(m_ui->stavstart, &TForm1::terminalstart);
    on(m_ui->stavstop, &TForm1::appstop);
    on(m_ui->cfguloz, &TForm1::cfgulozClick);
    on(m_ui->skryt, &TForm1::skrytClick);
    on(m_ui->sendtime, &TForm1::sendtimeClick);
    on(m_ui->Button2, &TForm1::Button2Click);
    on(m_ui->Button1, &TForm1::Button1Click);
    on(m_ui->statbut, &TForm1::statbutClick);
    on(m_ui->Button3, &TForm1::Button3Click);
    on(m_ui->Button4, &TForm1::Button4Click);
    on(m_ui->Button5, &TForm1::Button5Click);

    appstart();
}

TForm1::~TForm1() {
    appstop();
    m_engine.reset();
}

void TForm1::guarded(const std::function<void()>& handler) {
    const bool wasBusy = m_busy;
    m_busy = true;
    try {
        handler();
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
    m_busy = wasBusy;
}

void TForm1::reportError(const QString& text) {
    qCWarning(lcApp) << text;
    m_services.prompts->report(u8("Kordavo"), text);
}

void TForm1::Timer1Timer() {
    // The timer can fire while a tick or a handler waits (a message box, a paced burst): ticks
    // never overlap and never cut into a handler, so such ticks are skipped.
    if (m_busy) return;
    guarded([this] { m_engine->tick(); });
}

void TForm1::appstart() {
    m_timer.stop();
    guarded([this] {
        const std::filesystem::path cfg = configPath();
        if (!std::filesystem::exists(cfg))
            writeFileAnew(cfg, formatTerminalConfig(defaultTerminalConfig()));
        m_fields.setChecked(Check::stavstoji, true);
        applyConfig(parseTerminalConfig(readWholeFile(cfg)));
        if (m_fields.checked(Check::cfgstart)) {
            if (m_fields.checked(Check::slowstart)) m_engine->delayedStart();
            terminalstart();
        }
        m_engine->resetForProgramStart();
    });
}

void TForm1::applyConfig(const TerminalConfig& c) {
    for (int i = 0; i < 4; ++i) m_fields.setChecked(kPorts[i], false);
    if (c.port.size() == 1 && c.port[0] >= '1' && c.port[0] <= '4')
        m_fields.setChecked(kPorts[c.port[0] - '1'], true);
    m_fields.setText(Field::cfgadresa, c.adresa);
    m_fields.setText(Field::cfghttphost, c.httphost);
    m_fields.setChecked(Check::cfgstart, c.start == "1");
    m_fields.setText(Field::idfirmy, c.idfirmy);
    m_fields.setChecked(Check::slowstart, c.slowstart == "1");
    m_fields.setChecked(Check::slowcom, c.slowcom == "1");
    m_fields.setChecked(Check::cas5min, c.cas5min == "1");
}

TerminalConfig TForm1::configFromWindow() const {
    TerminalConfig c;
    for (int i = 0; i < 4; ++i)
        if (m_fields.checked(kPorts[i])) c.port = Bytes(1, char('1' + i));
    const auto flag = [this](Check check) { return Bytes(m_fields.checked(check) ? "1" : "0"); };
    c.adresa = m_fields.text(Field::cfgadresa);
    c.httphost = m_fields.text(Field::cfghttphost);
    c.start = flag(Check::cfgstart);
    c.idfirmy = m_fields.text(Field::idfirmy);
    c.slowstart = flag(Check::slowstart);
    c.slowcom = flag(Check::slowcom);
    c.cas5min = flag(Check::cas5min);
    return c;
}

int TForm1::checkedPort() const {
    int port = 0;
    for (int i = 0; i < 4; ++i)
        if (m_fields.checked(kPorts[i])) port = i + 1;
    return port;
}

void TForm1::terminalstart() {
    const int port = checkedPort();
    if (port == 0) m_services.prompts->message(u8("Kordavo"), u8("Není vybrán sériový port!"));
    const Bytes idText = m_fields.text(Field::idfirmy);
    const auto id = parseIntegerText(idText);
    if (m_engine->startCommunication(port, id ? std::optional(std::uint16_t(*id)) : std::nullopt))
        m_timer.start();
    if (!id) {
        // The report is a C string: a NUL typed into the id (or read from a damaged
        // terminal.cfg) would cut off the explanation.
        const QString shown = fromCp1250(idText).replace(QChar(u'\0'), QChar(u'?'));
        throw HandlerError("'" + shown.toStdString() + "' není platné číslo firmy.");
    }
}

void TForm1::appstop() {
    m_engine->stopCommunication();
    m_timer.stop();
}

void TForm1::cfgulozClick() {
    writeFileAnew(configPath(), formatTerminalConfig(configFromWindow()));
    if (m_fields.checked(Check::stavjede)) {
        appstop();
        terminalstart();
    }
    deleteErrDatFiles();
    deleteWorkFile("send.tmp");
}

void TForm1::skrytClick() { hide(); }

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program, whatever message box may still be open; hiding it
    // (or closing a message box while it is hidden) does not.
    QWidget::closeEvent(event);
    if (event->isAccepted()) QCoreApplication::quit();
}

void TForm1::deleteWorkFile(const char* name) {
    std::error_code ec;
    std::filesystem::remove(m_services.workDir / name, ec);
}

void TForm1::deleteErrDatFiles() {
    // Each match is deleted once; one that cannot be deleted is passed over.
    std::error_code ec;
    std::vector<std::filesystem::path> matches;
    for (auto it = std::filesystem::directory_iterator(m_services.workDir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (name.size() >= 7 && name.rfind("err", 0) == 0 &&
            name.compare(name.size() - 4, 4, ".dat") == 0)
            matches.push_back(it->path());
    }
    for (const auto& path : matches) std::filesystem::remove(path, ec);
}

// --- Operator commands --------------------------------------------------------------------

void TForm1::sendtimeClick() { m_engine->sendWithTime(ToUnit::SetClock); }
void TForm1::Button2Click() { m_engine->sendWithTime(ToUnit::ChipNumberRequest); }
void TForm1::Button1Click() { m_engine->sendWithTime(ToUnit::TablesChanged); }
void TForm1::statbutClick() { m_engine->sendWithTime(ToUnit::StatisticsRequest); }

void TForm1::Button3Click() {
    if (!m_engine->recalculate())
        m_services.prompts->message(
            u8("Kordavo"),
            u8("Požadavek na docházkový server právě probíhá. Zkuste to znovu za chvíli."));
}

void TForm1::Button4Click() {
    const auto count = parseIntegerText(m_fields.text(Field::fiktud));
    if (!count || *count < 0 || *count > 65535)
        m_services.prompts->message(u8("Kordavo"),
                                    u8("Počet událostí musí být číslo od 0 do 65535."));
    else
        m_engine->sendFictitiousEvents(static_cast<std::uint16_t>(*count));
}

void TForm1::Button5Click() {
    m_com->SelectPort();
    const int port = m_com->Port();
    if (port >= 1 && port <= 4) m_fields.setChecked(kPorts[port - 1], true);
    if (m_fields.checked(Check::stavjede)) {
        appstop();
        terminalstart();
    }
}

}  // namespace kv
