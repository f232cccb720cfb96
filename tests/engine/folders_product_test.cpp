// The installation check, the per-user folders, and the product information.
#include "system/Exports.h"
#include "system/Folders.h"
#include "InstallManifest.h"
#include "picture/encoders.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

#include "platform/wstr.h"

using namespace reelpage;
namespace fs = std::filesystem;

namespace {

std::string MakeFolder(const std::string& name) {
    std::string dir = std::string(getenv("HOME")) + "/" + name;
    fs::create_directories(dir);
    return dir;
}

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(InstallCheck, FailsForAMissingOrAlteredFile) {
    std::string dir = MakeFolder("install");
    WriteText(dir + "/dec", "helper program");
    WriteText(dir + "/Templates/Basic/index.html", "<p>page</p>");
    WriteText(dir + "/Templates/Basic/my style.css", "p{}");
    ASSERT_EQ(manifest::Write(dir), 0);
    SetInstallFolderForTesting(dir);

    EXPECT_EQ(InitFolders(), 0);
    EXPECT_EQ(platform::ToUtf8(g_szModulePath), dir);
    std::string poster = std::string(getenv("XDG_DATA_HOME")) + "/Zelmorix/Reelpage/Poster";
    EXPECT_TRUE(fs::is_directory(poster));
    EXPECT_EQ(platform::ToUtf8(PosterFolder()), poster);
    // The folders exist now; a second run creates nothing and checks again.
    EXPECT_EQ(InitFolders(), 0);

    WriteText(dir + "/Templates/Basic/index.html", "<p>PAGE</p>"); // same size, other bytes
    EXPECT_NE(InitFolders(), 0);
    WriteText(dir + "/Templates/Basic/index.html", "<p>page</p>");
    EXPECT_EQ(InitFolders(), 0);
    fs::remove(dir + "/Templates/Basic/my style.css");
    EXPECT_NE(InitFolders(), 0);
    fs::remove(dir + "/reelpage.dat");
    EXPECT_NE(InitFolders(), 0);
}

TEST(InstallCheck, FilesCheckedOnceAreNotReadAgainUntilTheyChange) {
    std::string dir = MakeFolder("install");
    WriteText(dir + "/dec", "helper program");
    WriteText(dir + "/Templates/Basic/index.html", "<p>page</p>");
    ASSERT_EQ(manifest::Write(dir), 0);
    SetInstallFolderForTesting(dir);
    // Files are remembered only once they have been still for two seconds.
    EXPECT_EQ(InitFolders(), 0);
    const std::string cache = std::string(getenv("XDG_CACHE_HOME")) + "/reelpage/install-check";
    EXPECT_FALSE(fs::exists(cache));
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(InitFolders(), 0);
    std::ifstream in(cache);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find(dir + "/dec\t"), std::string::npos) << text;
    EXPECT_NE(text.find(dir + "/Templates/Basic/index.html\t"), std::string::npos) << text;
    // A remembered file that changes, even to the same size, is read again.
    WriteText(dir + "/Templates/Basic/index.html", "<p>PAGE</p>");
    EXPECT_NE(InitFolders(), 0);
    WriteText(dir + "/Templates/Basic/index.html", "<p>page</p>");
    EXPECT_EQ(InitFolders(), 0);
}

TEST(InstallCheck, TheBuiltProgramFolderPasses) {
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    EXPECT_EQ(InitFolders(), 0);
}

TEST(Folders, PosterFolderOnAFreshAccount) {
    const std::string data = std::string(getenv("HOME")) + "/fresh/share";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    InitFolders();
    EXPECT_TRUE(fs::is_directory(data + "/Zelmorix/Reelpage/Poster"));
    EXPECT_EQ(platform::ToUtf8(PosterFolder()), data + "/Zelmorix/Reelpage/Poster");
}

TEST(Folders, PicturesFolderIsCreated) {
    WCHAR out[kMaxPath];
    std::fill(std::begin(out), std::end(out), u'#');
    ASSERT_EQ(Bind<FnGetPicturesFolder>(kGetPicturesFolder)(out), S_OK);
    std::string path = platform::ToUtf8(out);
    EXPECT_EQ(path, std::string(getenv("HOME")) + "/Pictures");
    EXPECT_TRUE(fs::is_directory(path));
}

TEST(ProductInfo, MissingFileLeavesTheRecordAlone) {
    SetInstallFolderForTesting(MakeFolder("no-product"));
    ProductInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(Bind<FnLoadProductInfo>(kLoadProductInfo)(&info), 0);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;
}

TEST(ProductInfo, BuildToolRoundTrip) {
    std::string dir = MakeFolder("product");
    // Texts of every length around the 8-byte word size, and an empty one.
    WriteText(dir + "/product.txt",
              "# comment\nguid = {0123abcd-4567-89AB-cdef-0123456789AB}\nkey = k\ntitle = Title 1\n"
              "homepage = https://example.invalid/home\ncompany = Seven77\nemail = e@x.example\n"
              "description = Ünïcødé text\ncopyright = (C) 12345678\nversion = 1.2.3.4\n"
              "updatepage =\n");
    std::string cmd = std::string(REELPAGE_BINARY_DIR) + "/tools/mkproduct '" + dir +
                      "/product.txt' '" + dir + "/product.ifo'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    SetInstallFolderForTesting(dir);
    ProductInfo info{};
    ASSERT_EQ(LoadProductInfo(&info), 1);
    EXPECT_EQ(info.m_Product.Data1, 0x0123ABCDu);
    EXPECT_EQ(info.m_Product.Data2, 0x4567);
    EXPECT_EQ(info.m_Product.Data3, 0x89AB);
    EXPECT_EQ(info.m_Product.Data4[0], 0xCD);
    EXPECT_EQ(info.m_Product.Data4[7], 0xAB);
    const char16_t* expect[9] = {u"k",           u"Title 1",      u"https://example.invalid/home",
                                 u"Seven77",     u"e@x.example",  u"Ünïcødé text",
                                 u"(C) 12345678", u"1.2.3.4",     u""};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(std::u16string(info.m_Texts[i]), expect[i]) << i;

    // A malformed source is refused by the tool, not shipped.
    WriteText(dir + "/bad.txt", "guid = {0123abcd-4567-89AB-cdef-0123456789AB}\ntitle = x\n");
    cmd = std::string(REELPAGE_BINARY_DIR) + "/tools/mkproduct '" + dir + "/bad.txt' '" + dir +
          "/bad.ifo' 2>/dev/null";
    EXPECT_NE(std::system(cmd.c_str()), 0);
}

TEST(ProductInfo, ShippedFileNamesTheProduct) {
    SetInstallFolderForTesting(REELPAGE_PROGRAM_DIR);
    ProductInfo info{};
    ASSERT_EQ(LoadProductInfo(&info), 1);
    EXPECT_EQ(std::u16string(info.m_Texts[1]), u"Zelmorix Reelpage");
    // No update service exists: the update page stays empty.
    EXPECT_EQ(std::u16string(info.m_Texts[8]), u"");
}

TEST(ImageEncoder, ExtensionChoosesTheEncoder) {
    auto get = Bind<FnGetImageEncoder>(kGetImageEncoder);
    picture::EncoderId jpeg, png;
    ASSERT_TRUE(picture::FindEncoderByMimeType("image/jpeg", jpeg));
    ASSERT_TRUE(picture::FindEncoderByMimeType("image/png", png));
    GUID out{};
    get(u"/pics/Holiday.JPG", &out);
    EXPECT_EQ(std::memcmp(&out, &jpeg, 16), 0);
    get(u"/pics/a.png", &out);
    EXPECT_EQ(std::memcmp(&out, &png, 16), 0);
    // An extension outside the table leaves the caller's value alone.
    get(u"/pics/a.jpe", &out);
    EXPECT_EQ(std::memcmp(&out, &png, 16), 0);
}
