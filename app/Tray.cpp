#include "app/Tray.h"

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <utility>

#include "app/TForm1.h"
#include "link/Cp1250.h"

namespace kv {

namespace {
// The tooltip follows the window's fields this often (a delayed start counts down in seconds).
constexpr int kRefreshMs = 1000;

void click(TForm1& form, const char* button) {
    if (auto* b = form.findChild<QPushButton*>(QLatin1String(button))) b->click();
}
}  // namespace

Tray::Tray(TForm1& form, QObject* parent) : QObject(parent), m_form(form) {
    m_menu.addAction(QStringLiteral("Zobrazit okno"), this, [this] { showWindow(m_form); });
    m_menu.addAction(QStringLiteral("Start"), this, [this] { click(m_form, "stavstart"); });
    m_menu.addAction(QStringLiteral("Stop"), this, [this] { click(m_form, "stavstop"); });
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Ukončit"), this, [this] { m_form.quitAsking(); });
    m_icon.setContextMenu(&m_menu);
    // The first time the close button hides the window, the tray says where it went.
    connect(&m_form, &TForm1::hiddenToTray, this, [this] {
        if (std::exchange(m_toldHidden, true)) return;
        m_icon.showMessage(QStringLiteral("Kordavo"),
                           QStringLiteral("Komunikace s RJ běží dál. Okno vrátíte kliknutím na "
                                          "tuto ikonu; ukončit lze z její nabídky."),
                           QSystemTrayIcon::Information, 10000);
    });
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    showWindow(m_form);
            });
    m_form.engine().addCommStateListener(
        [this](CommState state, const std::string& detail) { stateChanged(state, detail); });
    m_form.engine().addWarningsListener([this](const std::vector<std::string>&) { refresh(); });
    connect(&m_refresh, &QTimer::timeout, this, &Tray::refresh);
    m_refresh.start(kRefreshMs);
    stateChanged(m_form.engine().commState(), m_form.engine().commDetail());
    m_icon.show();
}

void Tray::stateChanged(CommState state, const std::string& detail) {
    m_state = state;
    m_detail = QString::fromStdString(detail);
    m_icon.setIcon(iconFor(state));
    refresh();
}

void Tray::refresh() {
    Fields& fields = m_form.fields();
    QString tip = QStringLiteral("Kordavo – řídící jednotka\n") + stateText(m_state);
    if (m_state == CommState::delayedStart)
        tip += QStringLiteral(": ") + fromCp1250(fields.text(Field::stavprac));
    else if (!m_detail.isEmpty())
        tip += QStringLiteral("\n") + m_detail;
    // Until the first identification the fields hold their captions, which are no data.
    const bool identified =
        fromCp1250(fields.text(Field::stavdatum)).trimmed() != QStringLiteral("Datum a čas");
    if (m_state != CommState::delayedStart && identified)
        tip += QStringLiteral("\nPoslední identifikace: %1, %2")
                   .arg(fromCp1250(fields.text(Field::stavprac)),
                        fromCp1250(fields.text(Field::stavdatum)));
    for (const QString& warning : m_form.standingWarnings()) tip += QStringLiteral("\n") + warning;
    if (tip != m_icon.toolTip()) m_icon.setToolTip(tip);
}

void Tray::showWindow(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

QString Tray::stateText(CommState state) {
    switch (state) {
        case CommState::stopped:
            return QStringLiteral("Komunikace zastavena");
        case CommState::delayedStart:
            return QStringLiteral("Opožděný start");
        case CommState::running:
            return QStringLiteral("Komunikace spuštěna");
        case CommState::portLost:
            return QStringLiteral("Sériový port ztracen");
        case CommState::serverUnreachable:
            return QStringLiteral("Docházkový server nedostupný");
    }
    return {};
}

TrayMark Tray::markFor(CommState state) {
    switch (state) {
        case CommState::stopped:
            return TrayMark::paused;
        case CommState::portLost:
        case CommState::serverUnreachable:
            return TrayMark::failure;
        case CommState::delayedStart:
        case CommState::running:
            break;
    }
    return TrayMark::none;
}

QIcon Tray::packageIcon() {
    QIcon icon;
    for (const QFileInfo& file : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
        icon.addFile(file.filePath());
    return icon;
}

QIcon Tray::iconFor(CommState state) {
    QColor colour;
    switch (state) {
        case CommState::stopped:
            colour = QColor(0x75, 0x75, 0x75);
            break;
        case CommState::delayedStart:
            colour = QColor(0x15, 0x65, 0xC0);
            break;
        case CommState::running:
            colour = QColor(0x2E, 0x7D, 0x32);
            break;
        case CommState::portLost:
            colour = QColor(0xC6, 0x28, 0x28);
            break;
        case CommState::serverUnreachable:
            colour = QColor(0xEF, 0x6C, 0x00);
            break;
    }
    return paintIcon(colour, markFor(state));
}

QIcon Tray::paintIcon(const QColor& colour, TrayMark mark) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // The disc is large enough to read at the 16 to 24 pixels of a tray.
    QRectF disc(4, 4, 56, 56);
    const QIcon package = packageIcon();
    if (!package.isNull()) {
        p.drawPixmap(0, 0, package.pixmap(64, 64));
        disc = QRectF(22, 22, 40, 40);
    }
    p.setPen(QPen(Qt::white, 4));
    p.setBrush(colour);
    p.drawEllipse(disc);
    const QPointF c = disc.center();
    const qreal r = disc.width() / 2;
    switch (mark) {
        case TrayMark::none:
            break;
        case TrayMark::failure:
            p.setPen(QPen(Qt::white, r * 0.3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(c + QPointF(-r * 0.4, -r * 0.4), c + QPointF(r * 0.4, r * 0.4));
            p.drawLine(c + QPointF(-r * 0.4, r * 0.4), c + QPointF(r * 0.4, -r * 0.4));
            break;
        case TrayMark::paused:
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(c.x() - r * 0.45, c.y() - r * 0.45, r * 0.3, r * 0.9));
            p.drawRect(QRectF(c.x() + r * 0.15, c.y() - r * 0.45, r * 0.3, r * 0.9));
            break;
    }
    return QIcon(pixmap);
}

}  // namespace kv
