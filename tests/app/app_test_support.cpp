#include "app_test_support.h"

#include "ImageResource.h"
#include "LowInterface.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <unistd.h>

namespace apptest {

namespace {

// Ends the application the way the program does at the end of main: windows
// first, then the application and with it the web engine. A process that
// simply exits with the web engine still starting a page can crash on the
// way out, after every test has passed.
class ApplicationEnd : public ::testing::Environment {
public:
    void TearDown() override {
        if (!QCoreApplication::instance()) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            w->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        delete QCoreApplication::instance();
    }
};

[[maybe_unused]] ::testing::Environment* const kApplicationEnd =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnd);

} // namespace

void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // ended after the last test (ApplicationEnd)
}

void StandInMainWindowEngine() {
    using namespace reelpage::app;
    BindLowInterface();
    Low.SetMainWindow.Set([](HWND hwnd) { return hwnd; });
    Low.GetHistoryCount.Set([]() -> int32_t { return 0; });
    Low.GetHistoryItem.Set([](int32_t) -> MediaInfo* { return nullptr; });
    Low.SaveSettings.Set([]() -> int32_t { return 0; });
    Low.CheckForUpdate.Set(
        [](ProductInfo*, const WCHAR*, HWND, uint32_t) -> reelpage::BOOL { return 1; });
    Low.FreeEncoding.Set([]() -> int32_t { return 0; });
    Low.LayoutPreview.Set([]() -> int32_t { return 0; });
    Low.RestartPreview.Set([](HWND, HWND) -> int32_t { return 0; });
    static Settings settings;
    settings = Settings{};
    SetFieldText(settings.m_szFolder, QStringLiteral("/tmp/Web Videos"));
    AppSettings = &settings;
}

int StartEngineOnce() {
    static const int started = reelpage::app::Low.InitEngine();
    return started;
}

void UseProgramFolder() {
    EnsureApplication();
    reelpage::app::SetProgramFolder(QString::fromUtf8(REELPAGE_PROGRAM_DIR));
    reelpage::app::LoadImageResources();
}

MessageRecorder::MessageRecorder(QMessageBox::StandardButton answer) : answer(answer) {
    reelpage::app::SetMessageHandler([this](const reelpage::app::MessageRequest& request) {
        shown.push_back(request);
        return this->answer;
    });
}

MessageRecorder::~MessageRecorder() {
    reelpage::app::SetMessageHandler(nullptr);
}

OpenFileRecorder::OpenFileRecorder(std::vector<QString> answers) : answers(std::move(answers)) {
    reelpage::app::SetOpenFileHandler([this](const reelpage::app::OpenFileRequest& request) {
        size_t next = asked.size();
        asked.push_back(request);
        return next < this->answers.size() ? this->answers[next] : QString();
    });
}

OpenFileRecorder::~OpenFileRecorder() {
    reelpage::app::SetOpenFileHandler(nullptr);
}

reelpage::MediaInfo LongVideo() {
    reelpage::MediaInfo media{};
    media.m_bVideoStream = 1;
    media.m_bAudioStream = 1;
    media.m_Width = 1920;
    media.m_Height = 1080;
    media.m_Duration = 3'725'000'000;
    media.m_nChannel = 6;
    reelpage::app::SetFieldText(media.m_szFileName, QStringLiteral("/videos/Holiday at the sea.mp4"));
    reelpage::app::SetFieldText(media.m_szName, QStringLiteral("Holiday at the sea"));
    return media;
}

std::string ShownText(const QWidget* w) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    return text.isEmpty() ? std::string() : '"' + text.toStdString() + '"';
}

QPoint SliderHandleCentre(QSlider& bar) {
    QStyleOptionSlider opt;
    opt.initFrom(&bar);
    opt.orientation = Qt::Horizontal;
    opt.minimum = bar.minimum();
    opt.maximum = bar.maximum();
    opt.sliderPosition = bar.sliderPosition();
    opt.sliderValue = bar.value();
    opt.tickPosition = bar.tickPosition();
    opt.tickInterval = bar.tickInterval();
    opt.subControls = QStyle::SC_All;
    return bar.style()
        ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, &bar)
        .center();
}

} // namespace apptest
