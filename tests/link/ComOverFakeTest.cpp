#include <gtest/gtest.h>

#include "link/TQCCom32.h"
#include "support/FakeClock.h"
#include "support/FakeSerialDevice.h"

// The serial component on the in-memory line: line settings and what each open and write came
// to.
namespace kv {
namespace {

using test::FakeClock;
using test::FakeSerialLine;
// Exact timing and counting on the in-memory line.
class ComOverFake : public ::testing::Test {
protected:
    ComOverFake() { line->clock = &clock; }

    FakeClock clock;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    TQCCom32 com{test::fakeSerialFactory(line)};
};

TEST_F(ComOverFake, OpenAppliesTheLineSettingsAndReopensWhenOpen) {
    com.setBaud(2400);
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(line->baud, 2400);
    EXPECT_EQ(line->openName, portDeviceName(1));
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(line->opens, 2);
    EXPECT_EQ(line->closes, 1);
}

TEST_F(ComOverFake, SettersNeverTouchTheOpenDeviceAndApplyAtTheNextOpen) {
    ASSERT_TRUE(com.Open());
    com.setBaud(2400);
    com.setPort(2);
    EXPECT_EQ(line->opens, 1);
    EXPECT_EQ(line->openName, portDeviceName(1));
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(line->openName, portDeviceName(2));
    EXPECT_EQ(line->baud, 2400);
}

// Nothing opens the port but Open and a reopen: a write or a read of a closed or lost port is
// refused with its cause and no device is made for it.
TEST_F(ComOverFake, EachOpenAndWriteSaysWhatItCameTo) {
    struct Case {
        const char* name;
        std::function<void()> before;
        std::function<PortResult()> act;
        PortCause expected;
        int devicesMade;
    };
    const Case cases[] = {
        {"open", [] {}, [&] { return com.Open(); }, PortCause::done, 1},
        {"open of a missing device", [&] { line->failingNames = {portDeviceName(1)}; },
         [&] { return com.Open(); }, PortCause::unknown, 1},
        {"write to a closed port", [] {}, [&] { return com.WriteText("x"); }, PortCause::closed, 0},
        {"write", [&] { com.Open(); }, [&] { return com.WriteText("x"); }, PortCause::done, 1},
        {"short write",
         [&] {
             com.Open();
             line->writeLimit = 0;
         },
         [&] { return com.WriteText("x"); }, PortCause::shortWrite, 1},
        {"write after the device went away",
         [&] {
             com.Open();
             line->lostCause = "unplugged";
         },
         [&] { return com.WriteText("x"); }, PortCause::lost, 1},
        {"write to a lost port",
         [&] {
             com.Open();
             line->lostCause = "unplugged";
             com.InCount();
         },
         [&] { return com.WriteText("x"); }, PortCause::lost, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com.Close();
        *line = FakeSerialLine{};
        line->clock = &clock;
        c.before();
        EXPECT_EQ(c.act().cause, c.expected);
        EXPECT_EQ(line->devicesMade, c.devicesMade);
        EXPECT_EQ(portCauseText(c.expected).isEmpty(), c.expected == PortCause::done);
    }
}

TEST_F(ComOverFake, AShortWriteLeavesWhatTheDeviceTook) {
    line->writeLimit = 2;
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(com.WriteText("abc").cause, PortCause::shortWrite);
    EXPECT_EQ(line->written, "ab");
}

TEST_F(ComOverFake, PurgeAndCloseOfAClosedPortDoNothing) {
    com.Purge();
    com.Close();
    EXPECT_EQ(line->purges, 0);
    EXPECT_EQ(line->devicesMade, 0);
}

TEST_F(ComOverFake, DestructionClosesThePort) {
    {
        TQCCom32 own(test::fakeSerialFactory(line));
        ASSERT_TRUE(own.Open());
        EXPECT_TRUE(line->open);
    }
    EXPECT_FALSE(line->open);
}

// What counts as the same port when a lost one comes back under its name.
TEST(DeviceIdentity, ALostPortComesBackAsItsOwnHardwareOrBehindItsLinkMadeAnew) {
    const DeviceIdentity converterA{"/dev/ttyUSB0", "188:0", "0403:6001:A5", 0};
    const DeviceIdentity converterAElsewhere{"/dev/ttyUSB1", "188:1", "0403:6001:A5", 0};
    const DeviceIdentity converterB{"/dev/ttyUSB0", "188:0", "0403:6001:B7", 0};
    const DeviceIdentity serial0{"/dev/ttyS0", "4:64", "", 0};
    const DeviceIdentity serial1{"/dev/ttyS1", "4:65", "", 0};
    const DeviceIdentity pty{"/dev/pts/3", "136:3", "", 11};
    const DeviceIdentity ptyByLink{"/dev/pts/3", "136:3", "", 11, true, 100};
    const DeviceIdentity nextPtyByNewLink{"/dev/pts/7", "136:7", "", 12, true, 101};
    const DeviceIdentity serialByNewLink{"/dev/ttyS1", "4:65", "", 0, true, 101};
    const DeviceIdentity othersPtyByOldLink{"/dev/pts/3", "136:3", "", 13, true, 100};
    const DeviceIdentity newPtyOfItsNumber{"/dev/pts/3", "136:3", "", 13};
    const struct {
        const char* name;
        DeviceIdentity original, found;
        bool back;
    } rows[] = {
        {"converter by its serial number", converterA, converterAElsewhere, true},
        {"another converter under its name", converterA, converterB, false},
        {"a converter where a plain port was", serial0, converterA, false},
        {"a hardware port by its device", serial0, serial0, true},
        {"another hardware port under its name", serial0, serial1, false},
        {"a pseudo-terminal by its link made anew", ptyByLink, nextPtyByNewLink, true},
        {"a plain port behind a pseudo-terminal's link made anew", ptyByLink, serialByNewLink,
         true},
        {"another program's terminal of its number behind the old link", ptyByLink,
         othersPtyByOldLink, false},
        {"a new pseudo-terminal under a bare one's number", pty, newPtyOfItsNumber, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(isReturnOf(row.original, row.found), row.back) << row.name;
}

}  // namespace
}  // namespace kv
