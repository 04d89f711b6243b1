#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <future>
#include <optional>

#include "app/PortPicker.h"
#include "link/TQCCom32.h"
#include "support/Pty.h"

namespace kv {
namespace {

using test::ComPortMapping;
using test::kMissingDevice;
using test::PtyPair;

// Only COM1 and COM3 exist, both pseudo-terminals.
class SelectPortTest : public ::testing::Test {
protected:
    // What the operator saw when the dialog was shown.
    struct Seen {
        QStringList items;
        int selected = -2;
        bool portOpen = true;
        int port = 0;
    };
    // The operator picks `choice` (-1: leaves the selection alone) and answers `result`.
    void operatorAnswers(int choice, int result) {
        picker.runPickDialog = [this, choice, result](TformPickPort& dialog) {
            seen = Seen{dialog.items(), dialog.itemIndex(), com.Opened(), com.Port()};
            if (choice >= 0) dialog.itemButton(choice)->click();
            return result;
        };
    }

    PtyPair unit1, unit3;
    ComPortMapping com1{1, unit1.slaveName()};
    ComPortMapping com2{2, kMissingDevice};
    ComPortMapping com3{3, unit3.slaveName()};
    ComPortMapping com4{4, kMissingDevice};
    TQCCom32 com{makeQtSerialDevice};
    PortPicker picker{makeQtSerialDevice};
    // What the bridge would tell the picker of its port.
    PortInUse inUse() const { return {com.Port(), com.Opened()}; }
    Seen seen;
};

// A driver that does not answer its open until it is let go.
class StuckDevice : public SerialDevice {
public:
    explicit StuckDevice(std::shared_future<void> release) : m_release(std::move(release)) {}
    bool open(const std::string&) override {
        m_release.wait();
        return false;
    }
    void applyLineSettings(int) override {}
    bool isOpen() const override { return false; }
    int bytesWaiting() override { return 0; }
    std::string read(int) override { return {}; }
    std::int64_t write(std::string_view) override { return 0; }
    void purge() override {}
    void close() override {}

private:
    std::shared_future<void> m_release;
};

// Ports whose driver does not answer hold the picker up for its deadline only, the event loop
// turning meanwhile, and are listed as not answering.
TEST(PortPickerProbe, APortThatDoesNotAnswerIsListedAsSuchAfterTheDeadline) {
    std::promise<void> release;
    PortPicker picker{
        [stuck = release.get_future().share()] { return std::make_unique<StuckDevice>(stuck); }};
    picker.probeDeadlineMs = 300;
    bool loopTurned = false;
    QTimer::singleShot(50, [&] { loopTurned = true; });
    QString info;
    picker.runPickDialog = [&](TformPickPort& dialog) {
        info = dialog.findChild<QLabel*>("portInfo")->text();
        return int(QDialog::Rejected);
    };
    EXPECT_FALSE(picker.select(nullptr, PortInUse{}));
    release.set_value();
    // The threads left behind end once their devices answer, and are deleted.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (PortPicker::probesRunning() > 0 && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(PortPicker::probesRunning(), 0);
    EXPECT_TRUE(loopTurned);
    EXPECT_EQ(info.count(QString::fromUtf8("zařízení nelze otevřít (neodpovídá)")), 4)
        << info.toStdString();
}

TEST_F(SelectPortTest, ListsTheOpenablePortsWithTheCurrentOneSelected) {
    com.setPort(3);
    operatorAnswers(-1, QDialog::Accepted);
    EXPECT_TRUE(picker.select(nullptr, inUse()));
    EXPECT_EQ(seen.items, QStringList({"COM1", "COM3"}));
    EXPECT_EQ(seen.selected, 1);
    EXPECT_EQ(com.Port(), 3);
}

// Communication goes on while the operator chooses, and choosing does not restart it: the port in
// use is not probed, stays open and gets nothing, whether the answer is OK or Zrušit.
TEST_F(SelectPortTest, ThePortInUseStaysOpenAndIsListed) {
    for (int answer : {int(QDialog::Rejected), int(QDialog::Accepted)}) {
        SCOPED_TRACE(answer);
        com.setPort(3);
        ASSERT_TRUE(com.Open());
        operatorAnswers(0, answer);
        picker.select(nullptr, inUse());
        EXPECT_TRUE(seen.portOpen);
        EXPECT_EQ(seen.items, QStringList({"COM1", "COM3"}));
        EXPECT_TRUE(com.Opened());
        EXPECT_TRUE(com.WriteText("x"));
        EXPECT_EQ(unit3.readMaster(1), "x");
        EXPECT_EQ(unit3.drainMaster(), "");
        com.Close();
    }
}

TEST_F(SelectPortTest, OperatorChoiceAndAnswer) {
    struct Case {
        const char* name;
        int currentPort;
        int choice;
        int answer;
        bool result;
        int portAfter;
    };
    const Case cases[] = {
        {"COM1 and OK", 3, 0, QDialog::Accepted, true, 1},
        {"COM1 and Cancel", 3, 0, QDialog::Rejected, false, 3},
        {"current port missing, OK without a choice", 2, -1, QDialog::Accepted, false, 2},
        {"current port missing, COM3 and OK", 2, 1, QDialog::Accepted, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com.setPort(c.currentPort);
        operatorAnswers(c.choice, c.answer);
        EXPECT_EQ(picker.select(nullptr, inUse()), c.result);
        EXPECT_EQ(picker.chosenPort(), c.portAfter);
        EXPECT_EQ(com.Port(), c.currentPort) << "the serial component is the bridge's to set";
        EXPECT_FALSE(com.Opened()) << "the choice is not opened here";
    }
}

TEST_F(SelectPortTest, NoPortAvailableGivesAnEmptyList) {
    ComPortMapping gone1(1, kMissingDevice);
    ComPortMapping gone3(3, kMissingDevice);
    operatorAnswers(-1, QDialog::Accepted);
    EXPECT_FALSE(picker.select(nullptr, inUse()));
    EXPECT_TRUE(seen.items.isEmpty());
    EXPECT_EQ(seen.selected, -1);
    EXPECT_EQ(com.Port(), 1);
}

TEST_F(SelectPortTest, APortHeldElsewhereIsMissing) {
    auto other = makeQtSerialDevice();
    ASSERT_TRUE(other->open(unit1.slaveName()));
    operatorAnswers(-1, QDialog::Rejected);
    picker.select(nullptr, inUse());
    EXPECT_EQ(seen.items, QStringList({"COM3"}));
    EXPECT_EQ(seen.selected, -1);
}

TEST_F(SelectPortTest, TheDialogButtonsEndTheModalRun) {
    struct Case {
        const char* button;
        bool result;
    };
    for (const Case& c : {Case{"OK", true}, Case{"Cancel", false}}) {
        SCOPED_TRACE(c.button);
        com.setPort(1);
        picker.runPickDialog = [&](TformPickPort& dialog) {
            dialog.itemButton(1)->click();  // COM3
            QPushButton* button = QString(c.button) == "OK" ? dialog.OKBtn() : dialog.CancelBtn();
            QTimer::singleShot(0, button, [&dialog, button] {
                EXPECT_EQ(dialog.focusWidget(), dialog.OKBtn());
                button->click();
            });
            return dialog.exec();
        };
        EXPECT_EQ(picker.select(nullptr, inUse()), c.result);
        EXPECT_EQ(picker.chosenPort(), c.result ? 3 : 1);
    }
}

// The serial devices of the system: those a port already stands for, under whatever name, are
// described with that port; the others can become the current port's device, remembered in
// porty.cfg for the next start.
class PickDeviceTest : public SelectPortTest {
protected:
    PickDeviceTest() {
        std::filesystem::create_symlink(unit1.slaveName(), byIdOfUnit1);
        std::filesystem::create_symlink(converter.slaveName(), byIdOfConverter);
        picker.listSerialDevices = [this] {
            return std::vector<SystemSerialDevice>{
                {unit1.slaveName(), byIdOfUnit1, "UART A"},
                {converter.slaveName(), byIdOfConverter, "FT232R USB UART, FTDI"}};
        };
    }
    // The picker before the first Start, with COM2 chosen in the window.
    bool select() { return picker.select(nullptr, inUse(), 2); }
    // The operator checks the device at index `device` and answers `result`.
    void operatorPicksDevice(int device, int result) {
        picker.runPickDialog = [this, device, result](TformPickPort& dialog) {
            info = dialog.portInfo()->text();
            for (int i = 0; dialog.deviceButton(i); ++i) {
                offered << dialog.deviceButton(i)->text();
                choosable = choosable || dialog.deviceButton(i)->isEnabled();
            }
            if (dialog.deviceButton(device)) dialog.deviceButton(device)->click();
            return result;
        };
    }

    QTemporaryDir dir;
    test::CurrentDirectory inDir{dir.path().toStdString()};
    PtyPair converter;
    std::string byIdOfUnit1 = dir.filePath("usb-A-if00").toStdString();
    std::string byIdOfConverter = dir.filePath("usb-FTDI_FT232R-if00-port0").toStdString();
    // COM1 goes by another name of its device, as KVBRIDGE_COM1=/dev/serial/by-id/... does.
    ComPortMapping com1ById{1, byIdOfUnit1};
    ComPortMapping com2Unset{2, ""};
    QString info;
    QStringList offered;
    bool choosable = false;
};

TEST_F(PickDeviceTest, ADevicePortsStandForIsNotOfferedAgain) {
    operatorPicksDevice(-1, QDialog::Rejected);
    select();
    EXPECT_EQ(offered, QStringList({QString::fromStdString(converter.slaveName()) +
                                    QString::fromUtf8(" – FT232R USB UART, FTDI")}));
    EXPECT_TRUE(info.contains(QString::fromStdString("COM1 (" + byIdOfUnit1 + "): ") +
                              QString::fromUtf8("volný – UART A")))
        << info.toStdString();
    EXPECT_TRUE(choosable);
}

TEST_F(PickDeviceTest, TheChosenDeviceIsTheCurrentPortsFromNowOn) {
    struct Case {
        const char* name;
        int answer;
        bool result;
        bool remembered;
    };
    const Case cases[] = {
        {"Zrušit changes nothing", QDialog::Rejected, false, false},
        {"OK remembers it", QDialog::Accepted, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        operatorPicksDevice(0, c.answer);
        EXPECT_EQ(select(), c.result);
        EXPECT_EQ(std::filesystem::exists(kPortDevicesFile), c.remembered);
    }
    // The next start of the bridge reads it again.
    TQCCom32 afterRestart{makeQtSerialDevice};
    afterRestart.setPort(2);
    EXPECT_EQ(portDeviceName(2), byIdOfConverter);
    ASSERT_TRUE(afterRestart.Open());
    EXPECT_TRUE(afterRestart.WriteText("Q"));
    EXPECT_EQ(converter.readMaster(1), "Q");
}

TEST_F(PickDeviceTest, APortTheEnvironmentGivesADeviceCannotBeGivenAnother) {
    ComPortMapping fixed(2, test::kMissingDevice);
    operatorPicksDevice(0, QDialog::Accepted);
    EXPECT_FALSE(select());
    EXPECT_FALSE(choosable);
    EXPECT_FALSE(std::filesystem::exists(kPortDevicesFile));
}

// A device typed in the picker is tried before porty.cfg keeps it; one that does not open is
// refused with its cause, and where the environment decides nothing typed counts.
TEST_F(PickDeviceTest, ATypedDeviceIsTriedBeforeItIsKept) {
    const struct {
        const char* name;
        std::string typed;
        bool fixed;
        bool result;
        const char* refusal;
    } rows[] = {
        {"missing", kMissingDevice, false, false, "zařízení neexistuje"},
        {"fixed by the environment", converter.slaveName(), true, false, ""},
        {"there", converter.slaveName(), false, true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<ComPortMapping> fixed;
        if (row.fixed) fixed.emplace(2, kMissingDevice);
        picker.runPickDialog = [&](TformPickPort& dialog) {
            dialog.typedDevice()->setText(QString::fromStdString(row.typed));
            return int(QDialog::Accepted);
        };
        EXPECT_EQ(select(), row.result);
        EXPECT_TRUE(picker.refusal().contains(QString::fromUtf8(row.refusal)))
            << picker.refusal().toStdString();
        EXPECT_EQ(picker.refusal().isEmpty(), !*row.refusal);
        EXPECT_EQ(rememberedPortDevice(2), row.result ? row.typed : "");
    }
}

TEST(TformPickPort, FormAsTheOperatorSeesIt) {
    TformPickPort dialog;
    EXPECT_EQ(dialog.objectName(), "formPickPort");
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Výběr sériového portu"));
    EXPECT_EQ(dialog.size(), QSize(218, 114));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);

    ASSERT_NE(dialog.findChild<QGroupBox*>("radioCom"), nullptr);
    EXPECT_EQ(dialog.radioCom()->title(), QString::fromUtf8("Sériový port"));
    EXPECT_EQ(dialog.radioCom()->geometry(), QRect(8, 4, 109, 101));
    ASSERT_NE(dialog.findChild<QPushButton*>("OKBtn"), nullptr);
    EXPECT_EQ(dialog.OKBtn()->text(), "OK");
    EXPECT_TRUE(dialog.OKBtn()->isDefault());
    EXPECT_EQ(dialog.OKBtn()->geometry(), QRect(132, 12, 77, 27));
    ASSERT_NE(dialog.findChild<QPushButton*>("CancelBtn"), nullptr);
    EXPECT_EQ(dialog.CancelBtn()->text(), QString::fromUtf8("Zrušit"));
    EXPECT_EQ(dialog.CancelBtn()->geometry(), QRect(132, 44, 77, 27));

    EXPECT_TRUE(dialog.items().isEmpty());
    EXPECT_EQ(dialog.itemIndex(), -1);
    dialog.addItem("COM2");
    dialog.addItem("COM4");
    dialog.setItemIndex(1);
    EXPECT_TRUE(dialog.itemButton(1)->isChecked());
    dialog.setItemIndex(-1);
    EXPECT_EQ(dialog.itemIndex(), -1);
}

}  // namespace
}  // namespace kv
