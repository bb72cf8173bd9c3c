#include "app/qt_ui.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QWidget>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/app_title.h"
#include "app/list_model.h"
#include "app/message_text.h"
#include "connection/connection_handlers.h"
#include "db/error.h"

namespace app {

int twipsToPixels(int twips) { return static_cast<int>(std::lround(twips / double(kTwipsPerPixel))); }

QRect twipsToPixels(const TwipsRect& r) {
    return QRect(twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width), twipsToPixels(r.height));
}

TwipsRect pixelsToTwips(const QRect& r) {
    return {r.x() * kTwipsPerPixel, r.y() * kTwipsPerPixel, r.width() * kTwipsPerPixel, r.height() * kTwipsPerPixel};
}

namespace {
QFont arial(double points, bool bold = true) {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
QString qs(const std::string& s) { return QString::fromStdString(s); }
QWidget* dialogOwner() { return QApplication::activeWindow(); }
QString captionOr(const std::string& caption) { return qs(caption.empty() ? applicationTitle() : caption); }
} // namespace

QFont fieldFont() { return arial(9); }
QFont buttonFont() { return arial(11.25); }
QFont pageFont() { return arial(9, false); }

QColor systemFaceColour() { return QApplication::palette().color(QPalette::Active, QPalette::Button); }
QColor designedWhite() { return QColor(Qt::white); }

void paintBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// ListWidgetBox ---------------------------------------------------------------

void ListWidgetBox::check(int index) const {
    if (index < 0 || index >= list_->count()) throw db::Error(381, "Invalid property array index");
}
int ListWidgetBox::count() const { return list_->count(); }
std::string ListWidgetBox::item(int index) const {
    check(index);
    return list_->item(index)->text().toStdString();
}
bool ListWidgetBox::selected(int index) const {
    check(index);
    return list_->item(index)->isSelected();
}
void ListWidgetBox::setSelected(int index, bool on) {
    check(index);
    list_->item(index)->setSelected(on);
}
int ListWidgetBox::selCount() const { return static_cast<int>(list_->selectedItems().size()); }
int ListWidgetBox::currentIndex() const { return list_->currentRow(); }
void ListWidgetBox::setCurrentIndex(int index) {
    if (index != -1) check(index);
    list_->setCurrentRow(index, QItemSelectionModel::NoUpdate);
}
void ListWidgetBox::addItem(const std::string& text) {
    // After every entry that is not greater, ignoring case (as listOrderLess).
    const QString entry = qs(text);
    int low = 0, high = list_->count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (QString::compare(entry, list_->item(middle)->text(), Qt::CaseInsensitive) < 0) high = middle;
        else low = middle + 1;
    }
    list_->insertItem(low, entry);
}
void ListWidgetBox::removeItem(int index) {
    check(index);
    std::unique_ptr<QListWidgetItem> taken(list_->takeItem(index)); // a taken item belongs to nobody
}
void ListWidgetBox::clear() { list_->clear(); }

// ProgressBarBox ----------------------------------------------------------------

void ProgressBarBox::setValue(int value) {
    if (value < 0 || value > 100) throw db::Error(380, "Invalid property value");
    bar_->setValue(value);
}
int ProgressBarBox::value() const { return bar_->value(); }
void ProgressBarBox::setText(const std::string& text) { bar_->setFormat(qs(text)); }
std::string ProgressBarBox::text() const { return bar_->format().toStdString(); }

// PagePointer -------------------------------------------------------------------

QPoint cursorHotSpot(const std::string& cursorFile) {
    QFile file(qs(cursorFile));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.read(14);
    if (head.size() < 14) return {};
    auto word = [&](int at) { return int(quint8(head[at])) | (int(quint8(head[at + 1])) << 8); };
    return {word(10), word(12)};
}

bool PagePointer::setHandImage(const std::string& cursorFile) {
    QImageReader reader(qs(cursorFile));
    if (reader.format().isEmpty()) reader.setFormat("cur");
    const QImage image = reader.read();
    if (image.isNull()) return false;
    const QPoint hot = cursorHotSpot(cursorFile);
    hand_ = QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
    hasHandImage_ = true;
    if (state_ == ui::PointerHand) page_->setCursor(hand_);
    return true;
}

QCursor PagePointer::cursorFor(int state) const {
    switch (state) {
    case ui::PointerBusy: return QCursor(Qt::WaitCursor);
    case ui::PointerHand: return hand_;
    default: return QCursor(Qt::ArrowCursor);
    }
}

void PagePointer::setState(int state) {
    if (state != ui::PointerDefault && state != ui::PointerBusy && state != ui::PointerHand)
        throw db::Error(380, "Invalid property value");
    state_ = state;
    if (state == ui::PointerDefault) page_->unsetCursor();
    else page_->setCursor(cursorFor(state));
    // The operations that set busy keep the event loop waiting; hand the new
    // pointer to the window system now so that it shows meanwhile.
    if (state == ui::PointerBusy) QGuiApplication::sync();
}

// QtDialogs ---------------------------------------------------------------------

void QtDialogs::message(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, captionOr(caption), qs(displayText(text)), QMessageBox::Ok, dialogOwner());
    box.exec();
}

int QtDialogs::question(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, captionOr(caption), qs(displayText(text)),
                    QMessageBox::Yes | QMessageBox::No, dialogOwner());
    return box.exec() == QMessageBox::Yes ? ui::AnswerYes : ui::AnswerNo;
}

std::string QtDialogs::input(const std::string& prompt, const std::string& caption, const std::string& proposed) {
    bool ok = false;
    const QString text = QInputDialog::getText(dialogOwner(), captionOr(caption), qs(displayText(prompt)),
                                               QLineEdit::Normal, qs(proposed), &ok);
    return ok ? text.toStdString() : std::string();
}

void QtDialogs::errorReport(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Application Error"), qs(displayText(text)),
                    QMessageBox::Ok, dialogOwner());
    box.exec();
}

void QtDialogs::processEvents() { QCoreApplication::processEvents(); }

// QtFileDialog ------------------------------------------------------------------

QStringList QtFileDialog::nameFilters(const std::string& filter) {
    QStringList filters;
    for (const auto& pair : connection::parseFilter(filter))
        filters << qs(pair.description) + QStringLiteral(" (") + qs(pair.pattern).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                       QLatin1Char(')');
    return filters;
}

void QtFileDialog::showOpen() {
    QFileDialog dialog(owner_, qs(title_));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (flags_ & 0x1) dialog.setOption(QFileDialog::ReadOnly);
    const QStringList filters = nameFilters(filter_);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
    if (!fileName_.empty()) dialog.selectFile(qs(fileName_));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName_ = QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
    else
        fileName_.clear();
}

// QtProgram ---------------------------------------------------------------------

void QtProgram::end() {
    if (ended_) return;
    ended_ = true;
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    if (operations_ && operations_->running()) {
        // An operation is letting the window process events: the program ends
        // here and now, as a closed window promises. Nothing is lost: every
        // setting is on disk (each change writes it), both databases have each
        // statement done before events are processed, and a lock file left
        // behind is taken over by the next session.
        std::_Exit(0);
    }
    QCoreApplication::exit(0);
}

} // namespace app
