#pragma once
// The records the program shares with the engine, as the program sees them.
//
// The program compiles against the same declarations the engine library was
// built from, rather than a hand-kept copy: a copy could only drift, and in
// this one build it would be checked against the engine's header anyway. What
// the start-up handshake (CheckRecordSizes) still guards against is a program
// and an engine library from different builds; the sizes below are the ones
// this program was compiled with, and the asserts keep them at the agreed
// values.
#include "reelpage/blocks.h"
#include "reelpage/captions.h"
#include "reelpage/messages.h"
#include "reelpage/protocol.h"
#include "reelpage/output_size.h"
#include "reelpage/records.h"
#include "reelpage/types.h"

namespace reelpage::app {

using reelpage::CaptionEntry;
using reelpage::HWND;
using reelpage::MediaInfo;
using reelpage::MoreSettings;
using reelpage::ProductInfo;
using reelpage::Project;
using reelpage::Settings;
using reelpage::Talvoricer;
using reelpage::TemplateEntry;
using reelpage::WCHAR;

using PSettings = Settings*;
using PMediaInfo = MediaInfo*;
using PProject = Project*;
using PTalvoricer = Talvoricer*;

constexpr int32_t kAppSettingsSize = int32_t(sizeof(Settings));
constexpr int32_t kAppMediaInfoSize = int32_t(sizeof(MediaInfo));
constexpr int32_t kAppProjectSize = int32_t(sizeof(Project));
static_assert(kAppSettingsSize == 3688);
static_assert(kAppMediaInfoSize == 756);
static_assert(kAppProjectSize == 3848);

// The texts of ProductInfo the program uses, by their place in the file.
enum ProductText : int {
    kProductTitle = 1,
    kProductHomePage = 2,
    kProductEmail = 4,
    kProductRights = 6,
    kProductUpdatePage = 8,
};

} // namespace reelpage::app
