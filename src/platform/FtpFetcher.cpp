#include "FtpFetcher.h"

#include "FtpConnection.h"
#include "ScratchFile.h"

#include <QSocketNotifier>

#include <algorithm>
#include <thread>

#include <cerrno>

#include <curl/curl.h>

struct FtpFetcher::Transfer {
    Job job;
    CURL *easy = nullptr;
    std::unique_ptr<ScratchFile> file;
    QByteArray url;
    QElapsedTimer started;
    QElapsedTimer heard; // the last reply or data of this transfer
    qint64 received = 0;
    qint64 announced = -1; // the size the server gave as the transfer began
};

struct FtpFetcher::Socket {
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
};

namespace {

// "150 Opening BINARY mode data connection for x.pdf (1234 bytes)."; -1 when the
// reply gives no size.
qint64 announcedSize(const char *reply, size_t length)
{
    const QByteArray line = QByteArray::fromRawData(reply, qsizetype(length)).trimmed();
    if (!line.startsWith("150") && !line.startsWith("125"))
        return -1;
    const qsizetype end = line.lastIndexOf(" bytes)");
    const qsizetype open = end < 0 ? -1 : line.lastIndexOf('(', end);
    bool ok = false;
    const qint64 size = open < 0 ? -1 : line.mid(open + 1, end - open - 1).toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

// Answers from the server about the file itself: asking again cannot help.
bool isDefinitive(CURLcode code)
{
    return code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED ||
           code == CURLE_FTP_COULDNT_RETR_FILE || code == CURLE_URL_MALFORMAT ||
           code == CURLE_LOGIN_DENIED;
}

void retire(QSocketNotifier *notifier)
{
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
}

} // namespace

FtpFetcher::FtpFetcher(QString host, QString directory, int connections, int stallSeconds,
                       QObject *parent)
    : SheetFetcher(parent), m_host(std::move(host)), m_directory(std::move(directory)),
      m_capacity(qMax(1, connections)), m_stallSeconds(stallSeconds)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLM *multi = curl_multi_init();
    m_multi = multi;
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &FtpFetcher::onSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &FtpFetcher::onTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    // Some servers lose one connection's data connection when another opens its own
    // at the same moment (pyftpdlib 1.5.7 does, in active mode), and that transfer
    // then hears nothing until the stall limit. One that has heard nothing for far
    // longer than transfers take is moved to a fresh connection.
    m_watchdog.setInterval(50);
    connect(&m_watchdog, &QTimer::timeout, this, &FtpFetcher::rescueSilentTransfers);
}

FtpFetcher::~FtpFetcher()
{
    stop();
    for (Socket *socket : std::as_const(m_sockets)) {
        delete socket->read;
        delete socket->write;
        delete socket;
    }
    // Closing the kept connections says QUIT to the server and waits for its
    // answer, which a busy or silent server may hold back for half a minute: that
    // wait belongs on no thread the window needs.
    auto *multi = static_cast<CURLM *>(m_multi);
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, nullptr);
    std::thread([multi, handles = m_idleHandles] {
        for (void *easy : handles)
            curl_easy_cleanup(static_cast<CURL *>(easy));
        curl_multi_cleanup(multi);
    }).detach();
}

void FtpFetcher::probe()
{
    m_queue.push_front({-1, QString(), QString(), false});
    pump();
}

void FtpFetcher::fetch(int id, const QString &source, const QString &target)
{
    if (m_gaveUp) {
        // Later, not from inside the caller's own call.
        QTimer::singleShot(0, this, [this, id] {
            report(id, FsResult::failed(QStringLiteral("The FTP server stopped answering.")));
        });
        return;
    }
    m_queue.push_back({id, source, target, false});
    pump();
}

void FtpFetcher::stop()
{
    m_queue.clear();
    const QList<Transfer *> active = std::exchange(m_active, {});
    for (Transfer *t : active) {
        curl_multi_remove_handle(static_cast<CURLM *>(m_multi), t->easy);
        // Its connection may be half-way through a reply: never use it again.
        curl_easy_cleanup(t->easy);
        delete t;
    }
    m_timer.stop();
    m_watchdog.stop();
}

void FtpFetcher::pump()
{
    if (m_collecting)
        return; // collect() pumps once it is done
    while (!m_queue.empty() && m_active.size() < m_capacity) {
        Job job = m_queue.front();
        m_queue.pop_front();
        start(job);
    }
}

void FtpFetcher::start(Job job)
{
    auto *t = new Transfer;
    t->job = std::move(job);
    CURL *easy =
        m_idleHandles.isEmpty() ? curl_easy_init() : static_cast<CURL *>(m_idleHandles.takeLast());
    t->easy = easy;
    const bool probe = t->job.id < 0;
    t->url = ftpUrl(m_host, m_directory, t->job.source).toUtf8();
    if (!probe) {
        t->file = std::make_unique<ScratchFile>(t->job.target);
        if (!t->file->open()) {
            m_idleHandles << easy;
            const int error = t->file->errorCode();
            const int id = t->job.id;
            delete t;
            QTimer::singleShot(0, this,
                               [this, id, error] { report(id, FsResult::fromErrno(error)); });
            return;
        }
    }
    curl_easy_setopt(easy, CURLOPT_URL, t->url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    setFtpOptions(easy, m_stallSeconds);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, t->job.retried || t->job.fresh ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, probe ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &FtpFetcher::onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    m_active << t;
    t->started.start();
    t->heard.start();
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &FtpFetcher::onReply);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    m_watchdog.start();
    curl_multi_add_handle(static_cast<CURLM *>(m_multi), easy);
}

int FtpFetcher::onSocket(void *, int fd, int what, void *self, void *)
{
    static_cast<FtpFetcher *>(self)->watch(fd, what);
    return 0;
}

size_t FtpFetcher::onData(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    if (!t->file)
        return size * count; // the directory probe: nothing to keep
    if (!t->file->write(data, qint64(size * count)))
        return 0;
    t->received += qint64(size * count);
    t->heard.start();
    return size * count;
}

size_t FtpFetcher::onReply(char *line, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    t->heard.start();
    if (t->announced < 0)
        t->announced = announcedSize(line, size * count);
    return size * count;
}

void FtpFetcher::rescueSilentTransfers()
{
    // Transfers take a few round trips; a silence of many of them is no slow server.
    // Until a few have ended, nothing is known of the server: wait a second.
    QList<qint64> took = m_durations;
    std::sort(took.begin(), took.end());
    const qint64 limit = took.size() < 8 ? 1000 : qMax<qint64>(200, 10 * took[took.size() / 2]);
    const QList<Transfer *> active = m_active;
    for (Transfer *t : active) {
        if (t->heard.elapsed() < limit || t->job.rescues >= MaxRescues)
            continue;
        m_active.removeOne(t);
        curl_multi_remove_handle(static_cast<CURLM *>(m_multi), t->easy);
        curl_easy_cleanup(t->easy); // and its connection with it
        Job again = t->job;
        ++again.rescues;
        again.fresh = true;
        delete t;
        m_queue.push_front(again);
    }
    pump();
}

int FtpFetcher::onTimer(void *, long timeoutMs, void *self)
{
    auto *fetcher = static_cast<FtpFetcher *>(self);
    if (timeoutMs < 0)
        fetcher->m_timer.stop();
    else
        fetcher->m_timer.start(int(qMin<long>(timeoutMs, 60000)));
    return 0;
}

void FtpFetcher::watch(int fd, int what)
{
    Socket *socket = m_sockets.value(fd);
    if (what == CURL_POLL_REMOVE) {
        if (socket) {
            retire(socket->read);
            retire(socket->write);
            delete m_sockets.take(fd);
        }
        return;
    }
    if (!socket)
        socket = m_sockets[fd] = new Socket;
    auto ensure = [&](QSocketNotifier *&notifier, QSocketNotifier::Type type, int flag,
                      bool wanted) {
        if (!notifier && wanted) {
            notifier = new QSocketNotifier(fd, type);
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, fd, flag] { act(fd, flag); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    ensure(socket->read, QSocketNotifier::Read, CURL_CSELECT_IN,
           what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    ensure(socket->write, QSocketNotifier::Write, CURL_CSELECT_OUT,
           what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void FtpFetcher::act(int fd, int flags)
{
    int running = 0;
    curl_multi_socket_action(static_cast<CURLM *>(m_multi), fd, flags, &running);
    collect();
}

void FtpFetcher::collect()
{
    m_collecting = true;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(static_cast<CURLM *>(m_multi), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *data = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
        auto *t = reinterpret_cast<Transfer *>(data);
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(static_cast<CURLM *>(m_multi), message->easy_handle);
        if (t && m_active.contains(t))
            finish(t, code);
    }
    m_collecting = false;
    pump();
    if (m_active.isEmpty())
        m_watchdog.stop();
}

void FtpFetcher::finish(Transfer *t, int result)
{
    // The sheets are fetched without asking their size first (a round trip each), so
    // a transfer the server calls complete is checked against the size it announced.
    const bool whole = t->announced < 0 || t->received == t->announced;
    const auto code = result == CURLE_OK && !whole ? CURLE_PARTIAL_FILE : CURLcode(result);
    m_active.removeOne(t);
    long reply = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &reply);
    const std::unique_ptr<Transfer> done(t);
    m_durations << t->started.elapsed();
    if (m_durations.size() > 64)
        m_durations.removeFirst();
    const Job job = t->job;
    const bool probe = job.id < 0;
    const int localError = t->file ? t->file->errorCode() : 0;
    const bool committed = code == CURLE_OK && (probe || t->file->commit());
    t->file.reset(); // an uncommitted file removes itself
    m_idleHandles << t->easy;

    if (committed || (code != CURLE_OK && isDefinitive(code))) {
        // The server answered.
        m_failuresInARow = 0;
        m_anySuccess = m_anySuccess || committed;
        if (probe)
            emit probed(committed);
        else
            report(job.id, committed ? FsResult::ok()
                                     : FsResult::failed(QString::fromUtf8(curl_easy_strerror(code)),
                                                        code == CURLE_REMOTE_FILE_NOT_FOUND));
        return;
    }
    if (code == CURLE_OK || localError != 0) {
        // The workspace, not the server, failed: a full disk, a folder gone.
        report(job.id, FsResult::fromErrno(localError ? localError : EIO));
        return;
    }
    // A further connection refused (421 at the greeting, or no connection at all)
    // while others work: go on with fewer.
    const bool refused = reply == 421 || code == CURLE_COULDNT_CONNECT;
    if (refused && m_capacity > 1 && (!m_active.isEmpty() || m_anySuccess)) {
        m_capacity = qMax(1, int(m_active.size()));
        m_queue.push_front(job);
        return;
    }
    if (!job.retried) {
        Job again = job;
        again.retried = true;
        m_queue.push_front(again);
        return;
    }
    if (probe) {
        emit probed(false);
        return;
    }
    report(job.id, FsResult::failed(QString::fromUtf8(curl_easy_strerror(code))));
    if (++m_failuresInARow >= FailuresToGiveUp)
        giveUp();
}

void FtpFetcher::giveUp()
{
    m_gaveUp = true;
    const std::deque<Job> queued = std::exchange(m_queue, {});
    QList<int> ids;
    for (const Transfer *t : std::as_const(m_active))
        ids << t->job.id;
    for (const Job &job : queued)
        ids << job.id;
    stop();
    const FsResult gone = FsResult::failed(QStringLiteral("The FTP server stopped answering."));
    for (const int id : std::as_const(ids)) {
        if (id >= 0)
            report(id, gone);
    }
}

void FtpFetcher::report(int id, const FsResult &result)
{
    emit fetched(id, result);
}
