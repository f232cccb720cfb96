#pragma once
// Globals and formatting helpers every view of the program shares, so that
// times, aspect ratios, versions and addresses read the same everywhere.
#include <QAction>
#include <QFont>
#include <QImage>
#include <QMessageBox>
#include <QStandardPaths>
#include <QString>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "Defines.h"

class QComboBox;
class QMimeData;
class QWidget;

namespace reelpage::app {

// Caption of the main window and of every message box; the product title once
// the product information is read.
extern QString ApplicationTitle;
// The program folder (with a trailing slash): the engine library, the help
// page and the pictures stand in it.
extern QString ProgramFolder;
// The program folder followed by "Resource/": where every picture is read from.
extern QString ResourceFolder;
// Sets ProgramFolder and ResourceFolder from a folder.
void SetProgramFolder(const QString& folder);

// The shell's global state: the product information the engine filled, the
// engine's settings record, and the current project with the media record it
// was made from (the project holds only that record's handle, so the program
// keeps the pointer it passed to CreateProject).
extern ProductInfo AppProductInfo;
extern Settings* AppSettings;
extern Project* AppProject;
extern MediaInfo* AppProjectMedia;

// One of the texts of AppProductInfo (empty when it is missing).
QString ProductString(ProductText which);

// Holds a view's FChanging set while it lives and then puts back what it
// found, however the handler leaves: the values a view writes into its own
// controls meanwhile never echo back into the records or the engine.
class ChangingGuard {
public:
    explicit ChangingGuard(bool& changing)
        : FFlag(changing), FWasSet(std::exchange(changing, true)) {}
    ~ChangingGuard() { FFlag = FWasSet; }
    ChangingGuard(const ChangingGuard&) = delete;
    ChangingGuard& operator=(const ChangingGuard&) = delete;

private:
    bool& FFlag;
    bool FWasSet;
};

// Fixed-size UTF-16 fields of the records as text, up to the first NUL.
QString FieldText(const WCHAR* field, int capacity);
template <size_t N> QString FieldText(const WCHAR (&field)[N]) {
    return FieldText(field, int(N));
}

// Writes text into a fixed-size UTF-16 field, cut to capacity - 1 characters
// and always terminated.
void SetFieldText(WCHAR* field, int capacity, const QString& text);
template <size_t N> void SetFieldText(WCHAR (&field)[N], const QString& text) {
    SetFieldText(field, int(N), text);
}

// "mm:ss", each part at least two digits; minutes are not wrapped into hours.
QString SecondsToText(int seconds);
// "mm:ss / mm:ss".
QString PositionToText(int position, int duration);
int Gcd(int a, int b);
// "w:h" reduced, "16:9" for 854 x 480, empty for a zero side; as a link element
// when asLink is set.
QString AspectText(int width, int height, bool asLink);
// The 4:3 and 16:9 items of an aspect menu: the ratio the size already has is
// checked and cannot be chosen again.
void PrepareAspectItems(QAction* item4x3, QAction* item16x9, int64_t width, int64_t height);
int RoundUp16(int n);

// The size choices' fixed sizes (the engine's rule, reelpage/output_size.h):
// index 0 Original and 9 Custom are 0 x 0; 1..8 the fixed sizes.
inline constexpr const reelpage::OutputFrameSize (&ResolutionPresets)[reelpage::kSizeChoiceCount] =
    reelpage::kOutputSizePresets;
// "Original", the eight presets as "%d x %d", "Custom ...".
void FillResolutionList(QComboBox* list);

// The drop-down "cmbWebmCodec" of the WebM output's codecs, each item
// carrying its WebmCodec as its data; and the browsers that play the WebM
// file in each (one a line). The WebM check box and its picture show that
// hint.
QComboBox* NewWebmCodecList(QWidget* parent);
QString WebmCodecHint(int codec);
// Puts the hint of the codec chosen in list on the WebM box and its picture.
void ShowWebmCodecHint(const QComboBox* list, QWidget* webmBox, QWidget* picture);
// Selects codec in a list filled above; an unknown one selects VP8.
void SelectWebmCodec(QComboBox* list, int codec);

// Tab visits the widgets in this order (Tab otherwise follows the order the
// widgets were made in, which is not always the order they are shown in);
// those that take no focus are passed over.
void ChainTabOrder(const std::vector<QWidget*>& widgets);

// The program's one picture check: true when the file is a picture with both
// sides non-zero as the engine's picture library reads it. The outputs and
// the page are drawn through that library, so a picture accepted here is one
// they can draw (Qt's own readers know other formats than FFmpeg does).
bool GetImageSize(const QString& path, int* width, int* height);
// The picture read the same way, for showing it; a null image when the check
// above would fail.
QImage LoadCheckedPicture(const QString& path);

// UTF-8 bytes; letters and digits kept, every other byte as "%xx" (lower case).
QString UrlEscape(const QString& text);

// The program's file version, compiled in: major.minor in the high 32 bits,
// release.build in the low ones.
uint64_t GetProgramVersion();
QString VersionToText(uint64_t version);

// Message boxes of the program. Views ask through here so that a test can
// answer in place of a user; without a handler a modal box is shown.
struct MessageRequest {
    QWidget* parent;
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};
using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
void SetMessageHandler(MessageHandler handler);
QMessageBox::StandardButton
ShowMessage(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Opens an address, a mailto: link or a local folder or file with the user's
// default application (the shell's "open").
bool ShellOpen(const QString& target);

// A file filter written the classic way, "name|patterns|name|patterns..."
// with patterns separated by ';', in the notation of Qt's file dialogs.
QString DialogFilter(const QString& classicFilter);

// The program's "open a file" dialogs (an existing file). Views ask through
// here so that a test can choose in place of a user; without a handler a modal
// dialog is shown. The answer is the chosen file, empty when cancelled.
struct OpenFileRequest {
    QWidget* parent;
    QString title;
    QString filter; // in the dialog's notation (DialogFilter)
    QString folder; // where the dialog opens
};
using OpenFileHandler = std::function<QString(const OpenFileRequest&)>;
void SetOpenFileHandler(OpenFileHandler handler);
QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                       const QString& folder);
// Where such a dialog opens: the folder of the file last chosen with it, else
// the user's folder of that kind, else home - never the folder the program
// happened to be started from.
QString DialogFolder(const QString& lastFile, QStandardPaths::StandardLocation kind);

// The picture dialog every view chooses a picture with (watermark,
// advertisement, poster): opens where the last picture was chosen, checks the
// choice with GetImageSize and refuses, with the program's message, a file
// that is no picture or a path of `capacity` characters or more (a field of
// that size could not hold it whole). True with the path and size of an
// accepted picture; false when cancelled or refused.
bool ChoosePicture(QWidget* parent, const QString& title, int capacity, QString* path, int* width,
                   int* height);
// Fixes a window at its designed size, or larger where its contents need
// more (a larger system font): no text is ever cut off.
void SetDesignedSize(QWidget* window, int width, int height);
// Holds a column of a window at its designed width, or at `needed` where
// what it holds needs more at the current font.
void SetColumnWidth(QWidget* column, int designed, int needed);
// `font` at a size designed in pixels for the toolkit's usual 9-point text,
// kept in that proportion to the text of the current font: a larger system
// font (or font resolution) enlarges it as it enlarges the rest.
QFont DesignedFont(QFont font, int designedPixels);

// The same check of a picture chosen another way (dropped on a panel).
bool CheckPicture(QWidget* parent, const QString& path, int capacity, int* width, int* height);
// The one local file a drag carries, empty for anything else (text, web
// addresses, several files, a folder).
QString DroppedFile(const QMimeData* data);
// The message a refused picture gets.
void ShowPictureRefused(QWidget* parent);

} // namespace reelpage::app
