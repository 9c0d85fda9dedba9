#include "ShareFetcher.h"

ShareFetcher::ShareFetcher(QString folder, FileSystem &fso, QObject *parent)
    : SheetFetcher(parent), m_folder(std::move(folder)), m_fso(fso)
{
    m_pool.setMaxThreadCount(Copiers);
}

ShareFetcher::~ShareFetcher()
{
    stop();
    m_pool.waitForDone(); // every copy holds this object as the receiver of its result
}

void ShareFetcher::fetch(int id, const QString &source, const QString &target)
{
    ShareFetcher *self = this;
    const auto stopped = m_stopped;
    const QString from = m_folder + source;
    FileSystem *fso = &m_fso;
    m_pool.start([=] {
        if (*stopped)
            return;
        const FsResult result = fso->copyFile(from, target);
        QMetaObject::invokeMethod(
            self,
            [=] {
                if (!*stopped)
                    emit self->fetched(id, result);
            },
            Qt::QueuedConnection);
    });
}

void ShareFetcher::stop()
{
    *m_stopped = true;
    m_pool.clear();
    // A copy of one sheet is short; it must not land after the workspace is emptied.
    m_pool.waitForDone(1000);
}
