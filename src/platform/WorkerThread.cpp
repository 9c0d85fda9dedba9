#include "WorkerThread.h"

struct ThreadKeeper::Kept {
    std::thread thread;
    bool ended = false;
};

ThreadKeeper &ThreadKeeper::program()
{
    // Never destroyed: a stuck thread may still be in it while the program ends.
    static ThreadKeeper *const keeper = new ThreadKeeper;
    return *keeper;
}

void ThreadKeeper::start(std::function<void()> work)
{
    auto kept = std::make_shared<Kept>();
    std::unique_lock lock(m_mutex);
    joinEnded(lock);
    // Under the lock, so that the thread cannot end before it is held.
    kept->thread = std::thread([this, kept, work = std::move(work)]() mutable {
        work();
        work = nullptr; // what it holds goes on this thread, before it counts as ended
        const std::lock_guard done(m_mutex);
        kept->ended = true;
        --m_running;
        m_changed.notify_all();
    });
    ++m_running;
    m_threads.push_back(kept);
}

void ThreadKeeper::joinEnded(std::unique_lock<std::mutex> &lock)
{
    std::list<std::shared_ptr<Kept>> ended;
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if ((*it)->ended && (*it)->thread.joinable()) {
            ended.push_back(*it);
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
    if (ended.empty())
        return;
    // An ended thread has only its return left to make: the join is short.
    lock.unlock();
    for (const auto &kept : ended)
        kept->thread.join();
    lock.lock();
}

int ThreadKeeper::running() const
{
    const std::lock_guard lock(m_mutex);
    return m_running;
}

void ThreadKeeper::letGo()
{
    const std::lock_guard lock(m_mutex);
    ++m_stuck;
    m_changed.notify_all();
}

void ThreadKeeper::cameBack()
{
    const std::lock_guard lock(m_mutex);
    --m_stuck;
    m_changed.notify_all();
}

int ThreadKeeper::stuck() const
{
    const std::lock_guard lock(m_mutex);
    return m_stuck;
}

bool ThreadKeeper::settle(int msecs)
{
    std::unique_lock lock(m_mutex);
    const bool settled = m_changed.wait_for(lock, std::chrono::milliseconds(msecs),
                                            [this] { return m_running <= m_stuck; });
    joinEnded(lock);
    return settled;
}
