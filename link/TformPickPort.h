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
    PortFailure failure;
};

// The port picker: a radio group of the ports that could be opened, OK and Cancel.  It has no
// behaviour of its own; TQCCom32::SelectPort fills it and reads the choice.
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

    // Under the list: what each of COM1 to COM4 stands for and why one is missing, and the
    // USB converters present with the port each is given to.
    void showPorts(const std::vector<PortInfo>& ports,
                   const std::vector<SerialConverter>& converters);
    QLabel* portInfo() const { return m_portInfo; }

private:
    std::unique_ptr<Ui::TformPickPort> m_ui;
    QButtonGroup* m_items;
    QLabel* m_portInfo;
};

}  // namespace kv
