#include "connection/form1.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

#include "app/fields.h"
#include "app/page_flow.h"
#include "app/qt_page.h"
#include "app/settings.h"
#include "connection/connection_handlers.h"
#include "db/error.h"
#include "tables/form2.h"

namespace connection {

namespace {

using app::ControlKind;

// The designed layout, in twips, relative to each control's container.
constexpr app::ControlSpec kLayout[] = {
    {"Frame1", ControlKind::Frame, "PostgreSQL Database", "", {120, 120, 7800, 2895}},
    {"Label2", ControlKind::Label, "Server:", "Frame1", {240, 405, 1095, 255}},
    {"Text1", ControlKind::TextField, "", "Frame1", {1320, 360, 4215, 345}},
    {"Label3", ControlKind::Label, "Port:", "Frame1", {5760, 405, 495, 255}},
    {"Text2", ControlKind::TextField, "", "Frame1", {6360, 360, 1215, 345}},
    {"Label1", ControlKind::Label, "Username:", "Frame1", {240, 885, 1095, 255}},
    {"Text3", ControlKind::TextField, "", "Frame1", {1320, 840, 6255, 345}},
    {"Label4", ControlKind::Label, "Password:", "Frame1", {240, 1365, 1095, 255}},
    {"Text4", ControlKind::MaskedField, "", "Frame1", {1320, 1320, 6255, 345}},
    {"Label6", ControlKind::Label, "Database:", "Frame1", {240, 1845, 1095, 255}},
    {"Text5", ControlKind::TextField, "", "Frame1", {1320, 1800, 6255, 345}},
    {"PushButton3", ControlKind::Button, "Test Connection", "Frame1", {240, 2280, 3600, 400}},
    {"PushButton5", ControlKind::Button, "Help", "Frame1", {3960, 2280, 3600, 405}},
    {"Frame2", ControlKind::Frame, "Access Database", "", {120, 3090, 7800, 1845}},
    {"Label5", ControlKind::Label, "MDB or ACCDB File:", "Frame2", {240, 345, 1935, 255}},
    {"Text6", ControlKind::TextField, "", "Frame2", {2280, 300, 4695, 345}},
    {"PushButton1", ControlKind::Button, "...", "Frame2", {7080, 300, 450, 345}},
    {"lblPassword", ControlKind::Label, "Password (if required):", "Frame2", {240, 840, 1950, 225}},
    {"Text7", ControlKind::MaskedField, "", "Frame2", {2280, 800, 5265, 345}},
    {"PushButton7", ControlKind::Button, "Load Sample/Example Database", "Frame2", {240, 1260, 7275, 405}},
    {"PushButton2", ControlKind::Button, "Next >", "", {120, 5070, 7800, 405}},
};
constexpr int kClientWidth = 8040, kClientHeight = 5610;

const QStringList kFocusOrder{"Text1",       "Text2",       "Text3", "Text4", "Text5",       "PushButton3",
                              "PushButton5", "PushButton2", "Text6", "Text7", "PushButton1", "PushButton7"};

} // namespace

Form1::Form1(Dependencies d)
    : store_(*d.store), services_(std::move(d.services)), program_(d.program), dialogs_(d.dialogs),
      fileDialog_(d.fileDialog) {
    setObjectName(QStringLiteral("Form1"));
    if (!program_) {
        ownProgram_ = std::make_unique<app::QtProgram>(&operations_);
        program_ = ownProgram_.get();
    }
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<app::QtDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    if (!fileDialog_) {
        ownFileDialog_ = std::make_unique<app::QtFileDialog>(this);
        fileDialog_ = ownFileDialog_.get();
    }
    setFont(app::pageFont());
    setFixedSize(app::twipsToPixels(kClientWidth), app::twipsToPixels(kClientHeight));
    app::paintBackground(this, app::designedWhite());
    controls_ = app::buildControls(this, kLayout);
    app::setFocusOrder(controls_, kFocusOrder);

    hover_ = std::make_unique<app::HoverFilter>(this, pointer_, app::connectionPageHoverRule);
    hover_->watch(this);
    for (auto& [name, widget] : controls_) hover_->watch(widget);

    wireFields();
    wireButtons();
}

Form1::~Form1() = default;

void Form1::wireFields() {
    auto* focus = new app::SelectAllOnFocus(this);
    for (app::Field f : app::kFields) {
        QLineEdit* edit = field(f);
        edit->installEventFilter(focus);
        connect(edit, &QLineEdit::textChanged, this,
                [this, f](const QString& text) { app::onFieldChanged(store_, f, text.toStdString()); });
    }
}

void Form1::wireButtons() {
    auto onClick = [this](const char* name, auto handler) {
        connect(qobject_cast<QPushButton*>(control(QString::fromLatin1(name))), &QPushButton::clicked, this, handler);
    };
    onClick("PushButton1", [this] { BrowseAccessFile(*this); });
    onClick("PushButton2", [this] { operations_.run([this] { app::GoToTableManager(*this, services_); }); });
    onClick("PushButton3", [this] { operations_.run([this] { TestConnection(*this, services_); }); });
    onClick("PushButton5", [this] { ShowConnectionHelp(*this); });
    onClick("PushButton7", [this] { LoadSampleDatabase(*this); });
}

void Form1::startUp() { app::StartUp(*this, store_, *program_, services_); }

void Form1::showPage() {
    hiddenByHandler_ = false;
    const bool first = !shownOnce_;
    if (first) {
        shownOnce_ = true;
        app::centreOnScreen(this);
    }
    show();
    raise();
    activateWindow();
    if (first) field(app::Field::Server)->setFocus(Qt::TabFocusReason); // the lowest tab position
}

void Form1::hidePage() {
    hiddenByHandler_ = true;
    hide();
}

void Form1::setCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }
void Form1::setProgramIcon() { setWindowIcon(app::programIcon()); }

void Form1::setHandPointerImage(const std::string& cursorFile) {
    if (!pointer_.setHandImage(cursorFile)) throw db::Error(481, "Invalid picture");
}

void Form1::applySystemFaceColour() { app::colourPageAndFrames(this, app::systemFaceColour()); }

std::string Form1::text(app::Field f) const { return field(f)->text().toStdString(); }

void Form1::setText(app::Field f, const std::string& text) {
    QLineEdit* edit = field(f);
    const QString value = QString::fromStdString(text);
    // Setting the same text is a change too: its key is written all the same.
    if (edit->text() == value) app::onFieldChanged(store_, f, text);
    else edit->setText(value);
}

app::TableManagerPage& Form1::tableManager() {
    if (!form2_) {
        form2_ = std::make_unique<tables::Form2>(*this, *dialogs_, *program_, services_, operations_);
        form2_->useSettings(store_);
    }
    return *form2_;
}

QWidget* Form1::control(const QString& name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

QLineEdit* Form1::field(app::Field f) const {
    return qobject_cast<QLineEdit*>(control(QString::fromLatin1(app::fieldControlName(f))));
}

tables::Form2* Form1::form2IfCreated() const { return form2_.get(); }

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    program_->end();
}

} // namespace connection
