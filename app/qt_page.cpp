#include "app/qt_page.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "app/qt_ui.h"

namespace app {

namespace {

// Password fields show one "*" per character.
class StarMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QWidget* create(ControlKind kind, const QString& caption, QWidget* parent) {
    switch (kind) {
    case ControlKind::Frame: {
        auto* frame = new QGroupBox(caption, parent);
        frame->setFont(fieldFont());
        paintBackground(frame, designedWhite());
        return frame;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setFont(fieldFont());
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        paintBackground(label, designedWhite());
        return label;
    }
    case ControlKind::TextField:
    case ControlKind::MaskedField: {
        auto* field = new QLineEdit(parent);
        field->setFont(fieldFont());
        if (kind == ControlKind::MaskedField) {
            auto* style = new StarMaskStyle;
            style->setParent(field);
            field->setStyle(style);
            field->setEchoMode(QLineEdit::Password);
        }
        return field;
    }
    case ControlKind::Button: {
        auto* button = new QPushButton(caption, parent);
        button->setFont(buttonFont());
        button->setAutoDefault(false);
        return button;
    }
    case ControlKind::List: {
        auto* list = new QListWidget(parent);
        list->setFont(fieldFont());
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setSortingEnabled(false); // ListWidgetBox inserts in our own order
        return list;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(caption, parent);
        box->setFont(fieldFont());
        return box;
    }
    case ControlKind::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setFont(buttonFont());
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(true);
        bar->setAlignment(Qt::AlignCenter);
        bar->setFormat(caption);
        return bar;
    }
    }
    return nullptr;
}

} // namespace

std::map<QString, QWidget*> buildControls(QWidget* page, std::span<const ControlSpec> layout) {
    std::map<QString, QWidget*> controls;
    for (const ControlSpec& control : layout) {
        const QString container = QString::fromLatin1(control.container);
        QWidget* parent = container.isEmpty() ? page : controls.at(container);
        QWidget* widget = create(control.kind, QString::fromUtf8(control.caption), parent);
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(twipsToPixels(control.rect));
        controls[widget->objectName()] = widget;
    }
    return controls;
}

void setFocusOrder(const std::map<QString, QWidget*>& controls, const QStringList& order) {
    for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(controls.at(order[i - 1]), controls.at(order[i]));
}

void colourPageAndFrames(QWidget* page, const QColor& colour) {
    paintBackground(page, colour);
    for (QGroupBox* frame : page->findChildren<QGroupBox*>()) paintBackground(frame, colour);
    for (QLabel* label : page->findChildren<QLabel*>()) paintBackground(label, colour);
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

HoverFilter::HoverFilter(QWidget* page, ui::Pointer& pointer, std::function<HoverRule(const std::string&)> rule)
    : page_(page), pointer_(pointer), rule_(std::move(rule)) {}

void HoverFilter::watch(QWidget* widget) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
        area->viewport()->setMouseTracking(true);
        area->viewport()->installEventFilter(this);
    }
}

std::string HoverFilter::controlAt(const QPoint& globalPosition) const {
    QWidget* widget = page_->childAt(page_->mapFromGlobal(globalPosition));
    for (; widget && widget != page_; widget = widget->parentWidget()) {
        const QString name = widget->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) return name.toStdString();
    }
    return "Form";
}

bool HoverFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        // A move that a child passes on to its container names the same
        // control again, so the rule is simply applied once more.
        const auto* move = static_cast<QMouseEvent*>(event);
        applyHover(pointer_, rule_(controlAt(move->globalPosition().toPoint())));
    }
    return QObject::eventFilter(watched, event);
}

bool SelectAllOnFocus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (auto* field = qobject_cast<QLineEdit*>(watched)) {
            // After the click that gave the focus has placed the cursor.
            QTimer::singleShot(0, field, [field] { field->selectAll(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
