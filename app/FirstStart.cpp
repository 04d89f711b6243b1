#include "app/FirstStart.h"

#include <QString>
#include <QtGlobal>

#include "app/Logging.h"
#include "link/Cp1250.h"
#include "link/SerialDevice.h"

namespace kv {

bool isFirstStart(const std::filesystem::path& workDir) {
    const std::filesystem::path cfg = workDir / "terminal.cfg";
    std::error_code ec;
    return !std::filesystem::exists(cfg, ec) ||
           (std::filesystem::is_regular_file(cfg, ec) && std::filesystem::file_size(cfg, ec) == 0);
}

bool showsWindowAtStart(bool minimized, bool trayAvailable, const std::filesystem::path& workDir) {
    return !minimized || !trayAvailable || isFirstStart(workDir);
}

TerminalConfig firstConfigFromEnvironment(const std::filesystem::path& workDir) {
    TerminalConfig config = defaultTerminalConfig();
    // An empty terminal.cfg is not written, so nothing is taken for it (nor porty.cfg written).
    std::error_code ec;
    if (std::filesystem::exists(workDir / "terminal.cfg", ec)) return config;

    const QString port = qEnvironmentVariable("KVBRIDGE_PORT").trimmed();
    if (port.size() == 1 && port[0] >= QLatin1Char('1') && port[0] <= QLatin1Char('4')) {
        config.port = port.toStdString();
    } else if (!port.isEmpty()) {
        // A path names the device; port 1 is the one that opens it from now on.
        if (rememberPortDevice(1, port.toStdString()))
            config.port = std::string(1, '1');
        else
            qCWarning(lcApp).noquote()
                << QStringLiteral("KVBRIDGE_PORT=%1: porty.cfg cannot be written; not used")
                       .arg(port);
    }
    if (const QString url = qEnvironmentVariable("KVBRIDGE_URL").trimmed(); !url.isEmpty())
        config.adresa = toCp1250(url);
    if (const QString company = qEnvironmentVariable("KVBRIDGE_COMPANY").trimmed();
        !company.isEmpty()) {
        if (parseIntegerText(company.toStdString()))
            config.idfirmy = company.toStdString();
        else
            qCWarning(lcApp).noquote()
                << QStringLiteral("KVBRIDGE_COMPANY=%1 is no number; not used").arg(company);
    }
    return config;
}

}  // namespace kv
