#include "captions/ProjectCaptions.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "system/PreviewLink.h"

#include "platform/wstr.h"

namespace reelpage {

namespace {

// The cues the preview shows, read on a thread of their own: a stream
// inside a long video takes a while.
struct PreviewCues {
    std::atomic<bool> ready{false};
    std::vector<Cue> cues;
};

struct State {
    std::mutex lock;
    std::vector<CaptionTrack> tracks;
    bool enabled = true;
    std::vector<std::string> messages;
    std::shared_ptr<PreviewCues> preview;
};

State& TheState() {
    static State state;
    return state;
}

// The preview shows what a page shows first: the first track that can be
// used. Called with the state locked.
void ReadPreviewCues(State& s) {
    s.preview.reset();
    if (!s.enabled) return;
    const auto first = std::find_if(s.tracks.begin(), s.tracks.end(),
                                    [](const CaptionTrack& t) { return t.usable; });
    if (first == s.tracks.end()) return;
    auto preview = std::make_shared<PreviewCues>();
    s.preview = preview;
    std::thread([preview, track = *first] {
        std::string problem;
        ReadCues(track, &preview->cues, &problem);
        preview->ready.store(true, std::memory_order_release);
    }).detach();
}

int32_t Fill(const std::vector<CaptionTrack>& tracks, CaptionEntry* out, int32_t capacity) {
    for (int32_t i = 0; out && i < capacity && size_t(i) < tracks.size(); ++i)
        out[i] = ToEntry(tracks[size_t(i)]);
    return int32_t(tracks.size());
}

} // namespace

int32_t ListCaptions(const MediaInfo* media, CaptionEntry* out, int32_t capacity) {
    if (!media) return 0;
    return Fill(FoundCaptions(media->m_szFileName), out, capacity);
}

int32_t GetProjectCaptions(CaptionEntry* out, int32_t capacity) {
    State& s = TheState();
    std::lock_guard lock(s.lock);
    return Fill(s.tracks, out, capacity);
}

int32_t AddCaptionFile(const WCHAR* path, const WCHAR* language, WCHAR* message) {
    if (message) message[0] = 0;
    std::string problem;
    CaptionTrack track;
    const std::string tag = language ? platform::ToUtf8(language) : std::string();
    if (!path || !CaptionFileTrack(path, tag, &track, &problem)) {
        if (message) platform::WStrCopy(message, kMaxPath, platform::FromUtf8(problem));
        return kCaptionUnusable;
    }
    {
        State& s = TheState();
        std::lock_guard lock(s.lock);
        s.tracks.push_back(std::move(track));
        if (!s.preview) ReadPreviewCues(s);
    }
    RefreshPreviewCaption();
    return kCaptionAdded;
}

int32_t SetCaptionsEnabled(BOOL enable) {
    {
        State& s = TheState();
        std::lock_guard lock(s.lock);
        if (s.enabled == (enable != 0)) return 0;
        s.enabled = enable != 0;
        ReadPreviewCues(s);
    }
    RefreshPreviewCaption();
    return 0;
}

BOOL GetCaptionsEnabled() {
    State& s = TheState();
    std::lock_guard lock(s.lock);
    return s.enabled ? 1 : 0;
}

BOOL GetCaptionMessage(int32_t index, WCHAR* out) {
    State& s = TheState();
    std::lock_guard lock(s.lock);
    if (index < 0 || size_t(index) >= s.messages.size()) return 0;
    if (out) platform::WStrCopy(out, kMaxPath, platform::FromUtf8(s.messages[size_t(index)]));
    return 1;
}

void ResetProjectCaptions(const MediaInfo& media) {
    std::vector<CaptionTrack> found = FoundCaptions(media.m_szFileName);
    State& s = TheState();
    std::lock_guard lock(s.lock);
    s.tracks = std::move(found);
    s.enabled = true;
    s.messages.clear();
    ReadPreviewCues(s);
}

std::string PreviewCaptionAt(int64_t ms) {
    std::shared_ptr<PreviewCues> preview;
    {
        State& s = TheState();
        std::lock_guard lock(s.lock);
        preview = s.preview;
    }
    if (!preview || !preview->ready.load(std::memory_order_acquire)) return {};
    // The cue that began last among those showing, as a page shows the latest.
    const auto after = std::upper_bound(preview->cues.begin(), preview->cues.end(), ms,
                                        [](int64_t t, const Cue& c) { return t < c.start; });
    for (auto it = after; it != preview->cues.begin();) {
        --it;
        if (ms < it->end) return it->text;
    }
    return {};
}

std::vector<CaptionTrack> ChosenCaptions() {
    State& s = TheState();
    std::lock_guard lock(s.lock);
    return s.enabled ? s.tracks : std::vector<CaptionTrack>();
}

void SetCaptionMessages(std::vector<std::string> messages) {
    State& s = TheState();
    std::lock_guard lock(s.lock);
    s.messages = std::move(messages);
}

} // namespace reelpage
