#include "ShareSource.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <deque>

#include <unistd.h>

struct ShareSource::Shared {
    Shared(FileSystem &fso, std::shared_ptr<Mailbox> mailbox)
        : fso(fso), mailbox(std::move(mailbox))
    {
    }
    struct Job {
        int id;
        QString from;
        QString to;
    };
    FileSystem &fso;
    std::shared_ptr<Mailbox> mailbox;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> queue;
    QSet<int> abandoned; // copies given up on: their threads no longer count
    int copiers = 0;
    int idle = 0;
    bool stopped = false;
};

namespace {

std::atomic<int> &stuck()
{
    static std::atomic<int> count{0};
    return count;
}

} // namespace

int ShareSource::stuckCopiers()
{
    return stuck().load();
}

ShareSource::ShareSource(QString folder, FileSystem &fso, int stallSeconds, QObject *parent)
    : SheetSource(parent), m_folder(std::move(folder)), m_stallMs(stallSeconds * 1000),
      m_shared(std::make_shared<Shared>(fso, mailbox()))
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &ShareSource::expireDue);
}

ShareSource::~ShareSource()
{
    stop();
}

void ShareSource::open()
{
    mailbox()->post([this] {
        if (stuck() < MaxStuckCopiers) {
            emit opened(FetchResult{});
            return;
        }
        // Earlier builds' copies are still stuck in it: a new one would only add to them.
        m_lost = true;
        emit lost({SourceLoss::StoppedAnswering, SourceMode::Share, QString()});
        emit opened({FetchResult::SourceLost, 0, QString()});
    });
}

void ShareSource::fetch(int id, const QString &name, const QString &target)
{
    if (m_lost) {
        // Later, not from inside the caller's own call.
        mailbox()->post([this, id] { answer(id, {FetchResult::SourceLost, 0, QString()}); });
        m_pending << id;
        return;
    }
    m_pending << id;
    watch(id);
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->stopped)
        return;
    m_shared->queue.push_back({id, m_folder + name, target});
    if (m_shared->idle > 0)
        m_shared->wake.notify_one();
    else if (m_shared->copiers < Copiers)
        startCopier();
}

void ShareSource::startCopier()
{
    ++m_shared->copiers;
    startWorkerThread([shared = m_shared, this] { copier(shared, this); });
}

void ShareSource::stop()
{
    closeMailbox();
    m_pending.clear();
    m_deadlines.clear();
    m_watchdog.stop();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->queue.clear();
    m_shared->wake.notify_all();
}

void ShareSource::answer(int id, const FetchResult &result)
{
    if (m_pending.remove(id))
        emit fetched(id, result);
}

void ShareSource::copied(int id, const FetchResult &result)
{
    if (!m_pending.contains(id))
        return;    // told already: it ran out of time
    m_strikes = 0; // the share answered
    answer(id, result);
}

void ShareSource::watch(int id)
{
    m_deadlines.emplace_back(QDeadlineTimer(m_stallMs), id);
    if (!m_watchdog.isActive())
        m_watchdog.start(int(m_deadlines.front().first.remainingTime()));
}

void ShareSource::expireDue()
{
    while (!m_deadlines.empty() && m_deadlines.front().first.hasExpired()) {
        const int id = m_deadlines.front().second;
        m_deadlines.pop_front();
        expire(id); // may watch it again, at the back
    }
    if (!m_deadlines.empty() && !m_watchdog.isActive())
        m_watchdog.start(int(m_deadlines.front().first.remainingTime()));
}

void ShareSource::expire(int id)
{
    if (!m_pending.contains(id))
        return;
    {
        // Its copy is stuck in the kernel: let its thread go, and start another.
        const std::lock_guard lock(m_shared->mutex);
        const auto queued = std::find_if(m_shared->queue.cbegin(), m_shared->queue.cend(),
                                         [id](const Shared::Job &job) { return job.id == id; });
        if (queued != m_shared->queue.cend()) {
            // Not begun: the copies before it are slow, or stuck and soon let go.
            watch(id);
            return;
        }
        m_shared->abandoned << id;
        --m_shared->copiers;
        ++stuck();
        ThreadKeeper::program().letGo();
        if (stuck() < MaxStuckCopiers && !m_shared->queue.empty() && m_shared->idle == 0)
            startCopier();
    }
    const QString why =
        QStringLiteral("The share did not answer within %1 seconds.").arg(m_stallMs / 1000);
    const bool gone = ++m_strikes >= StrikesToGiveUp || stuck() >= MaxStuckCopiers;
    answer(id, {gone ? FetchResult::SourceLost : FetchResult::TransferFailed, 0, why});
    if (gone)
        loseShare(why);
}

void ShareSource::loseShare(const QString &why)
{
    // Three in a row, or too many stuck: the share is gone. Every sheet not yet told is
    // lost with it.
    m_lost = true;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->queue.clear();
    }
    emit lost({SourceLoss::StoppedAnswering, SourceMode::Share, QString()});
    const QSet<int> pending = m_pending;
    for (const int other : pending)
        answer(other, {FetchResult::SourceLost, 0, why});
}

void ShareSource::copier(std::shared_ptr<Shared> shared, ShareSource *source)
{
    for (;;) {
        Shared::Job job;
        {
            std::unique_lock lock(shared->mutex);
            ++shared->idle;
            shared->wake.wait(lock, [&] { return shared->stopped || !shared->queue.empty(); });
            --shared->idle;
            if (shared->stopped)
                break;
            job = shared->queue.front();
            shared->queue.pop_front();
        }
        const FsResult copied = shared->fso.copyFile(job.from, job.to, FetchResult::MaxSheetBytes);
        FetchResult result;
        if (!copied) {
            result.kind = copied.notFound ? FetchResult::NotOnSource
                          : copied.local  ? FetchResult::WorkspaceFailed
                                          : FetchResult::TransferFailed;
            result.code = copied.code;
            // "Not on the share" says it all; other failures keep the system's words.
            if (!copied.notFound)
                result.detail = copied.error;
        }
        const std::lock_guard lock(shared->mutex);
        if (shared->stopped || shared->abandoned.contains(job.id)) {
            // Nobody waits for it any more: what came late must not stay.
            if (copied)
                ::unlink(QFile::encodeName(job.to).constData());
            if (shared->abandoned.remove(job.id)) {
                // Counted out of the copiers when it was given up on; back now.
                --stuck();
                ThreadKeeper::program().cameBack();
                return;
            }
            break;
        }
        // The source is alive while its mailbox is open; the mailbox checks that.
        shared->mailbox->post([source, id = job.id, result] { source->copied(id, result); });
    }
    const std::lock_guard lock(shared->mutex);
    --shared->copiers;
}
