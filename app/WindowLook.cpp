#include "app/WindowLook.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include "app/WidgetFields.h"

namespace kv {

namespace {

QString name(std::string_view n) {
    return QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
}

// A click on the caption of a bare check box toggles the box, as a click on the box does.
class CaptionToggles : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonRelease) return false;
        auto* label = qobject_cast<QLabel*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* box = label ? qobject_cast<QCheckBox*>(label->buddy()) : nullptr;
        if (box == nullptr || mouse->button() != Qt::LeftButton || !box->isEnabled() ||
            !label->rect().contains(mouse->position().toPoint()))
            return false;
        box->click();
        box->setFocus(Qt::MouseFocusReason);
        return true;
    }
};

// Reading order of the window: the configuration, the state, then what lies below.
constexpr const char* kTabOrder[] = {
    "cfgport1",  "cfgport2",  "cfgport3",  "cfgport4", "Button5",     "cfgadresa",  "slowstart",
    "slowcom",   "cas5min",   "cfgstart",  "idfirmy",  "cfguloz",     "skryt",      "stavstop",
    "stavstart", "stavprac",  "stavdatum", "stavcip",  "statram",     "statneterr", "statout",
    "statadr",   "statwramt", "statsubj",  "statopr",  "statud",      "statfree",   "statfreeid",
    "statlost",  "statpc",    "statrj",    "sendtime", "Button2",     "Button3",    "Button1",
    "statbut",   "urls",      "fiktud",    "Button4",  "cfghttphost", "historie",
};

}  // namespace

FieldKind fieldKind(Field field) {
    switch (field) {
        case Field::stavprac:
        case Field::stavdatum:
        case Field::stavcip:
            return FieldKind::status;
        case Field::urls:
            return FieldKind::request;
        default:
            return FieldKind::statistic;
    }
}

FieldLook fieldLook(FieldKind kind, bool alert) {
    FieldLook look;
    look.readOnly = kind == FieldKind::status || kind == FieldKind::statistic;
    // Dark red on pale red is above 7:1, black on the read-only grey above 15:1.
    if (alert) {
        look.text = QColor(0xa0, 0x00, 0x00);
        look.base = QColor(0xfd, 0xec, 0xea);
    } else {
        look.text = Qt::black;
        look.base = look.readOnly ? QColor(0xf4, 0xf4, 0xf4) : QColor(Qt::white);
    }
    return look;
}

void applyFieldLook(QLineEdit& edit, const FieldLook& look) {
    // Statistics change with every frame; an unchanged look is left alone.
    if (edit.isEnabled() && edit.isReadOnly() == look.readOnly &&
        edit.palette().color(QPalette::Active, QPalette::Text) == look.text &&
        edit.palette().color(QPalette::Active, QPalette::Base) == look.base)
        return;
    edit.setEnabled(true);
    edit.setReadOnly(look.readOnly);
    QPalette palette = edit.palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, look.text);
        palette.setColor(group, QPalette::Base, look.base);
    }
    edit.setPalette(palette);
}

void setUpWindowLook(QWidget& form) {
    for (auto* edit : form.findChildren<QLineEdit*>()) {
        for (std::size_t i = 0; i < kFieldCount; ++i) {
            const Field field = Field(i);
            if (edit->objectName() == name(fieldName(field)))
                applyFieldLook(*edit, fieldLook(fieldKind(field), false));
        }
    }
    // The state radios show the state in full colour; only the program selects them.
    for (Check check : {Check::stavstoji, Check::stavjede}) {
        auto* radio = form.findChild<QRadioButton*>(name(checkName(check)));
        radio->setEnabled(true);
        radio->setAttribute(Qt::WA_TransparentForMouseEvents);
        radio->setFocusPolicy(Qt::NoFocus);
    }
    // The frame line runs through the middle of the caption, as on the layout's own platform,
    // so neither comes down into the first row of controls.
    for (auto* group : form.findChildren<QGroupBox*>())
        group->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid #a8a8a8; border-radius: 2px; margin-top: 7px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; padding: 0 2px; }"));
    // The port captions keep clear of the next port's button.
    for (Check port : {Check::cfgport1, Check::cfgport2, Check::cfgport3, Check::cfgport4})
        form.findChild<QRadioButton*>(name(checkName(port)))
            ->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    auto* toggles = new CaptionToggles(&form);
    for (auto* label : form.findChildren<QLabel*>())
        if (qobject_cast<QCheckBox*>(label->buddy()) != nullptr) label->installEventFilter(toggles);
    // Enter presses the focused button, as Space does.
    for (auto* button : form.findChildren<QPushButton*>()) button->setAutoDefault(true);
    QWidget* previous = nullptr;
    for (const char* n : kTabOrder) {
        auto* widget = form.findChild<QWidget*>(QString::fromLatin1(n));
        if (widget == nullptr) continue;
        if (previous != nullptr) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void fitKeyboardToView(QWidget& form) {
    // The focus policy the control was made with, kept while it is out of view.
    static constexpr char kOwnPolicy[] = "kvbridgeFocusPolicy";
    const QRect view = form.rect();
    for (auto* widget : form.findChildren<QWidget*>()) {
        QVariant own = widget->property(kOwnPolicy);
        if (!own.isValid()) {
            if (widget->focusPolicy() == Qt::NoFocus) continue;
            own = int(widget->focusPolicy());
            widget->setProperty(kOwnPolicy, own);
        }
        // Whole rows only; a field that runs on past the right edge is still seen and read.
        const QRect area(widget->mapTo(&form, QPoint(0, 0)), widget->size());
        const bool inView = area.top() >= view.top() && area.bottom() <= view.bottom() &&
                            area.left() <= view.right();
        widget->setFocusPolicy(inView ? Qt::FocusPolicy(own.toInt()) : Qt::NoFocus);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setShortcut(inView ? QKeySequence::mnemonic(button->text()) : QKeySequence());
    }
}

QString statusToolTip(const BridgeStatus& status, std::int64_t nowMs) {
    QStringList tip;
    for (const std::string& line : statusWords(status, nowMs).lines())
        tip << QString::fromStdString(line);
    if (!status.instance.empty())
        tip << QStringLiteral("Pracovní adresář: %1").arg(QString::fromStdString(status.instance));
    return tip.join(QLatin1Char('\n'));
}

void showBridgeStatus(QWidget& form, const BridgeStatus& status, std::int64_t nowMs) {
    auto* stopped = form.findChild<QLabel*>(QStringLiteral("stavpopis1"));
    auto* running = form.findChild<QLabel*>(QStringLiteral("stavpopis2"));
    const bool runs = communicationOn(status.state);
    form.findChild<QRadioButton*>(QStringLiteral("stavjede"))->setChecked(runs);
    form.findChild<QRadioButton*>(QStringLiteral("stavstoji"))->setChecked(!runs);
    QLabel* lit = runs ? running : stopped;
    QLabel* dark = runs ? stopped : running;
    // The captions are the window's own; a state that is neither shows its short name.
    stopped->setText(QString::fromUtf8(stateLook(CommState::stopped).badge));
    running->setText(QString::fromUtf8(stateLook(CommState::running).badge));
    if (status.state != CommState::stopped && status.state != CommState::running)
        lit->setText(QString::fromUtf8(stateLook(status.state).badge));
    const QColor colour(QRgb(toneColour(status.state, status.tone)));
    const QString litSheet = QStringLiteral(
                                 "QLabel { background: %1; color: white; "
                                 "padding-left: 2px; border-radius: 2px; }")
                                 .arg(colour.name());
    // Every delivery changes the status; a style sheet set anew restyles the label each time.
    const bool restyle = lit->styleSheet() != litSheet || !dark->styleSheet().isEmpty();
    if (lit->styleSheet() != litSheet) lit->setStyleSheet(litSheet);
    lit->setToolTip(statusToolTip(status, nowMs));
    if (!dark->styleSheet().isEmpty()) dark->setStyleSheet(QString());
    // A style sheet set or cleared hands the label the desktop's font instead of the window's,
    // and the larger caption is cut off; the weight stays normal, so that every state fits.
    if (restyle)
        for (QLabel* label : {lit, dark}) label->setFont(form.font());
    dark->setToolTip(QString());
}

}  // namespace kv
