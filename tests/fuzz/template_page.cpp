// A template's page and its advertisement block: any bytes, decoded and
// filled in as the page generator does, with any title, link and sizes.
#include "fuzz_support.h"
#include "publishing/PageGenerator.h"

#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

#include "platform/wstr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Home();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static reelpage::Project project;
    static reelpage::MediaInfo media;
    std::memset(&project, 0, sizeof project);
    std::memset(&media, 0, sizeof media);
    project.m_OutputWidth = in.ConsumeIntegral<int32_t>();
    project.m_OutputHeight = in.ConsumeIntegral<int32_t>();
    project.m_AdWidth = in.ConsumeIntegral<int32_t>();
    project.m_AdHeight = in.ConsumeIntegral<int32_t>();
    project.m_Controls = in.ConsumeBool() ? -1 : 0;
    project.m_Autoplay = in.ConsumeBool() ? -1 : 0;
    project.m_Loop = in.ConsumeBool() ? -1 : 0;
    for (auto& f : project.m_Formats) f = in.ConsumeBool() ? -1 : 0;
    media.m_bAudioStream = in.ConsumeBool() ? -1 : 0;
    const bool withAd = in.ConsumeBool();
    if (withAd) project.m_AdFile[0] = u'a';
    platform::WStrCopy(media.m_szName, fuzz::Utf16(in.ConsumeRandomLengthString(600)));
    platform::WStrCopy(project.m_AdLink, fuzz::Utf16(in.ConsumeRandomLengthString(2100)));
    const std::u16string ad = reelpage::DecodeTemplateText(in.ConsumeRandomLengthString());
    const std::u16string page = reelpage::DecodeTemplateText(
        in.ConsumeBytesAsString(std::min(in.remaining_bytes(), reelpage::kTemplateReadLimit)));

    const reelpage::PageValues values{&project, in.ConsumeBool() ? &media : nullptr, 12345};
    std::u16string out;
    if (reelpage::ExpandPage(page, withAd ? &ad : nullptr, values, &out) &&
        out.size() >= reelpage::kPageUnits)
        __builtin_trap(); // a page the page buffer cannot hold
    return 0;
}
