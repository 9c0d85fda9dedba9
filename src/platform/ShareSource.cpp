#include "ShareSource.h"

#include <QFile>

#include <condition_variable>
#include <deque>

#include <cerrno>
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
    int copiers = 0;
    int idle = 0;
    bool stopped = false;
};

ShareSource::ShareSource(QString folder, FileSystem &fso, QObject *parent)
    : SheetSource(parent), m_folder(std::move(folder)),
      m_shared(std::make_shared<Shared>(fso, mailbox()))
{
}

ShareSource::~ShareSource()
{
    stop();
}

void ShareSource::open()
{
    mailbox()->post([this] { emit opened(true, QString()); });
}

void ShareSource::fetch(int id, const QString &name, const QString &target)
{
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->stopped)
        return;
    m_shared->queue.push_back({id, m_folder + name, target});
    if (m_shared->idle > 0) {
        m_shared->wake.notify_one();
    } else if (m_shared->copiers < Copiers) {
        ++m_shared->copiers;
        startWorkerThread([shared = m_shared, this] { copier(shared, this); });
    }
}

void ShareSource::stop()
{
    closeMailbox();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->queue.clear();
    m_shared->wake.notify_all();
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
        const FsResult copied = shared->fso.copyFile(job.from, job.to);
        FetchResult result;
        if (!copied) {
            result.kind = copied.notFound ? FetchResult::NotOnSource
                          : copied.local  ? FetchResult::WorkspaceFailed
                                          : FetchResult::TransferFailed;
            result.code = copied.code;
            result.detail = copied.error;
        }
        const std::lock_guard lock(shared->mutex);
        if (shared->stopped) {
            // The build has gone: what came late must not stay in its folder.
            if (copied)
                ::unlink(QFile::encodeName(job.to).constData());
            break;
        }
        // The source is alive while its mailbox is open; the mailbox checks that.
        shared->mailbox->post([source, id = job.id, result] { emit source->fetched(id, result); });
    }
    const std::lock_guard lock(shared->mutex);
    --shared->copiers;
}
