// Fixed UTF-16 fields and the user's known folders.
#include "platform/folders.h"
#include "platform/wstr.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

TEST(WStr, CopyAndFormatNeverPassTheField) {
    char16_t field[8];
    std::fill(std::begin(field), std::end(field), u'#');
    WStrCopy(field, u"0123456789");
    EXPECT_EQ(std::u16string(field), u"0123456");
    // A surrogate pair is not split at the cut.
    WStrCopy(field, u"012345\U0001F600");
    EXPECT_EQ(std::u16string(field), u"012345");

    char16_t path[260];
    std::u16string folder(300, u'x');
    int n = WFormat(path, 260, "%ls/%ls.bmp", folder.c_str(), u"{GUID}");
    EXPECT_EQ(n, 259);
    EXPECT_EQ(path[259], 0);
    EXPECT_EQ(WFormat(path, 260, "\"%ls/dec\" %I64u", u"/opt/my app", 420ULL), 21);
    EXPECT_EQ(std::u16string(path), u"\"/opt/my app/dec\" 420");
    WFormat(path, 260, "%s|%d|%5.2f|%x|%%", "abc", -3, 1.5, 255u);
    EXPECT_EQ(std::u16string(path), u"abc|-3| 1.50|ff|%");

    char16_t unterminated[4] = {u'a', u'b', u'c', u'd'};
    WStrTerminate(unterminated, 4);
    EXPECT_EQ(std::u16string(unterminated), u"abc");
}

TEST(WStr, Utf8RoundTripAndCaseFolding) {
    const std::string samples[] = {"plain", "Ünïcødé é", "日本語のファイル", "emoji \xF0\x9F\x98\x80 end"};
    for (const auto& s : samples) EXPECT_EQ(ToUtf8(FromUtf8(s)), s);
    EXPECT_EQ(FromUtf8("\xC3"), u"\uFFFD"); // truncated sequence
    EXPECT_EQ(WStrICmp(u"/Videos/CLIP É.MP4", u"/videos/clip é.mp4"), 0);
    EXPECT_NE(WStrICmp(u"a.mp4", u"b.mp4"), 0);
    EXPECT_NE(WStrICmp(u"a.mp4", u"a.mp"), 0);
}

TEST(Folders, KnownFoldersFollowUserDirs) {
    std::string home = getenv("HOME");
    std::string out;
    // Without user-dirs.dirs the usual names under HOME are used and created on request.
    ASSERT_EQ(GetKnownFolder(KnownFolder::Videos, true, &out), 0);
    EXPECT_EQ(out, home + "/Videos");
    EXPECT_TRUE(std::filesystem::is_directory(out));
    ASSERT_EQ(GetKnownFolder(KnownFolder::AppData, false, &out), 0);
    EXPECT_EQ(out, std::string(getenv("XDG_DATA_HOME")));

    std::ofstream(std::string(getenv("XDG_CONFIG_HOME")) + "/user-dirs.dirs")
        << "# comment\nXDG_VIDEOS_DIR=\"$HOME/Filme/\"\nXDG_PICTURES_DIR=\"/srv/pics\"\n"
           "XDG_DOCUMENTS_DIR=\"$HOME/\"\n";
    ASSERT_EQ(GetKnownFolder(KnownFolder::Videos, false, &out), 0);
    EXPECT_EQ(out, home + "/Filme");
    ASSERT_EQ(GetKnownFolder(KnownFolder::Pictures, false, &out), 0);
    EXPECT_EQ(out, "/srv/pics");
    // "$HOME/" alone switches the folder off: the default name is used.
    ASSERT_EQ(GetKnownFolder(KnownFolder::Documents, false, &out), 0);
    EXPECT_EQ(out, home + "/Documents");
}

// Without a session runtime folder, a private one of ours is made in the
// temporary folder; one that others could write in or that is a link is
// refused, never used.
TEST(Folders, RuntimeFolderFallbackIsPrivate) {
    const std::string tmp = std::string(getenv("HOME")) + "/tmp";
    std::filesystem::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    const std::string expected = tmp + "/reelpage-" + std::to_string(getuid());
    std::string out;
    ASSERT_EQ(GetKnownFolder(KnownFolder::Runtime, false, &out), 0);
    EXPECT_EQ(out, expected);
    struct stat st {};
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Used again as it is.
    ASSERT_EQ(GetKnownFolder(KnownFolder::Runtime, false, &out), 0);

    chmod(expected.c_str(), 0777);
    EXPECT_NE(GetKnownFolder(KnownFolder::Runtime, false, &out), 0);
    rmdir(expected.c_str());
    const std::string elsewhere = tmp + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    chmod(elsewhere.c_str(), 0700);
    ASSERT_EQ(symlink(elsewhere.c_str(), expected.c_str()), 0);
    EXPECT_NE(GetKnownFolder(KnownFolder::Runtime, false, &out), 0);
}

static void FunctionInThisProgram() {}

TEST(Folders, ModuleAndExecutableFolder) {
    std::string exe = ExecutableFolder();
    EXPECT_TRUE(std::filesystem::exists(exe + "/test_platform"));
    EXPECT_EQ(ModuleFolder(reinterpret_cast<const void*>(&FunctionInThisProgram)), exe);
    // The platform library itself stands in the program folder.
    EXPECT_EQ(ModuleFolder(reinterpret_cast<const void*>(&ExecutableFolder)),
              std::filesystem::canonical(REELPAGE_PROGRAM_DIR).string());
}
