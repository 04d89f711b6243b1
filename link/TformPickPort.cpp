#include "link/TformPickPort.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>

#include "ui_TformPickPort.h"

namespace kv {

TformPickPort::TformPickPort(QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::TformPickPort>()),
      m_items(new QButtonGroup(this)),
      m_portInfo(new QLabel(this)) {
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
    QFont plain = font();
    plain.setBold(false);
    m_portInfo->setFont(plain);
    m_portInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_portInfo->hide();
}

TformPickPort::~TformPickPort() = default;

QGroupBox* TformPickPort::radioCom() const { return m_ui->radioCom; }
QPushButton* TformPickPort::OKBtn() const { return m_ui->OKBtn; }
QPushButton* TformPickPort::CancelBtn() const { return m_ui->CancelBtn; }

void TformPickPort::addItem(const QString& text) {
    auto* item = new QRadioButton(text, m_ui->radioCom);
    item->setObjectName(QStringLiteral("radioCom_") + text);
    m_items->addButton(item, int(m_items->buttons().size()));
    // Before the stretch, so the column fills from the top.
    m_ui->radioComColumn->insertWidget(m_ui->radioComColumn->count() - 1, item);
}

QStringList TformPickPort::items() const {
    QStringList texts;
    for (int i = 0; i < int(m_items->buttons().size()); ++i) texts << m_items->button(i)->text();
    return texts;
}

QRadioButton* TformPickPort::itemButton(int index) const {
    return qobject_cast<QRadioButton*>(m_items->button(index));
}

int TformPickPort::itemIndex() const { return m_items->checkedId(); }

void TformPickPort::setItemIndex(int index) {
    if (auto* item = m_items->button(index)) {
        item->setChecked(true);
        return;
    }
    // An exclusive group does not let its checked button go.
    m_items->setExclusive(false);
    for (auto* item : m_items->buttons()) item->setChecked(false);
    m_items->setExclusive(true);
}

void TformPickPort::showPorts(const std::vector<PortInfo>& ports,
                              const std::vector<SerialConverter>& converters) {
    QStringList lines;
    for (const PortInfo& p : ports) {
        lines << (p.opened ? portLabel(p.port, p.device) + QStringLiteral(": volný")
                           : portErrorText(p.port, p.device, p.failure));
    }
    for (const SerialConverter& c : converters) {
        QString line = QStringLiteral("USB převodník %1 (%2): ")
                           .arg(QString::fromStdString(c.name), QString::fromStdString(c.device));
        QString given;
        for (const PortInfo& p : ports)
            if (given.isEmpty() && sameDevice(p.device, c.path))
                given = QStringLiteral("je COM%1 (KVBRIDGE_COM%1)").arg(p.port);
        lines << line + (given.isEmpty() ? QStringLiteral("žádný port, nastavte KVBRIDGE_COMn=%1")
                                               .arg(QString::fromStdString(c.path))
                                         : given);
    }
    m_portInfo->setText(lines.join(QLatin1Char('\n')));
    const QSize text = m_portInfo->sizeHint();
    // The list, OK and Cancel stay where they are; the lines go underneath.
    m_portInfo->setGeometry(8, 112, text.width(), text.height());
    m_portInfo->show();
    // Wide enough for the caption in the title bar too.
    setFixedSize(std::max(280, text.width() + 16), 112 + text.height() + 8);
}

}  // namespace kv
