// The Poster dialog against a stand-in engine: what it shows, Change with a
// picture and with a file that is none, Save As in the five formats (decoded
// again to check them) and its failures, how the picture is fitted into its
// frame, and the player bar's poster menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFile>
#include <QImage>
#include <QLayout>
#include <QPainter>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <string>
#include <vector>

#include "Functions.h"
#include "controls/GraphicsButton.h"
#include "controls/GraphicsGPImage.h"
#include "LowInterface.h"
#include "Main.h"
#include "dialogs/Poster.h"
#include "app_test_support.h"
#include "media_fixtures.h"
#include "picture/picture.h"

using namespace reelpage::app;

namespace {

std::vector<int> g_snapshots;
int32_t FakeSnapshotPoster(reelpage::BOOL grab) {
    g_snapshots.push_back(grab);
    return 0;
}

class PosterDialog : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::UseProgramFolder();
        ASSERT_TRUE(folder.isValid());
        project = Project{};
        poster = folder.filePath(QStringLiteral("poster.bmp"));
        QImage image(320, 240, QImage::Format_ARGB32);
        image.fill(QColor(200, 40, 10));
        ASSERT_TRUE(image.save(poster));
        SetFieldText(project.m_szPosterImage, poster);
        AppProject = &project;
        ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    }
    void TearDown() override { AppProject = nullptr; }
    QString TextFile() {
        const QString path = folder.filePath(QStringLiteral("notes.jpg"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("no picture at all");
        return path;
    }

    QTemporaryDir folder;
    Project project;
    QString poster;
};

} // namespace

TEST_F(PosterDialog, ShowsThePosterAndChangeKeepsItOnANonPicture) {
    TfrmPoster dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Poster");
    // The designed size, grown only as far as the platform's font needs.
    EXPECT_EQ(dialog.width(), 658);
    EXPECT_GE(dialog.height(), 522);
    EXPECT_LE(dialog.height(), 522 + 8);
    EXPECT_EQ(dialog.btnChang->text(), "Chang ...");
    ASSERT_EQ(dialog.Picture().Width(), 320);

    {
        apptest::MessageRecorder messages;
        apptest::OpenFileRecorder files({TextFile()});
        dialog.btnChang->click();
        ASSERT_EQ(files.asked.size(), 1u);
        EXPECT_EQ(files.asked[0].title, "Select Poster Picture ...");
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text,
                  "Does not support the file or the file is not a valid image file.");
        EXPECT_EQ(FieldText(project.m_szPosterImage), poster);
        EXPECT_EQ(dialog.Picture().Width(), 320) << "the old poster stays";
    }
    // A WebP picture, which the outputs can draw, is taken.
    const QString webp = folder.filePath(QStringLiteral("new.webp"));
    ASSERT_TRUE(testing_media::Ffmpeg(
        {"-f", "lavfi", "-i", "color=c=blue:s=64x48", "-frames:v", "1", webp.toStdString()}));
    apptest::MessageRecorder messages;
    apptest::OpenFileRecorder files({webp});
    dialog.btnChang->click();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(FieldText(project.m_szPosterImage), webp);
    EXPECT_EQ(dialog.Picture().Width(), 64);
    const QColor middle = dialog.Image1->grab().toImage().pixel(320, 240);
    EXPECT_TRUE(middle.red() < 8 && middle.green() < 8 && middle.blue() > 240)
        << "the new poster is shown, not " << middle.name().toStdString();
}

// Red with a green bottom-right quarter, so that a picture drawn cut, shifted
// or stretched shows the wrong colour somewhere it is sampled.
TEST_F(PosterDialog, PictureFitsTheFrameWithItsShapeKept) {
    struct Case {
        QSize picture;
        QRect shown; // where it must appear inside the 640 x 480 control
    };
    const Case cases[] = {
        {{320, 240}, {160, 120, 320, 240}}, // fits: its own size, centred
        {{1920, 1080}, {0, 60, 640, 360}},  // wide: shrunk to the width
        {{200, 800}, {260, 0, 120, 480}},   // tall: shrunk to the height
    };
    const QColor redColour(220, 0, 0), greenColour(0, 200, 0);
    const std::string red = redColour.name().toStdString(),
                      green = greenColour.name().toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2").arg(c.picture.width()).arg(c.picture.height())
                         .toStdString());
        QImage image(c.picture, QImage::Format_ARGB32);
        image.fill(redColour);
        QPainter(&image).fillRect(QRect(QPoint(c.picture.width() / 2, c.picture.height() / 2),
                                        c.picture / 2),
                                  greenColour);
        const QString path = folder.filePath(QStringLiteral("poster.png"));
        ASSERT_TRUE(image.save(path));
        SetFieldText(project.m_szPosterImage, path);

        TfrmPoster dialog(nullptr);
        dialog.layout()->activate();
        ASSERT_EQ(dialog.Image1->geometry(), QRect(8, 8, 640, 480));
        const QImage shown = dialog.Image1->grab().toImage();
        ASSERT_EQ(shown.size(), QSize(640, 480));
        // Named colours, so that a failure says which colour was found.
        auto at = [&](int x, int y) { return QColor(shown.pixel(x, y)).name().toStdString(); };
        const QRect& r = c.shown;
        EXPECT_EQ(at(r.left() + 1, r.top() + 1), red);
        EXPECT_EQ(at(r.left() + r.width() / 4, r.top() + r.height() / 4), red);
        EXPECT_EQ(at(r.right() - 1, r.top() + 1), red);
        EXPECT_EQ(at(r.left() + 1, r.bottom() - 1), red);
        EXPECT_EQ(at(r.left() + 3 * r.width() / 4, r.top() + 3 * r.height() / 4), green);
        EXPECT_EQ(at(r.right() - 1, r.bottom() - 1), green);
        // Outside the picture only the background and the black frame.
        const std::string background =
            dialog.palette().color(QPalette::Window).name().toStdString();
        if (r.left() > 2) {
            EXPECT_EQ(at(r.left() - 2, r.center().y()), background);
            EXPECT_EQ(at(r.right() + 2, r.center().y()), background);
        }
        if (r.top() > 2) {
            EXPECT_EQ(at(r.center().x(), r.top() - 2), background);
            EXPECT_EQ(at(r.center().x(), r.bottom() + 2), background);
        }
        EXPECT_EQ(at(0, 0), "#000000");
        EXPECT_EQ(at(639, 479), "#000000");
        EXPECT_EQ(dialog.Picture().Width(), c.picture.width()) << "kept in its own size";
    }
}

TEST_F(PosterDialog, SaveAsWritesEveryFormatAndNeverChangesThePoster) {
    TfrmPoster dialog(nullptr);
    const char* names[] = {"copy.bmp", "copy.jpg", "copy.png", "copy.tif", "copy.gif", "copy.JPEG"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const QString path = folder.filePath(QString::fromLatin1(name));
        apptest::MessageRecorder messages;
        ASSERT_TRUE(dialog.SaveTo(path));
        EXPECT_TRUE(messages.shown.empty());
        picture::Bitmap back;
        ASSERT_EQ(picture::LoadPicture(path.toStdString(), back), picture::Error::None);
        EXPECT_EQ(back.Width(), 320);
        EXPECT_EQ(back.Height(), 240);
        const picture::Bgra p = back.Pixel(100, 100);
        EXPECT_NEAR(p.r, 200, 12);
        EXPECT_NEAR(p.g, 40, 12);
        EXPECT_NEAR(p.b, 10, 12);
        EXPECT_EQ(FieldText(project.m_szPosterImage), poster);
    }
}

TEST_F(PosterDialog, SaveAsStartsWithJpegSelected) {
    TfrmPoster dialog(nullptr);
    bool seen = false;
    QString selected;
    QTimer::singleShot(0, &dialog, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!files) return;
        seen = true;
        selected = files->selectedNameFilter();
        files->reject();
    });
    dialog.btnSaveAsClick();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(selected.startsWith(QStringLiteral("JPEG"))) << selected.toStdString();
}

TEST_F(PosterDialog, SaveAsFailuresAreShown) {
    TfrmPoster dialog(nullptr);
    struct Case {
        QString path;
    };
    const Case cases[] = {{folder.filePath(QStringLiteral("copy.xyz"))},
                          {folder.filePath(QStringLiteral("missing/folder/copy.png"))}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        apptest::MessageRecorder messages;
        EXPECT_FALSE(dialog.SaveTo(c.path));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(messages.shown[0].text.contains(c.path));
        EXPECT_FALSE(QFile::exists(c.path));
    }
    EXPECT_EQ(FieldText(project.m_szPosterImage), poster);
}

TEST_F(PosterDialog, MissingPosterShowsNothingToSave) {
    SetFieldText(project.m_szPosterImage, folder.filePath(QStringLiteral("gone.bmp")));
    TfrmPoster dialog(nullptr);
    EXPECT_TRUE(dialog.Picture().Empty());
    EXPECT_FALSE(dialog.btnSaveAs->isEnabled());
}

TEST_F(PosterDialog, PlayerBarMenuGrabsThePoster) {
    apptest::StandInMainWindowEngine();
    Low.SnapshotPoster.Set(&FakeSnapshotPoster);
    g_snapshots.clear();
    TfrmMain main;
    auto* current = main.findChild<QAction*>(QStringLiteral("miCurrentFrameAsPoster"));
    auto* shown = main.findChild<QAction*>(QStringLiteral("miGrabImageAsPoster"));
    ASSERT_TRUE(current && shown);
    current->trigger();
    shown->trigger();
    EXPECT_EQ(g_snapshots, (std::vector<int>{0, 1}));
}
