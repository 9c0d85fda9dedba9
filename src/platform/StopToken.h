#pragma once

#include <atomic>

// A stop that a blocking wait hears at once: stop(), from any thread, makes fd()
// readable, so a poll() that watches it ends without a round of polling.
class StopToken {
public:
    StopToken();
    ~StopToken();
    StopToken(const StopToken &) = delete;
    StopToken &operator=(const StopToken &) = delete;

    void stop();
    bool isStopped() const { return m_stopped.load(); }
    // Readable once stopped; -1 when the system had no descriptor to give, and then
    // isStopped() must be looked at now and then instead.
    int fd() const { return m_fd; }

private:
    std::atomic<bool> m_stopped{false};
    int m_fd = -1;
};
