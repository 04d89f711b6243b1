#include "app/TformPickPort.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>

#include "link/PortProbe.h"
#include "link/SerialDevice.h"
#include "ui_TformPickPort.h"

namespace kv {

TformPickPort::TformPickPort(QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::TformPickPort>()),
      m_items(new QButtonGroup(this)),
      m_below(new QWidget(this)),
      m_portInfo(new QLabel(m_below)),
      m_devicesBox(new QGroupBox(m_below)),
      m_typed(new QLineEdit(m_devicesBox)) {
    m_ui->setupUi(this);
    // A dialog border with a title only: no system menu, no close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(218, 114);
    m_ui->OKBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    m_ui->CancelBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    m_ui->OKBtn->setAutoDefault(true);
    m_ui->CancelBtn->setAutoDefault(false);
    m_ui->OKBtn->setFocus();
    m_items->setExclusive(true);
    m_ui->radioComColumn->addStretch();
    connect(m_ui->OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    m_portInfo->setObjectName(QStringLiteral("portInfo"));
    m_devicesBox->setObjectName(QStringLiteral("devices"));
    QFont plain = font();
    plain.setBold(false);
    m_below->setFont(plain);
    m_portInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* column = new QVBoxLayout(m_below);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_portInfo);
    column->addWidget(m_devicesBox);
    new QVBoxLayout(m_devicesBox);
    m_typed->setObjectName(QStringLiteral("typedDevice"));
    m_typed->setPlaceholderText(QStringLiteral("nebo zadejte zařízení, např. %1")
                                    .arg(QString::fromStdString(defaultPortDevice(5))));
    // The hint is read whole, at any scale: the field is at least as wide as it.
    m_typed->setMinimumWidth(m_typed->fontMetrics().horizontalAdvance(m_typed->placeholderText()) +
                             2 * m_typed->fontMetrics().averageCharWidth() + 8);
    m_devicesBox->layout()->addWidget(m_typed);
    m_portInfo->hide();
    m_devicesBox->hide();
    m_below->hide();
}

TformPickPort::~TformPickPort() = default;

QGroupBox* TformPickPort::radioCom() const { return m_ui->radioCom; }
QPushButton* TformPickPort::OKBtn() const { return m_ui->OKBtn; }
QPushButton* TformPickPort::CancelBtn() const { return m_ui->CancelBtn; }

void TformPickPort::addItem(const QString& text) {
    auto* item = new QRadioButton(text, m_ui->radioCom);
    item->setObjectName(QStringLiteral("radioCom_") + text);
    m_items->addButton(item, m_itemCount++);
    // Before the stretch, so the column fills from the top.
    m_ui->radioComColumn->insertWidget(m_ui->radioComColumn->count() - 1, item);
}

QStringList TformPickPort::items() const {
    QStringList texts;
    for (int i = 0; i < m_itemCount; ++i) texts << m_items->button(i)->text();
    return texts;
}

QRadioButton* TformPickPort::itemButton(int index) const {
    return index >= 0 && index < m_itemCount ? qobject_cast<QRadioButton*>(m_items->button(index))
                                             : nullptr;
}

int TformPickPort::itemIndex() const {
    const int id = m_items->checkedId();
    return id < kFirstDevice ? id : -1;
}

QRadioButton* TformPickPort::deviceButton(int index) const {
    return index >= 0 && index < m_deviceCount
               ? qobject_cast<QRadioButton*>(m_items->button(kFirstDevice + index))
               : nullptr;
}

int TformPickPort::deviceIndex() const {
    const int id = m_items->checkedId();
    return id >= kFirstDevice ? id - kFirstDevice : -1;
}

void TformPickPort::setItemIndex(int index) {
    if (auto* item = itemButton(index)) {
        item->setChecked(true);
        return;
    }
    // An exclusive group does not let its checked button go.
    m_items->setExclusive(false);
    for (auto* item : m_items->buttons()) item->setChecked(false);
    m_items->setExclusive(true);
}

void TformPickPort::showPorts(const std::vector<PortInfo>& ports) {
    QStringList lines;
    for (const PortInfo& p : ports) {
        QString line = p.opened
                           ? portLabel(p.port, p.device) + (p.inUse ? QStringLiteral(": používá se")
                                                                    : QStringLiteral(": volný"))
                           : portErrorText(p.port, p.device, p.failure);
        if (!p.description.empty())
            line += QStringLiteral(" – ") + QString::fromStdString(p.description);
        lines << line;
    }
    m_portInfo->setText(lines.join(QLatin1Char('\n')));
    m_portInfo->show();
    layOutBelow();
}

void TformPickPort::showDevices(int port, const std::vector<SystemSerialDevice>& devices,
                                bool fixedByEnvironment) {
    m_devicesBox->setTitle(
        fixedByEnvironment
            ? QStringLiteral("Další zařízení (COM%1 určuje proměnná KVBRIDGE_COM%1)").arg(port)
            : QStringLiteral("Další zařízení, vybrané bude COM%1").arg(port));
    for (const SystemSerialDevice& d : devices) {
        QString text = QString::fromStdString(shownDeviceName(d.device));
        if (!d.description.empty())
            text += QStringLiteral(" – ") + QString::fromStdString(d.description);
        auto* item = new QRadioButton(text, m_devicesBox);
        item->setToolTip(QString::fromStdString(d.stablePath));
        item->setEnabled(!fixedByEnvironment);
        m_items->addButton(item, kFirstDevice + m_deviceCount++);
        // Above the typed device, which stays last.
        static_cast<QVBoxLayout*>(m_devicesBox->layout())
            ->insertWidget(m_devicesBox->layout()->count() - 1, item);
    }
    m_typed->setEnabled(!fixedByEnvironment);
    m_devicesBox->show();
    layOutBelow();
}

void TformPickPort::layOutBelow() {
    m_below->show();
    m_below->adjustSize();
    const QSize size = m_below->sizeHint();
    // The list, OK and Zrušit stay where they are; the rest goes underneath.
    m_below->setGeometry(8, 112, size.width(), size.height());
    // Wide enough for the caption in the title bar too.
    setFixedSize(std::max(300, size.width() + 16), 112 + size.height() + 8);
}

}  // namespace kv
