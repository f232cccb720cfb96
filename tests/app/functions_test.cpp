// The shared view helpers: the texts every view formats the same way, the
// picture loader's failure path and the grey copy of disabled controls.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>

#include "Functions.h"
#include "GraphicsUtils.h"
#include "ImageResource.h"
#include "app_test_support.h"

using namespace reelpage::app;

TEST(Functions, SecondsToText) {
    const std::pair<int, const char*> cases[] = {
        {0, "00:00"}, {75, "01:15"}, {4505, "75:05"}, {7439, "123:59"}, {59, "00:59"}};
    for (auto [seconds, text] : cases)
        EXPECT_EQ(SecondsToText(seconds), text) << seconds;
    EXPECT_EQ(PositionToText(65, 200), "01:05 / 03:20");
}

TEST(Functions, AspectText) {
    struct Case {
        int w, h;
        bool link;
        const char* text;
    };
    const Case cases[] = {
        {854, 480, false, "16:9"}, // sold as 16:9, though it reduces to 427:240
        {1920, 1080, false, "16:9"},
        {1280, 720, false, "16:9"},
        {720, 560, false, "9:7"},
        {640, 480, true, "<a>4:3</a>"},
        {854, 480, true, "<a>16:9</a>"},
        {0, 480, false, ""},
        {640, 0, true, ""},
        {427, 240, false, "427:240"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AspectText(c.w, c.h, c.link), QString::fromLatin1(c.text)) << c.w << "x" << c.h;
    EXPECT_EQ(Gcd(1080, 1920), 120);
    EXPECT_EQ(Gcd(7, 5), 1);
}

TEST(Functions, RoundUp16) {
    EXPECT_EQ(RoundUp16(854), 864);
    EXPECT_EQ(RoundUp16(1920), 1920);
    EXPECT_EQ(RoundUp16(350), 352);
    EXPECT_EQ(RoundUp16(1), 16);
    EXPECT_EQ(RoundUp16(0), 0);
}

TEST(Functions, UrlEscapeKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(UrlEscape(QStringLiteral("C:\\a b")), "C%3a%5ca%20b");
    EXPECT_EQ(UrlEscape(QStringLiteral("/home/ü-1")), "%2fhome%2f%c3%bc%2d1");
    EXPECT_EQ(UrlEscape(QString()), "");
}

TEST(Functions, VersionText) {
    EXPECT_EQ(VersionToText(0x0001000200030004ull), "1.2.3.4");
    EXPECT_EQ(VersionToText(0), "0.0.0.0");
    EXPECT_EQ(VersionToText(0xFFFF000000000000ull), "65535.0.0.0");
    // The program's own version is the one the build gave it.
    EXPECT_NE(GetProgramVersion(), 0u);
    EXPECT_EQ(VersionToText(GetProgramVersion()).count(QChar('.')), 3);
}

TEST(Functions, ResolutionList) {
    apptest::EnsureApplication();
    QComboBox list;
    list.addItem(QStringLiteral("stale"));
    FillResolutionList(&list);
    ASSERT_EQ(list.count(), 10);
    EXPECT_EQ(list.itemText(0), "Original");
    EXPECT_EQ(list.itemText(1), "320 x 240");
    EXPECT_EQ(list.itemText(6), "854 x 480");
    EXPECT_EQ(list.itemText(8), "1920 x 1080");
    EXPECT_EQ(list.itemText(9), "Custom ...");
    EXPECT_EQ(ResolutionPresets[0].width, 0);
    EXPECT_EQ(ResolutionPresets[9].height, 0);
    EXPECT_EQ(ResolutionPresets[7].width, 1280);
    EXPECT_EQ(ResolutionPresets[7].height, 720);
}

TEST(Functions, FieldTextIsBounded) {
    char16_t field[8];
    SetFieldText(field, QStringLiteral("abcdefghijk"));
    EXPECT_EQ(FieldText(field), "abcdefg");
    EXPECT_EQ(field[7], 0);
    // A surrogate pair is not cut in half at the end of the field.
    SetFieldText(field, QStringLiteral("abcdef") + QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(FieldText(field), "abcdef");
}

TEST(GraphicsUtils, MakeGrayBitmap) {
    QImage source(3, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(0, 0, 0, 255));
    source.setPixel(1, 0, qRgba(255, 255, 255, 128));
    source.setPixel(2, 0, qRgba(255, 0, 0, 7));
    QImage gray = MakeGrayBitmap(source);
    ASSERT_EQ(gray.format(), QImage::Format_ARGB32);
    EXPECT_EQ(gray.pixel(0, 0), qRgba(120, 120, 120, 255));
    EXPECT_EQ(gray.pixel(1, 0), qRgba(247, 247, 247, 128));
    // Red alone: (19595 * 255) >> 17 = 38, plus 120.
    EXPECT_EQ(gray.pixel(2, 0), qRgba(158, 158, 158, 7));
    EXPECT_EQ(source.pixel(0, 0), qRgba(0, 0, 0, 255)) << "the source is left alone";
}

TEST(GraphicsUtils, UnreadablePictureIsReportedAndLoadingGoesOn) {
    apptest::EnsureApplication();
    QTemporaryDir dir;
    QString broken = dir.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();

    apptest::MessageRecorder messages;
    QImage image = LoadImageFile(broken);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, broken);
    EXPECT_EQ(messages.shown[0].caption, "Failed to load file.");
    EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(image.size().isEmpty());

    int w = -1, h = -1;
    EXPECT_FALSE(GetImageSize(broken, &w, &h));
    EXPECT_FALSE(GetImageSize(dir.filePath(QStringLiteral("missing.png")), &w, &h));
}

TEST(GraphicsUtils, GoArrowHasItsOwnCaptionAndIsLoadedOnce) {
    apptest::EnsureApplication();
    QTemporaryDir empty;
    SetProgramFolder(empty.path());
    apptest::MessageRecorder messages;
    const QImage& first = GoImage();
    const QImage& again = GoImage();
    GoGrayImage();
    EXPECT_EQ(&first, &again);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].caption, "Faild to load file.");
    EXPECT_EQ(messages.shown[0].text, empty.path() + QStringLiteral("/Resource/Go.png"));
}

TEST(ImageResource, WholeSetLoadsFromTheProgramFolder) {
    apptest::MessageRecorder messages;
    apptest::UseProgramFolder();
    EXPECT_TRUE(messages.shown.empty());
    for (const ImageFile& f : ImageFiles) {
        const QImage& image = Images.*(f.image);
        EXPECT_FALSE(image.isNull()) << f.file;
        EXPECT_EQ(image.format(), QImage::Format_ARGB32) << f.file;
    }
    EXPECT_EQ(Images.AddVideo.size(), QSize(32, 32));
    EXPECT_EQ(Images.Play.size(), QSize(16, 16));
    int w = 0, h = 0;
    EXPECT_TRUE(GetImageSize(ResourceFolder + QStringLiteral("Logo.png"), &w, &h));
    EXPECT_EQ(QSize(w, h), QSize(480, 290));
    EXPECT_FALSE(GoImage().isNull());
}

TEST(ImageResource, MissingPicturesAreReportedOneByOne) {
    apptest::EnsureApplication();
    QTemporaryDir empty;
    SetProgramFolder(empty.path());
    apptest::MessageRecorder messages;
    LoadImageResources();
    ASSERT_EQ(messages.shown.size(), size_t(kImageFileCount));
    EXPECT_EQ(messages.shown.front().text, ResourceFolder + QStringLiteral("AddVideo.png"));
    EXPECT_EQ(messages.shown.back().text, ResourceFolder + QStringLiteral("Zoom.png"));
}

TEST(Functions, ChangingGuardPutsBackWhatItFound) {
    bool changing = false;
    auto handler = [&](bool leaveEarly) {
        ChangingGuard guard(changing);
        EXPECT_TRUE(changing);
        if (leaveEarly) return;
        ChangingGuard nested(changing);
    };
    handler(true);
    EXPECT_FALSE(changing) << "cleared on an early return too";
    handler(false);
    EXPECT_FALSE(changing);
    changing = true;
    handler(false);
    EXPECT_TRUE(changing) << "a guard inside another's handler leaves it set";
}
