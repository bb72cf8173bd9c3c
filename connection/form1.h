#pragma once
#include <QWidget>
#include <map>
#include <memory>

#include "app/pages.h"
#include "app/qt_ui.h"
#include "app/services.h"
#include "app/single_run.h"

class QLineEdit;

namespace app {
class SettingsStore;
class HoverFilter;
} // namespace app
namespace tables {
class Form2;
}

namespace connection {

// The ConnectionPage: the seven connection fields, "Test Connection", "Help",
// "...", "Load Sample/Example Database" and "Next >".
class Form1 : public QWidget, public app::ConnectionPage {
    Q_OBJECT
public:
    struct Dependencies {
        app::SettingsStore* store = nullptr;   // required
        app::Program* program = nullptr;       // null: the Qt program end
        ui::Dialogs* dialogs = nullptr;        // null: message boxes
        app::FileDialog* fileDialog = nullptr; // null: the platform's open-file dialog
        app::Services services = app::defaultServices();
    };
    explicit Form1(Dependencies dependencies);
    ~Form1() override;

    // Form_Load: runs once, right after the program creates the page.
    void startUp();

    // ConnectionPage
    void showPage() override;
    void hidePage() override;
    void setCaption(const std::string& caption) override;
    void setProgramIcon() override;
    void setHandPointerImage(const std::string& cursorFile) override;
    void applySystemFaceColour() override;
    ui::Pointer& pointer() override { return pointer_; }
    ui::Dialogs& dialogs() override { return *dialogs_; }
    std::string text(app::Field field) const override;
    void setText(app::Field field, const std::string& text) override;
    app::FileDialog& fileDialog() override { return *fileDialog_; }
    app::TableManagerPage& tableManager() override;
    bool hiddenByHandler() const override { return hiddenByHandler_; }

    // For the program and its tests.
    QWidget* control(const QString& name) const;
    QLineEdit* field(app::Field field) const;
    tables::Form2* form2IfCreated() const;
    app::Program& program() { return *program_; }
    app::SingleRun& operations() { return operations_; }
    const app::Services& services() const { return services_; }
    app::HoverFilter& hover() { return *hover_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void wireButtons();
    void wireFields();

    app::SettingsStore& store_;
    app::Services services_;
    app::SingleRun operations_;
    std::unique_ptr<app::QtProgram> ownProgram_;
    app::Program* program_;
    std::unique_ptr<app::QtDialogs> ownDialogs_;
    ui::Dialogs* dialogs_;
    std::unique_ptr<app::QtFileDialog> ownFileDialog_;
    app::FileDialog* fileDialog_;
    app::PagePointer pointer_{this};
    std::map<QString, QWidget*> controls_;
    std::unique_ptr<app::HoverFilter> hover_; // after pointer_: gone before it
    bool hiddenByHandler_ = false;
    bool shownOnce_ = false;
    std::unique_ptr<tables::Form2> form2_; // a window of its own; goes before what it uses
};

} // namespace connection
