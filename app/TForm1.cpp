#include "app/TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolTip>
#include <algorithm>
#include <climits>
#include <system_error>
#include <utility>

#include "app/HistoryView.h"
#include "app/WindowLook.h"
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

// The history keeps its place below the help while that leaves it about eight rows.
constexpr int kHistoryMinHeight = 160;
constexpr int kGap = 6;

// A run that takes longer than this shows its progress; meanwhile the window paints this often.
constexpr std::int64_t kShowProgressAfterMs = 1000;
constexpr std::int64_t kPaintEveryMs = 50;

}  // namespace

TForm1::TForm1(FormServices services, QWidget* parent)
    : QWidget(parent),
      m_ui(std::make_unique<Ui::TForm1>()),
      m_services(std::move(services)),
      m_fields(*this) {
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_QuitOnClose);
    setUpWindowLook(*this);
    m_services.prompts->setWindow(this);
    attachHistory(*m_ui->historie, m_services.log);
    m_progress = new QProgressBar(m_ui->GroupBox2);
    m_progress->setObjectName(QStringLiteral("prubeh"));
    m_progress->setGeometry(m_ui->stavdatum->geometry());
    m_progress->setFont(m_ui->stavdatum->font());
    // Dark text on a light bar, readable over the part done as over the rest.
    m_progress->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #a0a0a0; background: #f4f4f4; color: black;"
        " text-align: center; } QProgressBar::chunk { background: #a8dab0; }"));
    m_progress->hide();
    m_historyHome = m_ui->historie->geometry();
    // Start and Stop never leave the window: it keeps the two groups of its normal size whole.
    const QRect shown = m_ui->GroupBox1->geometry() | m_ui->GroupBox2->geometry();
    setMinimumSize(shown.right() + 1, shown.bottom() + 1);

    m_com = new TQCCom32(m_services.serialFactory, *m_services.prompts, *m_services.clock, this);
    m_com->setObjectName(QStringLiteral("QCCom321"));
    m_http = m_services.httpFactory(this);
    m_engine = std::make_unique<Engine>(*m_com, *m_http, m_fields, *m_services.clock,
                                        EnginePaths{m_services.workDir, driveCRoot()});

    // While the engine waits inside a tick the window still repaints; clicks wait until the
    // tick is over, and ticks that fall due meanwhile are skipped by the tick guard.
    m_engine->setWaitHook(
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    m_engine->setProgressHook(
        [this](Engine::Progress what, std::uint64_t done, std::uint64_t total) {
            return showProgress(what, done, total);
        });
    m_engine->setCommStateListener([this](CommState state, const std::string& detail) {
        showCommState();
        emit commStateChanged(state, QString::fromStdString(detail));
    });
    connect(m_ui->stavjede, &QRadioButton::toggled, this, &TForm1::showCommState);
    m_engine->addWarningsListener([this](const std::vector<std::string>&) {
        showCommState();
        pinWarnings(*m_ui->historie, standingWarnings());
    });

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(100);
    m_timer.setTimerType(Qt::PreciseTimer);  // the 254-tick repetition is 25.4 s
    connect(&m_timer, &QTimer::timeout, this, &TForm1::Timer1Timer);

    const auto on = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, b, handler] { clicked(b, handler); });
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

    fitToSize();

    m_reconnect = new Reconnect(*m_engine, *m_com, m_fields, m_timer, this);
    if (m_services.beforeStart) m_services.beforeStart(*this);
    appstart();
    showCommState();
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
    if (!wasBusy) endLongRun();
}

void TForm1::clicked(QPushButton* button, void (TForm1::*handler)()) {
    if (!m_busy) {
        guarded([&] { (this->*handler)(); });
        return;
    }
    // Only a long run lets clicks through.  Stop ends it where it may end; nothing else may
    // cut into it.
    if (button == m_ui->stavstop) {
        m_stopPending = true;
        qCInfo(lcApp) << "Stop pressed during a long run; taken once the frame on the line is out";
    } else {
        QApplication::beep();
    }
}

bool TForm1::showProgress(Engine::Progress what, std::uint64_t done, std::uint64_t total) {
    if (what == Engine::Progress::tablesClosed) {
        const WallTime t = m_services.clock->now();
        m_fields.setText(Field::stavprac, toCp1250(u8("Tabulky odeslány")));
        m_fields.setText(Field::stavdatum, toCp1250(QStringLiteral("%1:%2:%3, %4 záz.")
                                                        .arg(t.hour, 2, 10, QLatin1Char('0'))
                                                        .arg(t.minute, 2, 10, QLatin1Char('0'))
                                                        .arg(t.second, 2, 10, QLatin1Char('0'))
                                                        .arg(done)));
        m_progress->hide();
        return true;
    }
    const std::int64_t now = m_services.clock->monotonicMs();
    if (m_runStartMs < 0) m_runStartMs = m_lastPaintMs = now;
    if (now - m_lastPaintMs < kPaintEveryMs) return !m_stopPending;
    m_lastPaintMs = now;
    if (now - m_runStartMs >= kShowProgressAfterMs) {
        const bool tables = what == Engine::Progress::tableRecord;
        m_progress->setFormat((tables ? u8("Tabulky: %v z %m") : u8("Události: %v z %m")));
        m_progress->setRange(0, int(std::min<std::uint64_t>(std::max(total, done), INT_MAX)));
        m_progress->setValue(int(std::min<std::uint64_t>(done, INT_MAX)));
        m_progress->show();
    }
    // Paints, and takes a click on Stop; ticks stay out, since a run is under way.
    QCoreApplication::processEvents();
    return !m_stopPending;
}

void TForm1::endLongRun() {
    m_runStartMs = -1;
    m_progress->hide();
    if (!m_stopPending) return;
    m_stopPending = false;
    appstop();
}

void TForm1::showCommState() {
    kv::showCommState(*this, m_engine->commState(), QString::fromStdString(m_engine->commDetail()),
                      standingWarnings());
}

QStringList TForm1::standingWarnings() const {
    QStringList warnings;
    for (const std::string& warning : m_engine->standingWarnings())
        warnings << QString::fromStdString(warning);
    return warnings;
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
        if (!std::filesystem::exists(cfg)) {
            writeFileAnew(cfg, formatTerminalConfig(defaultTerminalConfig()));
            QTimer::singleShot(0, this, [this] {
                m_services.prompts->notice(
                    u8("Kordavo"),
                    u8("Soubor terminal.cfg nebyl nalezen, byl proto vytvořen s výchozím "
                       "nastavením.\n\nNastavte sériový port, na kterém je řídící jednotka "
                       "(tlačítko Porty? ukáže, co který port je), a webovou adresu docházky. "
                       "Potom nastavení uložte tlačítkem Uložit a komunikaci spusťte tlačítkem "
                       "Start."));
            });
        }
        m_fields.setChecked(Check::stavstoji, true);
        applyConfig(parseTerminalConfig(readWholeFile(cfg)));
        if (m_fields.checked(Check::cfgstart)) {
            if (m_fields.checked(Check::slowstart)) m_engine->delayedStart();
            m_reconnect->unattendedStart([this] { terminalstart(); });
        }
        m_engine->resetForProgramStart();
    });
}

void TForm1::applyConfig(const TerminalConfig& c) {
    applyTerminalConfig(c, m_fields);
    if (m_fields.text(Field::cfgadresa) != c.adresa) {
        // The field holds only so much; a cut address would send every request elsewhere.
        m_fields.setText(Field::cfgadresa, {});
        m_services.prompts->message(
            u8("Kordavo"), u8("Adresa serveru v terminal.cfg je příliš dlouhá, nebyla převzata."));
    }
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
    qCInfo(lcApp) << "configuration saved to terminal.cfg";
    QToolTip::showText(m_ui->cfguloz->mapToGlobal(QPoint(0, m_ui->cfguloz->height())),
                       u8("Nastavení uloženo do terminal.cfg"), m_ui->cfguloz);
    if (m_fields.checked(Check::stavjede)) {
        appstop();
        terminalstart();
    }
    deleteErrDatFiles();
    deleteWorkFile("send.tmp");
}

void TForm1::skrytClick() { hide(); }

bool TForm1::trayAvailable() const {
    return m_services.trayAvailable ? m_services.trayAvailable()
                                    : QSystemTrayIcon::isSystemTrayAvailable();
}

void TForm1::updateHideButton() {
    const bool tray = trayAvailable();
    m_ui->skryt->setEnabled(tray);
    m_ui->skryt->setToolTip(tray ? QString()
                                 : u8("Pracovní plocha nemá oznamovací oblast (tray), ze které "
                                      "by se skryté okno dalo vrátit."));
}

void TForm1::showEvent(QShowEvent* event) {
    updateHideButton();
    QWidget::showEvent(event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitToSize();
}

void TForm1::fitToSize() {
    placeHistory();
    fitKeyboardToView(*this);
    // Focus on a control that went out of view moves on to the next one in view.
    if (QWidget* focused = focusWidget();
        focused != nullptr && focused->focusPolicy() == Qt::NoFocus)
        focusNextPrevChild(true);
}

void TForm1::placeHistory() {
    // Below the help while there is room for it; a window too low for that (a larger scale, a
    // smaller screen) gives it the larger free area to the right of the fixed controls: beside
    // the configuration and the state above the request field, or right of the request field.
    const int width = this->width();
    const int height = this->height();
    const int labelHeight = m_ui->Label50->height() + 1;
    const QRect urls = m_ui->urls->geometry();
    const int besideGroups = m_ui->GroupBox2->geometry().right() + 1 + kGap;
    const int besideUrls = urls.right() + 1 + kGap;
    const QRect below(0, m_historyHome.top(), width, height - m_historyHome.top());
    const QRect candidates[] = {
        below,
        QRect(besideGroups, labelHeight, width - besideGroups, urls.top() - kGap - labelHeight),
        QRect(besideUrls, labelHeight, width - besideUrls, height - labelHeight),
    };
    const auto area = [](const QRect& r) { return r.isValid() ? r.width() * r.height() : 0; };
    QRect place = below.height() >= kHistoryMinHeight ? below : QRect();
    if (!place.isValid())
        for (const QRect& candidate : candidates)
            if (area(candidate) > area(place)) place = candidate;
    if (!place.isValid()) place = m_historyHome;
    m_ui->historie->setGeometry(place);
    m_ui->Label50->move(place.left(), place.top() - labelHeight);
}

void TForm1::changeEvent(QEvent* event) {
    // A tray that comes or goes (the panel restarted) is seen when the window is next used.
    if (event->type() == QEvent::ActivationChange) updateHideButton();
    QWidget::changeEvent(event);
}

bool TForm1::quitAsking() {
    m_closeBy = CloseBy::trayMenu;
    return close();
}

bool TForm1::closeWithoutAsking() {
    m_closeBy = CloseBy::signal;
    return close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program, whatever message box may still be open; hiding it
    // (or closing a message box while it is hidden) does not.  A close button pressed by
    // mistake must not leave the unit without its bridge for months.
    const CloseBy by = std::exchange(m_closeBy, CloseBy::window);
    if (by != CloseBy::signal && m_fields.checked(Check::stavjede)) {
        if (by == CloseBy::window && trayAvailable()) {
            qCInfo(lcApp) << "window closed while communication runs: hidden to the tray";
            event->ignore();
            hide();
            emit hiddenToTray();
            return;
        }
        const bool yes = m_services.prompts->confirm(u8("Kordavo"),
                                                     u8("Komunikace s RJ běží. Opravdu ukončit?"));
        // A termination signal while the question is open ends the program all the same.
        if (!yes && m_closeBy != CloseBy::signal) {
            event->ignore();
            return;
        }
        m_closeBy = CloseBy::window;
    }
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
        std::error_code kindEc;
        if (it->is_directory(kindEc)) continue;  // files only, whatever a folder is called
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

void TForm1::sendtimeClick() { tell(m_engine->command(ToUnit::SetClock)); }
void TForm1::Button2Click() { tell(m_engine->command(ToUnit::ChipNumberRequest)); }
void TForm1::Button1Click() { tell(m_engine->command(ToUnit::TablesChanged)); }
void TForm1::statbutClick() { tell(m_engine->command(ToUnit::StatisticsRequest)); }
void TForm1::Button3Click() { tell(m_engine->recalculate()); }

void TForm1::Button4Click() {
    const auto count = parseIntegerText(m_fields.text(Field::fiktud));
    if (!count || *count < 0 || *count > 65535)
        m_services.prompts->message(u8("Kordavo"),
                                    u8("Počet událostí musí být číslo od 0 do 65535."));
    else
        tell(m_engine->sendFictitiousEvents(static_cast<std::uint16_t>(*count)));
}

void TForm1::tell(OperationResult result) {
    if (result != OperationResult::done)
        m_services.prompts->message(u8("Kordavo"),
                                    QString::fromStdString(operationMessage(result)));
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
