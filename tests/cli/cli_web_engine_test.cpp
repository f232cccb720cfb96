// reelpage-cli never loads the web engine nor Qt's widget, picture, sound and
// network modules (its engine is the build without the preview and the update
// query: it never checks for updates), and runs no browser
// detection: its diagnostics run without a GUI application. The
// dynamic loader's own trace lists every library the process maps, those
// opened at run time included.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>
#include "media_fixtures.h"

extern char** environ;

TEST(CliStart, LoadsNeitherTheWebEngineNorTheWindowModules) {
    const std::string home = getenv("REELPAGE_TEST_HOME");
    const std::string trace = home + "/loader";
    std::vector<std::string> env = {"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + trace};
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    // A file that is not a video: the engine starts fully, then the import fails.
    const std::string notVideo = home + "/notes.mp4";
    std::ofstream(notVideo) << "not a video\n";
    std::string cli = std::string(REELPAGE_PROGRAM_DIR) + "/reelpage-cli";
    std::string info = "--info";
    std::vector<char*> argv = {cli.data(), info.data(), const_cast<char*>(notVideo.c_str()),
                               nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));

    const std::string loaded = testing_media::ReadText(trace + "." + std::to_string(pid));
    ASSERT_NE(loaded.find("libreelpage-headless.so"), std::string::npos) << "no loader trace";
    ASSERT_NE(loaded.find("libQt6Core.so"), std::string::npos);
    for (const char* absent : {"WebEngine", "webagent.so", "libreelpage.so", "libQt6Widgets",
                               "libQt6Gui", "libQt6Multimedia", "libQt6Network", "libpulse"})
        EXPECT_EQ(loaded.find(absent), std::string::npos) << absent;

    // No browser detection runs at all, and so nothing is written to the
    // machine-wide store, as root or not.
    const std::string log = testing_media::ReadText(home + "/Documents/Log Files/reelpage.log");
    ASSERT_NE(log.find("MemoryStatus:"), std::string::npos) << log;
    EXPECT_EQ(log.find("QGuiApplication"), std::string::npos) << log;
    EXPECT_EQ(log.find("DefaultBrowser:"), std::string::npos) << log;
    const std::string machine = getenv("REELPAGE_MACHINE_REGISTRY");
    EXPECT_TRUE(!std::filesystem::exists(machine) || std::filesystem::is_empty(machine));
}
