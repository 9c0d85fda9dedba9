#include "FtpSource.h"

#include "FtpConnection.h"
#include "platform/ScratchFile.h"

#include <QList>

#include <algorithm>
#include <chrono>
#include <deque>

#include <curl/curl.h>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

struct Job {
    int id = -1; // -1: the directory probe
    QByteArray url;
    QString target;
    bool retried = false;             // a second try has been given
    bool reconnected = false;         // tried again after a kept connection had gone
    int thawed = 0;                   // tried again after the worker's freeze cost it its time
    bool fresh = false;               // on a new connection
    int rescues = 0;                  // moved off a connection that fell silent
    Clock::time_point notBefore{};    // waiting for the server to take a connection
    Clock::time_point refusedSince{}; // the first refusal of this fetch
};

struct Transfer {
    Job job;
    CURL *easy = nullptr;
    std::unique_ptr<ScratchFile> file;
    Clock::time_point started;
    Clock::time_point heard; // the last reply or data
    qint64 received = 0;
    qint64 announced = -1;   // the size the server gave as the transfer began
    bool passive = false;    // started in passive mode
    bool silenced = false;   // ended by the watchdog
    int lastCode = 0;        // of the server's last reply
    qint64 slowestReply = 0; // the longest wait for a reply, in ms: the server's pace
    qint64 frozen = 0;       // ms the worker spent blocked while it was under way
    QByteArray lastReply;    // the server's last reply line
};

// "150 Opening BINARY mode data connection for x.pdf (1234 bytes)."; -1 when the
// reply gives no size.
qint64 announcedSize(const QByteArray &line)
{
    if (!line.startsWith("150") && !line.startsWith("125"))
        return -1;
    const qsizetype end = line.lastIndexOf(" bytes)");
    const qsizetype open = end < 0 ? -1 : line.lastIndexOf('(', end);
    bool ok = false;
    const qint64 size = open < 0 ? -1 : line.mid(open + 1, end - open - 1).toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

// Answers from the server about the sheet itself: asking again cannot help.
bool notOnServer(CURLcode code)
{
    return code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED ||
           code == CURLE_FTP_COULDNT_RETR_FILE;
}

// The data connection of active mode was refused or never came.
bool activeModeFailed(CURLcode code)
{
    return code == CURLE_FTP_PORT_FAILED || code == CURLE_FTP_ACCEPT_FAILED ||
           code == CURLE_FTP_ACCEPT_TIMEOUT;
}

// The server did not answer, or is not there at all.
bool silence(CURLcode code)
{
    return code == CURLE_OPERATION_TIMEDOUT || code == CURLE_COULDNT_CONNECT ||
           code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_FTP_ACCEPT_TIMEOUT || code == CURLE_FTP_ACCEPT_FAILED;
}

} // namespace

struct FtpSource::Shared {
    std::mutex mutex;
    std::deque<Job> incoming;
    bool stopping = false;
    CURLM *multi = nullptr; // for waking the worker; cleared before it goes
};

class FtpSource::Worker {
public:
    Worker(std::shared_ptr<Shared> shared, SourceSettings settings,
           std::shared_ptr<SourceMemory> memory, std::shared_ptr<Mailbox> mailbox,
           FtpSource *source)
        : m_shared(std::move(shared)), m_settings(std::move(settings)), m_memory(std::move(memory)),
          m_mailbox(std::move(mailbox)), m_source(source), m_multi(m_shared->multi),
          m_capacity(qMax(1, m_settings.ftpConnections)),
          m_passive(m_settings.ftpMode == FtpMode::Passive ||
                    (m_settings.ftpMode == FtpMode::Auto && m_memory && m_memory->passive))
    {
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, long(m_capacity));
    }

    void run();

private:
    bool takeIncoming();
    void startJobs();
    void start(Job job);
    void collect();
    void watchdog();
    void finish(Transfer *t, CURLcode code);
    void refused(Job job, const QByteArray &reply);
    void retry(Job job);
    void strike();
    void goPassive();
    // Answers every job, active or queued, as lost. A job that makes the source give up
    // is put back in the queue first, so that it is answered with the others.
    void giveUp(SourceLoss::Kind why, const QByteArray &said = QByteArray());
    void detach(Transfer *t);
    void shutDown();

    void answer(int id, const FetchResult &result);
    void answerProbe(const FetchResult &result);

    static size_t onData(char *data, size_t size, size_t count, void *transfer);
    static size_t onReply(char *line, size_t size, size_t count, void *transfer);

    std::shared_ptr<Shared> m_shared;
    SourceSettings m_settings;
    std::shared_ptr<SourceMemory> m_memory;
    std::shared_ptr<Mailbox> m_mailbox;
    FtpSource *m_source;
    CURLM *m_multi;
    int m_capacity;
    bool m_passive;
    std::deque<Job> m_queue;
    QList<Transfer *> m_active;
    QList<CURL *> m_idle;      // easy handles kept for their DNS cache
    QList<qint64> m_durations; // of the last transfers, in ms
    qint64 m_slowestReply = 0; // the longest the server took to answer, in ms
    int m_strikes = 0;
    bool m_anyWorked = false; // some connection logged in and answered
    bool m_lost = false;
};

FtpSource::FtpSource(const SourceSettings &settings, QString directory,
                     std::shared_ptr<SourceMemory> memory, QObject *parent)
    : SheetSource(parent), m_settings(settings), m_directory(std::move(directory)),
      m_memory(std::move(memory)), m_shared(std::make_shared<Shared>())
{
    initFtp();
    m_shared->multi = curl_multi_init();
}

FtpSource::~FtpSource()
{
    stop();
    if (!m_started)
        curl_multi_cleanup(m_shared->multi); // nothing was ever connected
}

void FtpSource::open()
{
    post(-1, QString(), QString());
}

void FtpSource::fetch(int id, const QString &name, const QString &target)
{
    post(id, name, target);
}

void FtpSource::post(int id, const QString &name, const QString &target)
{
    Job job;
    job.id = id;
    job.url = ftpUrl(m_settings.ftpHost, m_directory, name).toUtf8();
    job.target = target;
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->stopping)
        return;
    m_shared->incoming.push_back(std::move(job));
    if (!m_started) {
        m_started = true;
        auto worker = std::make_shared<Worker>(m_shared, m_settings, m_memory, mailbox(), this);
        startWorkerThread([worker] { worker->run(); });
    } else if (m_shared->multi) {
        curl_multi_wakeup(m_shared->multi);
    }
}

void FtpSource::stop()
{
    closeMailbox();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->incoming.clear();
    if (m_started && m_shared->multi)
        curl_multi_wakeup(m_shared->multi);
}

void FtpSource::Worker::run()
{
    while (takeIncoming()) {
        startJobs();
        int running = 0;
        // libcurl waits for a transfer's closing reply (226) inside this call, blocking
        // the thread for up to the reply limit; meanwhile nothing of the other
        // transfers could be heard, and that time is not theirs to count as silence.
        const auto before = Clock::now();
        curl_multi_perform(m_multi, &running);
        const auto blocked = Clock::now() - before;
        if (blocked > milliseconds(100)) {
            for (Transfer *t : std::as_const(m_active)) {
                t->heard += blocked;
                t->frozen += std::chrono::duration_cast<milliseconds>(blocked).count();
            }
        }
        collect();
        watchdog();
        // Woken early by libcurl's sockets and timers and by new fetches or stop().
        int wait = 100;
        const auto now = Clock::now();
        for (const Job &job : m_queue) {
            if (job.notBefore > now)
                wait = int(qMin<qint64>(
                    wait, std::chrono::duration_cast<milliseconds>(job.notBefore - now).count()));
        }
        curl_multi_poll(m_multi, nullptr, 0, qMax(1, wait), nullptr);
    }
    shutDown();
}

bool FtpSource::Worker::takeIncoming()
{
    std::deque<Job> incoming;
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopping)
            return false;
        incoming.swap(m_shared->incoming);
    }
    for (Job &job : incoming) {
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

void FtpSource::Worker::startJobs()
{
    const auto now = Clock::now();
    for (auto it = m_queue.begin(); it != m_queue.end() && m_active.size() < m_capacity;) {
        if (it->notBefore > now) {
            ++it;
            continue;
        }
        Job job = std::move(*it);
        it = m_queue.erase(it);
        start(std::move(job));
    }
}

void FtpSource::Worker::start(Job job)
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
    auto *t = new Transfer;
    t->job = std::move(job);
    t->file = std::move(file);
    t->easy = m_idle.isEmpty() ? curl_easy_init() : m_idle.takeLast();
    CURL *easy = t->easy;
    curl_easy_setopt(easy, CURLOPT_URL, t->job.url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    setFtpOptions(easy, m_settings.stallSeconds, m_passive);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, t->job.fresh ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, probe ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Worker::onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Worker::onReply);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    t->passive = m_passive;
    t->started = t->heard = Clock::now();
    m_active << t;
    curl_multi_add_handle(m_multi, easy);
}

size_t FtpSource::Worker::onData(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    if (!t->file)
        return size * count; // the directory probe: nothing to keep
    if (!t->file->write(data, qint64(size * count)))
        return 0;
    t->received += qint64(size * count);
    t->heard = Clock::now();
    return size * count;
}

size_t FtpSource::Worker::onReply(char *line, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    const auto now = Clock::now();
    t->slowestReply = qMax<qint64>(
        t->slowestReply, std::chrono::duration_cast<milliseconds>(now - t->heard).count());
    t->heard = now;
    const QByteArray reply = QByteArray(line, qsizetype(size * count)).trimmed();
    bool number = false;
    const int code = reply.left(3).toInt(&number);
    if (number && reply.size() >= 3) {
        t->lastCode = code;
        t->lastReply = reply;
    }
    if (t->announced < 0)
        t->announced = announcedSize(reply);
    return size * count;
}

void FtpSource::Worker::collect()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *data = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
        auto *t = reinterpret_cast<Transfer *>(data);
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(m_multi, message->easy_handle);
        m_active.removeOne(t);
        finish(t, code);
        if (m_lost)
            return;
    }
}

void FtpSource::Worker::watchdog()
{
    // Transfers take a few round trips; a silence of many of them, and of five times the
    // slowest reply the server gave, is no slow server but a connection it lost. Until
    // a few have ended, nothing is known of the server: a second then.
    QList<qint64> took = m_durations;
    std::sort(took.begin(), took.end());
    qint64 pace = m_slowestReply;
    for (const Transfer *t : std::as_const(m_active))
        pace = qMax(pace, t->slowestReply);
    const qint64 early =
        qMax(took.size() < 8 ? 1000 : qMax<qint64>(200, 10 * took[took.size() / 2]), 5 * pace);
    const qint64 stall = qint64(m_settings.stallSeconds) * 1000;
    const auto now = Clock::now();
    const QList<Transfer *> active = m_active;
    for (Transfer *t : active) {
        const qint64 silent = std::chrono::duration_cast<milliseconds>(now - t->heard).count();
        constexpr int MaxRescues = 3;
        // Each rescue of a fetch waits twice as long as the one before, so that a slow
        // server is not pressed with ever more connections.
        if (silent < stall && (silent < (early << t->job.rescues) || t->job.rescues >= MaxRescues))
            continue;
        detach(t);
        if (silent < stall) {
            Job again = t->job;
            ++again.rescues;
            again.fresh = true;
            m_idle << t->easy;
            m_slowestReply = qMax(m_slowestReply, t->slowestReply);
            delete t;
            m_queue.push_front(std::move(again));
            continue;
        }
        t->silenced = true;
        // Active mode answered, and then the data connection never came.
        const bool noData =
            !m_passive && (t->lastCode == 150 || t->lastCode == 125) && t->received == 0;
        finish(t, noData ? CURLE_FTP_ACCEPT_TIMEOUT : CURLE_OPERATION_TIMEDOUT);
        if (m_lost)
            return;
    }
}

void FtpSource::Worker::detach(Transfer *t)
{
    // Removed half-way: libcurl closes its connection, which is never used again.
    curl_multi_remove_handle(m_multi, t->easy);
    m_active.removeOne(t);
}

void FtpSource::Worker::finish(Transfer *t, CURLcode result)
{
    const std::unique_ptr<Transfer> done(t);
    const Job job = t->job;
    const bool probe = job.id < 0;
    // The sheets are fetched without asking their size first (a round trip each), so
    // a transfer the server calls complete is checked against the size it announced.
    const bool whole = t->announced < 0 || t->received == t->announced;
    const CURLcode code = result == CURLE_OK && !probe && !whole ? CURLE_PARTIAL_FILE : result;
    m_durations << std::chrono::duration_cast<milliseconds>(Clock::now() - t->started).count();
    m_slowestReply = qMax(m_slowestReply, t->slowestReply);
    if (m_durations.size() > 64)
        m_durations.removeFirst();
    long reply = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &reply);
    // Every byte announced arrived, and then the closing reply did not (a router that
    // dropped the idle control connection meanwhile): the sheet is whole all the same.
    const bool arrived = !probe && code != CURLE_OK && t->announced > 0 &&
                         t->received == t->announced && (t->lastCode == 150 || t->lastCode == 125);
    const bool committed = (code == CURLE_OK || arrived) && (probe || t->file->commit());
    const int localError = t->file ? t->file->errorCode() : 0;
    const QString localWords = t->file ? t->file->errorString() : QString();
    t->file.reset(); // an uncommitted file removes itself
    m_idle << t->easy;
    const QString said = QString::fromUtf8(t->lastReply);

    if (committed) {
        m_strikes = 0;
        m_anyWorked = true;
        if (probe)
            answerProbe({});
        else
            answer(job.id, {});
        return;
    }
    if (localError != 0) {
        // The workspace, not the server, failed: a full disk, a folder gone.
        answer(job.id, {FetchResult::WorkspaceFailed, localError, localWords});
        return;
    }
    // A kept connection the server had dropped meanwhile (an idle one gets "421
    // Timeout."): the same again on a new one, for nothing.
    long connects = 0;
    curl_easy_getinfo(t->easy, CURLINFO_NUM_CONNECTS, &connects);
    if (connects == 0 && !t->silenced && !job.reconnected && !notOnServer(code) &&
        !activeModeFailed(code)) {
        Job again = job;
        again.reconnected = true;
        again.fresh = true;
        m_queue.push_front(std::move(again));
        return;
    }
    // A connection the server would not take: at its greeting, or at the log-in while
    // other connections work.
    if (reply == 421 || t->lastCode == 421 ||
        (code == CURLE_LOGIN_DENIED && (m_anyWorked || !m_active.isEmpty())) ||
        (code == CURLE_COULDNT_CONNECT && !m_active.isEmpty())) {
        refused(job, t->lastReply);
        return;
    }
    if (code == CURLE_LOGIN_DENIED) {
        m_queue.push_front(job);
        giveUp(SourceLoss::LoginRefused, t->lastReply);
        return;
    }
    if (notOnServer(code)) {
        m_strikes = 0; // it answered
        m_anyWorked = true;
        if (probe)
            answerProbe({FetchResult::NotOnSource, 0, said});
        else
            answer(job.id, {FetchResult::NotOnSource, 0, said});
        return;
    }
    if (activeModeFailed(code) && m_settings.ftpMode == FtpMode::Auto && !t->passive) {
        goPassive();
        m_queue.push_front(job);
        return;
    }
    if (code == CURLE_FTP_PORT_FAILED) {
        m_queue.push_front(job);
        giveUp(SourceLoss::DataConnectionRefused, t->lastReply);
        return;
    }
    // It ran out of time while the worker was held up elsewhere (by libcurl's wait for
    // another transfer's closing reply): the server is not to blame. Again, for nothing.
    constexpr int MaxThaws = 3;
    if (silence(code) && !t->silenced && t->frozen * 2 >= qint64(m_settings.stallSeconds) * 1000 &&
        job.thawed < MaxThaws) {
        Job again = job;
        ++again.thawed;
        again.fresh = true;
        m_queue.push_front(std::move(again));
        return;
    }
    const QString why =
        QString::fromUtf8(curl_easy_strerror(code)) +
        (said.isEmpty() ? QString() : QStringLiteral(" (") + said + QLatin1Char(')'));
    if (silence(code))
        strike();
    if (!job.retried && !m_lost) {
        retry(job);
        return;
    }
    if (probe)
        answerProbe({FetchResult::TransferFailed, 0, why});
    else
        answer(job.id,
               {job.retried ? FetchResult::TransferFailed : FetchResult::SourceLost, 0, why});
}

void FtpSource::Worker::retry(Job job)
{
    job.retried = true;
    job.fresh = true;
    m_queue.push_front(std::move(job));
}

void FtpSource::Worker::refused(Job job, const QByteArray &reply)
{
    const auto now = Clock::now();
    if (m_capacity > 1 && !m_active.isEmpty()) {
        // Others work: go on with those.
        m_capacity = qMax(1, int(m_active.size()));
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, long(m_capacity));
        job.fresh = false;
        m_queue.push_front(std::move(job));
        return;
    }
    // None works: the server may still count a connection of ours it is closing. Wait
    // for it, a little longer each time, up to the stall limit.
    if (job.refusedSince == Clock::time_point{})
        job.refusedSince = now;
    const qint64 waited = std::chrono::duration_cast<milliseconds>(now - job.refusedSince).count();
    if (waited < qint64(m_settings.stallSeconds) * 1000) {
        job.notBefore = now + milliseconds(qMin<qint64>(2000, 50 + waited));
        job.fresh = false;
        m_queue.push_front(std::move(job));
        return;
    }
    m_queue.push_front(std::move(job));
    giveUp(m_anyWorked ? SourceLoss::FurtherConnectionsRefused : SourceLoss::ConnectionRefused,
           reply);
}

void FtpSource::Worker::strike()
{
    if (++m_strikes >= FtpSource::StrikesToGiveUp)
        giveUp(SourceLoss::StoppedAnswering);
}

void FtpSource::Worker::goPassive()
{
    m_passive = true;
    if (m_memory)
        m_memory->passive = true;
}

void FtpSource::Worker::giveUp(SourceLoss::Kind kind, const QByteArray &said)
{
    const SourceLoss why{kind, SourceMode::Ftp, QString::fromUtf8(said)};
    m_lost = true;
    const QList<Transfer *> active = std::exchange(m_active, {});
    std::deque<Job> queued = std::exchange(m_queue, {});
    for (Transfer *t : active) {
        curl_multi_remove_handle(m_multi, t->easy);
        curl_easy_cleanup(t->easy);
        queued.push_back(t->job);
        delete t;
    }
    // Told first, so that whoever hears the answers knows why.
    m_mailbox->post([source = m_source, why] { emit source->lost(why); });
    for (const Job &job : queued) {
        if (job.id < 0)
            answerProbe({FetchResult::SourceLost, 0, QString()});
        else
            answer(job.id, {FetchResult::SourceLost, 0, QString()});
    }
}

void FtpSource::Worker::answer(int id, const FetchResult &result)
{
    m_mailbox->post([source = m_source, id, result] { emit source->fetched(id, result); });
}

void FtpSource::Worker::answerProbe(const FetchResult &result)
{
    m_mailbox->post([source = m_source, result] { emit source->opened(result); });
}

void FtpSource::Worker::shutDown()
{
    for (Transfer *t : std::as_const(m_active)) {
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
    // Says QUIT on the kept connections and waits for the answers, bounded by the
    // reply limit; nobody waits for this thread.
    curl_multi_cleanup(m_multi);
}
