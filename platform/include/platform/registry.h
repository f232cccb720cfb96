#pragma once
// A registry of keys and typed values, shaped after the Windows registry calls
// so that the engine's persistence code and its log lines (which print the
// calls' result codes) read the same on every platform.
//
// Storage: every key is a folder and every value one file in its key's folder.
//   current user:  $XDG_CONFIG_HOME/Zelmorix/registry/  (created on demand)
//   local machine: $REELPAGE_MACHINE_REGISTRY when set and not empty, else
//                  /var/lib/reelpage/registry — a folder ordinary users cannot
//                  write, so writes there fail with ERROR_ACCESS_DENIED and
//                  callers fall back to the current user as they would on Windows.
// A value file is a 12-byte header ("RGV1", type and data size as 32-bit
// little-endian numbers) followed by the data. It is replaced atomically: the
// new content goes to a temporary file in the same folder (named with a
// leading '.', which no value file has), is flushed to disk, renamed over the
// old one, and the folder is flushed too. A crash leaves either the old or the
// new value, never a mix; a leftover temporary file is ignored.
//
// Names: key paths are backslash-separated ("SOFTWARE\\Zelmorix\\reelpage");
// key and value names are arbitrary UTF-16 and map reversibly to file names:
// '%', '/', control characters and a leading '.' become %XX, a lone surrogate
// %uXXXX, other characters UTF-8, and the empty (default) value name "%".
// Unlike Windows, names compare case-sensitively, and a key cannot have a
// value and a subkey of the same name (whichever comes second fails with
// ERROR_ACCESS_DENIED). A name whose file name would exceed 255 bytes fails
// with ERROR_FILENAME_EXCED_RANGE.
//
// Damaged value files (written by something else, or cut short on disk) never
// crash a reader: a file too short for its header or with a wrong header is
// reported by RegQueryValue as ERROR_INVALID_DATA and by RegEnumValue as a
// REG_NONE value without data (so an enumeration goes on past it); a file whose
// data is shorter than its header says is a value of the size actually present.
//
// A RegKey is used by one thread at a time; separate handles, threads and
// processes may use the same keys concurrently (the last writer of a value wins).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Result codes: 0 or the Windows system error code of the same situation.
constexpr int ERROR_SUCCESS = 0;
constexpr int ERROR_FILE_NOT_FOUND = 2;         // no such key or value
constexpr int ERROR_TOO_MANY_OPEN_FILES = 4;    // EMFILE, ENFILE
constexpr int ERROR_ACCESS_DENIED = 5;          // not writable; key has subkeys; name clash
constexpr int ERROR_INVALID_HANDLE = 6;         // the RegKey is not open
constexpr int ERROR_NOT_ENOUGH_MEMORY = 8;      // ENOMEM
constexpr int ERROR_INVALID_DATA = 13;          // damaged value file
constexpr int ERROR_INVALID_PARAMETER = 87;     // empty path segment, null size, ...
constexpr int ERROR_DISK_FULL = 112;            // ENOSPC, EDQUOT
constexpr int ERROR_FILENAME_EXCED_RANGE = 206; // name too long for a file name
constexpr int ERROR_MORE_DATA = 234;            // buffer too small; size says what is needed
constexpr int ERROR_NO_MORE_ITEMS = 259;        // enumeration index past the last value
constexpr int ERROR_KEY_DELETED = 1018;         // the open key was deleted meanwhile
constexpr int ERROR_IO_DEVICE = 1117;           // any other failed system call

// Value types, kept with the value and returned as stored. Any 32-bit type
// number may be stored; the data is never checked against the type.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_QWORD = 11;

enum class RegRoot { CurrentUser, LocalMachine };

// Write access is checked when a key is opened or created, as Windows checks
// the access a handle is asked for: a key that exists but cannot be written
// fails with ERROR_ACCESS_DENIED when opened for writing.
enum class RegAccess { Read, ReadWrite };

// An open key; closes itself. Movable, not copyable.
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Close();
    // The key's folder (for diagnostics and tests).
    const std::string& Folder() const { return m_szFolder; }

private:
    friend struct RegKeyAccess;
    int m_fd = -1;
    bool m_bWritable = false;
    std::string m_szFolder;
    // Sorted value list of the last enumeration; dropped by writes through
    // this handle so that deleting while enumerating sees the change.
    struct Entry {
        std::u16string name;
        std::string file;
    };
    std::vector<Entry> m_Snapshot;
    bool m_bSnapshotValid = false;
};

// The folder of a root, without a trailing '/'.
std::string RegRootFolder(RegRoot root);

// Opens subKey under root, creating every missing level (RegCreateKeyEx).
// An empty subKey is the root itself. Returns 0 and *key open, or an error
// and *key closed.
int RegCreateKey(RegRoot root, std::u16string_view subKey, RegKey* key,
                 RegAccess access = RegAccess::ReadWrite);

// Opens an existing key (RegOpenKeyEx): ERROR_FILE_NOT_FOUND when it or any
// level above it is missing.
int RegOpenKey(RegRoot root, std::u16string_view subKey, RegKey* key,
               RegAccess access = RegAccess::Read);

// The machine-wide key when it can be created and written, else the same key
// of the current user (for machine-wide settings that a user without the
// rights keeps for himself). *used, when given, says which root was taken.
// Returns 0, or the current user's error when neither works.
int RegCreateKeyMachineOrUser(std::u16string_view subKey, RegKey* key, RegRoot* used = nullptr);

// Stores a value (RegSetValueEx). data may be null only when size is 0.
// The key must have been opened with RegAccess::ReadWrite.
int RegSetValue(RegKey& key, std::u16string_view name, uint32_t type, const void* data,
                uint32_t size);

// Reads a value (RegQueryValueEx). type and size may be null when not wanted.
// - value missing: ERROR_FILE_NOT_FOUND, *type = REG_NONE and *size = 0;
// - data null: 0, *type and *size (bytes needed) set, nothing copied;
// - data given: size must not be null and holds the buffer's capacity on
//   entry; if the value fits it is copied and *size = its size, otherwise
//   ERROR_MORE_DATA, *size = bytes needed, *type set and the buffer untouched;
// - damaged value file: ERROR_INVALID_DATA, *type = REG_NONE and *size = 0.
int RegQueryValue(const RegKey& key, std::u16string_view name, uint32_t* type, void* data,
                  uint32_t* size);

// Deletes a value (RegDeleteValue): ERROR_FILE_NOT_FOUND when there is none.
int RegDeleteValue(RegKey& key, std::u16string_view name);

// The value at index in the order of their names (UTF-16 code units,
// ascending): 0 with name, type and data filled (each may be null), or
// ERROR_NO_MORE_ITEMS past the last one. Index 0 reads the folder afresh;
// later indexes reuse that listing until a write through this handle, so a
// loop 0, 1, 2 ... sees one consistent order. Temporary files are not values.
int RegEnumValue(RegKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                 std::vector<uint8_t>* data);

// Deletes a key and its values (RegDeleteKey). A key that still has subkeys is
// not deleted (ERROR_ACCESS_DENIED), nor is the root itself (ERROR_INVALID_PARAMETER).
int RegDeleteKey(RegRoot root, std::u16string_view subKey);

} // namespace platform
