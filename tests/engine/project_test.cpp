// Building the project record from a media record and the defaults, and
// turning or mirroring it.
#include "system/Exports.h"
#include "system/Folders.h"
#include "media/History.h"
#include "records/Project.h"
#include "records/Settings.h"
#include "publishing/Templates.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <gtest/gtest.h>

#include "platform/shm.h"
#include "platform/wstr.h"
#include "reelpage/protocol.h"

using namespace reelpage;

namespace {

MediaInfo* Media(int w, int h) {
    MediaInfo* m = AddMediaRecord();
    m->m_Width = w;
    m->m_Height = h;
    return m;
}

Settings& Defaults() {
    Settings& s = TheSettings();
    std::memset(&s, 0, sizeof s);
    s.m_DefaultFormats[0] = s.m_DefaultFormats[2] = 1;
    s.m_OutputWidth = 640;
    s.m_OutputHeight = 480;
    s.m_Autoplay = 1;
    s.m_Controls = 1;
    return s;
}

} // namespace

TEST(Project, OutputSizeIsTheSourceSizeWithEvenSidesWithinTheBound) {
    Defaults();
    struct Case {
        int w, h, ow, oh;
    } cases[] = {{1280, 720, 1280, 720}, {854, 480, 854, 480}, {640, 360, 640, 360},
                 {1080, 1920, 1080, 1920}, {350, 200, 350, 200},
                 // 4:2:0 video has even sides: an odd one gives up a pixel,
                 // never gains a line the picture does not fill.
                 {641, 361, 640, 360}, {1, 1, 2, 2},
                 // Larger than the explicit sizes allow: fitted, aspect kept.
                 {4096, 2160, 4096, 2160}, {8000, 8000, 4096, 4096}, {6000, 1500, 4096, 1024},
                 {1500, 6000, 1024, 4096}, {7680, 4320, 4096, 2304}, {5000, 1000, 4096, 818},
                 {4097, 3, 4096, 2}};
    for (auto c : cases) {
        Project* p = CreateProject(Media(c.w, c.h), 0, 0);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->m_OutputWidth, c.ow) << c.w << "x" << c.h;
        EXPECT_EQ(p->m_OutputHeight, c.oh) << c.w << "x" << c.h;
        EXPECT_EQ(p->m_CropWidth, c.w);
        EXPECT_EQ(p->m_CropHeight, c.h);
        EXPECT_EQ(p->m_VideoWidth, c.w);
    }
    Settings& s = Defaults();
    s.m_SizeIndex = 3;
    Project* p = CreateProject(Media(1280, 720), 0, 0);
    EXPECT_EQ(p->m_SizeIndex, 3);
    EXPECT_EQ(p->m_OutputWidth, 640);
    EXPECT_EQ(p->m_OutputHeight, 480);
}

TEST(Project, TakesDefaultsAndLivesInASharedBlock) {
    Settings& s = Defaults();
    s.m_ResizeMethod = 2;
    s.m_Loop = -1;
    s.m_WatermarkTransparency = 120;
    platform::WStrCopy(s.m_WatermarkFile, u"/pics/mark.png");
    platform::WStrCopy(s.m_AdLink, u"https://example.invalid/");
    MediaInfo* m = Media(640, 360);
    Project* p = CreateProject(m, 0, 0);
    EXPECT_EQ(p->m_Formats[0], 1);
    EXPECT_EQ(p->m_Formats[1], 0);
    EXPECT_EQ(p->m_Formats[2], 1);
    EXPECT_EQ(p->m_ResizeMethod, 2);
    EXPECT_EQ(p->m_Loop, -1);
    EXPECT_EQ(p->m_WatermarkTransparency, 120);
    EXPECT_EQ(std::u16string(p->m_WatermarkFile), u"/pics/mark.png");
    EXPECT_EQ(std::u16string(p->m_AdLink), u"https://example.invalid/");
    EXPECT_EQ(p->m_pMediaInfo, m->m_hSelf);
    EXPECT_EQ(CurrentProjectMedia(), m);
    EXPECT_EQ(p->m_ClipStart, 0);
    EXPECT_EQ(p->m_Orientation, 0);
    EXPECT_EQ(p->m_Templete, 0);
    EXPECT_EQ(platform::ToUtf8(p->m_szPosterImage),
              platform::ToUtf8(MediaSideFile(*m, u"bmp")));

    // A helper sees the same bytes through the handle.
    platform::SharedBlock other;
    ASSERT_EQ(platform::MapSharedBlock(dup(p->m_hSelf), sizeof(Project), &other), 0);
    EXPECT_EQ(std::memcmp(other.view, p, sizeof(Project)), 0);
    platform::CloseSharedBlock(&other);
}

TEST(Project, WatermarkPlacement) {
    struct Case {
        int h, v, left, top;
    } cases[] = {{kAlignEnd, kAlignEnd, 540, 430},
                 {kAlignCenter, kAlignCenter, 270, 215},
                 {kAlignStart, kAlignStart, 0, 0},
                 {kAlignNone, 3, 0, 0}}; // 3 is no alignment
    for (auto c : cases) {
        Settings& s = Defaults();
        s.m_SizeIndex = 1;
        s.m_WatermarkImageWidth = 100;
        s.m_WatermarkImageHeight = 50;
        s.m_WatermarkHPosition = c.h;
        s.m_WatermarkVPosition = c.v;
        Project* p = CreateProject(Media(1280, 720), 0, 0);
        EXPECT_EQ(p->m_WatermarkLeft, c.left) << c.h;
        EXPECT_EQ(p->m_WatermarkTop, c.top) << c.v;
        EXPECT_EQ(p->m_WatermarkWidth, 100);
        EXPECT_EQ(p->m_WatermarkHPosition, kAlignNone);
        EXPECT_EQ(p->m_WatermarkVPosition, kAlignNone);
    }
    Settings& s = Defaults();
    s.m_SizeIndex = 1;
    s.m_WatermarkImageWidth = 700;
    s.m_WatermarkHPosition = kAlignCenter;
    EXPECT_EQ(CreateProject(Media(1280, 720), 0, 0)->m_WatermarkLeft, -30);
}

TEST(Project, AdvertisementFitsTheOutput) {
    struct Case {
        int w, h, aw, ah;
    } cases[] = {{800, 600, 640, 480}, {1000, 300, 640, 192}, {320, 100, 320, 100}, {300, 960, 150, 480}};
    for (auto c : cases) {
        Settings& s = Defaults();
        s.m_SizeIndex = 1;
        s.m_AdImageWidth = c.w;
        s.m_AdImageHeight = c.h;
        Project* p = CreateProject(Media(1280, 720), 0, 0);
        EXPECT_EQ(p->m_AdWidth, c.aw) << c.w << "x" << c.h;
        EXPECT_EQ(p->m_AdHeight, c.ah) << c.w << "x" << c.h;
    }
}

TEST(Project, FourTurnsOrTwoFlipsReturnToTheStart) {
    Defaults();
    Project* p = CreateProject(Media(1920, 1080), 0, 0);
    p->m_CropLeft = 100;
    p->m_CropTop = 50;
    p->m_CropWidth = 800;
    p->m_CropHeight = 600;
    Project start = *p;
    for (OrientationOp op : {kRotateLeft, kRotateRight, kFlipHorizontal, kFlipVertical}) {
        const int times = IsRotation(op) ? 4 : 2;
        for (int i = 0; i < times; ++i) RotateFlip(op);
        EXPECT_EQ(std::memcmp(p, &start, sizeof start), 0) << op;
    }
    // Every sequence of operations stays within the eight states and agrees
    // with the width/height exchange of odd states.
    for (OrientationOp op : {kRotateLeft, kFlipHorizontal, kRotateRight, kFlipVertical, kRotateLeft,
                             kRotateLeft, kFlipVertical}) {
        RotateFlip(op);
        ASSERT_GE(p->m_Orientation, 0);
        ASSERT_LE(p->m_Orientation, 7);
        EXPECT_EQ(p->m_VideoWidth, p->m_Orientation & 1 ? 1080 : 1920);
    }
}

TEST(Project, RotateLeftMapsTheCrop) {
    Defaults();
    Project* p = CreateProject(Media(1920, 1080), 0, 0);
    p->m_CropLeft = 100;
    p->m_CropTop = 50;
    p->m_CropWidth = 800;
    p->m_CropHeight = 600;
    RotateFlip(kRotateLeft);
    EXPECT_EQ(p->m_CropLeft, 50);
    EXPECT_EQ(p->m_CropTop, 1020);
    EXPECT_EQ(p->m_CropWidth, 600);
    EXPECT_EQ(p->m_CropHeight, 800);
    EXPECT_EQ(p->m_VideoWidth, 1080);
    EXPECT_EQ(p->m_VideoHeight, 1920);
    EXPECT_EQ(p->m_OutputWidth, 1080);
    EXPECT_EQ(p->m_OutputHeight, 1920);
    EXPECT_EQ(p->m_Orientation, kOrientTurnedLeft);
}

// "Original" is the whole turned picture, within the same bound as a crop:
// the output size is exchanged with the picture's, never cut to a spin's
// range.
TEST(Project, ATurnKeepsOriginalWhole) {
    Defaults();
    Project* p = CreateProject(Media(2560, 1440), 0, 0);
    RotateFlip(kRotateRight);
    EXPECT_EQ(p->m_OutputWidth, 1440);
    EXPECT_EQ(p->m_OutputHeight, 2560);
    RotateFlip(kRotateLeft);
    EXPECT_EQ(p->m_OutputWidth, 2560);
    EXPECT_EQ(p->m_OutputHeight, 1440);
}

// A new project's page template is the user's default, as long as the
// catalogue still holds it; else the first.
TEST(Project, StartsFromTheDefaultTemplate) {
    const std::string dir = std::string(getenv("HOME")) + "/program";
    std::filesystem::create_directories(dir + "/Templates");
    {
        // UTF-16LE with a byte-order mark: "Clean", "Card", "Minimal".
        std::ofstream list(dir + "/Templates/Templates.lst", std::ios::binary);
        list.write("\xFF\xFE", 2);
        for (char c : std::string("Clean\nCard\nMinimal\n"))
            list.put(c).put('\0');
    }
    platform::WStrCopy(g_szModulePath, platform::FromUtf8(dir));
    LoadTemplateList(u"Templates.lst");
    ASSERT_EQ(GetTemplateCount(), 3);
    for (auto [chosen, expected] : {std::pair{1, 1}, {2, 2}, {0, 0}, {3, 0}, {-1, 0}}) {
        Settings& s = Defaults();
        s.m_Templete = chosen;
        EXPECT_EQ(CreateProject(Media(640, 360), 0, 0)->m_Templete, expected) << chosen;
    }
}

TEST(Project, UnknownOperationIsLoggedAndIgnored) {
    InitDiagnostics();
    Defaults();
    Project* p = CreateProject(Media(640, 480), 0, 0);
    Project before = *p;
    RotateFlip(12);
    EXPECT_EQ(std::memcmp(p, &before, sizeof before), 0);
    std::ifstream in(std::string(getenv("HOME")) + "/Documents/Log Files/reelpage.log");
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find(" *** Error RotateFlip=12\n"), std::string::npos);
}

TEST(Project, ANewProjectReleasesThePreviousBlock) {
    Defaults();
    Project* first = CreateProject(Media(640, 480), 0, 0);
    int handle = first->m_hSelf;
    ASSERT_GT(handle, 2);
    Project* second = CreateProject(Media(320, 240), 0, 0);
    EXPECT_EQ(second->m_OutputWidth, 320);
    EXPECT_EQ(CurrentProject(), second);
    // The old handle is closed unless the new block reused its number.
    if (second->m_hSelf != handle) {
        EXPECT_EQ(fcntl(handle, F_GETFD), -1);
    }
}

TEST(Project, SnapshotPosterPath) {
    InitFolders();
    Defaults();
    MediaInfo* m = Media(640, 480);
    Project* p = CreateProject(m, 0, 0);
    SnapshotPoster(1);
    std::string path = platform::ToUtf8(p->m_szPosterImage);
    std::string folder = platform::ToUtf8(PosterFolder());
    ASSERT_EQ(path.substr(0, folder.size() + 2), folder + "/{");
    EXPECT_EQ(path.size(), folder.size() + 1 + 38 + 4);
    EXPECT_EQ(path.substr(path.size() - 5), "}.bmp");
}
