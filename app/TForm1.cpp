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
#include "app/Logging.h"
#include "app/WindowLook.h"
#include "link/Cp1250.h"
#include "link/Errors.h"
#include "sync/Files.h"
#include "ui_TForm1.h"

namespace kv {

namespace {

QString u8(const char* text) { return QString::fromUtf8(text); }

// The history keeps its place below the help while that leaves it about eight rows.
constexpr int kHistoryMinHeight = 160;
constexpr int kGap = 6;

// A run that takes longer than this shows its progress.
constexpr std::int64_t kShowProgressAfterMs = 1000;

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
    m_services.bridge.prompts->setWindow(this);
    setUpHistory(*m_ui->historie);
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

    m_bridge = std::make_unique<Bridge>(m_services.bridge);
    m_picker = std::make_unique<PortPicker>(m_services.bridge.serialFactory);
    connect(m_bridge.get(), &Bridge::jobProgress, this, &TForm1::showProgress);
    connect(m_bridge.get(), &Bridge::statusChanged, this, &TForm1::showStatus);
    connect(&m_ageRefresh, &QTimer::timeout, this, [this] {
        if (isVisible())
            showBridgeStatus(*this, m_bridge->status(), m_bridge->clock().monotonicMs());
    });
    m_ageRefresh.start(10'000);
    connect(m_bridge.get(), &Bridge::displayChanged, this,
            [this](Field field, const ShownText& shown) { m_fields.show(field, shown); });
    connect(m_bridge.get(), &Bridge::settingsLoaded, this, [this](const TerminalConfig& settings) {
        m_showingSettings = true;
        m_fields.showSettings(settings);
        m_showingSettings = false;
    });
    for (QLineEdit* edit : {m_ui->cfgadresa, m_ui->cfghttphost, m_ui->idfirmy})
        connect(edit, &QLineEdit::textChanged, this, &TForm1::settingsEdited);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             m_ui->cfgport1, m_ui->cfgport2, m_ui->cfgport3, m_ui->cfgport4, m_ui->slowstart,
             m_ui->slowcom, m_ui->cas5min, m_ui->cfgstart})
        connect(button, &QAbstractButton::toggled, this, &TForm1::settingsEdited);
    connect(m_bridge.get(), &Bridge::historyAdded, this,
            [this](const HistoryEntry& entry) { addHistory(*m_ui->historie, entry); });
    connect(m_bridge.get(), &Bridge::configCreated, this, [this] {
        firstStartNotice(
            u8("Soubor terminal.cfg nebyl nalezen, byl proto vytvořen s výchozím "
               "nastavením."));
    });
    connect(m_bridge.get(), &Bridge::configEmpty, this,
            [this] { firstStartNotice(u8("Soubor terminal.cfg je prázdný.")); });

    const auto on = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { handle([&] { (this->*handler)(); }); });
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
    m_fields.showAll(m_bridge->display());
    // The settings live in the fields: their initial texts until terminal.cfg is read, and
    // after it, should it exist but not be readable.  Shown before they are taken: a field
    // filled half way must not be read back.
    m_showingSettings = true;
    m_fields.showSettings(initialWindowSettings());
    m_showingSettings = false;
    m_bridge->setSettings(m_fields.settings());
    showStatus(m_bridge->status());
}

TForm1::~TForm1() {
    // The end's last state change would reach a tray and a window that are going away.
    m_bridge->blockSignals(true);
    m_bridge.reset();
}

void TForm1::handle(const std::function<void()>& handler) { m_bridge->handle(handler); }

void TForm1::showProgress(const JobProgress& progress) {
    if (progress.kind == JobProgress::Kind::none) return m_progress->hide();
    if (m_services.bridge.clock->monotonicMs() - progress.startedMs < kShowProgressAfterMs) return;
    const bool tables = progress.kind == JobProgress::Kind::tables;
    m_progress->setFormat(tables ? u8("Tabulky: %v z %m") : u8("Události: %v z %m"));
    m_progress->setRange(
        0, int(std::min<std::uint64_t>(std::max(progress.total, progress.done), INT_MAX)));
    m_progress->setValue(int(std::min<std::uint64_t>(progress.done, INT_MAX)));
    m_progress->show();
}

void TForm1::showStatus(const BridgeStatus& status) {
    showBridgeStatus(*this, status, m_bridge->clock().monotonicMs());
    pinWarnings(*m_ui->historie, status.warnings);
}

void TForm1::settingsEdited() {
    if (!m_showingSettings) m_bridge->setSettings(m_fields.settings());
}

bool TForm1::communicationOn() const { return kv::communicationOn(m_bridge->status().state); }

void TForm1::appstart() { m_bridge->programStart(Bridge::AutoStart::asConfigured); }

void TForm1::firstStartNotice(const QString& found) {
    QTimer::singleShot(0, this, [this, found] {
        m_services.bridge.prompts->notice(
            u8("Kordavo"),
            found + u8("\n\nNastavte sériový port, na kterém je řídící jednotka "
                       "(tlačítko Porty? ukáže, co který port je), a webovou adresu docházky. "
                       "Potom nastavení uložte tlačítkem Uložit a komunikaci spusťte tlačítkem "
                       "Start."));
    });
}

void TForm1::terminalstart() {
    // Start pressed by hand: a port that does not open is the operator's to retry or give up.
    for (;;) {
        const PortResult opened = m_bridge->start();
        if (opened.done()) return;
        const int port = m_bridge->portInUse().port;
        const PromptAnswer answer = m_services.bridge.prompts->abortRetry(
            u8("Sériový port"), openFailurePrompt(port, portDeviceName(port), opened));
        if (answer == PromptAnswer::abort) return;
    }
}

void TForm1::appstop() { m_bridge->stop(); }

void TForm1::cfgulozClick() {
    // Every request is the address with a script's name after it: without the final "/" each
    // one would get 404.
    QString saved = u8("Nastavení uloženo do terminal.cfg");
    const Bytes address = m_fields.text(Setting::cfgadresa);
    if (!address.empty() && address.back() != '/') {
        m_fields.setText(Setting::cfgadresa, address + "/");
        saved += u8("\nAdresa doplněna o koncové lomítko \"/\".");
    }
    m_bridge->setSettings(m_fields.settings());
    m_bridge->saveConfig();
    QToolTip::showText(m_ui->cfguloz->mapToGlobal(QPoint(0, m_ui->cfguloz->height())), saved,
                       m_ui->cfguloz);
    if (communicationOn()) {
        appstop();
        terminalstart();
    }
    removeErrDatFiles(m_services.bridge.workDir);
    std::error_code ec;
    std::filesystem::remove(m_services.bridge.workDir / "send.tmp", ec);
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
    m_fields.showStarts();
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
    if (by != CloseBy::signal && communicationOn()) {
        if (by == CloseBy::window && trayAvailable()) {
            qCInfo(lcApp) << "window closed while communication runs: hidden to the tray";
            event->ignore();
            hide();
            emit hiddenToTray();
            return;
        }
        const bool yes = m_services.bridge.prompts->confirm(
            u8("Kordavo"), u8("Komunikace s RJ běží. Opravdu ukončit?"));
        // A termination signal while the question is open ends the program all the same.
        if (!yes && m_closeBy != CloseBy::signal) {
            event->ignore();
            return;
        }
        m_closeBy = CloseBy::window;
    }
    QWidget::closeEvent(event);
    // A table download through within 10 s finishes first, so the unit keeps whole tables.
    if (event->isAccepted()) m_bridge->whenRunEnds([] { QCoreApplication::quit(); });
}

// --- Operator commands --------------------------------------------------------------------

void TForm1::sendtimeClick() { tell(m_bridge->command(ToUnit::setClock)); }
void TForm1::Button2Click() { tell(m_bridge->command(ToUnit::chipNumberRequest)); }
void TForm1::Button1Click() { tell(m_bridge->command(ToUnit::tablesChanged)); }
void TForm1::statbutClick() { tell(m_bridge->command(ToUnit::statisticsRequest)); }
void TForm1::Button3Click() { tell(m_bridge->recalculate()); }

void TForm1::Button4Click() {
    const auto count = parseIntegerText(toCp1250(m_ui->fiktud->text()));
    if (!count || *count < 0 || *count > 65535) {
        m_services.bridge.prompts->message(u8("Kordavo"),
                                           u8("Počet událostí musí být číslo od 0 do 65535."));
        return;
    }
    // The server records them as attendance: asked only where they would really go out.
    const CommState state = m_bridge->status().state;
    if (*count > 0 && state != CommState::stopped && state != CommState::delayedStart &&
        !m_services.bridge.prompts->confirm(
            u8("Kordavo"),
            u8("Poslat do RJ %1 fiktivních událostí? Server je zaznamená jako docházku.")
                .arg(*count)))
        return;
    const OperationResult result =
        m_bridge->sendFictitiousEvents(static_cast<std::uint16_t>(*count));
    if (result == OperationResult::done) m_ui->fiktud->setText(QStringLiteral("0"));
    tell(result);
}

void TForm1::tell(OperationResult result) {
    if (result != OperationResult::done)
        m_services.bridge.prompts->message(u8("Kordavo"),
                                           QString::fromStdString(operationMessage(result)));
}

void TForm1::Button5Click() {
    // Zrušit leaves the window as it was, an unsaved choice of port included.
    if (!m_picker->select(this, m_bridge->portInUse(), configuredPort(m_bridge->settings()))) {
        if (!m_picker->refusal().isEmpty())
            m_services.bridge.prompts->message(
                u8("Kordavo"), u8("Zadané zařízení nebylo uloženo.\n\n") + m_picker->refusal());
        return;
    }
    const int port = m_picker->chosenPort();
    if (port >= 1 && port <= 4) m_fields.setChecked(portCheck(port), true);
    // A running communication moves to the choice at once: stopped, then started on it, so the
    // port checked is the port the bridge talks on.
    if (communicationOn()) {
        qCInfo(lcApp) << "port" << port << "chosen while running: communication moves to it";
        appstop();
        terminalstart();
    }
}

}  // namespace kv
