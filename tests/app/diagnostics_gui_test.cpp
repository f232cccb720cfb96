// The engine's diagnostics in a process with a GUI application, as the
// program starts them: the embedded web engine is asked for its user agent,
// its version drives the emulation value, and both reach the log and the store.
#include "app_test_support.h"

#include "reelpage/exports.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "platform/registry.h"
#include "media_fixtures.h"

TEST(ProgramDiagnostics, TheWebEngineNamesItsVersionAndAgent) {
    apptest::EnsureApplication();
    using namespace reelpage;
    EXPECT_EQ(Bind<FnInitDiagnostics>(kInitDiagnostics)(), S_OK);

    const std::string log =
        testing_media::ReadText(std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log");
    const std::string mark = "\n     InternetExplorer:Mozilla/5.0 ";
    const size_t at = log.find(mark);
    ASSERT_NE(at, std::string::npos) << log;
    const std::string agent = log.substr(at + 23, log.find('\n', at + 1) - at - 23);
    const size_t chrome = agent.find(" Chrome/");
    ASSERT_NE(chrome, std::string::npos) << agent;
    // The version the agent names is the one the web engine library reports.
    const int major = std::atoi(agent.c_str() + chrome + 8);
    EXPECT_EQ(major, std::atoi(qWebEngineChromiumVersion()));
    EXPECT_GT(major, 10);
    EXPECT_EQ(log.find(" *** "), std::string::npos) << log;
    EXPECT_NE(log.find("\n     DefaultBrowser:"), std::string::npos);

    platform::RegKey key;
    ASSERT_EQ(platform::RegOpenKey(platform::RegRoot::LocalMachine,
                                   u"SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl"
                                   u"\\FEATURE_BROWSER_EMULATION",
                                   &key),
              0);
    int32_t value = 0;
    uint32_t type = 0, size = sizeof value;
    ASSERT_EQ(platform::RegQueryValue(key, u"test_app", &type, &value, &size), 0);
    EXPECT_EQ(type, platform::REG_DWORD);
    EXPECT_EQ(value, major * 1000);
}
