#include "platform/registry.h"

#include "platform/folders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr char kMagic[4] = {'R', 'G', 'V', '1'};
constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxFileName = 255;
constexpr const char* kDefaultMachineRoot = "/var/lib/reelpage/registry";

int ErrorFromErrno(int e) {
    switch (e) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST:
        return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_IO_DEVICE;
    }
}

// --- names <-> file names -------------------------------------------------

void AppendHex(std::string* out, uint32_t v, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int d = digits - 1; d >= 0; --d)
        *out += kHex[(v >> (4 * d)) & 0xF];
}

void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        *out += char(c);
    } else if (c < 0x800) {
        *out += char(0xC0 | (c >> 6));
        *out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += char(0xE0 | (c >> 12));
        *out += char(0x80 | ((c >> 6) & 0x3F));
        *out += char(0x80 | (c & 0x3F));
    } else {
        *out += char(0xF0 | (c >> 18));
        *out += char(0x80 | ((c >> 12) & 0x3F));
        *out += char(0x80 | ((c >> 6) & 0x3F));
        *out += char(0x80 | (c & 0x3F));
    }
}

std::string EncodeName(std::u16string_view name) {
    if (name.empty()) return "%";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        uint32_t c = name[i];
        bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            AppendUtf8(&out, 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += "%u";
            AppendHex(&out, c, 4);
        } else if (c < 0x20 || c == 0x7F || c == '/' || c == '%' || (i == 0 && c == '.')) {
            out += '%';
            AppendHex(&out, c, 2);
        } else {
            AppendUtf8(&out, c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex(std::string_view s, size_t pos, int digits, uint32_t* v) {
    if (pos + digits > s.size()) return false;
    *v = 0;
    for (int d = 0; d < digits; ++d) {
        int h = HexDigit(s[pos + d]);
        if (h < 0) return false;
        *v = *v << 4 | uint32_t(h);
    }
    return true;
}

// Strict inverse of EncodeName: a file name that EncodeName would not have
// produced (someone else's file, a non-canonical escape) is no value name.
bool DecodeName(std::string_view file, std::u16string* out) {
    std::u16string name;
    if (file != "%") {
        for (size_t i = 0; i < file.size();) {
            unsigned char b = file[i];
            uint32_t c;
            if (b == '%') {
                if (i + 1 < file.size() && file[i + 1] == 'u') {
                    if (!ReadHex(file, i + 2, 4, &c)) return false;
                    i += 6;
                } else {
                    if (!ReadHex(file, i + 1, 2, &c)) return false;
                    i += 3;
                }
            } else if (b < 0x80) {
                c = b;
                ++i;
            } else {
                int extra = (b & 0xE0) == 0xC0   ? 1
                            : (b & 0xF0) == 0xE0 ? 2
                            : (b & 0xF8) == 0xF0 ? 3
                                                 : -1;
                if (extra < 0) return false;
                c = b & (0x3F >> extra);
                for (int k = 1; k <= extra; ++k) {
                    if (i + k >= file.size()) return false;
                    unsigned char cb = file[i + k];
                    if ((cb & 0xC0) != 0x80) return false;
                    c = c << 6 | (cb & 0x3F);
                }
                i += size_t(extra) + 1;
                if (c > 0x10FFFF) return false;
            }
            if (c >= 0x10000) {
                c -= 0x10000;
                name += char16_t(0xD800 + (c >> 10));
                name += char16_t(0xDC00 + (c & 0x3FF));
            } else {
                name += char16_t(c);
            }
        }
    }
    // Overlong forms, encoded surrogates and needless escapes all fail here.
    if (EncodeName(name) != file) return false;
    *out = std::move(name);
    return true;
}

// Splits a backslash-separated key path into file names of its levels.
int KeyPathToFiles(std::u16string_view subKey, std::vector<std::string>* files) {
    files->clear();
    if (subKey.empty()) return ERROR_SUCCESS;
    size_t start = 0;
    while (true) {
        size_t end = subKey.find(u'\\', start);
        std::u16string_view part =
            subKey.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty()) return ERROR_INVALID_PARAMETER;
        std::string file = EncodeName(part);
        if (file.size() > kMaxFileName) return ERROR_FILENAME_EXCED_RANGE;
        files->push_back(std::move(file));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

int ValueFile(std::u16string_view name, std::string* file) {
    *file = EncodeName(name);
    return file->size() > kMaxFileName ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

// --- value files ------------------------------------------------------------

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool WriteAll(int fd, const void* data, size_t size) {
    auto p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

// Reads up to size bytes at offset; returns the count read or -1.
ssize_t ReadAt(int fd, void* data, size_t size, off_t offset) {
    auto p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, p + done, size - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

// An open value file: its type and the size of the data actually present.
struct ValueReader {
    int fd = -1;
    bool damaged = false;
    uint32_t type = REG_NONE;
    uint32_t size = 0;

    ~ValueReader() {
        if (fd >= 0) close(fd);
    }

    // Returns 0, ERROR_FILE_NOT_FOUND or another error; a damaged file is
    // success with damaged set.
    int Open(int dirfd, const std::string& file) {
        fd = openat(dirfd, file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return errno == EISDIR ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
        struct stat st;
        if (fstat(fd, &st) != 0) return ErrorFromErrno(errno);
        // A folder of that name is a subkey, not a value.
        if (!S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
        uint8_t header[kHeaderSize];
        ssize_t got = ReadAt(fd, header, kHeaderSize, 0);
        if (got < 0) return ErrorFromErrno(errno);
        if (size_t(got) < kHeaderSize || std::memcmp(header, kMagic, 4) != 0) {
            damaged = true;
            return ERROR_SUCCESS;
        }
        type = GetLe32(header + 4);
        uint64_t present = uint64_t(st.st_size) - kHeaderSize;
        size = uint32_t(std::min<uint64_t>(GetLe32(header + 8), present));
        return ERROR_SUCCESS;
    }

    // Reads the data into buf (size bytes); returns 0 or an error. A file cut
    // short meanwhile cannot happen (value files are never changed in place),
    // but would leave the rest of buf as it was.
    int Read(void* buf) {
        if (size == 0) return ERROR_SUCCESS;
        ssize_t got = ReadAt(fd, buf, size, kHeaderSize);
        if (got < 0) return ErrorFromErrno(errno);
        size = uint32_t(got);
        return ERROR_SUCCESS;
    }
};

std::string TempName() {
    uint8_t r[8] = {};
    if (getrandom(r, sizeof r, GRND_NONBLOCK) != ssize_t(sizeof r)) {
        uint64_t fallback = uint64_t(getpid()) * 0x9E3779B97F4A7C15ULL ^ uint64_t(clock());
        std::memcpy(r, &fallback, sizeof r);
    }
    std::string name = ".tmp-";
    for (uint8_t b : r)
        AppendHex(&name, b, 2);
    return name;
}

// A key folder opened by Unix path.
int OpenFolder(const std::string& path, int* fd) {
    *fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return *fd < 0 ? ErrorFromErrno(errno) : ERROR_SUCCESS;
}

int CheckWritable(const std::string& path) {
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? ERROR_SUCCESS
                                                                    : ErrorFromErrno(errno);
}

// When a call inside an open key finds nothing, tell a vanished key apart.
int MissingInKey(int dirfd) {
    struct stat st;
    if (fstat(dirfd, &st) == 0 && st.st_nlink == 0) return ERROR_KEY_DELETED;
    return ERROR_FILE_NOT_FOUND;
}

int OpenKeyImpl(RegRoot root, std::u16string_view subKey, bool create, RegAccess access,
                std::string* folder, int* fd) {
    std::vector<std::string> files;
    int rc = KeyPathToFiles(subKey, &files);
    if (rc != ERROR_SUCCESS) return rc;
    std::string path = RegRootFolder(root);
    if (create) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        // A root that exists as something other than a folder.
        if (ec)
            return ec.value() == EEXIST || ec.value() == ENOTDIR ? ERROR_ACCESS_DENIED
                                                                 : ErrorFromErrno(ec.value());
    }
    int dirfd = -1;
    rc = OpenFolder(path, &dirfd);
    if (rc != ERROR_SUCCESS) return create && rc == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : rc;
    for (const std::string& file : files) {
        path += '/';
        path += file;
        if (create) {
            if (mkdirat(dirfd, file.c_str(), 0755) == 0) {
                // Make the new level itself durable, not only what goes into it.
                fsync(dirfd);
            } else if (errno != EEXIST) {
                rc = ErrorFromErrno(errno);
                close(dirfd);
                return rc;
            }
        }
        int next = openat(dirfd, file.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int err = errno;
        close(dirfd);
        if (next < 0) {
            // On create, a value file standing where the level should be.
            return create && err == ENOTDIR ? ERROR_ACCESS_DENIED : ErrorFromErrno(err);
        }
        dirfd = next;
    }
    if (access == RegAccess::ReadWrite) {
        rc = CheckWritable(path);
        if (rc != ERROR_SUCCESS) {
            close(dirfd);
            return rc;
        }
    }
    *folder = std::move(path);
    *fd = dirfd;
    return ERROR_SUCCESS;
}

} // namespace

struct RegKeyAccess {
    static int Fd(const RegKey& k) { return k.m_fd; }
    static bool Writable(const RegKey& k) { return k.m_bWritable; }
    static void Set(RegKey* k, int fd, bool writable, std::string folder) {
        k->Close();
        k->m_fd = fd;
        k->m_bWritable = writable;
        k->m_szFolder = std::move(folder);
    }
    static void Invalidate(RegKey& k) {
        k.m_bSnapshotValid = false;
        k.m_Snapshot.clear();
    }

    static int Refresh(RegKey& k) {
        Invalidate(k);
        int fd = openat(k.m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return ErrorFromErrno(errno);
        DIR* dir = fdopendir(fd);
        if (!dir) {
            int rc = ErrorFromErrno(errno);
            close(fd);
            return rc;
        }
        std::vector<RegKey::Entry> entries;
        while (dirent* e = readdir(dir)) {
            // Temporary files (and "." and "..") start with a dot.
            if (e->d_name[0] == '.') continue;
            bool regular = e->d_type == DT_REG;
            if (e->d_type == DT_UNKNOWN) {
                struct stat st;
                regular = fstatat(fd, e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
            }
            if (!regular) continue;
            RegKey::Entry entry;
            if (!DecodeName(e->d_name, &entry.name)) continue;
            entry.file = e->d_name;
            entries.push_back(std::move(entry));
        }
        closedir(dir);
        std::sort(entries.begin(), entries.end(),
                  [](const RegKey::Entry& a, const RegKey::Entry& b) { return a.name < b.name; });
        k.m_Snapshot = std::move(entries);
        k.m_bSnapshotValid = true;
        return ERROR_SUCCESS;
    }

    static int Enum(RegKey& k, uint32_t index, std::u16string* name, uint32_t* type,
                    std::vector<uint8_t>* data) {
        // One retry: a value deleted by someone else since the listing was made.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (index == 0 || !k.m_bSnapshotValid || attempt > 0) {
                int rc = Refresh(k);
                if (rc != ERROR_SUCCESS) return rc;
            }
            if (index >= k.m_Snapshot.size()) return ERROR_NO_MORE_ITEMS;
            const RegKey::Entry& entry = k.m_Snapshot[index];
            if (!type && !data) {
                if (name) *name = entry.name;
                return ERROR_SUCCESS;
            }
            ValueReader reader;
            int rc = reader.Open(k.m_fd, entry.file);
            if (rc == ERROR_FILE_NOT_FOUND) continue;
            if (rc != ERROR_SUCCESS) return rc;
            if (data) {
                data->clear();
                if (!reader.damaged) {
                    data->resize(reader.size);
                    rc = reader.Read(data->data());
                    if (rc != ERROR_SUCCESS) return rc;
                    data->resize(reader.size);
                }
            }
            if (name) *name = entry.name;
            if (type) *type = reader.damaged ? REG_NONE : reader.type;
            return ERROR_SUCCESS;
        }
        return ERROR_NO_MORE_ITEMS;
    }
};

RegKey::~RegKey() {
    Close();
}

RegKey::RegKey(RegKey&& other) noexcept {
    *this = std::move(other);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_bWritable = std::exchange(other.m_bWritable, false);
        m_szFolder = std::move(other.m_szFolder);
        m_Snapshot = std::move(other.m_Snapshot);
        m_bSnapshotValid = std::exchange(other.m_bSnapshotValid, false);
        other.m_szFolder.clear();
        other.m_Snapshot.clear();
    }
    return *this;
}

void RegKey::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    m_bWritable = false;
    m_szFolder.clear();
    m_Snapshot.clear();
    m_bSnapshotValid = false;
}

std::string RegRootFolder(RegRoot root) {
    if (root == RegRoot::LocalMachine) {
        const char* env = std::getenv("REELPAGE_MACHINE_REGISTRY");
        std::string path = env && *env ? env : kDefaultMachineRoot;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    std::string config;
    GetKnownFolder(KnownFolder::Config, false, &config);
    return config + "/Zelmorix/registry";
}

int RegCreateKey(RegRoot root, std::u16string_view subKey, RegKey* key, RegAccess access) {
    if (!key) return ERROR_INVALID_PARAMETER;
    key->Close();
    std::string folder;
    int fd = -1;
    int rc = OpenKeyImpl(root, subKey, true, access, &folder, &fd);
    if (rc == ERROR_SUCCESS)
        RegKeyAccess::Set(key, fd, access == RegAccess::ReadWrite, std::move(folder));
    return rc;
}

int RegOpenKey(RegRoot root, std::u16string_view subKey, RegKey* key, RegAccess access) {
    if (!key) return ERROR_INVALID_PARAMETER;
    key->Close();
    std::string folder;
    int fd = -1;
    int rc = OpenKeyImpl(root, subKey, false, access, &folder, &fd);
    if (rc == ERROR_SUCCESS)
        RegKeyAccess::Set(key, fd, access == RegAccess::ReadWrite, std::move(folder));
    return rc;
}

int RegCreateKeyMachineOrUser(std::u16string_view subKey, RegKey* key, RegRoot* used) {
    RegRoot root = RegRoot::LocalMachine;
    int rc = RegCreateKey(root, subKey, key, RegAccess::ReadWrite);
    if (rc != ERROR_SUCCESS) {
        root = RegRoot::CurrentUser;
        rc = RegCreateKey(root, subKey, key, RegAccess::ReadWrite);
    }
    if (rc == ERROR_SUCCESS && used) *used = root;
    return rc;
}

int RegSetValue(RegKey& key, std::u16string_view name, uint32_t type, const void* data,
                uint32_t size) {
    int dirfd = RegKeyAccess::Fd(key);
    if (dirfd < 0) return ERROR_INVALID_HANDLE;
    if (!RegKeyAccess::Writable(key)) return ERROR_ACCESS_DENIED;
    if (!data && size > 0) return ERROR_INVALID_PARAMETER;
    std::string file;
    int rc = ValueFile(name, &file);
    if (rc != ERROR_SUCCESS) return rc;
    RegKeyAccess::Invalidate(key);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temp = TempName();
        fd = openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return errno == ENOENT ? MissingInKey(dirfd) : ErrorFromErrno(errno);

    uint8_t header[kHeaderSize];
    std::memcpy(header, kMagic, 4);
    PutLe32(header + 4, type);
    PutLe32(header + 8, size);
    bool ok = WriteAll(fd, header, kHeaderSize) && WriteAll(fd, data, size) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && renameat(dirfd, temp.c_str(), dirfd, file.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlinkat(dirfd, temp.c_str(), 0);
        return ErrorFromErrno(err);
    }
    // The rename is only durable once the folder's entry is on disk.
    fsync(dirfd);
    return ERROR_SUCCESS;
}

int RegQueryValue(const RegKey& key, std::u16string_view name, uint32_t* type, void* data,
                  uint32_t* size) {
    // Callers print these after a failure, so they never stay undefined.
    auto fail = [&](int rc) {
        if (type) *type = REG_NONE;
        if (size) *size = 0;
        return rc;
    };
    int dirfd = RegKeyAccess::Fd(key);
    if (dirfd < 0) return fail(ERROR_INVALID_HANDLE);
    if (data && !size) return fail(ERROR_INVALID_PARAMETER);
    std::string file;
    int rc = ValueFile(name, &file);
    if (rc != ERROR_SUCCESS) return fail(rc);
    ValueReader reader;
    rc = reader.Open(dirfd, file);
    if (rc == ERROR_FILE_NOT_FOUND) rc = MissingInKey(dirfd);
    if (rc != ERROR_SUCCESS) return fail(rc);
    if (reader.damaged) return fail(ERROR_INVALID_DATA);
    if (data) {
        if (*size < reader.size) {
            *size = reader.size;
            if (type) *type = reader.type;
            return ERROR_MORE_DATA;
        }
        rc = reader.Read(data);
        if (rc != ERROR_SUCCESS) return fail(rc);
    }
    if (type) *type = reader.type;
    if (size) *size = reader.size;
    return ERROR_SUCCESS;
}

int RegDeleteValue(RegKey& key, std::u16string_view name) {
    int dirfd = RegKeyAccess::Fd(key);
    if (dirfd < 0) return ERROR_INVALID_HANDLE;
    if (!RegKeyAccess::Writable(key)) return ERROR_ACCESS_DENIED;
    std::string file;
    int rc = ValueFile(name, &file);
    if (rc != ERROR_SUCCESS) return rc;
    RegKeyAccess::Invalidate(key);
    if (unlinkat(dirfd, file.c_str(), 0) != 0) {
        if (errno == ENOENT) return MissingInKey(dirfd);
        // A subkey of that name, which is no value.
        if (errno == EISDIR) return ERROR_FILE_NOT_FOUND;
        return ErrorFromErrno(errno);
    }
    fsync(dirfd);
    return ERROR_SUCCESS;
}

int RegEnumValue(RegKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                 std::vector<uint8_t>* data) {
    if (RegKeyAccess::Fd(key) < 0) return ERROR_INVALID_HANDLE;
    return RegKeyAccess::Enum(key, index, name, type, data);
}

int RegDeleteKey(RegRoot root, std::u16string_view subKey) {
    if (subKey.empty()) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> files;
    int rc = KeyPathToFiles(subKey, &files);
    if (rc != ERROR_SUCCESS) return rc;
    // The parent must be writable to remove the key's folder from it.
    std::u16string_view parentPath;
    size_t cut = subKey.rfind(u'\\');
    if (cut != std::u16string_view::npos) parentPath = subKey.substr(0, cut);
    RegKey parent;
    rc = RegOpenKey(root, parentPath, &parent, RegAccess::ReadWrite);
    if (rc != ERROR_SUCCESS) return rc;
    int parentFd = RegKeyAccess::Fd(parent);
    const std::string& leaf = files.back();

    int fd = openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrorFromErrno(errno);
    DIR* dir = fdopendir(fd);
    if (!dir) {
        rc = ErrorFromErrno(errno);
        close(fd);
        return rc;
    }
    std::vector<std::string> doomed;
    while (dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            closedir(dir);
            return ERROR_ACCESS_DENIED;
        }
        doomed.push_back(e->d_name);
    }
    for (const std::string& f : doomed) {
        if (unlinkat(fd, f.c_str(), 0) != 0 && errno != ENOENT) {
            rc = ErrorFromErrno(errno);
            closedir(dir);
            return rc;
        }
    }
    closedir(dir);
    if (unlinkat(parentFd, leaf.c_str(), AT_REMOVEDIR) != 0) return ErrorFromErrno(errno);
    fsync(parentFd);
    return ERROR_SUCCESS;
}

} // namespace platform
