// What a batch of reelpage-cli takes from its command line, and how it tells
// a job's progress and failure from the job's own lines.
#include "Batch.h"
#include "BatchInputs.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using namespace reelpage::cli;

std::vector<std::string> Paths(const std::vector<BatchInput>& inputs) {
    std::vector<std::string> paths;
    for (const BatchInput& i : inputs)
        paths.push_back(i.error.empty() ? i.path : i.path + " (" + i.error + ")");
    return paths;
}

class BatchInputs : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::string(getenv("HOME")) + "/inputs";
        fs::remove_all(m_dir);
        for (const char* name :
             {"clip10.mp4", "clip2.MOV", "clip1.webm", "notes.txt", "poster.png", ".hidden.mp4",
              "sub/deep.mkv", ".cache/thumb.mp4", "sub/inner/last.avi", "empty/readme.txt"}) {
            fs::create_directories(fs::path(m_dir + "/" + name).parent_path());
            std::ofstream(m_dir + "/" + name) << "x";
        }
    }
    std::string m_dir;
};

TEST_F(BatchInputs, AFolderGivesItsVideosInNameOrder) {
    // Numbers by value, any case of extension, no hidden files, no pictures
    // or texts, no subfolders unless asked.
    EXPECT_EQ(Paths(ListBatchInputs({m_dir + "/"}, false)),
              (std::vector<std::string>{m_dir + "/clip1.webm", m_dir + "/clip2.MOV",
                                        m_dir + "/clip10.mp4"}));
    EXPECT_EQ(Paths(ListBatchInputs({m_dir}, true)),
              (std::vector<std::string>{m_dir + "/clip1.webm", m_dir + "/clip2.MOV",
                                        m_dir + "/clip10.mp4", m_dir + "/sub/deep.mkv",
                                        m_dir + "/sub/inner/last.avi"}));
}

TEST_F(BatchInputs, FilesAsGivenOnceEachAndEmptyFoldersSaid) {
    fs::create_symlink(m_dir + "/clip10.mp4", m_dir + "/sub/link.mp4");
    const std::vector<std::string> got =
        Paths(ListBatchInputs({m_dir + "/notes.txt", m_dir + "/sub", m_dir + "/clip10.mp4",
                               "/nonexistent/x.mp4", m_dir + "/empty", m_dir + "/./notes.txt"},
                              false));
    // A file named is tried whatever its name (the import judges); a file
    // reached a second time, through a link or another spelling, is not.
    EXPECT_EQ(got, (std::vector<std::string>{m_dir + "/notes.txt", m_dir + "/sub/deep.mkv",
                                             m_dir + "/sub/link.mp4", "/nonexistent/x.mp4",
                                             m_dir + "/empty (no video files in the folder)"}));
    EXPECT_EQ(
        Paths(ListBatchInputs({m_dir + "/empty"}, true)),
        (std::vector<std::string>{m_dir + "/empty (no video files in the folder or below it)"}));
}

TEST(BatchLines, ProgressAndFailures) {
    int percent = -1;
    EXPECT_TRUE(ParseProgressLine("0%  elapsed 00:00", &percent));
    EXPECT_EQ(percent, 0);
    EXPECT_TRUE(ParseProgressLine("100%  elapsed 00:12  finishing", &percent));
    EXPECT_EQ(percent, 100);
    for (const char* other : {"Encoding into /v/50%", "Importing  40%", "%  elapsed", ""})
        EXPECT_FALSE(ParseProgressLine(other, &percent)) << other;

    const std::vector<std::string> paths = {"in/a.mp4", "/home/u/in/a.mp4"};
    EXPECT_EQ(FailureReason("/home/u/in/a.mp4: Not support this file.", paths, 2 << 8),
              "Not support this file.");
    EXPECT_EQ(FailureReason("in/a.mp4: Not a movie file", paths, 2 << 8), "Not a movie file");
    EXPECT_EQ(FailureReason("Failed ! An output could not be encoded (see the log); /o/a removed",
                            paths, 3 << 8),
              "Failed ! An output could not be encoded (see the log); /o/a removed");
    EXPECT_EQ(FailureReason("", paths, SIGSEGV),
              "ended by signal " + std::to_string(SIGSEGV) + " (" + strsignal(SIGSEGV) + ")");
    EXPECT_EQ(FailureReason("", paths, 4 << 8), "ended with exit status 4");
}

} // namespace
