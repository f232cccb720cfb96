#include "platform/registry.h"
#include "platform/wstr.h"

#include "child.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::u16string kKey = u"SOFTWARE\\Zelmorix\\reelpage";

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) {
    return b;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 7);
    return v;
}

void WriteRaw(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A value file as the store writes it, for planting damaged variants.
std::vector<uint8_t> ValueFileBytes(uint32_t type, uint32_t declared,
                                    const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f = {'R', 'G', 'V', '1'};
    for (uint32_t v : {type, declared})
        for (int i = 0; i < 4; ++i)
            f.push_back(uint8_t(v >> (8 * i)));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> Query(const RegKey& key, std::u16string_view name, uint32_t* type, int* rc) {
    uint32_t size = 0;
    *rc = RegQueryValue(key, name, type, nullptr, &size);
    if (*rc != 0) return {};
    std::vector<uint8_t> data(size);
    *rc = RegQueryValue(key, name, type, data.data(), &size);
    data.resize(size);
    return data;
}

// Points the machine root elsewhere for one test and back afterwards, also
// when an assertion ends the test early.
struct MachineRootOverride {
    std::string saved = getenv("REELPAGE_MACHINE_REGISTRY");
    explicit MachineRootOverride(const std::string& path) {
        setenv("REELPAGE_MACHINE_REGISTRY", path.c_str(), 1);
    }
    ~MachineRootOverride() { setenv("REELPAGE_MACHINE_REGISTRY", saved.c_str(), 1); }
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Test cases may share one process (and its temporary home) when the
        // program is run by hand, so each starts from empty stores.
        std::error_code ec;
        fs::remove_all(RegRootFolder(RegRoot::CurrentUser), ec);
        std::string machine = RegRootFolder(RegRoot::LocalMachine);
        fs::remove_all(machine, ec);
        fs::create_directories(machine);
    }
};

TEST_F(RegistryTest, CreateOpenAndLayout) {
    RegKey key;
    EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key.IsOpen());

    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    EXPECT_TRUE(key.IsOpen());
    std::string expected =
        std::string(getenv("XDG_CONFIG_HOME")) + "/Zelmorix/registry/SOFTWARE/Zelmorix/reelpage";
    EXPECT_EQ(key.Folder(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    uint32_t dw = 7;
    ASSERT_EQ(RegSetValue(key, u"Settings", REG_DWORD, &dw, 4), 0);
    EXPECT_TRUE(fs::is_regular_file(expected + "/Settings"));

    // A second create opens the existing key with its values.
    RegKey again;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &again), 0);
    uint32_t type = 0, size = 4, out = 0;
    EXPECT_EQ(RegQueryValue(again, u"Settings", &type, &out, &size), 0);
    EXPECT_EQ(out, 7u);

    // The machine root is another store.
    EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kKey, &again), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(again.IsOpen());

    RegKey moved = std::move(key);
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(RegSetValue(key, u"x", REG_DWORD, &dw, 4), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, MalformedKeyPathsAreRejected) {
    RegKey key;
    for (std::u16string path : {u"\\SOFTWARE", u"SOFTWARE\\", u"SOFTWARE\\\\Zelmorix"}) {
        EXPECT_EQ(RegCreateKey(RegRoot::CurrentUser, path, &key), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(RegCreateKey(RegRoot::CurrentUser, std::u16string(300, u'k'), &key),
              ERROR_FILENAME_EXCED_RANGE);
    // Dots in key names never leave the root.
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, u"..\\..\\.", &key), 0);
    std::string root = RegRootFolder(RegRoot::CurrentUser);
    EXPECT_EQ(key.Folder(), root + "/%2E./%2E./%2E");
    EXPECT_TRUE(fs::is_directory(key.Folder()));
}

TEST_F(RegistryTest, EachTypeRoundTripsAndOverwrites) {
    std::u16string text = u"C:/Videos/clip \u00e9t\u00e9";
    const uint8_t* t = reinterpret_cast<const uint8_t*>(text.c_str());
    struct Case {
        const char16_t* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } cases[] = {
        {u"Sz", REG_SZ, std::vector<uint8_t>(t, t + (text.size() + 1) * 2)},
        {u"Settings", REG_BINARY, Pattern(3688, 1)},
        {u"Dword", REG_DWORD, Bytes({0x58, 0x22, 0, 0})},
        {u"LastTime", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 0x81})},
        {u"Empty", REG_BINARY, {}},
        {u"Other", 7, Bytes({'a', 0, 0})},
    };
    {
        RegKey key;
        ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
        for (auto& c : cases)
            ASSERT_EQ(RegSetValue(key, c.name, c.type, c.data.data(), uint32_t(c.data.size())), 0)
                << ToUtf8(c.name);
    }
    RegKey key;
    ASSERT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey, &key), 0);
    for (auto& c : cases) {
        uint32_t type = 99;
        int rc = -1;
        auto data = Query(key, c.name, &type, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.data);
    }

    // Overwriting replaces type and size, also with a shorter value.
    RegKey rw;
    ASSERT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey, &rw, RegAccess::ReadWrite), 0);
    uint32_t dw = 5;
    ASSERT_EQ(RegSetValue(rw, u"Settings", REG_DWORD, &dw, 4), 0);
    uint32_t type = 0;
    int rc = -1;
    EXPECT_EQ(Query(key, u"Settings", &type, &rc), Bytes({5, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegSetValue(rw, u"x", REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, QueryBufferRules) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    const auto value = Bytes({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_EQ(RegSetValue(key, u"LastTime", REG_QWORD, value.data(), 8), 0);
    ASSERT_EQ(RegSetValue(key, u"Empty", REG_BINARY, nullptr, 0), 0);

    struct Case {
        const char* what;
        const char16_t* name;
        bool withData;
        uint32_t cap; // buffer capacity offered (buffer is always 16 bytes)
        int rc;
        uint32_t type, size;
        size_t copied; // leading bytes of the buffer that must equal the value
    } cases[] = {
        {"null buffer asks the size", u"LastTime", false, 0, 0, REG_QWORD, 8, 0},
        {"too small", u"LastTime", true, 7, ERROR_MORE_DATA, REG_QWORD, 8, 0},
        {"zero capacity", u"LastTime", true, 0, ERROR_MORE_DATA, REG_QWORD, 8, 0},
        {"exact", u"LastTime", true, 8, 0, REG_QWORD, 8, 8},
        {"larger", u"LastTime", true, 16, 0, REG_QWORD, 8, 8},
        {"missing value", u"Nothing", true, 16, ERROR_FILE_NOT_FOUND, REG_NONE, 0, 0},
        {"missing, null buffer", u"Nothing", false, 0, ERROR_FILE_NOT_FOUND, REG_NONE, 0, 0},
        {"empty value", u"Empty", true, 0, 0, REG_BINARY, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t buf[16];
        std::memset(buf, 0xEE, sizeof buf);
        uint32_t type = 77, size = c.cap;
        EXPECT_EQ(RegQueryValue(key, c.name, &type, c.withData ? buf : nullptr, &size), c.rc);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(std::memcmp(buf, value.data(), c.copied), 0);
        // Nothing past the copied bytes is touched, nor anything on failure.
        for (size_t i = c.copied; i < sizeof buf; ++i)
            ASSERT_EQ(buf[i], 0xEE) << i;
    }
    // type and size may both be left out to ask whether a value exists.
    EXPECT_EQ(RegQueryValue(key, u"LastTime", nullptr, nullptr, nullptr), 0);
    uint8_t buf[8];
    uint32_t type = 77;
    EXPECT_EQ(RegQueryValue(key, u"LastTime", &type, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(type, REG_NONE);
}

TEST_F(RegistryTest, DeleteValueAndReadOnlyHandles) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    uint32_t dw = 1;
    ASSERT_EQ(RegSetValue(key, u"a", REG_DWORD, &dw, 4), 0);
    RegKey sub;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey + u"\\Update", &sub), 0);

    RegKey ro;
    ASSERT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey, &ro), 0);
    EXPECT_EQ(RegSetValue(ro, u"a", REG_DWORD, &dw, 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValue(ro, u"a"), ERROR_ACCESS_DENIED);

    EXPECT_EQ(RegDeleteValue(key, u"a"), 0);
    EXPECT_EQ(RegQueryValue(ro, u"a", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(key, u"a"), ERROR_FILE_NOT_FOUND);
    // A subkey is not a value: neither readable nor deletable as one, and a
    // value cannot take its name.
    EXPECT_EQ(RegQueryValue(ro, u"Update", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(key, u"Update"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValue(key, u"Update", REG_DWORD, &dw, 4), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::is_directory(sub.Folder()));
}

TEST_F(RegistryTest, EnumerationIsSortedAndSkipsForeignFiles) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo", &key), 0);
    std::u16string empty;
    EXPECT_EQ(RegEnumValue(key, 0, &empty, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    const std::u16string names[] = {u"{B0000000-0000-4000-8000-000000000000}", u"Settings", u"",
                                    u"{A0000000-0000-4000-8000-000000000000}", u"reelpage"};
    for (size_t i = 0; i < std::size(names); ++i) {
        auto data = Pattern(i * 3, uint8_t(i));
        ASSERT_EQ(RegSetValue(key, names[i], uint32_t(i), data.data(), uint32_t(data.size())), 0);
    }
    RegKey sub;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo\\Sub", &sub), 0);
    // Files the store did not write: hidden, a non-canonical escape, bad UTF-8.
    for (const char* foreign : {".hidden", "a%41", "%zz", "bad\xff"})
        WriteRaw(key.Folder() + "/" + foreign, ValueFileBytes(REG_DWORD, 0, {}));

    std::vector<std::u16string> sorted(std::begin(names), std::end(names));
    std::sort(sorted.begin(), sorted.end());
    for (uint32_t i = 0; i < sorted.size(); ++i) {
        std::u16string name;
        uint32_t type = 99;
        std::vector<uint8_t> data;
        ASSERT_EQ(RegEnumValue(key, i, &name, &type, &data), 0) << i;
        EXPECT_EQ(name, sorted[i]);
        size_t orig = std::find(std::begin(names), std::end(names), name) - std::begin(names);
        EXPECT_EQ(type, orig);
        EXPECT_EQ(data, Pattern(orig * 3, uint8_t(orig)));
    }
    std::u16string name = u"unchanged";
    EXPECT_EQ(RegEnumValue(key, uint32_t(sorted.size()), &name, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name, u"unchanged");
}

TEST_F(RegistryTest, DeletingWhileEnumeratingSeesTheChange) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, u"SOFTWARE\\Zelmorix\\MediaInfo", &key), 0);
    for (char16_t c : std::u16string(u"abcdef")) {
        uint32_t keep = (c == u'b' || c == u'e') ? 0 : 1;
        ASSERT_EQ(RegSetValue(key, std::u16string(1, c), REG_DWORD, &keep, 4), 0);
    }
    // The usual clean-up loop: delete at index i, then ask for index i again.
    std::u16string seen;
    for (uint32_t i = 0;;) {
        std::u16string name;
        std::vector<uint8_t> data;
        int rc = RegEnumValue(key, i, &name, nullptr, &data);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, 0);
        seen += name;
        if (data == Bytes({0, 0, 0, 0}))
            ASSERT_EQ(RegDeleteValue(key, name), 0);
        else
            ++i;
    }
    EXPECT_EQ(seen, u"abcdef");
    std::u16string left;
    for (uint32_t i = 0;; ++i) {
        std::u16string name;
        if (RegEnumValue(key, i, &name, nullptr, nullptr) != 0) break;
        left += name;
    }
    EXPECT_EQ(left, u"acdf");
}

TEST_F(RegistryTest, NamesNeedingEscapesRoundTrip) {
    const std::u16string names[] = {
        u"",
        u".",
        u"..",
        u".hidden",
        u"a.b.",
        u"a/b",
        u"/",
        u"100%",
        u"%41",
        u"%",
        u"%u0041",
        u"back\\slash",
        u"tab\there\nnewline\x7f",
        std::u16string(u"nul\0inside", 10),
        u"\u00e9t\u00e9 \u4e2d",
        u"emoji \U0001F600",
        std::u16string(1, char16_t(0xD800)) + u"lone high",
        u"lone low " + std::u16string(1, char16_t(0xDC00)),
        u"Settings",
        u"settings",
        u"{6B29FC40-CA47-1067-B31D-00DD010662DA}",
    };
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    for (uint32_t i = 0; i < std::size(names); ++i)
        ASSERT_EQ(RegSetValue(key, names[i], REG_DWORD, &i, 4), 0) << i;
    for (uint32_t i = 0; i < std::size(names); ++i) {
        uint32_t v = 999, size = 4;
        EXPECT_EQ(RegQueryValue(key, names[i], nullptr, &v, &size), 0) << i;
        EXPECT_EQ(v, i);
    }
    std::set<std::u16string> listed;
    for (uint32_t i = 0;; ++i) {
        std::u16string name;
        if (RegEnumValue(key, i, &name, nullptr, nullptr) != 0) break;
        listed.insert(name);
    }
    EXPECT_EQ(listed, std::set<std::u16string>(std::begin(names), std::end(names)));
    // Every name became exactly one file directly inside the key's folder.
    size_t files = 0;
    for (auto& e : fs::directory_iterator(key.Folder()))
        files += e.is_regular_file();
    EXPECT_EQ(files, std::size(names));

    uint32_t v = 0;
    EXPECT_EQ(RegSetValue(key, std::u16string(256, u'n'), REG_DWORD, &v, 4),
              ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(RegSetValue(key, std::u16string(255, u'n'), REG_DWORD, &v, 4), 0);
}

TEST_F(RegistryTest, LeftoverTempFileIsNotAValue) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    auto oldValue = Pattern(3688, 3);
    ASSERT_EQ(RegSetValue(key, u"Settings", REG_BINARY, oldValue.data(), 3688), 0);
    // What a crash between writing the new content and renaming it leaves.
    WriteRaw(key.Folder() + "/.tmp-0123456789ABCDEF",
             ValueFileBytes(REG_BINARY, 3688, Pattern(3688, 9)));
    uint32_t type = 0;
    int rc = -1;
    EXPECT_EQ(Query(key, u"Settings", &type, &rc), oldValue);
    std::u16string name;
    ASSERT_EQ(RegEnumValue(key, 0, &name, nullptr, nullptr), 0);
    EXPECT_EQ(name, u"Settings");
    EXPECT_EQ(RegEnumValue(key, 1, &name, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    // Writes leave no temporary files of their own behind.
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(RegSetValue(key, u"Settings", REG_DWORD, &i, 4), 0);
    size_t entries = 0;
    for (auto& e : fs::directory_iterator(key.Folder()))
        entries += 1, (void)e;
    EXPECT_EQ(entries, 2u); // "Settings" and the planted leftover
    // Deleting the key clears leftovers too.
    key.Close();
    EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, kKey), 0);
}

// Rewrites one value with two contents of different sizes as fast as it can.
REELPAGE_CHILD(rewrite_value) {
    RegKey key;
    if (RegCreateKey(RegRoot::CurrentUser, kKey, &key) != 0) return 2;
    auto a = std::vector<uint8_t>(100, 'a');
    auto b = std::vector<uint8_t>(5000, 'b');
    int rounds = std::stoi(args.at(0));
    for (int i = 0; i < rounds; ++i) {
        auto& v = i % 2 ? b : a;
        if (RegSetValue(key, u"Flip", REG_BINARY, v.data(), uint32_t(v.size())) != 0) return 3;
    }
    return 0;
}

TEST_F(RegistryTest, ReaderNeverSeesAHalfWrittenValue) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    auto a = std::vector<uint8_t>(100, 'a');
    ASSERT_EQ(RegSetValue(key, u"Flip", REG_BINARY, a.data(), 100), 0);
    int pid = testing_child::Spawn("rewrite_value", {"300"});
    ASSERT_GT(pid, 0);
    int reads = 0, bad = 0;
    std::vector<uint8_t> buf(8000);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        uint32_t type = 0, size = uint32_t(buf.size());
        int rc = RegQueryValue(key, u"Flip", &type, buf.data(), &size);
        bool whole = rc == 0 && type == REG_BINARY &&
                     ((size == 100 && std::all_of(buf.begin(), buf.begin() + 100,
                                                  [](uint8_t c) { return c == 'a'; })) ||
                      (size == 5000 && std::all_of(buf.begin(), buf.begin() + 5000,
                                                   [](uint8_t c) { return c == 'b'; })));
        bad += !whole;
        ++reads;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
    uint32_t size = 0;
    EXPECT_EQ(RegQueryValue(key, u"Flip", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 5000u); // the last of 300 rounds wrote b
}

TEST_F(RegistryTest, DamagedValueFilesAreReportedNotTrusted) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    uint32_t one = 1;
    ASSERT_EQ(RegSetValue(key, u"z-good", REG_DWORD, &one, 4), 0);
    const std::string dir = key.Folder() + "/";
    WriteRaw(dir + "a-short-header", Bytes({'R', 'G', 'V'}));
    WriteRaw(dir + "b-empty", {});
    WriteRaw(dir + "c-bad-magic", Bytes({'X', 'G', 'V', '1', 3, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3, 4}));
    WriteRaw(dir + "d-cut-short", ValueFileBytes(REG_BINARY, 3688, Pattern(3684, 0)));
    WriteRaw(dir + "e-trailing", ValueFileBytes(REG_QWORD, 8, Pattern(20, 0)));

    struct Case {
        const char16_t* name;
        int rc;
        uint32_t type, size;
    } cases[] = {
        {u"a-short-header", ERROR_INVALID_DATA, REG_NONE, 0},
        {u"b-empty", ERROR_INVALID_DATA, REG_NONE, 0},
        {u"c-bad-magic", ERROR_INVALID_DATA, REG_NONE, 0},
        {u"d-cut-short", 0, REG_BINARY, 3684},
        {u"e-trailing", 0, REG_QWORD, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        std::vector<uint8_t> buf(3688, 0xEE);
        uint32_t type = 77, size = uint32_t(buf.size());
        EXPECT_EQ(RegQueryValue(key, c.name, &type, buf.data(), &size), c.rc);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.size);
        if (c.rc == 0) {
            EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + c.size, Pattern(c.size, 0).begin()));
        }
    }
    // Enumeration lists damaged values without data and goes on past them.
    std::vector<std::u16string> names;
    for (uint32_t i = 0;; ++i) {
        std::u16string name;
        uint32_t type = 77;
        std::vector<uint8_t> data = {1};
        int rc = RegEnumValue(key, i, &name, &type, &data);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, 0);
        names.push_back(name);
        if (i < 3) {
            EXPECT_EQ(type, REG_NONE);
            EXPECT_TRUE(data.empty());
        }
    }
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(names.back(), u"z-good");
}

TEST_F(RegistryTest, DeleteKey) {
    RegKey key, sub;
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey, &key), 0);
    ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey + u"\\Update", &sub), 0);
    uint32_t v = 1;
    ASSERT_EQ(RegSetValue(sub, u"LastTime", REG_DWORD, &v, 4), 0);

    EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, kKey), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, u""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, kKey + u"\\Nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, kKey + u"\\Update"), 0);
    RegKey gone;
    EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey + u"\\Update", &gone), ERROR_FILE_NOT_FOUND);
    // A handle still open on the deleted key fails instead of recreating it.
    EXPECT_EQ(RegSetValue(sub, u"LastTime", REG_DWORD, &v, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValue(sub, u"LastTime", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_FALSE(fs::exists(sub.Folder()));
}

TEST_F(RegistryTest, MachineKeyWhenWritable) {
    RegKey key;
    RegRoot used = RegRoot::CurrentUser;
    ASSERT_EQ(RegCreateKeyMachineOrUser(kKey + u"\\Update", &key, &used), 0);
    EXPECT_EQ(used, RegRoot::LocalMachine);
    EXPECT_EQ(key.Folder(), std::string(getenv("REELPAGE_MACHINE_REGISTRY")) +
                                "/SOFTWARE/Zelmorix/reelpage/Update");
}

TEST_F(RegistryTest, MachineRootThatIsAFileFallsBackToUser) {
    std::string file = std::string(getenv("REELPAGE_TEST_HOME")) + "/machine-is-a-file";
    WriteRaw(file, Bytes({1}));
    MachineRootOverride override(file);

    RegKey key;
    EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, kKey, &key), ERROR_ACCESS_DENIED);
    RegRoot used = RegRoot::LocalMachine;
    ASSERT_EQ(RegCreateKeyMachineOrUser(kKey, &key, &used), 0);
    EXPECT_EQ(used, RegRoot::CurrentUser);
    uint32_t v = 11000;
    EXPECT_EQ(RegSetValue(key, u"reelpage", REG_DWORD, &v, 4), 0);
    EXPECT_TRUE(fs::is_regular_file(RegRootFolder(RegRoot::CurrentUser) +
                                    "/SOFTWARE/Zelmorix/reelpage/reelpage"));
}

// Runs as an ordinary user (dropping root when started as root) against a
// read-only machine store that already holds the key and a value.
// Exit codes: 0 fine, 77 cannot drop root, others name the failed step.
REELPAGE_CHILD(readonly_machine) {
    setenv("REELPAGE_MACHINE_REGISTRY", args.at(0).c_str(), 1);
    setenv("XDG_CONFIG_HOME", args.at(1).c_str(), 1);
    if (geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 77;
    }
    RegKey key;
    // Creating a new machine key and writing the existing one both fail...
    if (RegCreateKey(RegRoot::LocalMachine, u"SOFTWARE\\New", &key) != ERROR_ACCESS_DENIED)
        return 10;
    if (RegCreateKey(RegRoot::LocalMachine, kKey, &key) != ERROR_ACCESS_DENIED) return 11;
    // ... while reading it works.
    if (RegOpenKey(RegRoot::LocalMachine, kKey, &key) != 0) return 12;
    uint32_t v = 0, size = 4;
    if (RegQueryValue(key, u"Version", nullptr, &v, &size) != 0 || v != 9) return 13;
    RegRoot used = RegRoot::LocalMachine;
    if (RegCreateKeyMachineOrUser(kKey, &key, &used) != 0) return 14;
    if (used != RegRoot::CurrentUser) return 15;
    v = 10001;
    if (RegSetValue(key, u"reelpage", REG_DWORD, &v, 4) != 0) return 16;
    return 0;
}

TEST_F(RegistryTest, ReadOnlyMachineStoreFallsBackToUser) {
    // A tree an unprivileged user can walk: the test's own home is private.
    char tmpl[] = "/tmp/reelpage-regperm-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    struct Cleanup {
        std::string base;
        ~Cleanup() {
            std::error_code ec;
            for (auto& e : fs::recursive_directory_iterator(base, ec))
                if (e.is_directory()) chmod(e.path().c_str(), 0755);
            fs::remove_all(base, ec);
        }
    } cleanup{tmpl};
    const std::string& base = cleanup.base;
    chmod(base.c_str(), 0755);
    std::string machine = base + "/machine", config = base + "/config";
    MachineRootOverride override(machine);
    {
        RegKey key;
        ASSERT_EQ(RegCreateKey(RegRoot::LocalMachine, kKey, &key), 0);
        uint32_t v = 9;
        ASSERT_EQ(RegSetValue(key, u"Version", REG_DWORD, &v, 4), 0);
    }
    for (auto& e : fs::recursive_directory_iterator(machine))
        if (e.is_directory()) chmod(e.path().c_str(), 0555);
    chmod(machine.c_str(), 0555);
    fs::create_directories(config);
    chmod(config.c_str(), 0777);

    int pid = testing_child::Spawn("readonly_machine", {machine, config});
    int rc = testing_child::WaitExit(pid);
    if (rc == 77) GTEST_SKIP() << "running as root and cannot drop to an unprivileged user";
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(
        fs::is_regular_file(config + "/Zelmorix/registry/SOFTWARE/Zelmorix/reelpage/reelpage"));
    EXPECT_FALSE(fs::exists(machine + "/SOFTWARE/New"));
}

} // namespace
