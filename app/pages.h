#pragma once
#include <array>
#include <string>

#include "app/ui.h"

// What the page handlers see of the two windows. The Qt pages implement these;
// the tests script them.
namespace app {

// The ConnectionPage's seven fields, Text1 to Text7.
enum class Field { Server, Port, User, Password, Database, AccessFile, AccessPassword };
inline constexpr std::array<Field, 7> kFields{Field::Server,   Field::Port,       Field::User,
                                              Field::Password, Field::Database,   Field::AccessFile,
                                              Field::AccessPassword};

// A position and size in twips, relative to the control's container.
struct TwipsRect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// The program as a whole: ending it closes every window at once.
class Program {
public:
    virtual ~Program() = default;
    virtual void end() = 0;
    virtual bool ended() const = 0;
};

// The operations every page window offers its handlers.
class PageWindow {
public:
    virtual ~PageWindow() = default;
    virtual void showPage() = 0; // non-modal
    virtual void hidePage() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setProgramIcon() = 0;
    // Loads a Windows cursor file as the image of the hand pointer state.
    virtual void setHandPointerImage(const std::string& cursorFile) = 0;
    // The window, and its frames, labels, option buttons and check boxes, take
    // the system's button face colour.
    virtual void applySystemFaceColour() = 0;
    virtual ui::Pointer& pointer() = 0;
    virtual ui::Dialogs& dialogs() = 0;
};

// The platform's open-file dialog (CommonDialog1).
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual void setFileName(const std::string& name) = 0;
    virtual std::string fileName() const = 0;
    virtual void setFlags(long flags) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // "description|pattern|description|pattern|...": the first pair is preselected.
    virtual void setFilter(const std::string& filter) = 0;
    // Shows the dialog and waits; a cancelled dialog leaves the file name empty.
    virtual void showOpen() = 0;
};

class TableManagerPage;

// Form1.
class ConnectionPage : public PageWindow {
public:
    virtual std::string text(Field field) const = 0;
    // A change of the field: its settings key is written at once.
    virtual void setText(Field field, const std::string& text) = 0;
    virtual FileDialog& fileDialog() = 0;
    // Form2; the first use creates it and runs its creation steps.
    virtual TableManagerPage& tableManager() = 0;
    // True after hidePage() until the next showPage().
    virtual bool hiddenByHandler() const = 0;
};

// Form2.
class TableManagerPage : public PageWindow {
public:
    virtual ui::ListBox& accessList() = 0;   // List1
    virtual ui::ListBox& postgresList() = 0; // List2
    virtual ui::ProgressBar& progress() = 0; // ProgressBar1
    // The designed rectangle of a named control, as the window holds it now.
    virtual TwipsRect controlRect(const std::string& name) const = 0;
    // The window's outer height, title bar and borders included.
    virtual void setOuterHeight(int twips) = 0;
};

} // namespace app
