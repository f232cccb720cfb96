// The splash window and the about box: their texts and where the links go.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "dialogs/About.h"
#include "dialogs/Flash.h"
#include "Functions.h"
#include "controls/GraphicsGPImage.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

const char16_t kHome[] = u"https://reelpage.example/";
const char16_t kEmail[] = u"help@reelpage.example";
const char16_t kRights[] = u"Copyright (C) 2026 Zelmorix & friends.";

class Links : public QObject {
    Q_OBJECT
public:
    Links() {
        for (const char* scheme : {"https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
    ~Links() override {
        for (const char* scheme : {"https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

TEST(Splash, LogoTitleAndVersion) {
    apptest::UseProgramFolder();
    ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    TfrmFlash splash;
    EXPECT_EQ(splash.size(), QSize(498, 360));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(splash.lblName->text(), "Zelmorix Reelpage");
    // 21 pixels at the usual 9-point text, and in that proportion to a
    // larger system font.
    EXPECT_EQ(QFontInfo(splash.lblName->font()).pixelSize(), 21);
    const QFont usual = QApplication::font();
    QFont large = usual;
    large.setPointSizeF(usual.pointSizeF() * 1.5);
    QApplication::setFont(large);
    {
        TfrmFlash larger;
        EXPECT_NEAR(QFontInfo(larger.lblName->font()).pixelSize(), 31.5, 1);
    }
    QApplication::setFont(usual);
    EXPECT_EQ(splash.lblVersion->text(), "Version:" + VersionToText(GetProgramVersion()));
    ASSERT_NE(splash.imgLogo->Image(), nullptr);
    EXPECT_EQ(splash.imgLogo->Image()->size(), QSize(480, 290));
}

TEST(About, CaptionNoticeAndLinks) {
    apptest::UseProgramFolder();
    ApplicationTitle = QStringLiteral("Zelmorix Reelpage");
    AppProductInfo.m_Texts[kProductHomePage] = kHome;
    AppProductInfo.m_Texts[kProductEmail] = kEmail;
    AppProductInfo.m_Texts[kProductRights] = kRights;

    QWidget owner;
    QPointer<TfrmAbout> about = new TfrmAbout(&owner);
    EXPECT_EQ(about->windowTitle(), "About \"Zelmorix Reelpage\"");
    EXPECT_EQ(about->btnClose->text(), "&Close");
    EXPECT_TRUE(about->btnClose->isDefault());
    EXPECT_EQ(about->lblVersion->text(), "Version:" + VersionToText(GetProgramVersion()));
    const QString notice = about->lblCopyright->text();
    EXPECT_TRUE(notice.startsWith("Copyright (C) 2026 Zelmorix &amp; friends.<br>Home Page:"));
    EXPECT_TRUE(
        notice.contains("<a href=\"https://reelpage.example/\">https://reelpage.example/</a>"));
    EXPECT_TRUE(
        notice.contains("<a href=\"mailto:help@reelpage.example\">help@reelpage.example</a><br>"));
    EXPECT_TRUE(notice.endsWith("<br>"));

    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    // The version follows the notice, the button the version, and the box
    // ends under the button.
    EXPECT_GE(about->lblVersion->y(), about->lblCopyright->geometry().bottom());
    EXPECT_GE(about->btnClose->y(), about->lblVersion->geometry().bottom());
    EXPECT_EQ(about->height() - about->btnClose->geometry().bottom() - 1, 8);

    Links links;
    emit about->lblCopyright->linkActivated(QStringLiteral("mailto:help@reelpage.example"));
    emit about->lblCopyright->linkActivated(QStringLiteral("https://reelpage.example/"));
    ASSERT_EQ(links.opened.size(), 2);
    EXPECT_EQ(links.opened[0], QUrl(QStringLiteral("mailto:help@reelpage.example")));
    EXPECT_EQ(links.opened[1], QUrl(QStringLiteral("https://reelpage.example/")));

    about->btnClose->click();
    ASSERT_TRUE(apptest::WaitFor([&] { return about.isNull(); }, 5000)) << "closing frees the box";
    for (int t : {kProductHomePage, kProductEmail, kProductRights})
        AppProductInfo.m_Texts[t] = nullptr;
}

#include "about_test.moc"
