#pragma once
#include <QCursor>
#include <QFont>
#include <QRect>
#include <QString>
#include <string>
#include <vector>

#include "app/pages.h"
#include "app/single_run.h"
#include "app/ui.h"

class QListWidget;
class QProgressBar;
class QWidget;

// The Qt side of the small ui interfaces, shared by both pages.
namespace app {

// The designed layout is in twips: 15 twips are one pixel at 96 dpi. Qt works
// in device-independent pixels and scales them with the screen's device pixel
// ratio itself.
inline constexpr int kTwipsPerPixel = 15;
int twipsToPixels(int twips);
QRect twipsToPixels(const TwipsRect& rect);
TwipsRect pixelsToTwips(const QRect& rect);

// Bold Arial 9 pt for fields, frames, labels and lists; bold Arial 11.25 pt
// for buttons. Liberation Sans has Arial's metrics and stands in for it.
QFont fieldFont();
QFont buttonFont();
// The pages' own font: Arial 9 pt, regular.
QFont pageFont();

// The system's colour for button faces.
QColor systemFaceColour();
// The pages' designed background for frames and labels.
QColor designedWhite();

// Gives a widget a solid background of the colour.
void paintBackground(QWidget* widget, const QColor& colour);

// The program's icon, drawn in code (the same picture as the installed SVG).
QIcon programIcon();

// A QListWidget as a table list: sorted ignoring case, extended selection, a
// current entry that is not necessarily selected.
class ListWidgetBox : public ui::ListBox {
public:
    explicit ListWidgetBox(QListWidget* list) : list_(list) {}
    int count() const override;
    std::string item(int index) const override;
    bool selected(int index) const override;
    void setSelected(int index, bool on) override;
    int selCount() const override;
    int currentIndex() const override;
    void setCurrentIndex(int index) override;
    void addItem(const std::string& text) override;
    void removeItem(int index) override;
    void clear() override;

private:
    void check(int index) const;
    QListWidget* list_;
};

class ProgressBarBox : public ui::ProgressBar {
public:
    explicit ProgressBarBox(QProgressBar* bar) : bar_(bar) {}
    void setValue(int value) override;
    int value() const override;
    void setText(const std::string& text) override;
    std::string text() const override;

private:
    QProgressBar* bar_;
};

// The pointer state of a page; it decides the page's cursor.
class PagePointer : public ui::Pointer {
public:
    explicit PagePointer(QWidget* page) : page_(page) {}
    void setState(int state) override;
    int state() const override { return state_; }
    // The hand image from a Windows cursor file; false when it cannot be read.
    bool setHandImage(const std::string& cursorFile);
    bool hasHandImage() const { return hasHandImage_; }
    QCursor cursorFor(int state) const;

private:
    QWidget* page_;
    int state_ = ui::PointerDefault;
    QCursor hand_{Qt::PointingHandCursor};
    bool hasHandImage_ = false;
};

// Message boxes and the input box on QMessageBox and QInputDialog.
class QtDialogs : public ui::Dialogs {
public:
    void message(const std::string& text, const std::string& caption = {}) override;
    int question(const std::string& text, const std::string& caption = {}) override;
    std::string input(const std::string& prompt, const std::string& caption, const std::string& proposed) override;
    void errorReport(const std::string& text) override;
    void processEvents() override;
};

// The open-file dialog on QFileDialog.
class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget* owner) : owner_(owner) {}
    void setFileName(const std::string& name) override { fileName_ = name; }
    std::string fileName() const override { return fileName_; }
    void setFlags(long flags) override { flags_ = flags; }
    void setTitle(const std::string& title) override { title_ = title; }
    void setFilter(const std::string& filter) override { filter_ = filter; }
    void showOpen() override;

    // Qt's name filters for a "description|pattern|..." text, in its order.
    static QStringList nameFilters(const std::string& filter);

private:
    QWidget* owner_;
    std::string fileName_, title_, filter_;
    long flags_ = 0;
};

// Ends the program: every window closes at once. Before the event loop runs
// (during start-up) it only records the end; main() then does not enter it.
class QtProgram : public Program {
public:
    explicit QtProgram(const SingleRun* operations = nullptr) : operations_(operations) {}
    void end() override;
    bool ended() const override { return ended_; }

private:
    const SingleRun* operations_;
    bool ended_ = false;
};

// Reads the hot spot of the first image of a Windows cursor file.
QPoint cursorHotSpot(const std::string& cursorFile);

} // namespace app
