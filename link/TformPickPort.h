#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace Ui {
class TformPickPort;
}

namespace kv {

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

private:
    std::unique_ptr<Ui::TformPickPort> m_ui;
    QButtonGroup* m_items;
};

}  // namespace kv
