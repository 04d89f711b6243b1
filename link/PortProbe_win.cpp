#include <windows.h>

#include <QDir>
#include <QString>

#include "link/PortProbe.h"

namespace kv {

namespace {

// The name the system opens: "COM12" is a device in the \\.\ namespace (as the serial layer
// opens it); a path names a file.
std::wstring systemPath(const std::string& device) {
    QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("\\\\.\\")) || name.startsWith(QLatin1String("//./")))
        return QDir::toNativeSeparators(name).toStdWString();
    if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
        !name.contains(QLatin1Char(':')))
        name.prepend(QLatin1String("\\\\.\\"));
    return QDir::toNativeSeparators(name).toStdWString();
}

}  // namespace

PortFailure classifyOpenFailure(const std::string& device, OpenError error,
                                const std::string& systemText) {
    // A look without read or write access: it tells whether the name exists and what it is.
    const HANDLE look = CreateFileW(systemPath(device).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (look == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
            case ERROR_BAD_NETPATH:
                return {PortCause::missing, {}};
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
                // A serial port is one program's at a time; while another holds it the system
                // refuses even a look.
                return {PortCause::busy, {}};
            default:
                return {PortCause::unknown, systemText};
        }
    }
    const DWORD type = GetFileType(look);
    CloseHandle(look);
    if (type != FILE_TYPE_CHAR || error == OpenError::unsupported)
        return {PortCause::notSerial, {}};
    // The device is there: "access denied" on opening it means another program has it.
    if (error == OpenError::denied) return {PortCause::busy, {}};
    if (error == OpenError::notFound) return {PortCause::missing, {}};
    return {PortCause::unknown, systemText};
}

// COMn names the device itself on Windows; there is nothing more stable.  The system lists it
// as \\.\COM7, the operator types COM7: both are kept and compared as COM7.
std::string stableDeviceName(const std::string& device) {
    const QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("\\\\.\\")) || name.startsWith(QLatin1String("//./")))
        return name.mid(4).toStdString();
    return device;
}

std::string shownDeviceName(const std::string& device) { return stableDeviceName(device); }

bool endsForGoodWhenLost(const std::string& /*device*/) { return false; }

bool sameDevice(const std::string& a, const std::string& b) {
    return QString::fromStdString(stableDeviceName(a))
               .compare(QString::fromStdString(stableDeviceName(b)), Qt::CaseInsensitive) == 0;
}

// Windows has no group to join; the port is refused as such.
QString noPermissionText(const std::string& /*group*/) { return QStringLiteral("přístup odepřen"); }

}  // namespace kv
