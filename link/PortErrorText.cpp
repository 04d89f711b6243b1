#include "link/PortErrorText.h"

#include "link/PortProbe.h"

namespace kv {

QString portLabel(int port, const std::string& device) {
    return QStringLiteral("COM%1 (%2)").arg(port).arg(QString::fromStdString(device));
}

QString portErrorText(int port, const std::string& device, const PortFailure& failure) {
    const QString detail = QString::fromStdString(failure.detail);
    QString cause;
    switch (failure.cause) {
        case PortCause::missing:
            cause = QStringLiteral("zařízení neexistuje");
            break;
        case PortCause::busy:
            cause = detail.isEmpty()
                        ? QStringLiteral("zařízení je obsazeno jiným programem")
                        : QStringLiteral("zařízení používá jiný program: %1").arg(detail);
            break;
        case PortCause::noPermission:
            cause = noPermissionText(failure.detail);
            break;
        case PortCause::notSerial:
            cause = QStringLiteral("zařízení není sériový port");
            break;
        case PortCause::unknown:
            cause = detail.isEmpty() ? QStringLiteral("zařízení nelze otevřít")
                                     : QStringLiteral("zařízení nelze otevřít (%1)").arg(detail);
            break;
    }
    return portLabel(port, device) + QStringLiteral(": ") + cause;
}

QString openFailurePrompt(int port, const std::string& device, const PortFailure& failure) {
    QString text =
        QStringLiteral("Sériový port nelze otevřít.\n\n") + portErrorText(port, device, failure);
    if (failure.cause == PortCause::missing)
        text += QStringLiteral(
                    "\n\nJiné zařízení (např. USB převodník) přiřadíte portu "
                    "proměnnou prostředí KVBRIDGE_COM%1.")
                    .arg(port);
    return text;
}

}  // namespace kv
