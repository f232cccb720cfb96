#include "AudioReader.h"

#include "reelpage/helper_log.h"

#include <chrono>

namespace dec {

namespace {
constexpr size_t kChunkBytes = 64 * 1024;
// Bounds the memory when the main thread falls behind.
constexpr size_t kMaxQueuedBytes = size_t(32) << 20;
} // namespace

AudioReader::~AudioReader() {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bStop = true;
    }
    m_Changed.notify_all();
    if (m_Thread.joinable()) m_Thread.join();
    avformat_close_input(&m_pFormat);
}

bool AudioReader::Start(const std::string& path, int index, const AVCodecParameters* parameters) {
    if (avformat_open_input(&m_pFormat, path.c_str(), nullptr, nullptr) < 0) return false;
    auto matches = [&] {
        return index < int(m_pFormat->nb_streams) &&
               m_pFormat->streams[index]->codecpar->codec_id == parameters->codec_id;
    };
    // Containers that declare their streams in a header need no analysis;
    // the others find them while reading.
    if (!matches() && (avformat_find_stream_info(m_pFormat, nullptr) < 0 || !matches())) {
        avformat_close_input(&m_pFormat);
        return false;
    }
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i)
        m_pFormat->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    if (!m_Decoder.Open(parameters)) {
        avformat_close_input(&m_pFormat);
        return false;
    }
    m_nIndex = index;
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void AudioReader::Put(const uint8_t* pcm, int bytes) {
    m_Chunk.insert(m_Chunk.end(), pcm, pcm + bytes);
    if (m_Chunk.size() < kChunkBytes) return;
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [&] { return m_bStop || m_cbQueued < kMaxQueuedBytes; });
    m_cbQueued += m_Chunk.size();
    m_Chunks.push_back(std::move(m_Chunk));
    m_Chunk.clear();
    lock.unlock();
    m_Changed.notify_all();
}

void AudioReader::Run() {
    AVPacket* packet = av_packet_alloc();
    const AudioDecoder::Sink sink = [this](const uint8_t* pcm, int bytes) { Put(pcm, bytes); };
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            if (m_bStop) break;
        }
        int rc = av_read_frame(m_pFormat, packet);
        if (rc < 0) {
            if (rc != AVERROR_EOF)
                reelpage::HelperLog(reelpage::kHelperLogError, "audio reading stopped (%d)\n", rc);
            m_Decoder.Drain(sink);
            break;
        }
        if (packet->stream_index == m_nIndex) m_Decoder.Decode(packet, sink);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!m_Chunk.empty()) {
        m_cbQueued += m_Chunk.size();
        m_Chunks.push_back(std::move(m_Chunk));
    }
    m_bFinished = true;
    m_Changed.notify_all();
}

int64_t AudioReader::PacketBytes() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bFinished ? m_Decoder.PacketBytes() : 0;
}

bool AudioReader::Take(std::vector<uint8_t>* out, int timeoutMs) {
    out->clear();
    std::unique_lock<std::mutex> lock(m_Lock);
    if (timeoutMs > 0)
        m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_bFinished || !m_Chunks.empty(); });
    if (m_Chunks.empty()) return !m_bFinished;
    *out = std::move(m_Chunks.front());
    m_Chunks.pop_front();
    m_cbQueued -= out->size();
    lock.unlock();
    m_Changed.notify_all();
    return true;
}

} // namespace dec
