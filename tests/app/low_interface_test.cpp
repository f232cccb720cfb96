// Binding the engine's exports: every ordinal the program imports has an
// entry, those the engine has are bound, and an entry the engine lacks does
// nothing, yields zero and says so in the log once.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <iterator>
#include <vector>

#include "LowInterface.h"
#include "reelpage/exports.h"

using namespace reelpage::app;

namespace {

std::vector<std::string> g_log;
void RecordLog(const char* text) {
    g_log.emplace_back(text);
}

} // namespace

TEST(LowInterface, EveryImportedOrdinalIsBoundWhereTheEngineHasIt) {
    BindLowInterface();
    std::set<int> ordinals;
    ForEachLowEntry([&](auto& entry) {
        EXPECT_TRUE(ordinals.insert(entry.Ordinal()).second) << entry.Name();
        EXPECT_EQ(entry.Bound(), ReelpageExport(entry.Ordinal()) != nullptr) << entry.Name();
    });
    // The program takes every export but the position (27) and processor count (50).
    std::set<int> expected(std::begin(reelpage::kExportOrdinals),
                           std::end(reelpage::kExportOrdinals));
    for (int notImported : {reelpage::kGetPosition, reelpage::kGetProcessorCount})
        EXPECT_EQ(expected.erase(notImported), 1u) << notImported;
    EXPECT_EQ(ordinals, expected);
    // What the program needs to start is there.
    for (bool bound :
         {Low.EnterInstance.Bound(), Low.CheckRecordSizes.Bound(), Low.LoadProductInfo.Bound(),
          Low.InitFolders.Bound(), Low.InitEngine.Bound(), Low.GetSettings.Bound()})
        EXPECT_TRUE(bound);
}

TEST(LowInterface, MissingExportYieldsZeroAndLogsOnce) {
    BindLowInterface();
    Low.WriteLog.Set(&RecordLog);
    auto keepSettings = Low.GetSettings.Get();
    auto keepSeek = Low.Seek.Get();
    auto keepExit = Low.ExitEngine.Get();
    Low.GetSettings.Set(nullptr);
    Low.Seek.Set(nullptr);
    Low.ExitEngine.Set(nullptr);

    EXPECT_EQ(Low.GetSettings(), nullptr);
    EXPECT_EQ(Low.GetSettings(), nullptr);
    EXPECT_EQ(Low.Seek(12), 0);
    Low.ExitEngine();
    ASSERT_EQ(g_log.size(), 3u) << "one line per missing export, however often it is called";
    EXPECT_NE(g_log[0].find("30"), std::string::npos);
    EXPECT_NE(g_log[0].find("GetSettings"), std::string::npos);
    EXPECT_EQ(g_log[0].back(), '\n');
    EXPECT_NE(g_log[1].find("Seek"), std::string::npos);

    // Without WriteLog itself nothing breaks either.
    Low.WriteLog.Set(nullptr);
    Low.Seek.Set(nullptr);
    EXPECT_EQ(Low.Seek(1), 0);

    Low.GetSettings.Set(keepSettings);
    Low.Seek.Set(keepSeek);
    Low.ExitEngine.Set(keepExit);
}
