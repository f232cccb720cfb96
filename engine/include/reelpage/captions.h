#pragma once
// Captions found in or beside a video, or added by hand, as the program and
// the command-line front end see them. Beyond the shared records: nothing here
// is stored or mapped by a helper, so the record is free to grow.
#include <cstdint>

#include "reelpage/types.h"

namespace reelpage {

struct CaptionEntry {
    WCHAR szFile[kMaxPath]; // the caption file, or the video for a stream inside it
    WCHAR szLanguage[36];   // a language tag ("en", "pt-BR"); "und" when unknown
    WCHAR szFormat[32];     // the decoder's name: "subrip", "webvtt", "mov_text", "ass", ...
    WCHAR szLabel[64];      // what a page's caption menu shows
    int32_t nStream;        // the stream's index in the video, -1 for a file
    LongBool bUsable;       // text captions; picture subtitles (DVD, PGS) cannot be made WebVTT
    LongBool bByHand;       // added by the user rather than found
};

// AddCaptionFile's results.
enum AddCaptionResult : int32_t {
    kCaptionAdded = 0,
    kCaptionUnusable = 1, // the message says why, naming the file
};

} // namespace reelpage
