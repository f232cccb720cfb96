#include "picture_fixtures.h"

#include <set>

namespace picture_test {
namespace {

TEST(EncoderTable, HasOneDistinctNonZeroIdPerMimeTypeInOrder) {
    auto encoders = ImageEncoders();
    ASSERT_EQ(encoders.size(), 5u);
    const char* expected[] = {"image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png"};
    std::set<std::string> ids;
    for (size_t i = 0; i < encoders.size(); ++i) {
        EXPECT_STREQ(encoders[i].mimeType, expected[i]);
        EXPECT_FALSE(encoders[i].id.IsZero());
        ids.insert(std::string(reinterpret_cast<const char*>(encoders[i].id.bytes), 16));
        EXPECT_STREQ(MimeTypeOfEncoder(encoders[i].id), expected[i]);
    }
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(MimeTypeOfEncoder(EncoderId{}), nullptr);
}

TEST(EncoderTable, MimeTypeLookupIgnoresCaseAndLeavesOutAloneOnMiss) {
    EncoderId png = ImageEncoders()[4].id;
    EncoderId id;
    EXPECT_TRUE(FindEncoderByMimeType("IMAGE/Png", id));
    EXPECT_EQ(id, png);

    EncoderId untouched;
    untouched.bytes[0] = 0x5A;
    EncoderId out = untouched;
    EXPECT_FALSE(FindEncoderByMimeType("image/jpg", out));
    EXPECT_FALSE(FindEncoderByMimeType("image/png ", out));
    EXPECT_FALSE(FindEncoderByMimeType("", out));
    EXPECT_EQ(out, untouched);
}

TEST(EncoderTable, ExtensionRule) {
    struct Case {
        const char* path;
        const char* mime; // nullptr: no match, out unchanged
    } cases[] = {
        {"/p/poster.png", "image/png"},
        {"shot.JPG", "image/jpeg"},
        {"shot.Jpeg", "image/jpeg"},
        {"shot.jpe", nullptr},
        {"scan.tif", "image/tiff"},
        {"scan.TIFF", "image/tiff"},
        {"a.bmp", "image/bmp"},
        {"anim.gif", "image/gif"},
        {"a.b/c", nullptr},              // the dot is in a folder name
        {"/x/archive.png.txt", nullptr}, // only the last extension counts
        {"/x/archive.txt.png", "image/png"},
        {"/x/.png", "image/png"},
        {"name.", nullptr},
        {"", nullptr},
        {"png", nullptr},
    };
    for (const Case& c : cases) {
        EncoderId marker;
        marker.bytes[15] = 0xA5;
        EncoderId out = marker;
        bool found = FindEncoderByPath(c.path, out);
        if (c.mime) {
            EXPECT_TRUE(found) << c.path;
            EXPECT_STREQ(MimeTypeOfEncoder(out), c.mime) << c.path;
        } else {
            EXPECT_FALSE(found) << c.path;
            EXPECT_EQ(out, marker) << c.path;
        }
    }
}

} // namespace
} // namespace picture_test
