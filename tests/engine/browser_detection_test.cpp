// The browser steps of the diagnostics: the emulation value from the web
// engine's version, where it is stored and under which name, the log lines,
// and that a process without a GUI application never loads the web engine.
#include "system/BrowserDetection.h"
#include "system/Exports.h"
#include "system/Log.h"
#include "child.h"
#include "reelpage/exports.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

#include "platform/registry.h"
#include "platform/wstr.h"
#include "media_fixtures.h"

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

std::string ReadLog() {
    return testing_media::ReadText(std::string(getenv("HOME")) +
                                   "/Documents/Log Files/reelpage.log");
}

// The emulation value stored under name in root; -1 when there is none.
int32_t StoredValue(platform::RegRoot root, const std::string& name) {
    platform::RegKey key;
    if (platform::RegOpenKey(root, kBrowserEmulationKey, &key) != 0) return -1;
    int32_t value = 0;
    uint32_t type = 0, size = sizeof value;
    if (platform::RegQueryValue(key, platform::FromUtf8(name), &type, &value, &size) != 0)
        return -1;
    EXPECT_EQ(type, platform::REG_DWORD);
    EXPECT_EQ(size, 4u);
    return value;
}

UserAgentQuery Answering(const std::string& userAgent) {
    return [userAgent] {
        UserAgentResult r;
        r.userAgent = userAgent;
        return r;
    };
}

std::string Agent(const std::string& version) {
    return "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "QtWebEngine/6.4.2 Chrome/" +
           version + " Safari/537.36";
}

bool WebEngineMapped() {
    const std::string maps = testing_media::ReadText("/proc/self/maps");
    return maps.find("WebEngine") != std::string::npos ||
           maps.find(kWebAgentModule) != std::string::npos;
}

} // namespace

TEST(BrowserDetection, EmulationValueFollowsTheWebEngineVersion) {
    OpenLog();
    const std::string exe = ExecutableFileName();
    ASSERT_EQ(exe, "test_engine");
    struct Case {
        std::string agent;
        int32_t value;
    } cases[] = {
        {Agent("9.0.597.0"), 9999},
        {Agent("10.0.648.205"), 10001},
        {Agent("11.0.696.77"), 11000},
        {Agent("102.0.5005.177"), 102000},
        {Agent("8.0.552.237"), 8888},
        {Agent("7.0.517.44"), 7000},
        // A version text longer than the buffer is cut, still terminated, and
        // a number too large for the value keeps the default.
        {Agent(std::string(300, '9')), 7000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.agent.substr(c.agent.find("Chrome/"), 24));
        const size_t start = ReadLog().size();
        EXPECT_EQ(DetectBrowser(Answering(c.agent)), S_OK);
        EXPECT_EQ(BrowserEmulation(), c.value);
        EXPECT_EQ(StoredValue(platform::RegRoot::LocalMachine, exe), c.value);
        const std::string log = ReadLog().substr(start);
        EXPECT_EQ(log.find("     InternetExplorer:" + c.agent + "\n"), 0u) << log;
        EXPECT_EQ(log.find(" *** "), std::string::npos) << log;
    }

    char text[128];
    EXPECT_TRUE(BrowserVersionText(Agent(std::string(300, '1')), text));
    EXPECT_EQ(std::string(text), std::string(127, '1'));

    // An agent that names no version keeps the default and says so.
    const size_t start = ReadLog().size();
    EXPECT_EQ(DetectBrowser(Answering("Mozilla/5.0 (X11; Linux x86_64)")), S_OK);
    EXPECT_EQ(StoredValue(platform::RegRoot::LocalMachine, exe), 7000);
    EXPECT_NE(ReadLog().find(" *** Failed(2) to RegCreateKey\n", start), std::string::npos);
    EXPECT_FALSE(WebEngineMapped());
}

TEST(BrowserDetection, WithoutMachineAccessTheValueLandsInTheUserStore) {
    const std::string file = std::string(getenv("REELPAGE_TEST_HOME")) + "/machine-is-a-file";
    std::ofstream(file) << "x";
    setenv("REELPAGE_MACHINE_REGISTRY", file.c_str(), 1);
    OpenLog();
    EXPECT_EQ(DetectBrowser(Answering(Agent("102.0.5005.177"))), S_OK);
    EXPECT_EQ(StoredValue(platform::RegRoot::CurrentUser, ExecutableFileName()), 102000);
    EXPECT_EQ(ReadLog().find("to RegCreateKey"), std::string::npos);
}

TEST(BrowserDetection, LogsTheDesktopsDefaultBrowser) {
    const std::string config = getenv("XDG_CONFIG_HOME");
    std::ofstream(config + "/mimeapps.list")
        << "[Added Associations]\nx-scheme-handler/http=other.desktop;\n"
           "[Default Applications]\ntext/html=viewer.desktop\n"
           "x-scheme-handler/http=test-browser.desktop;other.desktop;\n";
    OpenLog();
    DetectBrowser(Answering(Agent("102.0.5005.177")));
    EXPECT_NE(ReadLog().find("\n     DefaultBrowser:test-browser.desktop\n"), std::string::npos)
        << ReadLog();
}

// The engine started as the tests start it: a Qt application without a GUI.
REELPAGE_CHILD(diagnostics_without_gui) {
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (Bind<FnInitDiagnostics>(kInitDiagnostics)() != S_OK) return 10;
    if (WebEngineMapped()) return 11;
    return 0;
}

// Without a GUI application (the command-line front end) there is no web
// engine to ask: no detection runs, and no value is written anywhere.
TEST(BrowserDetection, WithoutAGuiNoDetectionRunsAndNothingIsStored) {
    const fs::path renamed = fs::path(REELPAGE_BINARY_DIR) / "tests" / "renamed-diagnostics";
    std::error_code ec;
    fs::remove(renamed, ec);
    fs::create_hard_link(testing_child::SelfPath(), renamed, ec);
    if (ec) fs::copy_file(testing_child::SelfPath(), renamed, ec);
    ASSERT_FALSE(ec) << ec.message();

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(renamed.c_str(), renamed.c_str(), "--child", "diagnostics_without_gui", nullptr);
        _exit(127);
    }
    const int rc = testing_child::WaitExit(pid);
    fs::remove(renamed, ec);
    EXPECT_EQ(rc, 0);

    EXPECT_EQ(StoredValue(platform::RegRoot::LocalMachine, "renamed-diagnostics"), -1);
    EXPECT_EQ(StoredValue(platform::RegRoot::CurrentUser, "renamed-diagnostics"), -1);
    const std::string log = ReadLog();
    EXPECT_EQ(log.find("QGuiApplication"), std::string::npos) << log;
    EXPECT_EQ(log.find("InternetExplorer:"), std::string::npos);
    EXPECT_EQ(log.find("DefaultBrowser:"), std::string::npos);
}
