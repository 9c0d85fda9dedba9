#include "CurlSource.h"

#include "CurlOptions.h"
#include "CurlWorker.h"

CurlSource::CurlSource(QObject *parent)
    : SheetSource(parent), m_queue(std::make_shared<CurlQueue>())
{
    initCurl();
    m_queue->multi = curl_multi_init();
}

CurlSource::~CurlSource()
{
    stop();
    if (!m_started)
        curl_multi_cleanup(static_cast<CURLM *>(m_queue->multi)); // nothing ever connected
}

void CurlSource::open()
{
    post(-1, QString(), QString());
}

void CurlSource::fetch(int id, const QString &name, const QString &target)
{
    post(id, name, target);
}

void CurlSource::post(int id, const QString &name, const QString &target)
{
    CurlJob job;
    job.id = id;
    job.url = urlOf(name);
    job.target = target;
    const std::lock_guard lock(m_queue->mutex);
    if (m_queue->stopping)
        return;
    m_queue->incoming.push_back(std::move(job));
    if (!m_started) {
        m_started = true;
        std::shared_ptr<CurlWorker> worker = makeWorker(m_queue);
        startWorkerThread([worker] { worker->run(); });
    } else if (m_queue->multi) {
        curl_multi_wakeup(static_cast<CURLM *>(m_queue->multi));
    }
}

void CurlSource::stop()
{
    closeMailbox();
    const std::lock_guard lock(m_queue->mutex);
    m_queue->stopping = true;
    m_queue->incoming.clear();
    if (m_started && m_queue->multi)
        curl_multi_wakeup(static_cast<CURLM *>(m_queue->multi));
}
