#pragma once
// The file information dialog for the project's media record: the streams'
// details, read-only, and the title, which the main window takes back after
// the dialog closed.
#include <QDialog>

#include "Defines.h"

class QLineEdit;
class QListWidget;
class QTabWidget;
class QWidget;

namespace reelpage::app {

class TfrmMediaInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMediaInfo(QWidget* parent);
    // Fills the dialog; call before showing it.
    void InitForm(const MediaInfo* p);

    // The texts of the stream details.
    static QString FrameRateText(int num, int den);
    static QString BitRateText(int32_t rate);
    static QString SampleRateText(int32_t rate);
    static QString ChannelText(int32_t channels);
    // "talk.en.srt: English (en, subrip)", "Stream 3: ... not usable: ...".
    static QString CaptionText(const CaptionEntry& c);

    QLineEdit* edFile = nullptr;
    QLineEdit* edTitle = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* Video = nullptr;
    QWidget* Audio = nullptr;
    QLineEdit* edResolution = nullptr;
    QLineEdit* edFrameRate = nullptr;
    QLineEdit* edVideoBitRate = nullptr;
    QLineEdit* edSamples = nullptr;
    QLineEdit* edChannels = nullptr;
    QLineEdit* edAudioBitRate = nullptr;
    QWidget* Captions = nullptr;
    QListWidget* lbCaptions = nullptr;
};

} // namespace reelpage::app
