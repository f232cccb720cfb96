// Test entry: each test process gets its own HOME and XDG folders, so tests
// never read or write the user's real settings, logs or registry store.
#include "child.h"
#include "private_home.h"

#include <cstdio>
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
    if (!testing_home::PointHomeAt(home)) {
        // Running on in the user's own folders is what this is here to prevent.
        std::fprintf(stderr, "cannot make the test's home folders below %s\n", dir);
        std::exit(1);
    }
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
