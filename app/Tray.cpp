#include "app/Tray.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include "app/TForm1.h"

namespace kv {

namespace {
// The time since the last delivery is told in minutes.
constexpr int kRefreshMs = 30'000;
}  // namespace

Tray::Tray(TForm1& form, QObject* parent) : QObject(parent), m_form(form) {
    Bridge& bridge = m_form.bridge();
    const auto operation = [&bridge](void (Bridge::*op)()) {
        if (!bridge.guarded([&] { (bridge.*op)(); })) QApplication::beep();
    };
    m_menu.addAction(QStringLiteral("Zobrazit okno"), this, [this] { showWindow(m_form); });
    m_menu.addAction(QStringLiteral("Start"), this, [operation] { operation(&Bridge::start); });
    m_menu.addAction(QStringLiteral("Stop"), this, [operation] { operation(&Bridge::stop); });
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Ukončit"), this, [this] { m_form.close(); });
    m_icon.setContextMenu(&m_menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    showWindow(m_form);
            });
    connect(&bridge, &Bridge::statusChanged, this, [this](const BridgeStatus& status) {
        m_icon.setIcon(iconFor(status));
        refresh();
    });
    connect(&m_refresh, &QTimer::timeout, this, &Tray::refresh);
    m_refresh.start(kRefreshMs);
    m_icon.setIcon(iconFor(bridge.status()));
    refresh();
    m_icon.show();
}

void Tray::refresh() {
    const QString tip = toolTipFor(m_form.bridge().status(), m_form.bridge().clock().monotonicMs());
    if (tip != m_icon.toolTip()) m_icon.setToolTip(tip);
}

QString Tray::toolTipFor(const BridgeStatus& status, std::int64_t nowMs) {
    QString tip = QStringLiteral("Kordavo – řídící jednotka\n") +
                  QString::fromUtf8(stateLook(status.state).name);
    if (!status.cause.empty()) tip += QStringLiteral("\n") + QString::fromStdString(status.cause);
    if (!status.lastIdentification.empty())
        tip += QStringLiteral("\nPoslední identifikace: ") +
               QString::fromStdString(status.lastIdentification);
    if (status.lastDeliveryMs)
        tip += QStringLiteral("\nPoslední úspěšné předání před %1 min")
                   .arg((nowMs - *status.lastDeliveryMs) / 60'000);
    for (const std::string& warning : status.warnings)
        tip += QStringLiteral("\n") + QString::fromStdString(warning);
    return tip;
}

void Tray::showWindow(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

QIcon Tray::iconFor(const BridgeStatus& status) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 4));
    p.setBrush(QColor(QRgb(toneColour(status.state, status.tone))));
    p.drawEllipse(QRectF(4, 4, 56, 56));
    QFont font = p.font();
    font.setPixelSize(26);
    font.setBold(true);
    p.setFont(font);
    p.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("RJ"));
    return QIcon(pixmap);
}

}  // namespace kv
