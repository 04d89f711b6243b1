#include <gtest/gtest.h>

#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "link/TQCCom32.h"
#include "link/TformPickPort.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"

namespace kv {
namespace {

using test::ComPortMapping;
using test::kMissingDevice;
using test::PtyPair;
using test::ScriptedPrompts;

// Only COM1 and COM3 exist, both pseudo-terminals.
class SelectPortTest : public ::testing::Test {
protected:
    // What the operator saw when the dialog was shown.
    struct Seen {
        QStringList items;
        int selected = -2;
        bool portOpen = true;
        bool showErrors = false;
        int port = 0;
    };
    // The operator picks `choice` (-1: leaves the selection alone) and answers `result`.
    void operatorAnswers(int choice, int result) {
        com.runPickDialog = [this, choice, result](TformPickPort& dialog) {
            seen = Seen{dialog.items(), dialog.itemIndex(), com.Opened(), com.ShowErrors(),
                        com.Port()};
            if (choice >= 0) dialog.itemButton(choice)->click();
            return result;
        };
    }

    PtyPair unit1, unit3;
    ComPortMapping com1{1, unit1.slaveName()};
    ComPortMapping com2{2, kMissingDevice};
    ComPortMapping com3{3, unit3.slaveName()};
    ComPortMapping com4{4, kMissingDevice};
    ScriptedPrompts prompts;
    SystemClock clock;
    TQCCom32 com{makeQtSerialDevice, prompts, clock};
    Seen seen;
};

TEST_F(SelectPortTest, ListsTheOpenablePortsWithTheCurrentOneSelected) {
    com.setPort(3);
    operatorAnswers(-1, QDialog::Accepted);
    EXPECT_TRUE(com.SelectPort());
    EXPECT_EQ(seen.items, QStringList({"COM1", "COM3"}));
    EXPECT_EQ(seen.selected, 1);
    EXPECT_EQ(com.Port(), 3);
    EXPECT_TRUE(prompts.shown.empty()) << "the probe shows no messages";
}

TEST_F(SelectPortTest, TheProbeRestoresShowErrorsAndPortAndLeavesThePortClosed) {
    com.setPort(3);
    ASSERT_TRUE(com.Open());
    operatorAnswers(-1, QDialog::Rejected);
    com.SelectPort();
    EXPECT_FALSE(seen.portOpen);
    EXPECT_TRUE(seen.showErrors);
    EXPECT_EQ(seen.port, 3);
    EXPECT_FALSE(com.Opened());
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
        EXPECT_EQ(com.SelectPort(), c.result);
        EXPECT_EQ(com.Port(), c.portAfter);
        EXPECT_FALSE(com.Opened()) << "the choice is not opened here";
    }
}

TEST_F(SelectPortTest, NoPortAvailableGivesAnEmptyList) {
    ComPortMapping gone1(1, kMissingDevice);
    ComPortMapping gone3(3, kMissingDevice);
    operatorAnswers(-1, QDialog::Accepted);
    EXPECT_FALSE(com.SelectPort());
    EXPECT_TRUE(seen.items.isEmpty());
    EXPECT_EQ(seen.selected, -1);
    EXPECT_EQ(com.Port(), 1);
}

TEST_F(SelectPortTest, APortHeldElsewhereIsMissing) {
    auto other = makeQtSerialDevice();
    ASSERT_TRUE(other->open(unit1.slaveName()));
    operatorAnswers(-1, QDialog::Rejected);
    com.SelectPort();
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
        com.runPickDialog = [&](TformPickPort& dialog) {
            dialog.itemButton(1)->click();  // COM3
            QPushButton* button = QString(c.button) == "OK" ? dialog.OKBtn() : dialog.CancelBtn();
            QTimer::singleShot(0, button, [&dialog, button] {
                EXPECT_EQ(dialog.focusWidget(), dialog.OKBtn());
                button->click();
            });
            return dialog.exec();
        };
        EXPECT_EQ(com.SelectPort(), c.result);
        EXPECT_EQ(com.Port(), c.result ? 3 : 1);
    }
}

TEST(TformPickPort, FormAsTheOperatorSeesIt) {
    TformPickPort dialog;
    EXPECT_EQ(dialog.objectName(), "formPickPort");
    EXPECT_EQ(dialog.windowTitle(), "Select Serial Port");
    EXPECT_EQ(dialog.size(), QSize(218, 114));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);

    ASSERT_NE(dialog.findChild<QGroupBox*>("radioCom"), nullptr);
    EXPECT_EQ(dialog.radioCom()->title(), "Serial Port");
    EXPECT_EQ(dialog.radioCom()->geometry(), QRect(8, 4, 109, 101));
    ASSERT_NE(dialog.findChild<QPushButton*>("OKBtn"), nullptr);
    EXPECT_EQ(dialog.OKBtn()->text(), "OK");
    EXPECT_TRUE(dialog.OKBtn()->isDefault());
    EXPECT_EQ(dialog.OKBtn()->geometry(), QRect(132, 12, 77, 27));
    ASSERT_NE(dialog.findChild<QPushButton*>("CancelBtn"), nullptr);
    EXPECT_EQ(dialog.CancelBtn()->text(), "Cancel");
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
