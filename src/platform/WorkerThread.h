#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
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

// The program's worker threads, each owned by the keeper, which outlives them all (it
// is never destroyed). A thread that has ended is joined at the next start; at the
// program's end the keeper waits a bounded time for those still at work, and leaves
// the stuck ones (blocked in the kernel on a hung mount) to go with the process.
class ThreadKeeper {
public:
    // Threads let go while blocked in the kernel, at most: past this a caller gives up on
    // the mount at once instead of leaving yet another thread behind.
    static constexpr int MaxStuck = 32;

    static ThreadKeeper &program();

    void start(std::function<void()> work);
    // Started and not yet ended, stuck ones included.
    int running() const;
    // An owner that stops waiting for its thread (blocked in the kernel) lets it go, and
    // says so again when that thread came back; stuck() counts those not yet back.
    void letGo();
    void cameBack();
    int stuck() const;
    // Waits at most msecs until every thread but the stuck ones has ended, and joins the
    // ended. False when some that are not stuck still run.
    bool settle(int msecs);

private:
    ThreadKeeper() = default;
    struct Kept;
    void joinEnded(std::unique_lock<std::mutex> &lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::list<std::shared_ptr<Kept>> m_threads;
    int m_running = 0;
    int m_stuck = 0;
};

// Starts work on a thread of the keeper's: the window's thread never waits for it. What
// it has to say goes through a Mailbox.
template <typename Work> void startWorkerThread(Work work)
{
    ThreadKeeper::program().start(std::function<void()>(std::move(work)));
}

// Worker threads still running, blocked ones included (for tests and the soak run).
inline int workerThreadsRunning()
{
    return ThreadKeeper::program().running();
}

// Of those, the ones their owners let go while blocked in the kernel.
inline int workerThreadsStuck()
{
    return ThreadKeeper::program().stuck();
}

// Waits, at most msecs, until no worker thread runs but the stuck: at the program's
// end, so that the tools they started are gone with it. False when some are still busy.
inline bool waitForWorkerThreads(int msecs)
{
    return ThreadKeeper::program().settle(msecs);
}
