#pragma once
#include <QWidget>
#include <map>
#include <memory>

#include "app/pages.h"
#include "app/qt_ui.h"
#include "app/services.h"
#include "app/single_run.h"

class QListWidget;
class QProgressBar;

namespace app {
class HoverFilter;
class SettingsStore;
struct TableManagerContext;
} // namespace app

namespace tables {

// The TableManagerPage: the Access and PostgreSQL table lists with their
// buttons, the progress bar, "< Back" and "Help". Created once, by the
// ConnectionPage at its first use; the creation steps run in the constructor.
class Form2 : public QWidget, public app::TableManagerPage {
    Q_OBJECT
public:
    Form2(app::ConnectionPage& connectionPage, ui::Dialogs& dialogs, app::Program& program,
          const app::Services& services, app::SingleRun& operations);
    ~Form2() override;

    // TableManagerPage
    void showPage() override;
    void hidePage() override;
    void setCaption(const std::string& caption) override;
    void setProgramIcon() override;
    void setHandPointerImage(const std::string& cursorFile) override;
    void applySystemFaceColour() override;
    ui::Pointer& pointer() override { return pointer_; }
    ui::Dialogs& dialogs() override { return dialogs_; }
    ui::ListBox& accessList() override { return list1_; }
    ui::ListBox& postgresList() override { return list2_; }
    ui::ProgressBar& progress() override { return progress_; }
    app::TwipsRect controlRect(const std::string& name) const override;
    void setOuterHeight(int twips) override;

    QWidget* control(const QString& name) const;
    QListWidget* list1() const;
    QListWidget* list2() const;
    app::PagePointer& pagePointer() { return pointer_; }
    // "Keep column types, keys and indexes": read from the store now, written to it on every change.
    void useSettings(app::SettingsStore& store);
    bool fullSchema() const;
    app::HoverFilter& hover() { return *hover_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void wireButtons();
    // A data button: ignored while another operation runs.
    void runOperation(void (*handler)(app::TableManagerContext&));

    app::ConnectionPage& connectionPage_;
    ui::Dialogs& dialogs_;
    app::Program& program_;
    app::SingleRun& operations_;
    std::map<QString, QWidget*> controls_;
    app::PagePointer pointer_{this};
    app::ListWidgetBox list1_;
    app::ListWidgetBox list2_;
    app::ProgressBarBox progress_;
    std::unique_ptr<app::HoverFilter> hover_; // after pointer_: gone before it
    bool shownOnce_ = false;
    app::SettingsStore* settings_ = nullptr;
};

} // namespace tables
