#include "publishing/PageGenerator.h"
#include "publishing/SourceTypes.h"

#include "system/Folders.h"
#include "system/Log.h"
#include "publishing/Templates.h"
#include "captions/Captions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "picture/encoders.h"
#include "picture/load.h"
#include "picture/scaler.h"
#include "platform/wstr.h"
#include "reelpage/output_size.h"

namespace reelpage {

namespace {

constexpr const char16_t* kKeep[] = {u"video.webm", u"video.mp4", u"video.ogv", u"poster.png"};
constexpr const char16_t* kAdExclude[] = {u"ad.html"};

bool InList(const std::u16string& name, const char16_t* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (platform::WStrICmp(name, list[i]) == 0) return true;
    return false;
}

bool IsDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Reads a template text: at most 131,072 bytes of its file.
bool ReadTemplate(const std::string& path, std::u16string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes(kTemplateReadLimit, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    *text = DecodeTemplateText(bytes);
    return true;
}

// The title and the link are the user's own text: escaped so that they stay
// text or attribute values wherever the template puts them.
std::u16string Escape(std::u16string_view s) {
    std::u16string out;
    for (char16_t c : s) {
        switch (c) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\'':
            out += u"&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::u16string Number(int32_t v, size_t maxChars) {
    std::u16string s = platform::FromUtf8(std::to_string(v));
    if (s.size() > maxChars) s.resize(maxChars);
    return s;
}

bool StartsWithNoCase(std::u16string_view text, size_t at, std::u16string_view word) {
    if (text.size() - at < word.size()) return false;
    return platform::WStrICmp(text.substr(at, word.size()), word) == 0;
}

// silent: the video has no sound track, so the player starts it muted (a
// browser then lets it start on its own) and offers no sound to turn on.
std::u16string DataSetup(const Project& p, bool autoplay, bool silent) {
    const OutputFrameSize size = ProjectPictureSize(p);
    std::string s = "{\"width\":" + std::to_string(size.width) +
                    ", \"height\":" + std::to_string(size.height) +
                    ", \"preload\":\"auto\", \"poster\":\"poster.png\", \"preload\":\"auto\"";
    if (p.m_Controls) s += ", \"controls\": true";
    if (autoplay) s += ", \"autoplay\": true ";
    if (p.m_Loop) s += ", \"loop\": true";
    if (silent) s += ", \"sound\": false";
    return platform::FromUtf8(s + "}");
}

// The files, in the order a browser tries them: it takes the first whose
// type it plays. The WebM output stays first whatever its codec: VP9 and AV1
// are the smallest, and VP8 is as efficient as the MP4's H.264 at the same
// rate; a browser without the WebM's codecs passes on to the MP4, which
// every current browser plays, and the Ogg comes last for the few that
// play Theora only.
constexpr struct {
    const char16_t* file;
    const char* bareType;
} kSourceFiles[3] = {
    {u"video.webm", "video/webm"},
    {u"video.mp4", "video/mp4"},
    {u"video.ogv", "video/ogg"},
};

std::u16string Sources(const Project& p, const std::array<std::string, 3>& types) {
    std::u16string s;
    for (size_t i = 0; i < std::size(kSourceFiles); ++i) {
        if (!p.m_Formats[i]) continue;
        const std::string& type = types[i].empty() ? kSourceFiles[i].bareType : types[i];
        s += u"<source src=\"" + std::u16string(kSourceFiles[i].file) + u"\" type='" +
             platform::FromUtf8(type) + u"' />";
    }
    return s;
}

// One <track> per caption file, the first shown unless the visitor turns it
// off. The names come from caption files and containers: escaped like the
// title.
std::u16string Tracks(const std::vector<PackageCaption>* captions) {
    std::u16string s;
    if (!captions) return s;
    for (size_t i = 0; i < captions->size(); ++i) {
        const PackageCaption& c = (*captions)[i];
        s += u"<track kind=\"captions\" src=\"" + Escape(platform::FromUtf8(c.file)) +
             u"\" srclang=\"" + Escape(platform::FromUtf8(c.language)) + u"\" label=\"" +
             Escape(platform::FromUtf8(c.label)) + u"\"" + (i == 0 ? u" default" : u"") + u">";
    }
    return s;
}

// One pass of placeholder replacement. replace() is given the text at a "{"
// and answers the placeholder's length and its replacement, or 0.
template <typename Replace>
bool Expand(std::u16string_view text, std::u16string* out, Replace replace) {
    for (size_t i = 0; i < text.size();) {
        if (text[i] == u'{') {
            size_t used = 0;
            if (!replace(i, &used, out)) return false;
            if (used) {
                i += used;
                continue;
            }
        }
        *out += text[i++];
        // The page buffer holds 65,536 units including the terminating NUL.
        if (out->size() >= kPageUnits) return false;
    }
    return out->size() < kPageUnits;
}

bool ExpandAd(std::u16string_view text, const Project& p, std::u16string* out) {
    return Expand(text, out, [&](size_t at, size_t* used, std::u16string* o) {
        struct {
            std::u16string_view name;
            std::u16string value;
        } table[] = {{u"{$width}", Number(p.m_AdWidth, 9)},
                     {u"{$height}", Number(p.m_AdHeight, 9)},
                     {u"{$link}", Escape(p.m_AdLink)}};
        for (const auto& t : table)
            if (StartsWithNoCase(text, at, t.name)) {
                *o += t.value;
                *used = t.name.size();
                break;
            }
        return o->size() < kPageUnits;
    });
}

bool CopyFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) errno = ec.value();
    return !ec;
}

// Copies the plain files of a folder; on the first that fails, *failed names
// it and the copy stops.
bool CopyFolderFiles(const std::string& from, const std::string& to, const char16_t* const* exclude,
                     size_t excludeCount, std::string* failed) {
    DIR* d = opendir(from.c_str());
    if (!d) {
        *failed = from;
        return false;
    }
    bool ok = true;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        std::string src = from + "/" + name;
        if (IsDir(src) || InList(platform::FromUtf8(name), exclude, excludeCount)) continue;
        if (!CopyFile(src, to + "/" + name)) {
            *failed = to + "/" + name;
            ok = false;
            break;
        }
    }
    const int err = errno;
    closedir(d);
    errno = err;
    return ok;
}

// Loads a picture, stretches it to width x height with bicubic filtering and
// saves it as PNG. Leaves nothing behind when the picture cannot be loaded.
bool Scale(const std::string& picture, int width, int height, const std::string& destination) {
    picture::Bitmap source;
    if (picture::LoadPicture(picture, source) != picture::Error::None) return false;
    picture::Bitmap scaled;
    if (picture::Stretch(source, width, height, scaled) != picture::Error::None) return false;
    picture::EncoderId png;
    if (!picture::FindEncoderByMimeType("image/png", png)) return false;
    return picture::SavePicture(scaled, destination, png) == picture::Error::None;
}

} // namespace

bool WriteWhole(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            const int err = errno;
            close(fd);
            errno = err;
            return false;
        }
        done += size_t(n);
    }
    if (fsync(fd) != 0 && errno != EINVAL) {
        const int err = errno;
        close(fd);
        errno = err;
        return false;
    }
    return close(fd) == 0;
}

namespace {

// The page is built in a hidden folder beside the videos and moved into
// place only once every file of it is written: a publish that fails (a full
// disk, an unreadable template) leaves the previous page as it was and none
// of its own files behind.
constexpr char kStaging[] = "/.publishing";

bool PublishFailed(std::string file, int err, const std::string& staging) {
    // Named as the user will look for it: where it would have ended up.
    if (file.rfind(staging + "/", 0) == 0)
        file =
            staging.substr(0, staging.size() - (sizeof kStaging - 1)) + file.substr(staging.size());
    LogWrite(kLogError, "Failed(%d) to write %s: the page was not published\n", err, file.c_str());
    std::error_code ec;
    std::filesystem::remove_all(staging, ec);
    return false;
}

// Moves what was staged into the folder; the staging folder goes.
bool MoveStaged(const std::string& staging, const std::string& folder) {
    DIR* d = opendir(staging.c_str());
    if (!d) return false;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    bool ok = true;
    for (const std::string& name : names) {
        const std::string to = folder + "/" + name;
        if (rename((staging + "/" + name).c_str(), to.c_str()) != 0) {
            LogWrite(kLogError, "Failed(%d) to move %s into place\n", errno, to.c_str());
            ok = false;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(staging, ec);
    return ok;
}

uint32_t TickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
}

} // namespace

std::u16string DecodeTemplateText(std::string_view bytes) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        char16_t c = char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
        if (c == 0) break;
        text += c;
    }
    return text;
}

bool ExpandPage(std::u16string_view text, const std::u16string* adHtml, const PageValues& v,
                std::u16string* out) {
    const Project& p = *v.project;
    out->clear();
    // The advertisement covers the player until the visitor closes it or
    // chooses to play, so a page showing one must not start on its own. A
    // picture kept for a template without advertisement shows nothing and
    // leaves autoplay as chosen.
    const bool autoplay = p.m_Autoplay && !(p.m_AdFile[0] && adHtml);
    const OutputFrameSize size = ProjectPictureSize(p);
    char idText[64];
    std::snprintf(idText, sizeof idText, "zelmorix_video_to_html5_%u", v.tick);
    return Expand(text, out, [&](size_t at, size_t* used, std::u16string* o) {
        struct {
            std::u16string_view name;
            int kind; // 0 literal, 1 advertisement
            std::u16string value;
        } table[] = {
            {u"{$title}", 0, v.media ? Escape(v.media->m_szName) : std::u16string()},
            {u"{$width}", 0, Number(size.width, 63)},
            {u"{$height}", 0, Number(size.height, 63)},
            {u"{$controls}", 0, p.m_Controls ? u"controls=\"controls\"" : u""},
            {u"{$autoplay}", 0, autoplay ? u"autoplay=\"autoplay\"" : u""},
            {u"{$loop}", 0, p.m_Loop ? u"loop=\"loop\"" : u""},
            {u"{$loop_code}", 0,
             p.m_Loop ? u"loop=\"loop\" onended=\"var v=this;setTimeout(function(){v.play()},300)\""
                      : u""},
            {u"{$advertisement}", 1, {}},
            {u"{$id}", 0, platform::FromUtf8(idText)},
            {u"{$data-setup}", 0, DataSetup(p, autoplay, v.media && !v.media->m_bAudioStream)},
            {u"{$source}", 0, Sources(p, v.types)},
            {u"{$tracks}", 0, Tracks(v.captions)},
        };
        for (const auto& t : table) {
            if (!StartsWithNoCase(text, at, t.name)) continue;
            *used = t.name.size();
            if (t.kind == 1) {
                if (adHtml && !ExpandAd(*adHtml, p, o)) return false;
            } else {
                *o += t.value;
            }
            break;
        }
        return o->size() < kPageUnits;
    });
}

void CleanFolder(const std::string& folder, const char16_t* const* keep, size_t keepCount) {
    if (platform::FromUtf8(folder).size() < 10) return;
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    for (const auto& name : names) {
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (name[0] == '.') continue;
            CleanFolder(path, keep, keepCount);
            rmdir(path.c_str()); // fails quietly when something was kept inside
        } else if (!InList(platform::FromUtf8(name), keep, keepCount)) {
            unlink(path.c_str());
        }
    }
}

bool GeneratePage(const char16_t* folderW, const Project& p, const MediaInfo* media,
                  const std::vector<PackageCaption>& captions) {
    const TemplateEntry* e = GetTemplate(p.m_Templete);
    if (!e) {
        LogWrite(kLogError, "No page template %d\n", p.m_Templete);
        return false;
    }
    char16_t buf[kMaxPath];
    platform::WFormat(buf, kMaxPath, "%ls/Templates/%ls", g_szModulePath, e->szName);
    const std::string templ = platform::ToUtf8(buf);
    const std::string folder = platform::ToUtf8(folderW);
    const bool withAd = p.m_AdFile[0] && e->bHasAd;

    // Expand first: a page that cannot be made leaves the folder untouched.
    std::u16string text, ad, page;
    if (!ReadTemplate(templ + "/index.html", &text)) {
        LogWrite(kLogError, "No index.html in the template %ls\n", e->szName);
        return false;
    }
    if (withAd) ReadTemplate(templ + "/ad/ad.html", &ad);
    PageValues v{&p, media, TickCount(), &captions};
    // A file whose streams cannot be read keeps its bare type, as the page
    // had before: a browser then tries it and falls back on its own.
    // The Ogg file keeps its bare type: browsers without Theora would pass
    // over a typed one at once, where the player's Ogg handling lets it play
    // its sound with a notice when nothing else is there.
    for (size_t i = 0; i < std::size(kSourceFiles) - 1; ++i)
        if (p.m_Formats[i])
            v.types[i] = SourceType(folder + "/" + platform::ToUtf8(kSourceFiles[i].file));
    if (!ExpandPage(text, withAd ? &ad : nullptr, v, &page)) {
        LogWrite(kLogError, "The page of template %ls does not fit %d characters\n", e->szName,
                 int(kPageUnits - 1));
        return false;
    }
    std::string bytes = platform::ToUtf8(page);
    if (bytes.size() > kPageBytes) {
        LogWrite(kLogError, "The page of template %ls does not fit %d bytes\n", e->szName,
                 int(kPageBytes));
        return false;
    }

    const std::string staging = folder + kStaging;
    std::error_code ec;
    std::filesystem::remove_all(staging, ec); // what a publish cut short left
    if (mkdir(staging.c_str(), 0755) != 0) return PublishFailed(staging, errno, staging);
    std::string failed;
    // The template's index.html is the source of the page, not part of it.
    constexpr const char16_t* kPageSource[] = {u"index.html"};
    if (!CopyFolderFiles(templ, staging, kPageSource, std::size(kPageSource), &failed))
        return PublishFailed(failed, errno, staging);
    const std::string poster = folder + "/poster.png";
    const OutputFrameSize size = ProjectPictureSize(p);
    if (!Exists(poster) && !Scale(platform::ToUtf8(p.m_szPosterImage), size.width, size.height,
                                  staging + "/poster.png"))
        return PublishFailed(poster, errno, staging);
    if (withAd) {
        const std::string adFolder = staging + "/ad";
        if (mkdir(adFolder.c_str(), 0755) != 0)
            return PublishFailed(folder + "/ad", errno, staging);
        if (!CopyFolderFiles(templ + "/ad", adFolder, kAdExclude, std::size(kAdExclude), &failed))
            return PublishFailed(failed, errno, staging);
        if (!Scale(platform::ToUtf8(p.m_AdFile), p.m_AdWidth, p.m_AdHeight, adFolder + "/logo.png"))
            return PublishFailed(folder + "/ad/logo.png", errno, staging);
    }
    if (!WriteWhole(staging + "/index.html", bytes))
        return PublishFailed(folder + "/index.html", errno, staging);

    // Everything is written: the previous page makes way for the new one.
    // The captions were made with the videos, and stay with them.
    std::vector<std::u16string> keepNames(std::begin(kKeep), std::end(kKeep));
    for (const PackageCaption& c : captions)
        keepNames.push_back(platform::FromUtf8(c.file));
    if (!captions.empty()) keepNames.push_back(platform::FromUtf8(kCaptionScript));
    std::vector<const char16_t*> keep;
    for (const std::u16string& name : keepNames)
        keep.push_back(name.c_str());
    CleanFolder(folder, keep.data(), keep.size());
    return MoveStaged(staging, folder);
}

} // namespace reelpage
