// Start-up pieces of the engine: the instance counter shared by every process
// that loads the library, the record-size handshake, and binding by ordinal.
#include "child.h"
#include "reelpage/exports.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>
#include "media_fixtures.h"

using namespace reelpage;

namespace {

std::string LogPath() {
    return std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log";
}

} // namespace

// Enters the instance and returns the count. With "hold" it reports on its
// standard output that it has entered and keeps the library loaded until its
// standard input closes; "show" then sets a main window; "first" adds 100 when
// it sees that window.
REELPAGE_CHILD(enter_instance) {
    HWND first = 0;
    int32_t n = Bind<FnEnterInstance>(kEnterInstance)(&first);
    std::string mode = args.empty() ? "" : args[0];
    if (mode == "hold") {
        char c = 'r';
        if (write(1, &c, 1) != 1) return 99;
        while (read(0, &c, 1) > 0) {
        }
    }
    if (mode == "show") Bind<FnSetMainWindow>(kSetMainWindow)(77);
    if (mode == "first" && first == 77) return 100 + n;
    return n;
}

TEST(Instance, CountsStartsUntilTheLastProcessEnds) {
    // A runtime folder of its own, so this test sees a section nobody else holds.
    std::string runtime = std::string(getenv("HOME")) + "/run-instance";
    std::filesystem::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    pid_t holder = fork();
    if (holder == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        std::string self = testing_child::SelfPath();
        execl(self.c_str(), self.c_str(), "--child", "enter_instance", "hold", nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    char c = 0;
    ASSERT_EQ(read(out[0], &c, 1), 1); // the holder has entered
    int second = testing_child::WaitExit(testing_child::Spawn("enter_instance", {"show"}));
    int third = testing_child::WaitExit(testing_child::Spawn("enter_instance", {"first"}));
    close(in[1]);
    close(out[0]);
    EXPECT_EQ(testing_child::WaitExit(holder), 1);
    EXPECT_EQ(second, 2);
    // The third start sees 3 and the window the second one showed.
    EXPECT_EQ(third, 103);

    // Everybody has ended: the next start is the first again.
    EXPECT_EQ(testing_child::WaitExit(testing_child::Spawn("enter_instance", {})), 1);
}

TEST(Instance, FirstWindowIsZeroUntilShown) {
    HWND first = 123;
    int32_t n = Bind<FnEnterInstance>(kEnterInstance)(&first);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(Bind<FnSetMainWindow>(kSetMainWindow)(5), 5u);
    EXPECT_EQ(Bind<FnEnterInstance>(kEnterInstance)(&first), 2);
    EXPECT_EQ(first, 5u);
}

TEST(RecordSizes, MatchingSizesLogNothingAndAMismatchNamesBoth) {
    Bind<FnInitDiagnostics>(kInitDiagnostics)();
    auto check = Bind<FnCheckRecordSizes>(kCheckRecordSizes);
    size_t before = testing_media::ReadText(LogPath()).size();
    check(3688, 756, 3848);
    EXPECT_EQ(testing_media::ReadText(LogPath()).size(), before);
    check(3688, 756, 3844);
    EXPECT_EQ(testing_media::ReadText(LogPath()).substr(before), " *** App:3844, Low:3848\n");
}

TEST(Exports, LibraryBindsImplementedOrdinalsOnly) {
    // The program's engine and reelpage-cli's, which leaves the preview out,
    // offer the same table.
    for (const char* name : {"/libreelpage.so", "/libreelpage-headless.so"}) {
        SCOPED_TRACE(name);
        std::string lib = std::string(REELPAGE_PROGRAM_DIR) + name;
        void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr) << dlerror();
        auto get = reinterpret_cast<void* (*)(int32_t)>(dlsym(h, "ReelpageExport"));
        ASSERT_NE(get, nullptr);
        // The list keeps the protocol's numbers: 1-4, 8-14, 17-36, 38-53 and
        // 999; 54 and from 100 on are its own.
        std::set<int32_t> protocol = {1, 2, 3, 4, 999};
        for (int32_t o = 100; o <= 106; ++o)
            protocol.insert(o);
        for (int32_t o = 8; o <= 54; ++o)
            if (o != 15 && o != 16 && o != 37) protocol.insert(o);
        EXPECT_EQ(std::set<int32_t>(std::begin(kExportOrdinals), std::end(kExportOrdinals)),
                  protocol);
        for (int32_t ord : kExportOrdinals)
            EXPECT_NE(get(ord), nullptr) << ord;
        for (int32_t unused : {0, 15, 16, 37, 55, 99, 107, 1000})
            EXPECT_EQ(get(unused), nullptr) << unused;
        // Nothing but the one entry point is visible.
        EXPECT_EQ(dlsym(h, "_ZN8reelpage10InitEngineEv"), nullptr);
        dlclose(h);
    }
}
