#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// How a worker thread reports to an object on the window's thread. A report is
// posted, so it never runs on the worker's stack or inside one of the receiver's own
// calls, and the receiver may end the work from it. Once the receiver has closed the
// mailbox nothing reaches it any more, so it may let go of a worker that is still
// blocked (in the kernel, on a hung mount) and never wait for it.
class Mailbox : public std::enable_shared_from_this<Mailbox> {
public:
    static std::shared_ptr<Mailbox> create(QObject *receiver)
    {
        return std::shared_ptr<Mailbox>(new Mailbox(receiver));
    }

    // From any thread: runs report on the receiver's thread, unless closed by then.
    void post(std::function<void()> report)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_receiver)
            return;
        QMetaObject::invokeMethod(
            m_receiver,
            [self = shared_from_this(), report = std::move(report)] {
                if (!self->isClosed())
                    report();
            },
            Qt::QueuedConnection);
    }

    // On the receiver's thread, at the latest in its destructor.
    void close()
    {
        const std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
    }

    bool isClosed() const
    {
        const std::lock_guard lock(m_mutex);
        return m_receiver == nullptr;
    }

private:
    explicit Mailbox(QObject *receiver) : m_receiver(receiver) {}

    mutable std::mutex m_mutex;
    QObject *m_receiver;
};

// Starts work on a thread of its own that nobody joins: the window's thread never
// waits for it. What it has to say goes through a Mailbox.
inline std::atomic<int> &workerThreadCount()
{
    static std::atomic<int> count{0};
    return count;
}

template <typename Work> void startWorkerThread(Work work)
{
    ++workerThreadCount();
    std::thread([work = std::move(work)]() mutable {
        work();
        --workerThreadCount();
    }).detach();
}

// Worker threads still running, blocked ones included (for tests and the soak run).
inline int workerThreadsRunning()
{
    return workerThreadCount().load();
}

// Waits, at most msecs, until no worker thread runs: at the program's end, so that the
// tools they started are gone with it. False when some are still stuck.
inline bool waitForWorkerThreads(int msecs)
{
    for (int waited = 0; workerThreadsRunning() > 0; waited += 10) {
        if (waited >= msecs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
