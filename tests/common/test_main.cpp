// Test entry: each test process gets its own HOME and XDG folders, so tests
// never read or write the user's real settings, logs or registry store.
#include "child.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string MakeTempHome() {
    char tmpl[] = "/tmp/reelpage-test-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) return {};
    std::string home = dir;
    auto set = [&](const char* var, const std::string& sub) {
        std::string path = home + sub;
        std::filesystem::create_directories(path);
        setenv(var, path.c_str(), 1);
    };
    set("HOME", "");
    set("XDG_CONFIG_HOME", "/.config");
    set("XDG_DATA_HOME", "/.local/share");
    set("XDG_CACHE_HOME", "/.cache");
    set("XDG_RUNTIME_DIR", "/run");
    // The machine-wide registry root: a folder the tests own, so that the
    // fallback to the per-user store can be exercised by making it read-only.
    set("REELPAGE_MACHINE_REGISTRY", "/machine-registry");
    setenv("REELPAGE_TEST_HOME", home.c_str(), 1);
    return home;
}

} // namespace

int main(int argc, char** argv) {
    int rc = 0;
    // A child inherits its parent's temporary home through the environment.
    if (testing_child::Dispatch(argc, argv, &rc)) return rc;

    std::string home;
    if (!getenv("REELPAGE_KEEP_ENV")) home = MakeTempHome();
    ::testing::InitGoogleTest(&argc, argv);
    rc = RUN_ALL_TESTS();
    if (!home.empty() && !getenv("REELPAGE_KEEP_TEMP")) {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
    return rc;
}
