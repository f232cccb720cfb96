// The General panel against a stand-in engine: the format rule, the size
// list with its spin edits and aspect menu, and what reaches the engine.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTest>

#include <vector>

#include "controls/CommandLinkButton.h"
#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "panels/Home.h"
#include "controls/LinkLabel.h"
#include "controls/ListViewEx.h"
#include "LowInterface.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

int g_applyOutputSize = 0;
std::vector<int> g_notified;
int g_savedMedia = 0;

int32_t FakeApplyOutputSize() {
    return ++g_applyOutputSize, 0;
}
int32_t FakeNotifyPreview(int32_t command) {
    return g_notified.push_back(command), 0;
}
void FakeSaveMediaInfo(MediaInfo*) {
    ++g_savedMedia;
}

class GeneralPanel : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        Low.ApplyOutputSize.Set(&FakeApplyOutputSize);
        Low.NotifyPreview.Set(&FakeNotifyPreview);
        Low.SaveMediaInfo.Set(&FakeSaveMediaInfo);
        g_applyOutputSize = 0;
        g_notified.clear();
        g_savedMedia = 0;

        SetFieldText(media.m_szName, QStringLiteral("Holiday"));
        project.m_VideoWidth = 1280;
        project.m_VideoHeight = 720;
        project.m_CropWidth = 1280;
        project.m_CropHeight = 720;
        project.m_OutputWidth = 1280;
        project.m_OutputHeight = 720;
        project.m_Formats[0] = -1;
        project.m_Formats[1] = -1;
        project.m_ResizeMethod = 1;
        AppProject = &project;
        AppProjectMedia = &media;
        panel = std::make_unique<TfrmHome>(nullptr);
    }
    void TearDown() override {
        panel.reset();
        AppProject = nullptr;
        AppProjectMedia = nullptr;
    }
    // Chooses a resolution entry as the user does.
    void Choose(int index) { panel->cmbResolution->setCurrentIndex(index); }

    Project project{};
    MediaInfo media{};
    std::unique_ptr<TfrmHome> panel;
};

TEST_F(GeneralPanel, OnlyImportIsEnabledUntilAProjectIsLoaded) {
    QWidget* controls[] = {panel->edTitle,       panel->cbxWebm,  panel->cbxMp4,
                           panel->cbxOgg,        panel->lvSupport, panel->cmbResolution,
                           panel->spWidth,       panel->spHeight, panel->rgResizeMethod,
                           panel->btnEdit,       panel->btnWater, panel->btnStart};
    EXPECT_TRUE(panel->btnAddFile->isEnabled());
    EXPECT_EQ(panel->btnWater->CommandLinkHint(), QStringLiteral("Watermark & Advertisement"));
    EXPECT_EQ(panel->btnWater->description(), QStringLiteral("Watermark && Advertisement"))
        << "drawn with mnemonics: the '&' must be doubled to show";
    for (QWidget* w : controls)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

    project.m_SizeIndex = 9;
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 480;
    panel->LoadProject();
    for (QWidget* w : controls)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(panel->edTitle->text(), QStringLiteral("Holiday"));
    EXPECT_TRUE(panel->cbxWebm->isChecked());
    EXPECT_TRUE(panel->cbxMp4->isChecked());
    EXPECT_FALSE(panel->cbxOgg->isChecked());
    EXPECT_EQ(panel->cmbResolution->currentIndex(), 9);
    EXPECT_EQ(panel->spWidth->value(), 640);
    EXPECT_EQ(panel->spHeight->value(), 480);
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("<a>4:3</a>"));
    EXPECT_EQ(panel->ResizeMethods->checkedId(), 1);
    // Filling the panel is not an edit: nothing reaches the engine.
    EXPECT_EQ(g_applyOutputSize, 0);
    EXPECT_EQ(g_savedMedia, 0);
    EXPECT_TRUE(g_notified.empty());
    EXPECT_EQ(project.m_OutputWidth, 640);
}

TEST_F(GeneralPanel, AtLeastOneFormatStaysChosen) {
    project.m_Formats[0] = 0;
    project.m_Formats[1] = -1;
    project.m_Formats[2] = 0;
    panel->LoadProject();
    EXPECT_EQ(panel->lvSupport->item(0)->text(), QStringLiteral("9+")); // MP4 alone

    panel->cbxMp4->click(); // the last chosen one
    EXPECT_FALSE(panel->cbxMp4->isChecked());
    EXPECT_TRUE(panel->cbxWebm->isChecked());
    EXPECT_TRUE(panel->cbxOgg->isChecked());
    EXPECT_EQ(project.m_Formats[0], -1);
    EXPECT_EQ(project.m_Formats[1], 0);
    EXPECT_EQ(project.m_Formats[2], -1);
    // The browser list follows: no MP4 player, Ogg decides Firefox's version.
    EXPECT_EQ(panel->lvSupport->item(0)->text(), QString());
    EXPECT_EQ(panel->lvSupport->item(1)->text(), QStringLiteral("3.5+"));

    panel->cbxOgg->click(); // WebM is still there: no rule needed
    EXPECT_EQ(project.m_Formats[2], 0);
    EXPECT_EQ(project.m_Formats[0], -1);
    EXPECT_FALSE(panel->cbxMp4->isChecked());
    EXPECT_EQ(panel->lvSupport->item(1)->text(), QStringLiteral("4+"));
}

TEST_F(GeneralPanel, OriginalFollowsTheCropAsItIs) {
    project.m_CropLeft = 100;
    project.m_CropTop = 40;
    project.m_CropWidth = 350;
    project.m_CropHeight = 200;
    project.m_SizeIndex = 7;
    panel->LoadProject();
    EXPECT_EQ(panel->cmbResolution->itemText(0), QStringLiteral("Original(Trimed)"));
    EXPECT_EQ(panel->cmbResolution->currentIndex(), 7);

    Choose(0);
    EXPECT_EQ(project.m_SizeIndex, 0);
    EXPECT_EQ(project.m_OutputWidth, 350);
    EXPECT_EQ(project.m_OutputHeight, 200);
    EXPECT_EQ(panel->spWidth->value(), 350);
    EXPECT_EQ(panel->spHeight->value(), 200);
    EXPECT_FALSE(panel->spWidth->isEnabled());
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("7:4"));
    EXPECT_EQ(g_applyOutputSize, 1); // the spin edits' own change did not add one

    // The crop is undone elsewhere: the entry's text changes, the choice stays.
    project.m_CropLeft = project.m_CropTop = 0;
    project.m_CropWidth = 1280;
    project.m_CropHeight = 720;
    panel->CheckCroped();
    EXPECT_EQ(panel->cmbResolution->itemText(0), QStringLiteral("Original"));
    EXPECT_EQ(panel->cmbResolution->currentIndex(), 0);
    EXPECT_EQ(g_applyOutputSize, 1);
}

TEST_F(GeneralPanel, PresetsSetTheSizeAndCustomKeepsIt) {
    panel->LoadProject();
    const struct {
        int index, width, height;
        const char* aspect;
    } cases[] = {{6, 854, 480, "16:9"}, {5, 720, 560, "9:7"}, {1, 320, 240, "4:3"},
                 {8, 1920, 1080, "16:9"}};
    for (const auto& c : cases) {
        Choose(c.index);
        EXPECT_EQ(project.m_OutputWidth, c.width);
        EXPECT_EQ(project.m_OutputHeight, c.height);
        EXPECT_EQ(panel->lblAspect->Caption(), QString::fromLatin1(c.aspect));
        EXPECT_FALSE(panel->spHeight->isEnabled());
    }
    EXPECT_EQ(g_applyOutputSize, 4);

    Choose(9);
    EXPECT_EQ(project.m_SizeIndex, 9);
    EXPECT_EQ(project.m_OutputWidth, 1920);
    EXPECT_EQ(project.m_OutputHeight, 1080);
    EXPECT_TRUE(panel->spWidth->isEnabled());
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("<a>16:9</a>"));

    // Typed sizes are taken as they are, not forced to multiples of 16.
    panel->spWidth->setValue(1000);
    EXPECT_EQ(project.m_OutputWidth, 1000);
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("<a>25:27</a>"));
    EXPECT_EQ(g_applyOutputSize, 6);
    panel->spHeight->setValue(5000); // beyond the range
    EXPECT_EQ(project.m_OutputHeight, 2048);

    // A typed size is applied once, when typing ends, not at every digit.
    const int applied = g_applyOutputSize;
    panel->spWidth->selectAll();
    QTest::keyClicks(panel->spWidth, QStringLiteral("1280"));
    EXPECT_EQ(g_applyOutputSize, applied);
    EXPECT_EQ(project.m_OutputWidth, 1000);
    QTest::keyClick(panel->spWidth, Qt::Key_Return);
    EXPECT_EQ(project.m_OutputWidth, 1280);
    EXPECT_EQ(g_applyOutputSize, applied + 1);
}

TEST_F(GeneralPanel, AspectMenuInCustomMode) {
    project.m_SizeIndex = 9;
    project.m_OutputWidth = 640;
    project.m_OutputHeight = 480;
    panel->LoadProject();
    panel->PrepareAspectMenu();
    EXPECT_TRUE(panel->Aspect4x3->isChecked());
    EXPECT_FALSE(panel->Aspect4x3->isEnabled());
    EXPECT_FALSE(panel->Aspect16x9->isChecked());
    EXPECT_TRUE(panel->Aspect16x9->isEnabled());

    panel->Aspect16x9->trigger();
    EXPECT_EQ(project.m_OutputWidth, 768);
    EXPECT_EQ(project.m_OutputHeight, 432);
    EXPECT_EQ(panel->spWidth->value(), 768);
    EXPECT_EQ(panel->spHeight->value(), 432);
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("<a>16:9</a>"));
    EXPECT_EQ(g_applyOutputSize, 1);

    // Each time the menu is opened its items are set for the size then.
    panel->spWidth->setValue(1920);
    panel->PrepareAspectMenu();
    panel->Aspect4x3->trigger();
    EXPECT_EQ(project.m_OutputWidth, 1920);
    EXPECT_EQ(project.m_OutputHeight, 1440);
    panel->PrepareAspectMenu();
    EXPECT_FALSE(panel->Aspect4x3->isEnabled());
    panel->Aspect16x9->trigger();
    EXPECT_EQ(project.m_OutputWidth, 2048);
    EXPECT_EQ(project.m_OutputHeight, 1152);

    // Outside Custom the ratio is plain text: there is no link to open it by.
    Choose(4);
    EXPECT_EQ(panel->lblAspect->Caption(), QStringLiteral("4:3"));
    EXPECT_FALSE(panel->lblAspect->text().contains(QStringLiteral("<a")));
}

TEST_F(GeneralPanel, ImportDialogOpensInTheVideosFolder) {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    ASSERT_TRUE(QDir().mkpath(videos));
    apptest::OpenFileRecorder files; // cancelled: nothing is imported
    panel->btnAddFileClick();
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0].title, QStringLiteral("Add Video Files"));
    EXPECT_EQ(files.asked[0].folder, videos);
    const QStringList filters = files.asked[0].filter.split(QStringLiteral(";;"));
    ASSERT_EQ(filters.size(), 13);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Video Files (*.3g2 *.3gp ")));
    EXPECT_EQ(filters[12], QStringLiteral("All Files (*)"));
}

TEST_F(GeneralPanel, ResizeMethodTellsThePreview) {
    panel->LoadProject();
    panel->ResizeMethods->button(2)->click();
    EXPECT_EQ(project.m_ResizeMethod, 2);
    EXPECT_EQ(g_notified, std::vector<int>{reelpage::kCmdResizeMethodChanged});
}

} // namespace

namespace {

// The stand-in engine's caption list: a file ending in .srt is taken,
// anything else refused with a message naming it.
std::vector<CaptionEntry> g_captions;
reelpage::BOOL g_captionsOn = 0;
std::vector<QString> g_captionFiles;

int32_t FakeAddCaptionFile(const WCHAR* path, const WCHAR*, WCHAR* message) {
    const QString file = QString::fromUtf16(path);
    g_captionFiles.push_back(file);
    if (!file.endsWith(QStringLiteral(".srt"))) {
        const std::u16string text = (file + QStringLiteral(" holds no captions.")).toStdU16String();
        std::copy(text.begin(), text.end(), message);
        message[text.size()] = 0;
        return reelpage::kCaptionUnusable;
    }
    CaptionEntry entry{};
    SetFieldText(entry.szFile, file);
    SetFieldText(entry.szLabel, QFileInfo(file).completeBaseName());
    entry.nStream = -1;
    entry.bUsable = 1;
    entry.bByHand = 1;
    g_captions.push_back(entry);
    return reelpage::kCaptionAdded;
}
int32_t FakeGetProjectCaptions(CaptionEntry* out, int32_t capacity) {
    for (size_t i = 0; i < g_captions.size() && int32_t(i) < capacity; ++i)
        out[i] = g_captions[i];
    return int32_t(g_captions.size());
}
int32_t FakeSetCaptionsEnabled(reelpage::BOOL on) {
    return g_captionsOn = on, 0;
}
reelpage::BOOL FakeGetCaptionsEnabled() {
    return g_captionsOn;
}

} // namespace

// The Captions button: the file chosen reaches the engine and shows in the
// tick, which comes on; a file the engine refuses gets its message and
// changes nothing; a cancelled dialog does nothing.
TEST_F(GeneralPanel, CaptionsButtonAddsAFileOrRefusesItWithItsMessage) {
    g_captions.clear();
    g_captionFiles.clear();
    g_captionsOn = 0;
    Low.AddCaptionFile.Set(&FakeAddCaptionFile);
    Low.GetProjectCaptions.Set(&FakeGetProjectCaptions);
    Low.SetCaptionsEnabled.Set(&FakeSetCaptionsEnabled);
    Low.GetCaptionsEnabled.Set(&FakeGetCaptionsEnabled);
    SetFieldText(media.m_szFileName, QStringLiteral("/videos/Holiday.mp4"));
    panel->LoadProject();
    ASSERT_TRUE(panel->btnCaptions->isEnabled());
    EXPECT_EQ(panel->cbxCaptions->text(), QStringLiteral("None found"));
    EXPECT_FALSE(panel->cbxCaptions->isEnabled());

    {
        apptest::OpenFileRecorder files({QStringLiteral("/videos/English.srt")});
        apptest::MessageRecorder messages;
        panel->btnCaptions->click();
        ASSERT_EQ(files.asked.size(), 1u);
        EXPECT_EQ(files.asked[0].title, QStringLiteral("Captions"));
        EXPECT_TRUE(files.asked[0].filter.contains(QStringLiteral("*.srt")));
        EXPECT_TRUE(files.asked[0].filter.contains(QStringLiteral("*.vtt")));
        EXPECT_TRUE(messages.shown.empty());
    }
    EXPECT_EQ(g_captionFiles, std::vector<QString>{QStringLiteral("/videos/English.srt")});
    EXPECT_EQ(panel->cbxCaptions->text(), QStringLiteral("English"));
    EXPECT_TRUE(panel->cbxCaptions->isEnabled());
    EXPECT_TRUE(panel->cbxCaptions->isChecked());
    EXPECT_EQ(g_captionsOn, 1) << "a file added is meant to be seen";

    {
        apptest::OpenFileRecorder files({QStringLiteral("/videos/Holiday.mp4")});
        apptest::MessageRecorder messages;
        panel->btnCaptions->click();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, QStringLiteral("/videos/Holiday.mp4 holds no captions."));
        EXPECT_EQ(messages.shown[0].caption, QStringLiteral("Captions"));
        EXPECT_EQ(messages.shown[0].icon, QMessageBox::Warning);
    }
    EXPECT_EQ(panel->cbxCaptions->text(), QStringLiteral("English"));
    EXPECT_TRUE(panel->cbxCaptions->isChecked());

    {
        apptest::OpenFileRecorder files; // cancelled
        apptest::MessageRecorder messages;
        panel->btnCaptions->click();
        EXPECT_EQ(files.asked.size(), 1u);
        EXPECT_TRUE(messages.shown.empty());
    }
    EXPECT_EQ(g_captionFiles.size(), 2u);
}
