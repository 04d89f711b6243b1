#include <gtest/gtest.h>

#include "link/PortErrorText.h"
#include "link/PortProbe.h"

namespace kv {
namespace {

// The system lists a port as \\.\COM7 and the operator types COM7: one device, kept as COM7, so
// the picker neither offers COM1 to COM4 again nor keeps two names of one converter.
TEST(PortProbe, TheSystemsAndTheOperatorsNamesOfAPortAreOneDevice) {
    EXPECT_TRUE(sameDevice("\\\\.\\COM7", "COM7"));
    EXPECT_TRUE(sameDevice("//./com7", "COM7"));
    EXPECT_FALSE(sameDevice("\\\\.\\COM7", "COM1"));
    EXPECT_EQ(stableDeviceName("\\\\.\\COM7"), "COM7");
    EXPECT_EQ(stableDeviceName("COM12"), "COM12");
    // Shown as Device Manager names it, and port n on COMn without the device repeated.
    EXPECT_EQ(shownDeviceName("\\\\.\\COM5"), "COM5");
    EXPECT_EQ(portLabel(2, "\\\\.\\COM5"), "COM2 (COM5)");
    EXPECT_EQ(portLabel(1, "COM1"), "COM1");
}

}  // namespace
}  // namespace kv
