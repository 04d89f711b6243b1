#include "link/PortErrorText.h"

#include "link/PortProbe.h"

namespace kv {

QString portLabel(int port, const std::string& device) {
    const QString com = QStringLiteral("COM%1").arg(port);
    const QString shown = QString::fromStdString(shownDeviceName(device));
    // On Windows port n is COMn itself unless another device was chosen for it.
    if (shown.compare(com, Qt::CaseInsensitive) == 0) return com;
    return com + QStringLiteral(" (") + shown + QLatin1Char(')');
}

QString portCauseText(const PortResult& result) {
    const QString detail = QString::fromStdString(result.detail);
    switch (result.cause) {
        case PortCause::done:
            return {};
        case PortCause::missing:
            return QStringLiteral("zařízení neexistuje");
        case PortCause::busy:
            return detail.isEmpty()
                       ? QStringLiteral("zařízení je obsazeno jiným programem")
                       : QStringLiteral("zařízení používá jiný program: %1").arg(detail);
        case PortCause::noPermission:
            return noPermissionText(result.detail);
        case PortCause::notSerial:
            return QStringLiteral("zařízení není sériový port");
        case PortCause::otherDevice:
            return QStringLiteral("pod tímto jménem je teď jiné zařízení");
        case PortCause::closed:
            return QStringLiteral("port není otevřen");
        case PortCause::lost:
            return QStringLiteral("zařízení se odpojilo");
        case PortCause::shortWrite:
            return QStringLiteral("zařízení nepřevzalo všechna data");
        case PortCause::unknown:
            break;
    }
    return detail.isEmpty() ? QStringLiteral("zařízení nelze otevřít")
                            : QStringLiteral("zařízení nelze otevřít (%1)").arg(detail);
}

QString portErrorText(int port, const std::string& device, const PortResult& result) {
    return portLabel(port, device) + QStringLiteral(": ") + portCauseText(result);
}

QString openFailurePrompt(int port, const std::string& device, const PortResult& result) {
    QString text =
        QStringLiteral("Sériový port nelze otevřít.\n\n") + portErrorText(port, device, result);
    if (result.cause == PortCause::missing)
        text += QStringLiteral(
                    "\n\nJiné zařízení (např. USB převodník) vyberete nebo zadáte pro COM%1 "
                    "tlačítkem Porty? v hlavním okně.")
                    .arg(port);
    return text;
}

}  // namespace kv
