#pragma once
// Captions: finding them in and beside a video, reading their cues through
// FFmpeg's subtitle decoders, and writing them as WebVTT into a package.
//
// This runs inside the engine rather than in the decoder helper: caption
// files are text, capped in size before they are read, and the helpers'
// shared records have no room for a list of tracks. The engine already
// decodes the user's pictures in process through the same libraries. Nothing
// here runs on the interface thread: the search starts beside the import's
// probe and the package's files are made on a thread of the encoding job.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reelpage/captions.h"

namespace reelpage {

struct CaptionTrack {
    std::u16string file;  // the caption file, or the video for a stream in it
    int32_t stream = -1;  // the stream's index in the video, -1 for a file
    std::string language; // a language tag, "und" when unknown
    std::string format;   // the decoder's name
    std::string label;    // the page's name for the track
    bool usable = true;
    bool byHand = false;
};

// One cue: milliseconds from the start of the video (or of the clip, once
// clipped), and its text as plain lines.
struct Cue {
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
    bool operator==(const Cue&) const = default;
};

// A page links at most this many caption files, each with a language tag of
// at most kMaxLanguageTag characters and a label of at most kMaxLabel: the
// page's fixed buffer must hold them whatever a container names its streams.
constexpr size_t kMaxPageCaptions = 16;
constexpr size_t kMaxLanguageTag = 35;
constexpr size_t kMaxLabel = 63;

// A caption file larger than this is refused unread: hours of dialogue fit
// in a few hundred kilobytes.
constexpr int64_t kMaxCaptionFileBytes = 8 * 1024 * 1024;

// The language a caption file beside the video names: "clip.srt" -> "und",
// "clip.en.srt" -> "en", "clip.pt-BR.vtt" -> "pt-BR". Empty when the file is
// not a caption file of that video (another base name, another extension, or
// a middle part that is no language tag).
std::string SideCaptionLanguage(std::u16string_view videoPath, std::u16string_view captionPath);

// The caption files beside a video and the subtitle streams inside it, in
// that order; picture subtitles are listed as not usable.
std::vector<CaptionTrack> FindCaptions(const std::u16string& videoPath);

// Starts FindCaptions for a video on a thread of its own; FoundCaptions
// answers its result, waiting for it (or searching then) when needed.
void BeginCaptionSearch(const std::u16string& videoPath);
std::vector<CaptionTrack> FoundCaptions(const std::u16string& videoPath);

// A caption file chosen by hand, as a track; false with a message naming the
// file when it cannot be read as captions. Without a language, the part of
// the name before the extension gives it when it is one ("talk.de.srt").
bool CaptionFileTrack(const std::u16string& path, const std::string& language, CaptionTrack* out,
                      std::string* problem);

// Reads every cue of a track, in order of time. False with a message naming
// the file when it cannot be used: missing, empty, too large, not UTF-8, not
// caption text at all, or without a single cue of sound timing.
// A message with a true result tells of cues left out. cancel, when set,
// stops the reading of a video's stream.
bool ReadCues(const CaptionTrack& track, std::vector<Cue>* cues, std::string* problem,
              const std::atomic<bool>* cancel = nullptr);

// The text of a decoded subtitle (an ASS dialogue line: eight fields, then
// the text) as plain lines: override blocks go, line breaks stay.
std::string PlainCueText(std::string_view dialogue);

// The cues of a clip from start (microseconds) to stop (microseconds, 0 = to
// the end): those that end before the start or begin at or after the stop
// go, the rest are cut to the clip and moved to its time.
std::vector<Cue> ClipCues(const std::vector<Cue>& cues, int64_t start, int64_t stop);

// A WebVTT file of the cues, UTF-8. Cue text is escaped, so markup in a
// caption shows as the characters it is made of.
std::string WebVttText(const std::vector<Cue>& cues);

// One caption file of a package, as the page links it.
struct PackageCaption {
    std::string file; // "captions.en.vtt"
    std::string language;
    std::string label;
};

// Writes captions.<language>.vtt for each usable track into folder, and
// captions.js with the same cues for pages opened from the disk, where a
// browser refuses to load a <track>. A track that cannot be made is left out
// with a message in problems; the rest go on.
std::vector<PackageCaption> WritePackageCaptions(const std::string& folder,
                                                 const std::vector<CaptionTrack>& tracks,
                                                 int64_t clipStart, int64_t clipStop,
                                                 std::vector<std::string>* problems,
                                                 const std::atomic<bool>* cancel = nullptr);

// The name of the script file with every cue of a package.
inline constexpr char kCaptionScript[] = "captions.js";

// The record the exports hand out.
CaptionEntry ToEntry(const CaptionTrack& track);

} // namespace reelpage
