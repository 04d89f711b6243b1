#include "app/Tray.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <utility>

#include "app/WindowLook.h"
#include "sync/Bridge.h"

namespace kv {

namespace {
// The time since the last delivery is told in minutes.
constexpr int kRefreshMs = 10'000;  // the tooltip's "před N min" moves on while shown
}  // namespace

Tray::Tray(Bridge& bridge, QObject* parent) : QObject(parent), m_bridge(bridge) {
    const auto operation = [&bridge](void (Bridge::*op)()) {
        bridge.handle([&] { (bridge.*op)(); });
    };
    m_menu.addAction(QStringLiteral("Zobrazit okno"), this, &Tray::showWindowRequested);
    // Start as the window's button: a port that does not open asks Abort or Retry.
    m_menu.addAction(QStringLiteral("Start"), this, &Tray::startRequested);
    m_menu.addAction(QStringLiteral("Stop"), this, [operation] { operation(&Bridge::stop); });
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Ukončit"), this, &Tray::quitRequested);
    m_icon.setContextMenu(&m_menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit showWindowRequested();
            });
    connect(&bridge, &Bridge::statusChanged, this, [this](const BridgeStatus& status) {
        // Every delivery changes the status; the icon is painted anew only when it looks new.
        const auto look = std::make_pair(status.state, status.tone);
        if (look != m_look) {
            m_look = look;
            m_icon.setIcon(iconFor(status));
        }
        refresh();
    });
    connect(&m_refresh, &QTimer::timeout, this, &Tray::refresh);
    m_refresh.start(kRefreshMs);
    m_look = {bridge.status().state, bridge.status().tone};
    m_icon.setIcon(iconFor(bridge.status()));
    refresh();
    m_icon.show();
}

void Tray::refresh() {
    const QString tip = toolTipFor(m_bridge.status(), m_bridge.clock().monotonicMs());
    if (tip != m_icon.toolTip()) m_icon.setToolTip(tip);
}

void Tray::tellHidden() {
    if (std::exchange(m_toldHidden, true)) return;
    m_icon.showMessage(QStringLiteral("Kordavo"),
                       QStringLiteral("Komunikace s RJ běží dál. Okno vrátíte kliknutím na "
                                      "tuto ikonu; ukončit lze z její nabídky."),
                       QSystemTrayIcon::Information, 10000);
}

void Tray::notify(const Notice& notice) {
    m_icon.showMessage(
        QString::fromStdString(notice.title), QString::fromStdString(notice.text),
        notice.tone == Tone::failure ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
        30'000);
    emit noticeShown(notice);
}

QString Tray::toolTipFor(const BridgeStatus& status, std::int64_t nowMs) {
    return QStringLiteral("Kordavo – řídící jednotka\n") + statusToolTip(status, nowMs);
}

void Tray::showWindow(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

TrayMark Tray::markFor(const BridgeStatus& status) {
    if (status.state == CommState::stopped) return TrayMark::paused;
    return status.tone == Tone::failure ? TrayMark::failure : TrayMark::none;
}

QIcon Tray::packageIcon() {
    QIcon icon;
    for (const QFileInfo& file : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
        icon.addFile(file.filePath());
    return icon;
}

QIcon Tray::iconFor(const BridgeStatus& status) {
    return paintIcon(QColor(QRgb(toneColour(status.state, status.tone))), markFor(status));
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
