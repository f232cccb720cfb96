#pragma once
// What the sound server really played, on the monotonic clock: `parec`
// records the monitor of the sink the preview plays to, a thread reads it and
// notes when each piece arrived. A sample's capture time is the stream's
// start plus its index over the rate, the start taken from the piece that
// arrived soonest after its samples (the lower envelope of arrival time less
// sample time), so the pipe's and the scheduler's delays drop out.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class MonitorCapture {
public:
    static constexpr int kRate = 48000;

    MonitorCapture() = default;
    ~MonitorCapture();
    MonitorCapture(const MonitorCapture&) = delete;
    MonitorCapture& operator=(const MonitorCapture&) = delete;

    // Starts `parec` on source (e.g. "bench.monitor"), mono 16-bit at kRate.
    bool Start(const std::string& source);
    void Stop();

    // Monotonic nanoseconds at which each click (a burst after at least
    // 300 ms of near silence) was played.
    std::vector<int64_t> ClickTimes() const;

private:
    void Run();

    int m_nPid = -1;
    int m_nFd = -1;
    std::thread m_Thread;
    std::atomic<bool> m_bStop{false};
    std::vector<int16_t> m_Samples;
    int64_t m_llStartNs = INT64_MAX; // lower envelope of arrival - sample time
};

// Monotonic nanoseconds (the clock QElapsedTimer and steady_clock use).
int64_t MonotonicNs();

// Pairs each flash with the nearest click within 400 ms; the offsets in
// milliseconds, positive when the sound came after the picture.
std::vector<double> PairOffsets(const std::vector<int64_t>& flashes,
                                const std::vector<int64_t>& clicks);
