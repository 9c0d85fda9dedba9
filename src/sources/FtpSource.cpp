#include "FtpSource.h"

#include "CurlWorker.h"
#include "FtpConnection.h"
#include "Replies.h"
#include "platform/FileSystem.h"

using std::chrono::milliseconds;

namespace {

// Answers from the server about the sheet itself (a 5xx reply to CWD or RETR): asking
// again cannot help. A 4xx reply ("425 Can't open data connection") is the moment's.
bool aboutTheSheet(CURLcode code, int reply)
{
    return (code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED ||
            code == CURLE_FTP_COULDNT_RETR_FILE) &&
           (reply == 0 || reply >= 500);
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

// Failures that say the server cannot be used at all, whatever worked before.
bool fatal(CURLcode code)
{
    return code == CURLE_LOGIN_DENIED || code == CURLE_COULDNT_RESOLVE_HOST ||
           code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
           code == CURLE_USE_SSL_FAILED;
}

bool opening(int reply)
{
    return reply == 150 || reply == 125;
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
          // libcurl cannot do active FTP over TLS: passive whenever TLS is required.
          m_passive(m_settings.ftpMode == FtpMode::Passive ||
                    m_settings.ftpTls == FtpTls::Required ||
                    (m_settings.ftpMode == FtpMode::Auto && m_memory && m_memory->passive))
    {
    }

protected:
    void configure(CurlTransfer &t) override;
    void heard(CurlTransfer &t, const QByteArray &line) override;
    void finished(CurlTransfer &t, CURLcode code) override;
    Overdue overdue(const CurlTransfer &t) const override;

private:
    void refused(CurlJob job, const QByteArray &reply);
    void retry(CurlJob job);
    void goPassive();
    void lose(const CurlJob &job, const SourceLoss &why);
    // Active mode, and this transfer still waits for the server's first data connection.
    bool awaitsFirstDataConnection(const CurlTransfer &t) const
    {
        return !t.passive && !t.accepted && !m_dataArrived && t.received == 0 &&
               (opening(t.lastCode) || t.lastCode == 200);
    }

    SourceSettings m_settings;
    std::shared_ptr<SourceMemory> m_memory;
    bool m_passive;
    bool m_dataArrived = false; // a data connection of active mode has arrived
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
    setFtpOptions(t.easy, m_settings, m_settings.stallSeconds, m_passive);
    t.passive = m_passive;
}

void FtpWorker::heard(CurlTransfer &t, const QByteArray &reply)
{
    if (const int code = Replies::ftpCode(reply)) {
        t.lastCode = code;
        t.lastReply = reply;
    }
    if (t.announced < 0)
        t.announced = Replies::ftpAnnouncedSize(reply);
}

CurlWorker::Overdue FtpWorker::overdue(const CurlTransfer &t) const
{
    // No lost connection but a server that cannot reach us (a firewall or NAT between):
    // auto turns to passive now; active waits out libcurl's bound and then says so.
    if (awaitsFirstDataConnection(t))
        return m_settings.ftpMode == FtpMode::Auto ? Overdue::Fail : Overdue::Wait;
    return Overdue::Move;
}

void FtpWorker::finished(CurlTransfer &t, CURLcode result)
{
    const CurlJob &job = t.job;
    const bool probe = job.id < 0;
    // Active mode answered, and then the data connection never came.
    if (t.silenced && awaitsFirstDataConnection(t))
        result = CURLE_FTP_ACCEPT_TIMEOUT;
    m_dataArrived = m_dataArrived || t.accepted;
    // The sheets are fetched without asking their size first (a round trip each), so
    // a transfer the server calls complete is checked against the size it announced.
    const bool whole = t.announced < 0 || t.received == t.announced;
    const CURLcode code = result == CURLE_OK && !probe && !whole ? CURLE_PARTIAL_FILE : result;
    long reply = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &reply);
    // Every byte announced arrived, and then the closing reply did not (a router that
    // dropped the idle control connection meanwhile): the sheet is whole all the same.
    const bool arrived = !probe && code != CURLE_OK && t.announced > 0 &&
                         t.received == t.announced && opening(t.lastCode);
    const bool committed = (code == CURLE_OK || arrived) && (probe || commit(t));
    const int localError = t.file ? t.file->errorCode() : 0;
    const QString localWords = t.file ? t.file->errorString() : QString();
    const QString said = QString::fromUtf8(t.lastReply);

    if (committed) {
        answered();
        if (probe)
            answerProbe({});
        else
            answer(job.id, {});
        return;
    }
    if (t.tooLarge) {
        answered();
        // The size the server announced, when it did.
        answer(job.id, {FetchResult::TransferFailed, 0,
                        FileSystem::tooLargeText(t.announced, FetchResult::MaxSheetBytes)});
        return;
    }
    if (localError != 0) {
        // The workspace, not the server, failed: a full disk, a folder gone.
        answer(job.id, {FetchResult::WorkspaceFailed, localError, localWords});
        return;
    }
    // A kept connection the server had dropped meanwhile (an idle one gets "421
    // Timeout."): the same again on a new one, for nothing. One that refused a command
    // (a 5xx reply) was there.
    long connects = 0;
    curl_easy_getinfo(t.easy, CURLINFO_NUM_CONNECTS, &connects);
    if (connects == 0 && !t.silenced && !job.reconnected && t.lastCode / 100 != 5 &&
        !activeModeFailed(code) && !fatal(code)) {
        CurlJob next = job;
        next.reconnected = true;
        next.fresh = true;
        again(std::move(next));
        return;
    }
    // A connection the server would not take: at its greeting, or at the log-in while
    // other connections work.
    if (reply == 421 || t.lastCode == 421 ||
        (code == CURLE_LOGIN_DENIED && (m_anyWorked || activeCount() > 0))) {
        refused(job, t.lastReply);
        return;
    }
    // The server cannot be used at all, or (at the first connection, the folder's) is
    // not there: said at once, in the words start-up would use.
    long osError = 0;
    curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osError);
    curl_off_t connected = 0;
    curl_easy_getinfo(t.easy, CURLINFO_CONNECT_TIME_T, &connected);
    const int stall = m_settings.stallSeconds;
    const auto serverLoss = ftpServerLoss(code, said, m_settings.ftpHost, t.error, osError,
                                          connected > 0 ? stall : qMin(30, stall));
    if (serverLoss && (fatal(code) || !m_anyWorked)) {
        lose(job, *serverLoss);
        return;
    }
    if (aboutTheSheet(code, t.lastCode)) {
        answered();
        const FetchResult::Kind kind =
            Replies::ftpDeniesPermission(said) ? FetchResult::Refused : FetchResult::NotOnSource;
        if (probe)
            answerProbe({kind, 0, said});
        else
            answer(job.id, {kind, 0, said});
        return;
    }
    if (activeModeFailed(code) && m_settings.ftpMode == FtpMode::Auto && !t.passive) {
        goPassive();
        again(job);
        return;
    }
    // The data connection's command refused (PORT, EPRT; EPSV and PASV), or active
    // mode's data connections never arriving: no sheet can come this way.
    if (code == CURLE_FTP_PORT_FAILED ||
        (code == CURLE_FTP_WEIRD_PASV_REPLY && t.lastCode >= 400)) {
        lose(job, {SourceLoss::DataConnectionRefused, SourceMode::Ftp, said});
        return;
    }
    if ((code == CURLE_FTP_ACCEPT_TIMEOUT || code == CURLE_FTP_ACCEPT_FAILED) && !t.passive &&
        !m_dataArrived) {
        lose(job, {SourceLoss::DataConnectionNeverCame, SourceMode::Ftp});
        return;
    }
    // It ran out of time while the worker was held up elsewhere (by libcurl's wait for
    // another transfer's closing reply): the server is not to blame. Again, for nothing.
    constexpr int MaxThaws = 3;
    if (silence(code) && !t.silenced && t.frozen * 2 >= qint64(stall) * 1000 &&
        job.thawed < MaxThaws) {
        CurlJob next = job;
        ++next.thawed;
        next.fresh = true;
        again(std::move(next));
        return;
    }
    // The server gone for a moment (restarted, say) or silent: tried again after a
    // pause, for as long as the stall limit allows.
    if (silence(code) && !isLost() &&
        outage(t, code == CURLE_COULDNT_CONNECT && serverLoss
                      ? *serverLoss
                      : SourceLoss{SourceLoss::StoppedAnswering, SourceMode::Ftp}))
        return;
    if (!silence(code) && !job.retried && !isLost()) {
        retry(job);
        return;
    }
    const QString why =
        QString::fromUtf8(curl_easy_strerror(code)) +
        (said.isEmpty() ? QString() : QStringLiteral(" (") + said + QLatin1Char(')'));
    if (probe)
        answerProbe({FetchResult::TransferFailed, 0, why});
    else
        answer(job.id, {isLost() ? FetchResult::SourceLost : FetchResult::TransferFailed, 0, why});
}

void FtpWorker::lose(const CurlJob &job, const SourceLoss &why)
{
    again(job); // answered with the others
    giveUp(why);
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
    lose(job, {m_anyWorked ? SourceLoss::FurtherConnectionsRefused : SourceLoss::ConnectionRefused,
               SourceMode::Ftp, QString::fromUtf8(reply)});
}

void FtpWorker::goPassive()
{
    m_passive = true;
    if (m_memory)
        m_memory->passive = true;
}
