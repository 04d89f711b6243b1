#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "link/PortErrorText.h"
#include "link/PortProbe.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class TformPickPort;
}

namespace kv {

// What the probe found out about one port.
struct PortInfo {
    int port = 0;
    std::string device;
    bool opened = false;
    bool inUse = false;  // open for communication, so not probed
    PortFailure failure;
    std::string description;  // what the system says the device is; may be empty
};

// The port picker: a radio group of the ports that could be opened, OK and Zrušit, and under
// them what each port is and the other serial devices of the system.  It has no behaviour of its
// own; PortPicker fills it and reads the choice.
class TformPickPort : public QDialog {
    Q_OBJECT
public:
    explicit TformPickPort(QWidget* parent = nullptr);
    ~TformPickPort() override;

    QGroupBox* radioCom() const;
    QPushButton* OKBtn() const;
    QPushButton* CancelBtn() const;

    // The radio group's items, one column, in the order added.
    void addItem(const QString& text);
    QStringList items() const;
    QRadioButton* itemButton(int index) const;
    // The checked item, -1 when none is.
    int itemIndex() const;
    // -1 unchecks every item.
    void setItemIndex(int index);

    // Under the list: what each of COM1 to COM4 stands for and why one is missing.
    void showPorts(const std::vector<PortInfo>& ports);
    QLabel* portInfo() const { return m_portInfo; }

    // Under that: the serial devices no port stands for, to choose one for port `port`; with
    // fixedByEnvironment they are shown but cannot be chosen, as KVBRIDGE_COM<port> decides.
    void showDevices(int port, const std::vector<SystemSerialDevice>& devices,
                     bool fixedByEnvironment);
    QGroupBox* devicesBox() const { return m_devicesBox; }
    QRadioButton* deviceButton(int index) const;
    // The checked device, -1 when none is.
    int deviceIndex() const;
    // A device typed by the operator (a path, a COMn name) for port `port`; checked before it
    // counts.
    QLineEdit* typedDevice() const { return m_typed; }

private:
    // Ids of the devices' buttons in the one exclusive group start here.
    static constexpr int kFirstDevice = 1000;
    void layOutBelow();

    std::unique_ptr<Ui::TformPickPort> m_ui;
    QButtonGroup* m_items;
    QWidget* m_below;
    QLabel* m_portInfo;
    QGroupBox* m_devicesBox;
    QLineEdit* m_typed;
    int m_itemCount = 0;
    int m_deviceCount = 0;
};

}  // namespace kv
