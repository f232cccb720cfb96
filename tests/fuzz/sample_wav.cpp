// The sample file (the import's sound as WAV): any bytes, checked against a
// plausible record as the encoding and the preview check it, then opened by
// the preview's audio player and played, sought and ended.
#include "fuzz_support.h"
#include "media/History.h"
#include "preview/AudioOutput.h"
#include "system/Folders.h"

#include <QCoreApplication>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

#include "platform/wstr.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Home();
    reelpage::CreateMediaInfoFolder();
    // The player's poll timer is a Qt object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static reelpage::MediaInfo m;
    std::memset(&m, 0, sizeof m);
    m.m_bAudioStream = 1;
    m.m_SampleRate = in.ConsumeIntegral<int32_t>();
    m.m_nChannel = in.ConsumeIntegral<int32_t>();
    m.m_FrameRateNum = in.ConsumeIntegral<int32_t>();
    m.m_FrameRateDen = in.ConsumeIntegral<int32_t>();
    // The history only keeps plausible records; nothing else reaches a player.
    if (!reelpage::IsPlausible(m)) return 0;
    const int64_t seek = in.ConsumeIntegral<int64_t>();
    const int64_t end = in.ConsumeIntegral<int64_t>();
    const std::string path = platform::ToUtf8(reelpage::MediaSideFile(m, u"wav"));
    fuzz::WriteFile(path, in.ConsumeRemainingBytesAsString());

    std::string why;
    reelpage::SampleFileMatches(m, &why);
    reelpage::AudioPlayer player(m.m_FrameRateNum, m.m_FrameRateDen,
                                 {[](int64_t) { return 0; }, [](int32_t) { return 0; },
                                  [] { return 0; }},
                                 &m);
    if (player.Start(path, std::make_unique<reelpage::PacedSink>()) != 0) return 0;
    player.Resume();
    player.Poll();
    player.Seek(seek);
    player.SetEnd(end);
    player.Poll();
    player.Pause();
    return 0;
}
