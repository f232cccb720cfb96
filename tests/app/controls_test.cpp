// The picture controls: placement, the grey copy of the disabled state, the
// browser-support list and the launcher progress.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QTest>

#include <vector>

#include "controls/CommandLinkButton.h"
#include "controls/GraphicsButton.h"
#include "controls/GraphicsGPImage.h"
#include "controls/GraphicsGroupRadio.h"
#include "controls/LinkLabel.h"
#include "GraphicsUtils.h"
#include "ImageResource.h"
#include "controls/ListViewEx.h"
#include "TaskbarList.h"
#include "app_test_support.h"

using namespace reelpage::app;

namespace {

QImage Solid(QSize size, QColor colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Bounding box of the pixels of one exact colour.
QRect Find(const QImage& shot, QRgb colour) {
    QRect box;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixel(x, y) == colour) box |= QRect(x, y, 1, 1);
    return box;
}

QImage Shot(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(GraphicsGPImage, PlacementFitsAndCentres) {
    // The computed rectangle for the two examples, then the drawn one.
    EXPECT_EQ(TGraphicsGPImage::ImageRect(QSizeF(448, 252), QSizeF(64, 64)),
              QRectF(192, 94, 64, 64));
    EXPECT_EQ(TGraphicsGPImage::ImageRect(QSizeF(448, 252), QSizeF(896, 252)),
              QRectF(0, 63, 448, 126));
    EXPECT_EQ(TGraphicsGPImage::ImageRect(QSizeF(448, 252), QSizeF(100, 504)),
              QRectF(199, 0, 50, 252));

    apptest::EnsureApplication();
    TGraphicsGPImage box;
    box.resize(448, 252);
    QImage small = Solid(QSize(64, 64), QColor(255, 0, 0));
    box.SetImage(&small);
    EXPECT_EQ(Find(Shot(box), qRgb(255, 0, 0)), QRect(192, 94, 64, 64));

    QImage wide = Solid(QSize(896, 252), QColor(0, 0, 255));
    box.SetImage(&wide);
    EXPECT_EQ(Find(Shot(box), qRgb(0, 0, 255)), QRect(0, 63, 448, 126));

    box.SetBoder(true);
    QImage framed = Shot(box);
    EXPECT_EQ(framed.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(framed.pixel(447, 251), qRgb(0, 0, 0));
}

TEST(GraphicsButton, GreyCopyIsMadeOnceAndReused) {
    apptest::EnsureApplication();
    QImage picture = Solid(QSize(16, 16), QColor(0, 0, 0));
    TGraphicsButton button;
    button.resize(40, 30);
    button.SetImage(&picture);
    QPoint at = button.ImagePosition();
    EXPECT_EQ(at, QPoint(12, 7)) << "centred without a caption";

    EXPECT_EQ(Shot(button).pixel(at), qRgb(0, 0, 0));
    EXPECT_EQ(button.ImageGrey(), nullptr) << "no grey copy before it is needed";

    button.setEnabled(false);
    EXPECT_EQ(Shot(button).pixel(at), qRgb(120, 120, 120)) << "black turns light grey";
    ASSERT_NE(button.ImageGrey(), nullptr);
    const qint64 key = button.ImageGrey()->cacheKey();

    button.setEnabled(true);
    EXPECT_EQ(Shot(button).pixel(at), qRgb(0, 0, 0));
    button.setEnabled(false);
    EXPECT_EQ(Shot(button).pixel(at), qRgb(120, 120, 120));
    EXPECT_EQ(button.ImageGrey()->cacheKey(), key) << "the same grey copy again";

    // A new picture drops the old copy.
    QImage white = Solid(QSize(16, 16), QColor(255, 255, 255));
    button.SetImage(&white);
    EXPECT_EQ(button.ImageGrey(), nullptr);
    EXPECT_EQ(Shot(button).pixel(at), qRgb(247, 247, 247));
}

TEST(GraphicsButton, PictureBesideACaption) {
    apptest::EnsureApplication();
    QImage picture = Solid(QSize(16, 16), QColor(0, 128, 0));
    TGraphicsButton button;
    button.setText(QStringLiteral("Return"));
    button.resize(100, 25);
    button.SetImage(&picture);
    EXPECT_EQ(button.ImagePosition(), QPoint(6, 4));
    EXPECT_EQ(Find(Shot(button), qRgb(0, 128, 0)), QRect(6, 4, 16, 16));
    // Odd sizes truncate.
    button.resize(100, 26);
    EXPECT_EQ(button.ImagePosition(), QPoint(6, 5));
}

TEST(GraphicsButton, SplitArrowRaisesDropDownClickInsteadOfClicking) {
    apptest::EnsureApplication();
    TGraphicsButton button;
    button.resize(80, 25);
    button.SetSplitButton(true);
    std::vector<TGraphicsButton*> dropDowns;
    int clicks = 0;
    QObject::connect(&button, &TGraphicsButton::OnDropDownClick,
                     [&](TGraphicsButton* sender) { dropDowns.push_back(sender); });
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(75, 12));
    EXPECT_EQ(dropDowns, std::vector<TGraphicsButton*>{&button});
    EXPECT_EQ(clicks, 0);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(dropDowns.size(), 1u);
    EXPECT_EQ(clicks, 1);
}

TEST(GraphicsGPImage, ClickIsARelease) {
    apptest::EnsureApplication();
    TGraphicsGPImage box;
    box.resize(100, 50);
    std::vector<TGraphicsGPImage*> clicked;
    QObject::connect(&box, &TGraphicsGPImage::OnClick,
                     [&](TGraphicsGPImage* sender) { clicked.push_back(sender); });
    QTest::mouseClick(&box, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_TRUE(clicked.empty()) << "only the left button clicks";
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicked, std::vector<TGraphicsGPImage*>{&box});
}

TEST(CommandLinkButton, PictureOrArrowWithGreyCopies) {
    apptest::UseProgramFolder();
    TCommandLinkButton button;
    button.SetCaption(QStringLiteral("Edit Video"));
    button.SetCommandLinkHint(
        QStringLiteral("Trim, Brightness,Contrast,Hue,Saturation,Rotate,Flip."));
    button.resize(380, 58);
    EXPECT_EQ(button.ImagePosition(), QPoint(6, 10)) << "the arrow without a picture";
    QImage enabled = Shot(button);
    button.setEnabled(false);
    QImage disabled = Shot(button);
    // The arrow is drawn, grey when disabled.
    QRgb arrowPixel = 0;
    const QImage& go = GoImage();
    for (int y = 0; y < go.height() && !arrowPixel; ++y)
        for (int x = 0; x < go.width(); ++x)
            if (qAlpha(go.pixel(x, y)) == 255) {
                EXPECT_EQ(enabled.pixel(6 + x, 10 + y), go.pixel(x, y));
                EXPECT_EQ(disabled.pixel(6 + x, 10 + y), GoGrayImage().pixel(x, y));
                arrowPixel = go.pixel(x, y);
                break;
            }
    EXPECT_NE(arrowPixel, 0u);

    QImage picture = Solid(QSize(32, 32), QColor(200, 0, 0));
    button.SetImage(&picture);
    button.setEnabled(true);
    EXPECT_EQ(button.ImagePosition(), QPoint(6, 13));
    EXPECT_EQ(Find(Shot(button), qRgb(200, 0, 0)), QRect(6, 13, 32, 32));
}

TEST(GraphicsGroupRadio, GroupLatchesAndPlacesItsPicture) {
    apptest::EnsureApplication();
    QWidget parent;
    TGraphicsGroupRadio a(&parent), b(&parent), c(&parent);
    for (TGraphicsGroupRadio* r : {&a, &b})
        r->SetGroupIndex(1);
    a.click();
    EXPECT_TRUE(a.Down());
    b.click();
    EXPECT_TRUE(b.Down());
    EXPECT_FALSE(a.Down()) << "one down per group";
    b.click();
    EXPECT_TRUE(b.Down()) << "a pressed button stays down";
    b.SetAllowAllUp(true);
    b.click();
    EXPECT_FALSE(b.Down());
    c.click();
    a.click();
    EXPECT_TRUE(c.Down()) << "another group is not touched";

    QImage picture = Solid(QSize(16, 16), QColor(0, 0, 200));
    a.resize(30, 24);
    a.SetImageLeft(4);
    a.SetImage(&picture);
    EXPECT_EQ(Find(Shot(a), qRgb(0, 0, 200)), QRect(4, 4, 16, 16));
    a.SetImageLeft(0);
    EXPECT_EQ(a.ImagePosition(), QPoint(7, 4)) << "0 centres the picture";
}

TEST(ListViewEx, BrowserSupport) {
    apptest::UseProgramFolder();
    TListViewEx list;
    list.AddBrowserIcons();
    ASSERT_EQ(list.count(), 5);
    const QImage* grey[] = {&Images.IE2, &Images.FireFox2, &Images.Safari2, &Images.Chrome2,
                            &Images.Opera2};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list.ItemEx(i)->Image, grey[i]) << i;
        EXPECT_TRUE(list.item(i)->text().isEmpty());
        EXPECT_TRUE(list.ItemEx(i)->InfoTip.isEmpty());
    }

    struct Row {
        QString caption, tip;
        const QImage* image;
    };
    auto check = [&](const std::vector<Row>& rows, const char* what) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(list.item(i)->text(), rows[i].caption) << what << " item " << i;
            EXPECT_EQ(list.ItemEx(i)->InfoTip, rows[i].tip) << what << " item " << i;
            EXPECT_EQ(list.ItemEx(i)->Image, rows[i].image) << what << " item " << i;
        }
    };

    list.ShowBrowserSupport(false, true, false);
    check({{"9+", "Internet Explorer 9+", &Images.IE},
           {"", "Firefox", &Images.FireFox2},
           {"3.1+", "Safari 3.1+", &Images.Safari},
           {"", "Google Chrome", &Images.Chrome2},
           {"", "Opera", &Images.Opera2}},
          "MP4 only");

    list.ShowBrowserSupport(true, false, true);
    check({{"", " Internet Explorer ", &Images.IE2},
           {"3.5+", "Firefox 3.5+", &Images.FireFox},
           {"", "Safari", &Images.Safari2},
           {"3+", "Google Chrome 3+", &Images.Chrome},
           {"10.5+", "Opera 10.5+", &Images.Opera}},
          "WebM and Ogg");

    list.ShowBrowserSupport(true, false, false);
    check({{"", " Internet Explorer ", &Images.IE2},
           {"4+", "Firefox 4+", &Images.FireFox},
           {"", "Safari", &Images.Safari2},
           {"6+", "Google Chrome 6+", &Images.Chrome},
           {"10.6+", "Opera 10.6+", &Images.Opera}},
          "WebM only");

    // The pictures are drawn centred in each icon cell.
    list.SetIconSpacing(48, 52);
    list.resize(5 * 48 + 10, 60);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QImage shot = list.viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QRect cell = list.visualItemRect(list.item(1));
    QPoint centre(cell.x() + cell.width() / 2, cell.y() + 2 + 15);
    EXPECT_EQ(shot.pixel(centre), Images.FireFox.pixel(14, 14))
        << "the Firefox badge sits in the middle of its cell";
}

TEST(ListViewEx, ItemDataGoesWithTheItem) {
    apptest::EnsureApplication();
    TListViewEx list;
    QImage picture = Solid(QSize(8, 8), Qt::red);
    list.AddIcon(QStringLiteral("a"), &picture, QStringLiteral("tip a"));
    list.addItem(QStringLiteral("plain"));
    EXPECT_EQ(list.ItemEx(1), nullptr);
    list.SetItem(1, QStringLiteral("b"), QStringLiteral("tip b"), &picture);
    ASSERT_NE(list.ItemEx(1), nullptr);
    EXPECT_EQ(list.ItemEx(1)->InfoTip, "tip b");
    EXPECT_EQ(list.item(1)->text(), "b");
    list.clear();
    list.addItem(QStringLiteral("fresh"));
    EXPECT_EQ(list.ItemEx(0), nullptr) << "no stale data for a new item";
}

namespace {

// A private session bus for the launcher entry, and a listener on it.
class SessionBus {
public:
    bool Start() {
        daemon.setProgram(QStringLiteral("dbus-daemon"));
        daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                             QStringLiteral("--print-address=1")});
        daemon.start();
        if (!daemon.waitForStarted(5000)) return false;
        if (!apptest::WaitFor([&] { return daemon.canReadLine(); }, 5000)) return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        return !address.isEmpty();
    }
    ~SessionBus() {
        daemon.kill();
        daemon.waitForFinished(5000);
    }
    QProcess daemon;
    QString address;
};

class Listener : public QObject {
    Q_OBJECT
public:
    QList<QVariantList> updates;
public slots:
    void Update(const QDBusMessage& message) { updates << message.arguments(); }
};

} // namespace

TEST(TaskbarList, ProgressReachesTheLauncherEntry) {
    apptest::EnsureApplication();
    SessionBus bus;
    if (!bus.Start()) GTEST_SKIP() << "no dbus-daemon to run a session bus";
    QDBusConnection listen = QDBusConnection::connectToBus(bus.address, QStringLiteral("listener"));
    ASSERT_TRUE(listen.isConnected());
    Listener listener;
    ASSERT_TRUE(listen.connect(QString(), QString(),
                               QStringLiteral("com.canonical.Unity.LauncherEntry"),
                               QStringLiteral("Update"), &listener, SLOT(Update(QDBusMessage))));

    QWidget window;
    {
        TTaskbarList unbound;
        unbound.SetProgressValue(5, 10);
        TTaskbarList taskbar;
        ASSERT_TRUE(taskbar.Available());
        taskbar.SetWindowHandle(&window);
        taskbar.SetProgressValue(25, 100);
        taskbar.SetProgressValue(3, 4);
    }
    ASSERT_TRUE(apptest::WaitFor([&] { return listener.updates.size() >= 3; }, 5000));
    QTest::qWait(100);
    ASSERT_EQ(listener.updates.size(), 3) << "nothing from a list bound to no window";
    auto properties = [&](int i) {
        return qdbus_cast<QVariantMap>(listener.updates[i][1].value<QDBusArgument>());
    };
    auto progress = [&](int i) {
        return properties(i).value(QStringLiteral("progress")).toDouble();
    };
    auto visible = [&](int i) {
        return properties(i).value(QStringLiteral("progress-visible")).toBool();
    };
    EXPECT_EQ(listener.updates[0][0].toString(), "application://reelpage.desktop");
    EXPECT_DOUBLE_EQ(progress(0), 0.25);
    EXPECT_TRUE(visible(0));
    EXPECT_DOUBLE_EQ(progress(1), 0.75);
    // Destruction takes the progress off the entry.
    EXPECT_DOUBLE_EQ(progress(2), 0.0);
    EXPECT_FALSE(visible(2));
}

TEST(TaskbarList, NothingWithoutASessionBus) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    apptest::EnsureApplication();
    QWidget window;
    TTaskbarList taskbar;
    EXPECT_FALSE(taskbar.Available());
    taskbar.SetWindowHandle(&window);
    taskbar.SetProgressValue(1, 2); // does nothing, and does not fail
}

#include "controls_test.moc"

TEST(LinkLabel, MarkedPartsBecomeLinksAndTheRestStaysText) {
    apptest::EnsureApplication();
    TLinkLabel label;
    QString clicked;
    QObject::connect(&label, &TLinkLabel::OnLinkClick,
                     [&](const QString& link) { clicked = link; });
    const QString folder = QStringLiteral("/home/a&b/<x> 50%");
    label.SetCaption(QStringLiteral("Folder:\r\n<a>") + folder + QStringLiteral("</a>\r\n"));
    const QString html = label.text();
    EXPECT_TRUE(html.startsWith(QStringLiteral("Folder:<br><a href=\"#")));
    EXPECT_TRUE(
        html.contains(QStringLiteral(">/&#8203;home/&#8203;a&amp;b/&#8203;&lt;x&gt; 50%</a><br>")))
        << "escaped, and free to wrap after each separator";
    // A click reports the link's own text, whatever characters it holds.
    const qsizetype start = html.indexOf(QStringLiteral("href=\"")) + 6;
    emit label.linkActivated(html.mid(start, html.indexOf(QChar('"'), start) - start));
    EXPECT_EQ(clicked, folder);

    label.SetCaption(QStringLiteral("a <a>b"));
    EXPECT_EQ(label.text(), QStringLiteral("a &lt;a&gt;b"));
}
