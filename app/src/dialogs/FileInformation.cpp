#include "dialogs/FileInformation.h"

#include "Functions.h"
#include "LowInterface.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace reelpage::app {

namespace {

QLineEdit* ReadOnlyRow(QWidget* page, QFormLayout* form, const QString& label,
                       const QString& name) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    form->addRow(label, edit);
    return edit;
}

} // namespace

TfrmMediaInfo::TfrmMediaInfo(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMediaInfo"));
    setWindowTitle(QStringLiteral("File Informaion ..."));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    edFile = new QLineEdit(this);
    edFile->setObjectName(QStringLiteral("edFile"));
    edFile->setReadOnly(true);
    edTitle = new QLineEdit(this);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    form->addRow(QStringLiteral("File:"), edFile);
    form->addRow(QStringLiteral("Title:"), edTitle);
    layout->addLayout(form);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::West);
    // Every tab in sight: the dialog grows for a larger font rather than
    // scroll its tabs.
    PageControl1->tabBar()->setUsesScrollButtons(false);
    Video = new QWidget(PageControl1);
    Video->setObjectName(QStringLiteral("Video"));
    auto* videoForm = new QFormLayout(Video);
    edResolution = ReadOnlyRow(Video, videoForm, QStringLiteral("Resolution:"),
                               QStringLiteral("edResolution"));
    edFrameRate =
        ReadOnlyRow(Video, videoForm, QStringLiteral("Frame Rate:"), QStringLiteral("edFrameRate"));
    edVideoBitRate = ReadOnlyRow(Video, videoForm, QStringLiteral("Bit Rate:"),
                                 QStringLiteral("edVideoBitRate"));
    PageControl1->addTab(Video, QStringLiteral("Video"));
    Audio = new QWidget(PageControl1);
    Audio->setObjectName(QStringLiteral("Audio"));
    auto* audioForm = new QFormLayout(Audio);
    edSamples =
        ReadOnlyRow(Audio, audioForm, QStringLiteral("Sample Rate:"), QStringLiteral("edSamples"));
    edChannels =
        ReadOnlyRow(Audio, audioForm, QStringLiteral("Channel:"), QStringLiteral("edChannels"));
    edAudioBitRate = ReadOnlyRow(Audio, audioForm, QStringLiteral("Bit Rate:"),
                                 QStringLiteral("edAudioBitRate"));
    PageControl1->addTab(Audio, QStringLiteral("Audio"));
    // Captions found in and beside the file: what the page can get.
    Captions = new QWidget(PageControl1);
    Captions->setObjectName(QStringLiteral("Captions"));
    auto* captionsLayout = new QVBoxLayout(Captions);
    lbCaptions = new QListWidget(Captions);
    lbCaptions->setObjectName(QStringLiteral("lbCaptions"));
    lbCaptions->setAccessibleName(QStringLiteral("Captions found"));
    captionsLayout->addWidget(lbCaptions);
    PageControl1->addTab(Captions, QStringLiteral("Captions"));
    PageControl1->setCurrentWidget(Video);
    layout->addWidget(PageControl1, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(495, 258);
    if (parent) move(parent->window()->geometry().center() - rect().center());
}

QString TfrmMediaInfo::FrameRateText(int num, int den) {
    if (den == 1) return QStringLiteral("%1 fps").arg(num);
    // A record without a rate has a zero denominator; it reads as no rate
    // rather than as infinity.
    if (den == 0) return QString();
    return QString::asprintf("%.2f fps", double(num) / double(den));
}

QString TfrmMediaInfo::BitRateText(int32_t rate) {
    // Some containers carry no rate (Vorbis in Matroska); 0 would be a lie.
    if (rate <= 0) return QStringLiteral("Unknown");
    if (rate >= 1000000) {
        if (rate % 1000000 == 0) return QStringLiteral("%1 Mbps").arg(rate / 1000000);
        return QString::asprintf("%.1f Mbps", double(rate) / 1000000.0);
    }
    if (rate % 1000 == 0) return QStringLiteral("%1 Kbps").arg(rate / 1000);
    return QString::asprintf("%.1f Kbps", double(rate) / 1000.0);
}

QString TfrmMediaInfo::SampleRateText(int32_t rate) {
    switch (rate) {
    case 8000:
        return QStringLiteral("Phone Quality (8000)");
    case 22050:
        return QStringLiteral("Low Quality (22050)");
    case 44100:
        return QStringLiteral("CD Quality (44100)");
    case 48000:
        return QStringLiteral("DVD Quality (48000)");
    default:
        return QString();
    }
}

QString TfrmMediaInfo::ChannelText(int32_t channels) {
    if (channels == 1) return QStringLiteral("Mono");
    if (channels == 2) return QStringLiteral("Stereo");
    if (channels <= 0) return QString();
    // More channels: the layout FFmpeg assumes for the count ("5.1" for six).
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    char name[64];
    const int length = av_channel_layout_describe(&layout, name, sizeof name);
    av_channel_layout_uninit(&layout);
    return length > 0 ? QString::fromUtf8(name) : QString();
}

void TfrmMediaInfo::InitForm(const MediaInfo* p) {
    if (!p) return;
    edFile->setText(FieldText(p->m_szFileName));
    edTitle->setText(FieldText(p->m_szName));
    if (p->m_bVideoStream) {
        edResolution->setText(QStringLiteral("%1 x %2").arg(p->m_Width).arg(p->m_Height));
        edFrameRate->setText(FrameRateText(p->m_FrameRateNum, p->m_FrameRateDen));
        edVideoBitRate->setText(BitRateText(p->m_VideoBitRate));
    }
    PageControl1->setTabVisible(PageControl1->indexOf(Video), p->m_bVideoStream != 0);
    if (p->m_bAudioStream) {
        edSamples->setText(SampleRateText(p->m_SampleRate));
        edChannels->setText(ChannelText(p->m_nChannel));
        edAudioBitRate->setText(BitRateText(p->m_AudioBitRate));
    }
    PageControl1->setTabVisible(PageControl1->indexOf(Audio), p->m_bAudioStream != 0);
    // The search ran beside the import; it is done by the time it is shown.
    CaptionEntry entries[32];
    const int32_t count = std::min<int32_t>(
        Low.ListCaptions(p, entries, int32_t(std::size(entries))), int32_t(std::size(entries)));
    lbCaptions->clear();
    for (int32_t i = 0; i < count; ++i)
        lbCaptions->addItem(CaptionText(entries[i]));
    PageControl1->setTabVisible(PageControl1->indexOf(Captions), count > 0);
}

QString TfrmMediaInfo::CaptionText(const CaptionEntry& c) {
    const QString file = FieldText(c.szFile);
    QString text = c.nStream < 0 ? file.mid(file.lastIndexOf(QChar('/')) + 1)
                                 : QStringLiteral("Stream %1").arg(c.nStream);
    text += QStringLiteral(": %1 (%2, %3)")
                .arg(FieldText(c.szLabel), FieldText(c.szLanguage), FieldText(c.szFormat));
    if (!c.bUsable) text += QStringLiteral(", not usable: picture subtitles");
    return text;
}

} // namespace reelpage::app
