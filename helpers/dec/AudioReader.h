#pragma once
// Reads and decodes the audio of a file on a thread of its own, through its
// own opening of the file, so that the whole track decodes while the main
// thread works on the pictures. Used where all of the sound is wanted (a media
// probe), not where the pictures set the pace.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioDecoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace dec {

class AudioReader {
public:
    AudioReader() = default;
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    // Opens the file again and starts decoding the stream at index, which
    // must be the same stream (same codec) as in the caller's opening;
    // parameters are the caller's, complete after its stream analysis.
    // False when that cannot be done (the caller decodes the audio itself).
    bool Start(const std::string& path, int index, const AVCodecParameters* parameters);
    int SampleRate() const { return m_Decoder.SampleRate(); }
    int Channels() const { return m_Decoder.Channels(); }

    // Moves decoded PCM into out, waiting at most timeoutMs for some. False
    // once everything has been taken and the reader has finished.
    bool Take(std::vector<uint8_t>* out, int timeoutMs);
    // The decoder's packet bytes; complete once Take has returned false.
    int64_t PacketBytes();

private:
    void Run();
    void Put(const uint8_t* pcm, int bytes);

    AVFormatContext* m_pFormat = nullptr;
    int m_nIndex = -1;
    AudioDecoder m_Decoder;
    std::thread m_Thread;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<std::vector<uint8_t>> m_Chunks;
    size_t m_cbQueued = 0;
    std::vector<uint8_t> m_Chunk; // being filled (reader thread only)
    bool m_bFinished = false;
    bool m_bStop = false;
};

} // namespace dec
