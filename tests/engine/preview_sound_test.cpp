// The audio clock through a real sound device: a sound server of the test's
// own (a null sink, so nothing is heard) plays the preview's sound, and the
// clock must follow the time the server plays. Without a server the paced
// sink takes over.
#include "preview/AudioOutput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

using namespace reelpage;

namespace {

// A private server: its own runtime folder and socket, no autospawn, no
// session bus, gone with the test.
class SoundServer {
public:
    SoundServer() {
        m_dir = std::string(std::getenv("REELPAGE_TEST_HOME")) + "/pulse";
        std::filesystem::create_directories(m_dir + "/run");
        std::ofstream(m_dir + "/client.conf") << "autospawn = no\n";
        setenv("PULSE_CLIENTCONFIG", (m_dir + "/client.conf").c_str(), 1);
        m_socket = m_dir + "/run/native";
    }
    ~SoundServer() { Stop(); }
    // Starts the server and points this process's clients at it; false when
    // it does not answer within five seconds.
    bool Start() {
        const std::string load = "module-native-protocol-unix socket=" + m_socket +
                                 " auth-anonymous=1";
        std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--system=false",
                                         "--exit-idle-time=-1", "--use-pid-file=false",
                                         "--log-target=stderr", "--log-level=error",
                                         "-L", "module-null-sink sink_name=preview_test",
                                         "-L", load};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        setenv("XDG_RUNTIME_DIR", (m_dir + "/run").c_str(), 1);
        if (posix_spawnp(&m_pid, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
            return false;
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(m_socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        setenv("PULSE_SERVER", ("unix:" + m_socket).c_str(), 1);
        return std::filesystem::exists(m_socket);
    }
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        int status;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    void PointAtNothing() { setenv("PULSE_SERVER", ("unix:" + m_dir + "/none").c_str(), 1); }

private:
    std::string m_dir, m_socket;
    pid_t m_pid = -1;
};

std::string SampleFile(int64_t dataBytes) {
    const std::string path = std::string(std::getenv("REELPAGE_TEST_HOME")) + "/sound.wav";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> bytes(size_t(46 + dataBytes), 0);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

// Plays and answers how fast the clock runs against the wall clock: the
// median of its rate over every one-second span of three seconds, measured
// once the sound is under way (a null sink may take a moment to start
// pulling a new stream; a busy machine may stall a span now and then).
double ClockRate(QCoreApplication& app, AudioPlayer& player, std::vector<int64_t>& ticks,
                 std::vector<int64_t>& tickWall, QElapsedTimer& wall) {
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const int64_t now = wall.nsecsElapsed() / 1000;
        size_t first = 0;
        while (first < ticks.size() && ticks[first] < 500000) ++first;
        if ((first < ticks.size() && now - tickWall[first] >= 3000000) || now > 10000000)
            app.quit();
    });
    wall.start();
    player.Resume();
    probe.start(20);
    app.exec();
    player.Pause();
    std::vector<double> rates;
    size_t j = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (ticks[i] < 500000) continue;
        while (j < ticks.size() && tickWall[j] - tickWall[i] < 1000000) ++j;
        if (j == ticks.size()) break;
        rates.push_back(double(ticks[j] - ticks[i]) / double(tickWall[j] - tickWall[i]));
    }
    if (rates.empty()) return 0;
    std::nth_element(rates.begin(), rates.begin() + ptrdiff_t(rates.size() / 2), rates.end());
    return rates[rates.size() / 2];
}

} // namespace

TEST(PreviewSound, DevicePlaybackRunsTheClockAtRealTime) {
    unsetenv("REELPAGE_AUDIO_SINK");
    SoundServer server;
    ASSERT_TRUE(server.Start()) << "pulseaudio did not start (tools/install-deps.sh installs it)";
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    struct Case {
        int32_t rate, channels;
    } cases[] = {{44100, 2}, {48000, 6}}; // six channels are mixed down for the device
    for (const Case& c : cases) {
        MediaInfo media{};
        media.m_SampleRate = c.rate;
        media.m_nChannel = c.channels;
        std::vector<int64_t> ticks, tickWall;
        QElapsedTimer wall;
        ClockCallbacks callbacks;
        callbacks.tick = [&](int64_t t) {
            ticks.push_back(t);
            tickWall.push_back(wall.nsecsElapsed() / 1000);
            return 0;
        };
        // A starved machine really plays its sound late (the server plays
        // silence while it waits), so a rate off by load is retried; a clock
        // that counts wrongly is off every time.
        std::unique_ptr<AudioPlayer> player;
        double rate = 0;
        for (int attempt = 0; attempt < 3 && std::abs(rate - 1.0) > 0.05; ++attempt) {
            ticks.clear();
            tickWall.clear();
            player = std::make_unique<AudioPlayer>(25, 1, callbacks, &media);
            ASSERT_EQ(player->Start(SampleFile(int64_t(c.rate) * c.channels * 2 * 8)), 0);
            ASSERT_NE(dynamic_cast<const DeviceSink*>(player->Sink()), nullptr) << c.channels;
            rate = ClockRate(app, *player, ticks, tickWall, wall);
        }
        EXPECT_NEAR(rate, 1.0, 0.05) << c.rate << " Hz, " << c.channels << " channels";
        ASSERT_GE(ticks.size(), 2u);
        // Ticks are whole buffers of sound: 40 ms apart.
        EXPECT_EQ(ticks[1] - ticks[0], 40000);

        if (c.channels != 6) continue; // the last case
        // The server goes away while playing: once the loss is noticed (how
        // soon depends on the sound system and the machine's load), the
        // clock goes on, paced, from what was heard.
        player->Resume();
        QTimer::singleShot(300, &app, [&] { server.Stop(); });
        QElapsedTimer noticed;
        noticed.start();
        while (!dynamic_cast<const PacedSink*>(player->Sink()) && noticed.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_NE(dynamic_cast<const PacedSink*>(player->Sink()), nullptr);
        QTimer::singleShot(100, &app, [&] { app.quit(); });
        app.exec();
        const int64_t before = ticks.back();
        QTimer::singleShot(1000, &app, [&] { app.quit(); });
        app.exec();
        EXPECT_GT(ticks.back(), before + 700000);
        player->Pause();
    }
}

TEST(PreviewSound, WithoutAServerThePacedSinkKeepsTime) {
    unsetenv("REELPAGE_AUDIO_SINK");
    SoundServer server;
    server.PointAtNothing();
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    MediaInfo media{};
    media.m_SampleRate = 44100;
    media.m_nChannel = 2;
    std::vector<int64_t> ticks, tickWall;
    QElapsedTimer wall;
    ClockCallbacks callbacks;
    callbacks.tick = [&](int64_t t) {
        ticks.push_back(t);
        tickWall.push_back(wall.nsecsElapsed() / 1000);
        return 0;
    };
    AudioPlayer player(25, 1, callbacks, &media);
    ASSERT_EQ(player.Start(SampleFile(176400 * 4)), 0);
    EXPECT_NE(dynamic_cast<const PacedSink*>(player.Sink()), nullptr);
    EXPECT_NEAR(ClockRate(app, player, ticks, tickWall, wall), 1.0, 0.05);
}
