#include "FtpSource.h"

#include "CurlWorker.h"
#include "FtpConnection.h"

using std::chrono::milliseconds;

namespace {

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

class FtpWorker : public CurlWorker {
public:
    FtpWorker(std::shared_ptr<CurlQueue> queue, std::shared_ptr<Mailbox> mailbox,
              SheetSource *source, const SourceSettings &settings,
              std::shared_ptr<SourceMemory> memory)
        : CurlWorker(std::move(queue), std::move(mailbox), source, settings.ftpConnections,
                     settings.stallSeconds),
          m_settings(settings), m_memory(std::move(memory)),
          m_passive(m_settings.ftpMode == FtpMode::Passive ||
                    (m_settings.ftpMode == FtpMode::Auto && m_memory && m_memory->passive))
    {
    }

protected:
    void configure(CurlTransfer &t) override;
    void heard(CurlTransfer &t, const QByteArray &line) override;
    void finished(CurlTransfer &t, CURLcode code) override;

private:
    void refused(CurlJob job, const QByteArray &reply);
    void retry(CurlJob job);
    void goPassive();

    SourceSettings m_settings;
    std::shared_ptr<SourceMemory> m_memory;
    bool m_passive;
};

FtpSource::FtpSource(const SourceSettings &settings, QString directory,
                     std::shared_ptr<SourceMemory> memory, QObject *parent)
    : CurlSource(parent), m_settings(settings), m_directory(std::move(directory)),
      m_memory(std::move(memory))
{
}

QByteArray FtpSource::urlOf(const QString &name) const
{
    return ftpUrl(m_settings.ftpHost, m_directory, name).toUtf8();
}

std::shared_ptr<CurlWorker> FtpSource::makeWorker(std::shared_ptr<CurlQueue> queue)
{
    return std::make_shared<FtpWorker>(std::move(queue), mailbox(), this, m_settings, m_memory);
}

void FtpWorker::configure(CurlTransfer &t)
{
    setFtpOptions(t.easy, m_settings.stallSeconds, m_passive);
    t.passive = m_passive;
}

void FtpWorker::heard(CurlTransfer &t, const QByteArray &reply)
{
    bool number = false;
    const int code = reply.left(3).toInt(&number);
    if (number && reply.size() >= 3) {
        t.lastCode = code;
        t.lastReply = reply;
    }
    if (t.announced < 0)
        t.announced = announcedSize(reply);
}

void FtpWorker::finished(CurlTransfer &t, CURLcode result)
{
    const CurlJob &job = t.job;
    const bool probe = job.id < 0;
    // Active mode answered, and then the data connection never came.
    if (t.silenced && !m_passive && (t.lastCode == 150 || t.lastCode == 125) && t.received == 0)
        result = CURLE_FTP_ACCEPT_TIMEOUT;
    // The sheets are fetched without asking their size first (a round trip each), so
    // a transfer the server calls complete is checked against the size it announced.
    const bool whole = t.announced < 0 || t.received == t.announced;
    const CURLcode code = result == CURLE_OK && !probe && !whole ? CURLE_PARTIAL_FILE : result;
    long reply = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &reply);
    // Every byte announced arrived, and then the closing reply did not (a router that
    // dropped the idle control connection meanwhile): the sheet is whole all the same.
    const bool arrived = !probe && code != CURLE_OK && t.announced > 0 &&
                         t.received == t.announced && (t.lastCode == 150 || t.lastCode == 125);
    const bool committed = (code == CURLE_OK || arrived) && (probe || commit(t));
    const int localError = t.file ? t.file->errorCode() : 0;
    const QString localWords = t.file ? t.file->errorString() : QString();
    const QString said = QString::fromUtf8(t.lastReply);

    if (committed) {
        m_strikes = 0;
        m_anyWorked = true;
        if (probe)
            answerProbe({});
        else
            answer(job.id, {});
        return;
    }
    if (t.tooLarge) {
        m_strikes = 0;
        answer(job.id, {FetchResult::TransferFailed, 0,
                        QStringLiteral("larger than %1 MiB; not taken")
                            .arg(FetchResult::MaxSheetBytes >> 20)});
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
    curl_easy_getinfo(t.easy, CURLINFO_NUM_CONNECTS, &connects);
    if (connects == 0 && !t.silenced && !job.reconnected && !notOnServer(code) &&
        !activeModeFailed(code)) {
        CurlJob next = job;
        next.reconnected = true;
        next.fresh = true;
        again(std::move(next));
        return;
    }
    // A connection the server would not take: at its greeting, or at the log-in while
    // other connections work.
    if (reply == 421 || t.lastCode == 421 ||
        (code == CURLE_LOGIN_DENIED && (m_anyWorked || activeCount() > 0)) ||
        (code == CURLE_COULDNT_CONNECT && activeCount() > 0)) {
        refused(job, t.lastReply);
        return;
    }
    if (code == CURLE_LOGIN_DENIED) {
        again(job);
        giveUp({SourceLoss::LoginRefused, SourceMode::Ftp, said});
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
    if (activeModeFailed(code) && m_settings.ftpMode == FtpMode::Auto && !t.passive) {
        goPassive();
        again(job);
        return;
    }
    if (code == CURLE_FTP_PORT_FAILED) {
        again(job);
        giveUp({SourceLoss::DataConnectionRefused, SourceMode::Ftp, said});
        return;
    }
    // It ran out of time while the worker was held up elsewhere (by libcurl's wait for
    // another transfer's closing reply): the server is not to blame. Again, for nothing.
    constexpr int MaxThaws = 3;
    if (silence(code) && !t.silenced && t.frozen * 2 >= qint64(m_settings.stallSeconds) * 1000 &&
        job.thawed < MaxThaws) {
        CurlJob next = job;
        ++next.thawed;
        next.fresh = true;
        again(std::move(next));
        return;
    }
    const QString why =
        QString::fromUtf8(curl_easy_strerror(code)) +
        (said.isEmpty() ? QString() : QStringLiteral(" (") + said + QLatin1Char(')'));
    if (silence(code))
        strike(SourceMode::Ftp);
    if (!job.retried && !isLost()) {
        retry(job);
        return;
    }
    if (probe)
        answerProbe({FetchResult::TransferFailed, 0, why});
    else
        answer(job.id,
               {job.retried ? FetchResult::TransferFailed : FetchResult::SourceLost, 0, why});
}

void FtpWorker::retry(CurlJob job)
{
    job.retried = true;
    job.fresh = true;
    again(std::move(job));
}

void FtpWorker::refused(CurlJob job, const QByteArray &reply)
{
    const auto now = CurlClock::now();
    if (capacity() > 1 && activeCount() > 0) {
        // Others work: go on with those.
        setCapacity(int(activeCount()));
        job.fresh = false;
        again(std::move(job));
        return;
    }
    // None works: the server may still count a connection of ours it is closing. Wait
    // for it, a little longer each time, up to the stall limit.
    if (job.refusedSince == CurlClock::time_point{})
        job.refusedSince = now;
    const qint64 waited = std::chrono::duration_cast<milliseconds>(now - job.refusedSince).count();
    if (waited < qint64(m_settings.stallSeconds) * 1000) {
        job.notBefore = now + milliseconds(qMin<qint64>(2000, 50 + waited));
        job.fresh = false;
        again(std::move(job));
        return;
    }
    again(std::move(job));
    giveUp({m_anyWorked ? SourceLoss::FurtherConnectionsRefused : SourceLoss::ConnectionRefused,
            SourceMode::Ftp, QString::fromUtf8(reply)});
}

void FtpWorker::goPassive()
{
    m_passive = true;
    if (m_memory)
        m_memory->passive = true;
}
