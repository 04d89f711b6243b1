#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "link/PortErrorText.h"
#include "link/PortProbe.h"
#include "support/OsSupport.h"

namespace kv {
namespace {

TEST(PortErrorText, NamesThePortItsDeviceAndTheCauseInCzech) {
    const struct {
        PortFailure failure;
        const char* expected;
    } rows[] = {
        {{PortCause::missing, ""}, "COM2 (/dev/ttyS1): zařízení neexistuje"},
        {{PortCause::busy, ""}, "COM2 (/dev/ttyS1): zařízení je obsazeno jiným programem"},
        {{PortCause::busy, "kvbridge 1.1.0 v /srv/x (proces 1234)"},
         "COM2 (/dev/ttyS1): zařízení používá jiný program: kvbridge 1.1.0 v /srv/x (proces 1234)"},
        // The fix, with the real user's name (Windows: the plain refusal).
        {{PortCause::noPermission, "uucp"}, "COM2 (/dev/ttyS1): NO_PERMISSION(uucp)"},
        {{PortCause::noPermission, ""}, "COM2 (/dev/ttyS1): NO_PERMISSION(dialout)"},
        {{PortCause::notSerial, ""}, "COM2 (/dev/ttyS1): zařízení není sériový port"},
        {{PortCause::unknown, "I/O error"},
         "COM2 (/dev/ttyS1): zařízení nelze otevřít (I/O error)"},
    };
    for (const auto& row : rows) {
        QString expected = QString::fromUtf8(row.expected);
        for (const char* group : {"uucp", "dialout"})
            expected.replace(QStringLiteral("NO_PERMISSION(%1)").arg(group),
                             test::expectedNoPermission(group));
        EXPECT_EQ(portErrorText(2, "/dev/ttyS1", row.failure), expected);
    }
    // Port n on the device COMn (Windows) is named once.
    EXPECT_EQ(portErrorText(2, "com2", {PortCause::missing, ""}), "COM2: zařízení neexistuje");
    // Only a missing device gets the hint how to give the port another one: in the window.
    const QString missing = openFailurePrompt(3, "/dev/ttyS2", {PortCause::missing, ""});
    EXPECT_TRUE(missing.contains("Porty?"));
    EXPECT_FALSE(missing.contains("KVBRIDGE_COM3"));
    EXPECT_FALSE(openFailurePrompt(3, "/dev/ttyS2", {PortCause::busy, ""}).contains("Porty?"));
}

TEST(PortErrorText, TheCauseComesFromTheSystemNotFromAGuess) {
    QTemporaryDir dir;
    const std::string absent = dir.filePath("absent").toStdString();
    const std::string plainFile = dir.filePath("not-a-port").toStdString();
    std::ofstream(plainFile) << "x";
    const std::string device = test::characterDevice();
    const struct {
        std::string name;
        OpenError error;
        PortCause expected;
    } rows[] = {
        {absent, OpenError::denied, PortCause::missing},
        {plainFile, OpenError::denied, PortCause::notSerial},
        {plainFile, OpenError::other, PortCause::notSerial},
        // A device that is there and that the user may open: refused, another program has it.
        {device, OpenError::denied, PortCause::busy},
        {device, OpenError::unsupported, PortCause::notSerial},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name + " " + std::to_string(int(row.error)));
        EXPECT_EQ(classifyOpenFailure(row.name, row.error, "").cause, row.expected);
    }
}

}  // namespace
}  // namespace kv
