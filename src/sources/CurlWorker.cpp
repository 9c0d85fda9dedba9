#include "CurlWorker.h"

#include <algorithm>

using std::chrono::milliseconds;

namespace {

qint64 msSince(CurlClock::time_point then, CurlClock::time_point now = CurlClock::now())
{
    return std::chrono::duration_cast<milliseconds>(now - then).count();
}

} // namespace

CurlWorker::CurlWorker(std::shared_ptr<CurlQueue> queue, std::shared_ptr<Mailbox> mailbox,
                       SheetSource *source, int capacity, int stallSeconds)
    : m_shared(std::move(queue)), m_mailbox(std::move(mailbox)), m_source(source),
      m_multi(static_cast<CURLM *>(m_shared->multi)), m_capacity(qMax(1, capacity)),
      m_stallMs(stallSeconds * 1000)
{
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, long(m_capacity));
}

void CurlWorker::run()
{
    while (takeIncoming()) {
        startJobs();
        int running = 0;
        // libcurl waits for an FTP transfer's closing reply (226) inside this call,
        // blocking the thread for up to the reply limit; meanwhile nothing of the other
        // transfers could be heard, and that time is not theirs to count as silence.
        const auto before = CurlClock::now();
        curl_multi_perform(m_multi, &running);
        const auto blocked = CurlClock::now() - before;
        if (blocked > milliseconds(100)) {
            for (CurlTransfer *t : std::as_const(m_active)) {
                t->heard += blocked;
                t->frozen += std::chrono::duration_cast<milliseconds>(blocked).count();
            }
        }
        collect();
        watchdog();
        // Woken early by libcurl's sockets and timers and by new fetches or stop().
        int wait = 100;
        const auto now = CurlClock::now();
        if (m_resumeAt > now && !m_queue.empty())
            wait = int(qMin<qint64>(wait, -msSince(m_resumeAt, now)));
        for (const CurlJob &job : m_queue) {
            if (job.notBefore > now)
                wait = int(qMin<qint64>(wait, -msSince(job.notBefore, now)));
        }
        curl_multi_poll(m_multi, nullptr, 0, qMax(1, wait), nullptr);
    }
    shutDown();
}

bool CurlWorker::takeIncoming()
{
    std::deque<CurlJob> incoming;
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopping)
            return false;
        incoming.swap(m_shared->incoming);
    }
    for (CurlJob &job : incoming) {
        if (m_lost && job.id < 0)
            answerProbe({FetchResult::SourceLost, 0, QString()});
        else if (m_lost)
            answer(job.id, {FetchResult::SourceLost, 0, QString()});
        else if (job.id < 0)
            m_queue.push_front(std::move(job)); // the probe goes first
        else
            m_queue.push_back(std::move(job));
    }
    return true;
}

void CurlWorker::startJobs()
{
    const auto now = CurlClock::now();
    if (now < m_resumeAt)
        return; // the server is away: the pause before the next try
    for (auto it = m_queue.begin(); it != m_queue.end() && m_active.size() < m_capacity;) {
        if (it->notBefore > now) {
            ++it;
            continue;
        }
        CurlJob job = std::move(*it);
        it = m_queue.erase(it);
        start(std::move(job));
    }
}

void CurlWorker::start(CurlJob job)
{
    const bool probe = job.id < 0;
    std::unique_ptr<ScratchFile> file;
    if (!probe) {
        file = std::make_unique<ScratchFile>(job.target);
        if (!file->open()) {
            answer(job.id, {FetchResult::WorkspaceFailed, file->errorCode(), file->errorString()});
            return;
        }
    }
    auto *t = new CurlTransfer;
    t->worker = this;
    t->job = std::move(job);
    t->file = std::move(file);
    t->easy = m_idle.isEmpty() ? curl_easy_init() : m_idle.takeLast();
    CURL *easy = t->easy;
    curl_easy_setopt(easy, CURLOPT_URL, t->job.url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, t->job.fresh ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, probe ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlWorker::onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlWorker::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->error);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &t->accepted);
    configure(*t);
    t->started = t->heard = CurlClock::now();
    m_active << t;
    curl_multi_add_handle(m_multi, easy);
}

size_t CurlWorker::onData(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<CurlTransfer *>(transfer);
    const qint64 bytes = qint64(size * count);
    if (!t->file)
        return size * count; // the probe: nothing to keep
    // A server that streams without end, or a huge file under a sheet's name, must not
    // fill the disk or run for ever.
    if (t->received + bytes > FetchResult::MaxSheetBytes) {
        t->tooLarge = true;
        return 0;
    }
    if (!t->file->write(data, bytes))
        return 0;
    const auto now = CurlClock::now();
    if (t->head.size() < 8)
        t->head += QByteArray(data, qMin<qint64>(bytes, 8 - t->head.size()));
    if (t->received == 0)
        t->worker->noteWait(msSince(t->heard, now));
    t->received += bytes;
    t->heard = now;
    return size * count;
}

size_t CurlWorker::onHeader(char *line, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<CurlTransfer *>(transfer);
    const auto now = CurlClock::now();
    t->worker->noteWait(msSince(t->heard, now));
    t->heard = now;
    t->worker->heard(*t, QByteArray(line, qsizetype(size * count)).trimmed());
    return size * count;
}

void CurlWorker::collect()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *data = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
        auto *t = reinterpret_cast<CurlTransfer *>(data);
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(m_multi, message->easy_handle);
        m_active.removeOne(t);
        end(t, code);
        if (m_lost)
            return;
    }
}

void CurlWorker::noteWait(qint64 ms)
{
    m_waits << ms;
    if (m_waits.size() > 128)
        m_waits.removeFirst();
}

qint64 CurlWorker::pace() const
{
    // The server's slow replies, not its slowest: one reply held up by a busy machine
    // must not make every later loss wait.
    if (m_waits.isEmpty())
        return 200;
    QList<qint64> waits = m_waits;
    const auto high = waits.begin() + waits.size() * 9 / 10;
    std::nth_element(waits.begin(), high, waits.end());
    return *high;
}

void CurlWorker::watchdog()
{
    // A reply or a sheet's first data comes within the server's pace; a silence many
    // times as long is no slow server but a connection it lost. The bound below it is
    // for this machine's own hiccups (a thread not run for a moment).
    const qint64 early = qMax<qint64>(100, 8 * pace());
    const auto now = CurlClock::now();
    const QList<CurlTransfer *> active = m_active;
    for (CurlTransfer *t : active) {
        const qint64 silent = msSince(t->heard, now);
        // Each rescue of a fetch waits twice as long as the one before, so that a slow
        // server is not pressed with ever more connections; after a few, the stall limit.
        constexpr int MaxRescues = 5;
        if (silent < m_stallMs &&
            (silent < (early << t->job.rescues) || t->job.rescues >= MaxRescues))
            continue;
        const Overdue verdict = silent < m_stallMs ? overdue(*t) : Overdue::Fail;
        if (verdict == Overdue::Wait)
            continue;
        detach(t);
        if (verdict == Overdue::Move) {
            CurlJob job = t->job;
            ++job.rescues;
            job.fresh = false; // a kept connection, when one is free
            m_idle << t->easy;
            delete t;
            again(std::move(job));
            continue;
        }
        t->silenced = true;
        end(t, CURLE_OPERATION_TIMEDOUT);
        if (m_lost)
            return;
    }
}

void CurlWorker::detach(CurlTransfer *t)
{
    // Removed half-way: libcurl closes its connection, which is never used again.
    curl_multi_remove_handle(m_multi, t->easy);
    m_active.removeOne(t);
}

void CurlWorker::end(CurlTransfer *t, CURLcode code)
{
    const std::unique_ptr<CurlTransfer> done(t);
    finished(*t, code);
    t->file.reset(); // an uncommitted file removes itself
    if (t->easy)
        m_idle << t->easy;
}

bool CurlWorker::commit(CurlTransfer &t)
{
    return t.file && t.file->commit();
}

void CurlWorker::setCapacity(int capacity)
{
    m_capacity = qMax(1, capacity);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, long(m_capacity));
}

void CurlWorker::answered()
{
    m_strikes = 0;
    m_anyWorked = true;
    m_resumeAt = {};
}

bool CurlWorker::outage(const CurlTransfer &t, const SourceLoss &why)
{
    const auto now = CurlClock::now();
    // A server that went away fails every connection at once: one strike for them all.
    if (m_strikes == 0 || t.started >= m_lastStrike) {
        if (m_strikes == 0) {
            ++m_outages;
            m_outageSince = now;
            m_pauseMs = 100;
        } else {
            m_pauseMs = qMin<qint64>(2 * m_pauseMs, 4000);
        }
        ++m_strikes;
        m_lastStrike = now;
        m_resumeAt = now + milliseconds(m_pauseMs);
        constexpr int StrikesToGiveUp = 3;
        if (m_strikes >= StrikesToGiveUp && now - m_outageSince >= milliseconds(m_stallMs)) {
            again(t.job); // answered with the others
            giveUp(why);
            return true;
        }
    }
    if (t.job.outage != 0 && t.job.outage != m_outages)
        return false; // it failed before, when the server was there: the sheet's own
    CurlJob job = t.job;
    job.outage = m_outages;
    job.fresh = true;
    again(std::move(job));
    return true;
}

void CurlWorker::giveUp(const SourceLoss &why)
{
    m_lost = true;
    const QList<CurlTransfer *> active = std::exchange(m_active, {});
    std::deque<CurlJob> queued = std::exchange(m_queue, {});
    for (CurlTransfer *t : active) {
        curl_multi_remove_handle(m_multi, t->easy);
        curl_easy_cleanup(t->easy);
        queued.push_back(t->job);
        delete t;
    }
    // Told first, so that whoever hears the answers knows why.
    m_mailbox->post([source = m_source, why] { emit source->lost(why); });
    for (const CurlJob &job : queued) {
        if (job.id < 0)
            answerProbe({FetchResult::SourceLost, 0, QString()});
        else
            answer(job.id, {FetchResult::SourceLost, 0, QString()});
    }
}

void CurlWorker::answer(int id, const FetchResult &result)
{
    m_mailbox->post([source = m_source, id, result] { emit source->fetched(id, result); });
}

void CurlWorker::answerProbe(const FetchResult &result)
{
    m_mailbox->post([source = m_source, result] { emit source->opened(result); });
}

void CurlWorker::shutDown()
{
    for (CurlTransfer *t : std::as_const(m_active)) {
        curl_multi_remove_handle(m_multi, t->easy);
        curl_easy_cleanup(t->easy);
        delete t; // a file half-fetched removes itself
    }
    m_active.clear();
    for (CURL *easy : std::as_const(m_idle))
        curl_easy_cleanup(easy);
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->multi = nullptr;
    }
    // Says goodbye on the kept connections (QUIT) and waits for the answers, bounded by
    // the reply limit; nobody waits for this thread.
    curl_multi_cleanup(m_multi);
}
