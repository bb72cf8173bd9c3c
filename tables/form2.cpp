#include "tables/form2.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "app/context.h"
#include "app/fields.h"
#include "app/settings.h"
#include "app/qt_page.h"
#include "db/error.h"
#include "tables/table_page_handlers.h"
#include "transfer/handlers.h"

namespace tables {

namespace {

using app::ControlKind;

// The designed layout, in twips, relative to each control's container.
constexpr app::ControlSpec kLayout[] = {
    {"Frame1", ControlKind::Frame, "Access Tables", "", {120, 120, 3840, 4215}},
    {"List1", ControlKind::List, "", "Frame1", {240, 360, 3330, 1635}},
    {"Frame2", ControlKind::Frame, "PostgreSQL Tables", "", {4080, 120, 3840, 4215}},
    {"List2", ControlKind::List, "", "Frame2", {240, 360, 3330, 1635}},
    {"CheckBox1", ControlKind::CheckBox, "Keep column types, keys and indexes", "", {120, 4440, 7800, 315}},
    {"ProgressBar1", ControlKind::Progress, "Progress Bar", "", {120, 4835, 7800, 405}},
    {"PushButton10", ControlKind::Button, "Select All", "Frame1", {240, 2100, 1600, 400}},
    {"PushButton11", ControlKind::Button, "Deselect All", "Frame1", {1960, 2100, 1600, 400}},
    {"PushButton3", ControlKind::Button, "Send Table/s To PostgreSQL", "Frame1", {240, 2600, 3330, 400}},
    {"PushButton1", ControlKind::Button, "Delete Table/s", "Frame1", {240, 3100, 3330, 400}},
    {"PushButton6", ControlKind::Button, "Rename Table", "Frame1", {240, 3600, 3330, 405}},
    {"PushButton8", ControlKind::Button, "Select All", "Frame2", {240, 2100, 1600, 400}},
    {"PushButton9", ControlKind::Button, "Deselect All", "Frame2", {1960, 2100, 1600, 400}},
    {"PushButton4", ControlKind::Button, "Send Table/s To Access", "Frame2", {240, 2600, 3330, 400}},
    {"PushButton5", ControlKind::Button, "Delete Table/s", "Frame2", {240, 3100, 3330, 400}},
    {"PushButton7", ControlKind::Button, "Rename Table", "Frame2", {240, 3600, 3330, 400}},
    {"PushButton2", ControlKind::Button, "< Back", "", {120, 5355, 3840, 405}},
    {"PushButton12", ControlKind::Button, "Help", "", {4080, 5355, 3840, 405}},
};
// The check box row adds 375 twips between the lists and the progress bar.
constexpr int kClientWidth = 8040, kClientHeight = 5880;

const QStringList kFocusOrder{"List1",        "List2",       "PushButton10", "PushButton11", "PushButton3",
                              "PushButton1",  "PushButton6", "PushButton8",  "PushButton9",  "PushButton4",
                              "PushButton5",  "PushButton7", "CheckBox1",    "PushButton2",  "PushButton12"};

QListWidget* asList(QWidget* w) { return qobject_cast<QListWidget*>(w); }

} // namespace

Form2::Form2(app::ConnectionPage& connectionPage, ui::Dialogs& dialogs, app::Program& program,
             const app::Services& services, app::SingleRun& operations)
    : connectionPage_(connectionPage), dialogs_(dialogs), program_(program), operations_(operations),
      controls_(app::buildControls(this, kLayout)), list1_(asList(controls_.at(QStringLiteral("List1")))),
      list2_(asList(controls_.at(QStringLiteral("List2")))),
      progress_(qobject_cast<QProgressBar*>(controls_.at(QStringLiteral("ProgressBar1")))) {
    setObjectName(QStringLiteral("Form2"));
    setWindowFlag(Qt::Window);
    setFont(app::pageFont());
    setFixedSize(app::twipsToPixels(kClientWidth), app::twipsToPixels(kClientHeight));
    app::setFocusOrder(controls_, kFocusOrder);

    hover_ = std::make_unique<app::HoverFilter>(this, pointer_, app::tableManagerHoverRule);
    hover_->watch(this);
    for (auto& [name, widget] : controls_) hover_->watch(widget);

    wireButtons();
    CreateTableManagerPage(*this, services);
}

Form2::~Form2() = default;

void Form2::runOperation(void (*handler)(app::TableManagerContext&)) {
    operations_.run([&] {
        app::TableManagerContext context{dialogs_, list1_, list2_, progress_, pointer_,
                                         app::parameterSource(connectionPage_)};
        context.fullSchema = fullSchema();
        handler(context);
    });
}

void Form2::wireButtons() {
    auto onClick = [this](const char* name, auto handler) {
        connect(qobject_cast<QPushButton*>(control(QString::fromLatin1(name))), &QPushButton::clicked, this, handler);
    };
    onClick("PushButton10", [this] { SelectAllAccessTables(*this); });
    onClick("PushButton11", [this] { DeselectAllAccessTables(*this); });
    onClick("PushButton8", [this] { SelectAllPostgreSQLTables(*this); });
    onClick("PushButton9", [this] { DeselectAllPostgreSQLTables(*this); });
    onClick("PushButton3", [this] { runOperation(transfer::SendTablesToPostgreSQL); });
    onClick("PushButton4", [this] { runOperation(transfer::SendTablesToAccess); });
    onClick("PushButton1", [this] { runOperation(tables::DeleteAccessTables); });
    onClick("PushButton5", [this] { runOperation(tables::DeletePostgreSQLTables); });
    onClick("PushButton6", [this] { runOperation(tables::RenameSelectedAccessTable); });
    onClick("PushButton7", [this] { runOperation(tables::RenameSelectedPostgreSQLTable); });
    onClick("PushButton2", [this] { ReturnToConnectionPage(*this, connectionPage_); });
    onClick("PushButton12", [this] { ShowTableManagerHelp(*this); });
}

void Form2::useSettings(app::SettingsStore& store) {
    settings_ = &store;
    auto* box = qobject_cast<QCheckBox*>(control(QStringLiteral("CheckBox1")));
    box->setChecked(app::readFullSchema(store));
    connect(box, &QCheckBox::toggled, this, [this](bool on) {
        if (settings_) app::writeFullSchema(*settings_, on);
    });
}

bool Form2::fullSchema() const {
    auto* box = qobject_cast<QCheckBox*>(control(QStringLiteral("CheckBox1")));
    return box && box->isChecked();
}

void Form2::showPage() {
    if (!shownOnce_) {
        shownOnce_ = true;
        app::centreOnScreen(this);
    }
    show();
    raise();
    activateWindow();
}

void Form2::hidePage() { hide(); }
void Form2::setCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }
void Form2::setProgramIcon() { setWindowIcon(app::programIcon()); }

void Form2::setHandPointerImage(const std::string& cursorFile) {
    if (!pointer_.setHandImage(cursorFile)) throw db::Error(481, "Invalid picture");
}

void Form2::applySystemFaceColour() { app::colourPageAndFrames(this, app::systemFaceColour()); }

app::TwipsRect Form2::controlRect(const std::string& name) const {
    QWidget* widget = control(QString::fromStdString(name));
    if (!widget) throw db::Error(340, "Control array element '" + name + "' doesn't exist");
    return app::pixelsToTwips(widget->geometry());
}

void Form2::setOuterHeight(int twips) {
    setFixedHeight(app::twipsToPixels(twips - kWindowFrameTwips));
}

QWidget* Form2::control(const QString& name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

QListWidget* Form2::list1() const { return asList(control(QStringLiteral("List1"))); }
QListWidget* Form2::list2() const { return asList(control(QStringLiteral("List2"))); }

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    program_.end();
}

} // namespace tables
