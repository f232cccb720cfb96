#pragma once
// Turns an output folder with its videos into a web package: the template's
// files, the poster, the advertisement picture and the filled-in page.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "captions/Captions.h"
#include "reelpage/records.h"

namespace reelpage {

// Builds the page for project in folder (UTF-16 path). Returns false, with a
// logged reason, when the page cannot be made; the folder is then left as it
// was. tickMs is the millisecond tick count that names the page's player.
// captions are the caption files already in the folder, linked in that order.
bool GeneratePage(const char16_t* folder, const Project& project, const MediaInfo* media,
                  const std::vector<PackageCaption>& captions = {});

// The pieces, exposed for the page tests.
struct PageValues {
    const Project* project;
    const MediaInfo* media;
    uint32_t tick;
    const std::vector<PackageCaption>* captions = nullptr;
    // Each output's full type (SourceType), by m_Formats' order; an empty
    // one gives the bare type of its container.
    std::array<std::string, 3> types{};
};
// Expands a template text (UTF-16, after its byte-order mark). adHtml is the
// advertisement template's text or null when there is no advertisement block.
// Returns false when the result would not fit the page's limits.
bool ExpandPage(std::u16string_view text, const std::u16string* adHtml, const PageValues& v,
                std::u16string* out);
// Every byte written and on the disk, or false with errno set: a full disk
// may only show when the data is flushed.
bool WriteWhole(const std::string& path, const std::string& bytes);
// A template text from its file's bytes (at most kTemplateReadLimit of them
// are read): UTF-16LE after the first two bytes, cut at the last whole code
// unit and at the first NUL.
std::u16string DecodeTemplateText(std::string_view bytes);
// Removes everything in folder but the kept names (case-insensitive),
// recursing into subfolders; folders whose name starts with "." are left.
void CleanFolder(const std::string& folder, const char16_t* const* keep, size_t keepCount);

constexpr size_t kTemplateReadLimit = 131072;
constexpr size_t kPageUnits = 65536;
constexpr size_t kPageBytes = 65536;

} // namespace reelpage
