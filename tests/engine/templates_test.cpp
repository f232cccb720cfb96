// The template catalogue and the page generator.
#include "system/Exports.h"
#include "system/Folders.h"
#include "media/History.h"
#include "publishing/PageGenerator.h"
#include "publishing/SourceTypes.h"
#include "records/Project.h"
#include "records/Settings.h"
#include "publishing/Templates.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

#include "small_disk.h"

#include "picture/encoders.h"
#include "picture/load.h"
#include "platform/wstr.h"
#include "media_fixtures.h"

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

std::string Home() {
    return getenv("HOME");
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// UTF-16LE with a byte-order mark, as the engine reads templates and lists.
std::string Utf16File(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

// A program folder of our own with the given list files.
std::string ProgramFolder(const std::u16string& list, const std::u16string& listEx) {
    std::string dir = Home() + "/program";
    WriteBytes(dir + "/Templates/Templates.lst", Utf16File(list));
    if (!listEx.empty()) WriteBytes(dir + "/Templates/TemplatesEx.lst", Utf16File(listEx));
    platform::WStrCopy(g_szModulePath, platform::FromUtf8(dir));
    return dir;
}

std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    for (int i = 0; i < GetTemplateCount(); ++i)
        names.push_back(GetTemplate(i)->szName);
    return names;
}

} // namespace

TEST(Catalogue, ListFileRules) {
    std::string dir = ProgramFolder(u"Basic\r\n\r\nDark\r\nBlue\rX\n Spaced \nLast", u"Ex1\nEx2\n");
    fs::create_directories(dir + "/Templates/Dark/ad"); // empty, still counts
    LoadTemplateList(u"Templates.lst");
    LoadTemplateList(u"TemplatesEx.lst");
    LoadTemplateList(u"Missing.lst");
    std::vector<std::u16string> expect = {u"Basic", u"Dark", u"Blue", u" Spaced ",
                                          u"Last",  u"Ex1",  u"Ex2"};
    EXPECT_EQ(Names(), expect);
    EXPECT_EQ(GetTemplate(0)->bHasAd, 0);
    EXPECT_NE(GetTemplate(1)->bHasAd, 0);
    EXPECT_EQ(platform::ToUtf8(GetTemplate(1)->szPreview), dir + "/Templates/Resource/Dark.png");
    EXPECT_EQ(GetTemplate(7), nullptr);
}

TEST(Catalogue, LongNamesAreCutButUsedWhole) {
    std::u16string longName(130, u'n');
    std::string dir = ProgramFolder(longName, u"");
    fs::create_directories(dir + "/Templates/" + std::string(130, 'n') + "/ad");
    LoadTemplateList(u"Templates.lst");
    ASSERT_EQ(GetTemplateCount(), 1);
    EXPECT_EQ(platform::WStrLen(GetTemplate(0)->szName), 127u);
    EXPECT_NE(GetTemplate(0)->bHasAd, 0);
    EXPECT_EQ(platform::ToUtf8(GetTemplate(0)->szPreview),
              dir + "/Templates/Resource/" + std::string(130, 'n') + ".png");
}

TEST(Catalogue, InitEngineReadsTheShippedLists) {
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    ASSERT_EQ(InitFolders(), 0);
    ASSERT_EQ(InitEngine(), 0);
    ASSERT_GE(Bind<FnGetTemplateCount>(kGetTemplateCount)(), 4);
    int withAd = 0;
    for (int i = 0; i < GetTemplateCount(); ++i) {
        TemplateEntry* e = Bind<FnGetTemplate>(kGetTemplate)(i);
        EXPECT_TRUE(fs::exists(platform::ToUtf8(e->szPreview))) << platform::ToUtf8(e->szName);
        withAd += e->bHasAd != 0;
    }
    EXPECT_GE(withAd, 2);
}

class Page : public ::testing::Test {
protected:
    Project p{};
    MediaInfo m{};
    std::u16string Expand(const std::u16string& text, const std::u16string* ad = nullptr,
                          uint32_t tick = 42) {
        std::u16string out;
        EXPECT_TRUE(ExpandPage(text, ad, PageValues{&p, &m, tick}, &out));
        return out;
    }
    void SetUp() override {
        p.m_OutputWidth = 640;
        p.m_OutputHeight = 480;
        p.m_Controls = 1;
        p.m_Autoplay = 1;
        p.m_Formats[0] = p.m_Formats[2] = 1;
        platform::WStrCopy(m.m_szName, u"Clip");
        m.m_bAudioStream = 1;
    }
};

TEST_F(Page, DataSetupAndSources) {
    EXPECT_EQ(Expand(u"{$data-setup}"),
              u"{\"width\":640, \"height\":480, \"preload\":\"auto\", \"poster\":\"poster.png\", "
              u"\"preload\":\"auto\", \"controls\": true, \"autoplay\": true }");
    // A video without sound says so: the player starts it muted.
    m.m_bAudioStream = 0;
    EXPECT_EQ(Expand(u"{$data-setup}"),
              u"{\"width\":640, \"height\":480, \"preload\":\"auto\", \"poster\":\"poster.png\", "
              u"\"preload\":\"auto\", \"controls\": true, \"autoplay\": true , \"sound\": false}");
    EXPECT_EQ(Expand(u"{$source}"), u"<source src=\"video.webm\" type='video/webm' />"
                                    u"<source src=\"video.ogv\" type='video/ogg' />");
    p.m_Loop = 1;
    p.m_Controls = 0;
    EXPECT_EQ(Expand(u"[{$controls}|{$loop}|{$autoplay}|{$loop_code}]"),
              u"[|loop=\"loop\"|autoplay=\"autoplay\"|loop=\"loop\" "
              u"onended=\"var v=this;setTimeout(function(){v.play()},300)\"]");
}

TEST_F(Page, AnAdvertisementShownTurnsAutoplayOff) {
    platform::WStrCopy(p.m_AdFile, u"/pics/ad.png");
    const std::u16string adBlock = u"<img>";
    std::u16string page = Expand(u"{$autoplay}{$data-setup}{$advertisement}", &adBlock);
    EXPECT_EQ(page.find(u"autoplay"), std::u16string::npos);
    EXPECT_NE(page.find(u"<img>"), std::u16string::npos);

    // The picture stays in the project when a template without an
    // advertisement is chosen: nothing covers the player, autoplay stays.
    page = Expand(u"{$autoplay}|{$data-setup}|{$advertisement}");
    EXPECT_EQ(page.find(u"autoplay=\"autoplay\"|"), 0u) << platform::ToUtf8(page);
    EXPECT_NE(page.find(u"\"autoplay\": true"), std::u16string::npos);
    EXPECT_EQ(page.find(u"{$advertisement}"), std::u16string::npos);

    p.m_AdWidth = 320;
    p.m_AdHeight = 240;
    platform::WStrCopy(p.m_AdLink, u"https://example.invalid/?a=1&b=\"x\"");
    std::u16string ad =
        u"<a href=\"{$LINK}\"><img width=\"{$width}\" height=\"{$height}\" alt=\"\"></a>{$x}";
    EXPECT_EQ(
        Expand(u"<div>{$advertisement}</div>", &ad),
        u"<div><a href=\"https://example.invalid/?a=1&amp;b=&quot;x&quot;\"><img width=\"320\" "
        u"height=\"240\" alt=\"\"></a>{$x}</div>");
}

TEST_F(Page, PlaceholdersIgnoreCaseAndUnknownOnesStay) {
    platform::WStrCopy(m.m_szName, u"Tom & Jerry <live>");
    EXPECT_EQ(Expand(u"<h1>{$TITLE}</h1>{$unknown}{ {$Width}x{$HEIGHT}{"),
              u"<h1>Tom &amp; Jerry &lt;live&gt;</h1>{$unknown}{ 640x480{");
    EXPECT_EQ(Expand(u"{$id} {$ID}", nullptr, 77),
              u"zelmorix_video_to_html5_77 zelmorix_video_to_html5_77");
}

TEST_F(Page, PagesBeyondTheBufferAreRefused) {
    std::u16string out;
    EXPECT_TRUE(ExpandPage(std::u16string(65535, u'a'), nullptr, PageValues{&p, &m, 1}, &out));
    EXPECT_FALSE(ExpandPage(std::u16string(65536, u'a'), nullptr, PageValues{&p, &m, 1}, &out));
    // A short template whose replacements overflow is refused too.
    std::u16string many;
    for (int i = 0; i < 800; ++i)
        many += u"{$source}";
    EXPECT_FALSE(ExpandPage(many, nullptr, PageValues{&p, &m, 1}, &out));
}

TEST(Clean, KeepsExactlyTheKeepList) {
    std::string folder = Home() + "/out/My Video";
    for (const char* f : {"video.mp4", "VIDEO.WEBM", "old.txt", "index.html", "ad/logo.png",
                          "ad/ad.css", "sub/video.ogv", ".hidden/x"})
        WriteBytes(folder + "/" + f, "x");
    const char16_t* keep[] = {u"video.webm", u"video.mp4", u"video.ogv", u"poster.png"};
    CleanFolder(folder, keep, 4);
    std::set<std::string> left;
    for (auto& e : fs::recursive_directory_iterator(folder))
        left.insert(fs::relative(e.path(), folder).string());
    EXPECT_EQ(left, (std::set<std::string>{"video.mp4", "VIDEO.WEBM", "sub", "sub/video.ogv",
                                           ".hidden", ".hidden/x"}));

    // A path of fewer than 10 characters is never cleaned.
    fs::create_directories("/tmp/rp-c");
    WriteBytes("/tmp/rp-c/a.txt", "x");
    CleanFolder("/tmp/rp-c", keep, 4);
    EXPECT_TRUE(fs::exists("/tmp/rp-c/a.txt"));
    fs::remove_all("/tmp/rp-c");
}

TEST(Generate, BuildsThePackageInAFolder) {
    std::string dir = ProgramFolder(u"Card\n", u"");
    std::string t = dir + "/Templates/Card";
    WriteBytes(t + "/index.html", Utf16File(u"<!DOCTYPE html><title>{$title}</title>"
                                            u"<video id=\"{$id}\" {$controls}>{$source}</video>"
                                            u"{$advertisement}<p>\u00e9t\u00e9 {$ID}</p>"));
    WriteBytes(t + "/style.css", "body{}");
    WriteBytes(t + "/sub/ignored.txt", "x");
    WriteBytes(t + "/ad/ad.html",
               Utf16File(u"<a href=\"{$link}\"><img src=\"ad/logo.png\" "
                         u"width=\"{$width}\" height=\"{$height}\" alt=\"Ad\"></a>"));
    WriteBytes(t + "/ad/ad.css", ".ad{}");
    LoadTemplateList(u"Templates.lst");
    ASSERT_EQ(GetTemplateCount(), 1);

    // Pictures for the poster and the advertisement.
    picture::Bitmap pic;
    ASSERT_EQ(pic.Create(40, 30), picture::Error::None);
    pic.View().Fill({0, 0, 255, 255});
    picture::EncoderId bmp, png;
    ASSERT_TRUE(picture::FindEncoderByMimeType("image/bmp", bmp));
    ASSERT_TRUE(picture::FindEncoderByMimeType("image/png", png));
    ASSERT_EQ(picture::SavePicture(pic, Home() + "/poster.bmp", bmp), picture::Error::None);
    ASSERT_EQ(picture::SavePicture(pic, Home() + "/ad.png", png), picture::Error::None);

    std::string out = Home() + "/out/Clip";
    for (const char* f : {"video.mp4", "old.txt", "ad/stale.png", "index.html"})
        WriteBytes(out + "/" + f, "old");
    Project p{};
    MediaInfo m{};
    platform::WStrCopy(m.m_szName, u"Tom & Jerry");
    p.m_Formats[1] = 1;
    p.m_Controls = 1;
    p.m_OutputWidth = 64;
    p.m_OutputHeight = 48;
    platform::WStrCopy(p.m_szPosterImage, platform::FromUtf8(Home() + "/poster.bmp"));
    platform::WStrCopy(p.m_AdFile, platform::FromUtf8(Home() + "/ad.png"));
    platform::WStrCopy(p.m_AdLink, u"https://example.invalid/a?b=1&c=2");
    p.m_AdWidth = 20;
    p.m_AdHeight = 15;

    ASSERT_TRUE(GeneratePage(platform::FromUtf8(out).c_str(), p, &m));
    std::set<std::string> left;
    for (auto& e : fs::recursive_directory_iterator(out))
        left.insert(fs::relative(e.path(), out).string());
    EXPECT_EQ(left, (std::set<std::string>{"video.mp4", "index.html", "style.css", "poster.png",
                                           "ad", "ad/ad.css", "ad/logo.png"}));
    std::string page = testing_media::ReadText(out + "/index.html");
    std::regex shape(
        "<!DOCTYPE html><title>Tom &amp; Jerry</title><video id=\"zelmorix_video_to_html5_(\\d+)\" "
        "controls=\"controls\"><source src=\"video.mp4\" type='video/mp4' /></video>"
        "<a href=\"https://example.invalid/a\\?b=1&amp;c=2\"><img src=\"ad/logo.png\" width=\"20\" "
        "height=\"15\" alt=\"Ad\"></a><p>\xC3\xA9t\xC3\xA9 zelmorix_video_to_html5_(\\d+)</p>");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(page, match, shape)) << page;
    EXPECT_EQ(match[1], match[2]);
    picture::Bitmap poster, logo;
    ASSERT_EQ(picture::LoadPicture(out + "/poster.png", poster), picture::Error::None);
    EXPECT_EQ(poster.Width(), 64);
    EXPECT_EQ(poster.Height(), 48);
    EXPECT_EQ(poster.Pixel(10, 10), (picture::Bgra{0, 0, 255, 255}));
    ASSERT_EQ(picture::LoadPicture(out + "/ad/logo.png", logo), picture::Error::None);
    EXPECT_EQ(logo.Width(), 20);

    // Without an advertisement the ad folder goes; the poster made once stays.
    p.m_AdFile[0] = 0;
    fs::remove(Home() + "/poster.bmp");
    ASSERT_TRUE(GeneratePage(platform::FromUtf8(out).c_str(), p, &m));
    EXPECT_FALSE(fs::exists(out + "/ad"));
    EXPECT_TRUE(fs::exists(out + "/poster.png"));

    // A template whose page cannot fit is refused and the old page stays.
    std::string before = testing_media::ReadText(out + "/index.html");
    std::u16string huge = u"<p>";
    for (int i = 0; i < 2000; ++i)
        huge += u"{$source}";
    WriteBytes(t + "/index.html", Utf16File(huge));
    EXPECT_FALSE(GeneratePage(platform::FromUtf8(out).c_str(), p, &m));
    EXPECT_EQ(testing_media::ReadText(out + "/index.html"), before);
    EXPECT_TRUE(fs::exists(out + "/style.css"));
}

// A disk that fills while the page is published: the publish fails, says
// which file it could not write, and leaves the folder as it was (the
// previous page whole, or nothing of its own).
TEST(Generate, AFullDiskNeverLeavesABrokenPage) {
    std::string dir = ProgramFolder(u"Card\n", u"");
    std::string t = dir + "/Templates/Card";
    WriteBytes(t + "/index.html", Utf16File(u"<!DOCTYPE html><title>{$title}</title>{$source}"));
    WriteBytes(t + "/player.js", std::string(20000, ';'));
    LoadTemplateList(u"Templates.lst");
    ASSERT_EQ(GetTemplateCount(), 1);
    picture::Bitmap pic;
    ASSERT_EQ(pic.Create(40, 30), picture::Error::None);
    pic.View().Fill({0, 0, 255, 255});
    picture::EncoderId bmp;
    ASSERT_TRUE(picture::FindEncoderByMimeType("image/bmp", bmp));
    ASSERT_EQ(picture::SavePicture(pic, Home() + "/poster.bmp", bmp), picture::Error::None);
    InitDiagnostics();
    auto log = [] { return testing_media::ReadText(Home() + "/Documents/Log Files/reelpage.log"); };
    auto files = [](const std::string& folder) {
        std::set<std::string> names;
        for (auto& e : fs::recursive_directory_iterator(folder))
            names.insert(
                fs::relative(e.path(), folder).string() + ":" +
                std::to_string(std::hash<std::string>()(
                    e.is_regular_file() ? testing_media::ReadText(e.path().string()) : "")));
        return names;
    };

    testing_disk::SmallDisk disk(Home() + "/disk", 1 << 20);
    if (!disk.Mounted()) GTEST_SKIP() << "no permission to mount a small disk";
    Project p{};
    MediaInfo m{};
    platform::WStrCopy(m.m_szName, u"First");
    p.m_Formats[1] = 1;
    p.m_OutputWidth = 64;
    p.m_OutputHeight = 48;
    platform::WStrCopy(p.m_szPosterImage, platform::FromUtf8(Home() + "/poster.bmp"));

    // A page published before the disk filled stays as it was.
    const std::string out = disk.Folder() + "/Clip";
    WriteBytes(out + "/video.mp4", "video");
    ASSERT_TRUE(GeneratePage(platform::FromUtf8(out).c_str(), p, &m));
    const std::set<std::string> before = files(out);
    disk.Fill();
    platform::WStrCopy(m.m_szName, u"Second");
    EXPECT_FALSE(GeneratePage(platform::FromUtf8(out).c_str(), p, &m));
    EXPECT_EQ(files(out), before);
    EXPECT_NE(log().find("to write " + out + "/player.js"), std::string::npos) << log();

    // A first publish whose poster does not fit: nothing of it is left, and
    // the log names the poster.
    disk.Unfill();
    const std::string fresh = disk.Folder() + "/Fresh";
    WriteBytes(fresh + "/video.mp4", "video");
    const std::set<std::string> videoOnly = files(fresh);
    disk.Fill(20480); // the template's player.js fits, the poster does not
    EXPECT_FALSE(GeneratePage(platform::FromUtf8(fresh).c_str(), p, &m));
    EXPECT_EQ(files(fresh), videoOnly);
    EXPECT_NE(log().find("to write " + fresh + "/poster.png"), std::string::npos) << log();
}

// The codec names browsers match, from the records and frame headers the
// files carry.
TEST(SourceTypes, CodecNamesFromTheStreams) {
    // av1C: marker and version, then profile 0 / level 8 (4.0), main tier,
    // 8 bits; then profile 2 / level 13 (5.1), high tier, 12 bits.
    const uint8_t av1Main[] = {0x81, 0x08, 0x0c, 0x00};
    const uint8_t av1High[] = {0x81, 0x4d, 0xec, 0x00};
    EXPECT_EQ(Av1CodecName(av1Main, sizeof av1Main), "av01.0.08M.08");
    EXPECT_EQ(Av1CodecName(av1High, sizeof av1High), "av01.2.13H.12");
    EXPECT_EQ(Av1CodecName(av1Main, 3), "");
    const uint8_t notAv1c[] = {0x0a, 0x0b, 0x00, 0x00};
    EXPECT_EQ(Av1CodecName(notAv1c, sizeof notAv1c), "");

    // avcC: version 1, High profile, no constraints, level 3.1.
    const uint8_t avcc[] = {0x01, 0x64, 0x00, 0x1f, 0xff};
    EXPECT_EQ(AvcCodecName(avcc, sizeof avcc), "avc1.64001f");
    // AudioSpecificConfig: LC (2) at 44.1 kHz stereo; HE-AAC (5).
    const uint8_t aacLc[] = {0x12, 0x10}, aacHe[] = {0x2b, 0x92, 0x08, 0x00};
    EXPECT_EQ(AacCodecName(aacLc, sizeof aacLc), "mp4a.40.2");
    EXPECT_EQ(AacCodecName(aacHe, sizeof aacHe), "mp4a.40.5");

    // A VP9 key frame of profile 0: marker 10, profile bits 00, then
    // show_existing 0, key 0, show 1, error resilient 0, the sync code.
    const uint8_t vp9Key[] = {0x82, 0x49, 0x83, 0x42, 0x00};
    EXPECT_EQ(Vp9CodecName(vp9Key, sizeof vp9Key, 1280, 720, 30), "vp09.00.31.08");
    EXPECT_EQ(Vp9CodecName(vp9Key, sizeof vp9Key, 320, 180, 25), "vp09.00.11.08");
    EXPECT_EQ(Vp9CodecName(vp9Key, sizeof vp9Key, 1920, 1080, 60), "vp09.00.41.08");
    // Profile 2 (bits 0 then 1) with ten bits.
    const uint8_t vp9Ten[] = {0x92, 0x49, 0x83, 0x42, 0x00};
    EXPECT_EQ(Vp9CodecName(vp9Ten, sizeof vp9Ten, 640, 360, 30), "vp09.02.21.10");
    const uint8_t noSync[] = {0x82, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Vp9CodecName(noSync, sizeof noSync, 640, 360, 30), "");
}
