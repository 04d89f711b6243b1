#include "link/PortProbe.h"

namespace kv {

PortFailure classifyOpenFailure(const std::string& /*device*/, OpenError error,
                                const std::string& systemText) {
    switch (error) {
        case OpenError::notFound:
            return {PortCause::missing, {}};
        case OpenError::denied:
            // Windows answers "access denied" for a port another program holds.
            return {PortCause::busy, {}};
        case OpenError::unsupported:
            return {PortCause::notSerial, {}};
        case OpenError::other:
            break;
    }
    return {PortCause::unknown, systemText};
}

// COMn names the device itself on Windows; there is nothing more stable.
std::string stableDeviceName(const std::string& device) { return device; }

bool sameDevice(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// Windows has no group to join; the port is refused as such.
QString noPermissionText(const std::string& /*group*/) { return QStringLiteral("přístup odepřen"); }

}  // namespace kv
