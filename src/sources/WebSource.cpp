#include "WebSource.h"

#include "CurlOptions.h"
#include "CurlWorker.h"
#include "Replies.h"
#include "platform/FileSystem.h"

#include <QUrl>

#include <array>
#include <cstring>
#include <unordered_map>

using std::chrono::milliseconds;

namespace {

// Requests in flight at once over one HTTP/2 connection: libcurl's own limit of streams,
// above the build's fetch-ahead.
constexpr int Http2Streams = 100;
constexpr long MaxRedirects = 5;
// Sent again after a 429 or 503 without Retry-After.
constexpr int DefaultRetryAfterSeconds = 1;

// HTTP/2 sends no reason phrase; the common ones, so that every message reads alike.
// Options of every web handle, the probe's and the builds'.
void setWebOptions(CURL *easy, const SourceSettings &settings, char *errorBuffer)
{
    setCommonOptions(easy, settings.stallSeconds);
    setTlsOptions(easy, settings.caFile);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    errorBuffer[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    // Waits for the connection that is being made to say whether it multiplexes, rather
    // than opening another beside it.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    // What came over TLS is never sent on in the clear.
    const bool tls = settings.webUrl.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http,https");
    // A length announced beyond it is refused before a byte comes; the worker cuts the rest.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(FetchResult::MaxSheetBytes));
}

// The failures that are the whole server's, not one sheet's.
std::optional<SourceLoss> lossOf(CURL *easy, CURLcode code, const QString &where, const char *words)
{
    SourceLoss loss;
    loss.source = SourceMode::Web;
    loss.where = where;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        loss.kind = SourceLoss::HostNotFound;
        return loss;
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &error);
        loss.kind = SourceLoss::CouldNotConnect;
        loss.said = error ? QString::fromLocal8Bit(std::strerror(int(error)))
                          : QString::fromUtf8(curl_easy_strerror(code));
        return loss;
    }
    case CURLE_PEER_FAILED_VERIFICATION:
        loss.kind = SourceLoss::CertificateNotVerified;
        loss.said = QString::fromUtf8(words && *words ? words : curl_easy_strerror(code));
        return loss;
    default:
        return std::nullopt;
    }
}

// The connection broke, or the server closed it without a word.
bool broken(CURLcode code)
{
    return code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM || code == CURLE_SSL_CONNECT_ERROR;
}

} // namespace

class WebWorker : public CurlWorker {
public:
    WebWorker(std::shared_ptr<CurlQueue> queue, std::shared_ptr<Mailbox> mailbox,
              SheetSource *source, const SourceSettings &settings)
        : CurlWorker(queue, std::move(mailbox), source, settings.webConnections,
                     settings.stallSeconds),
          m_settings(settings), m_where(webServerName(settings.webUrl))
    {
        curl_multi_setopt(static_cast<CURLM *>(queue->multi), CURLMOPT_PIPELINING,
                          long(CURLPIPE_MULTIPLEX));
    }

protected:
    void configure(CurlTransfer &t) override;
    void heard(CurlTransfer &t, const QByteArray &line) override;
    void finished(CurlTransfer &t, CURLcode code) override;

private:
    void reply(const CurlJob &job, const FetchResult &result);
    void retryOrFail(const CurlTransfer &t, const QString &why, bool silent);
    void busy(const CurlTransfer &t, const QString &status);
    bool struckOut(const CurlTransfer &t);

    SourceSettings m_settings;
    QString m_where;
    // What each handle heard of its last answer; a node keeps its place in the map.
    struct Reply {
        std::array<char, CURL_ERROR_SIZE> words{}; // libcurl's words for a failure
        Replies::HttpHead head;                    // its status, length, redirect
    };
    std::unordered_map<CURL *, Reply> m_replies;
    // Strikes of its own: an HTTP/2 connection carries every request, so the failures of
    // one moment are one strike (struckOut), and a 429 or 503 counts too.
    int m_strikes = 0;
    CurlClock::time_point m_lastStrike{};
};

WebSource::WebSource(const SourceSettings &settings, QString folder, QObject *parent)
    : CurlSource(parent), m_settings(settings), m_folder(std::move(folder))
{
}

QString WebSource::folderAddress() const
{
    return webAddress(m_settings.webUrl, m_folder);
}

QByteArray WebSource::urlOf(const QString &name) const
{
    // The probe asks for the folder above the editions, which every server has.
    if (name.isEmpty())
        return m_settings.webUrl.toUtf8();
    return webAddress(m_settings.webUrl, m_folder, name).toUtf8();
}

std::shared_ptr<CurlWorker> WebSource::makeWorker(std::shared_ptr<CurlQueue> queue)
{
    return std::make_shared<WebWorker>(std::move(queue), mailbox(), this, m_settings);
}

QString webAddress(const QString &base, const QString &folder, const QString &name)
{
    QString url = base;
    const QString below = folder.startsWith(base) ? folder.mid(base.size()) : folder;
    const QStringList parts = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        url += QString::fromLatin1(QUrl::toPercentEncoding(part)) + QLatin1Char('/');
    if (!name.isEmpty())
        url += QString::fromLatin1(QUrl::toPercentEncoding(name));
    return url;
}

QString webServerName(const QString &webUrl)
{
    const QUrl url(webUrl);
    return url.port() < 0 ? url.host()
                          : url.host() + QLatin1Char(':') + QString::number(url.port());
}

std::optional<SourceLoss> probeWebServer(const SourceSettings &settings)
{
    initCurl();
    CURL *easy = curl_easy_init();
    if (!easy)
        return SourceLoss{SourceLoss::CouldNotConnect, SourceMode::Web,
                          QStringLiteral("out of memory"), webServerName(settings.webUrl)};
    std::array<char, CURL_ERROR_SIZE> words{};
    setWebOptions(easy, settings, words.data());
    const QByteArray url = settings.webUrl.toUtf8();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    // Start-up waits on the window's thread: never longer than this.
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(settings.stallSeconds));
    const CURLcode code = curl_easy_perform(easy);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    const QString where = webServerName(settings.webUrl);
    std::optional<SourceLoss> loss = lossOf(easy, code, where, words.data());
    curl_easy_cleanup(easy);
    if (loss)
        return loss;
    if (code == CURLE_OPERATION_TIMEDOUT)
        return SourceLoss{SourceLoss::NoAnswer, SourceMode::Web, QString(), where,
                          settings.stallSeconds};
    if (code != CURLE_OK)
        return SourceLoss{SourceLoss::CouldNotConnect, SourceMode::Web,
                          QString::fromUtf8(words[0] ? words.data() : curl_easy_strerror(code)),
                          where};
    // A folder may well be closed to a look (403) or have no page of its own (404): the
    // server answered, and its sheets are asked for one by one. A server error is no answer.
    if (status >= 500)
        return SourceLoss{SourceLoss::ServerError, SourceMode::Web,
                          Replies::httpStatusText(QByteArray(), int(status)), where};
    return std::nullopt;
}

void WebWorker::configure(CurlTransfer &t)
{
    Reply &reply = m_replies[t.easy];
    reply = Reply();
    setWebOptions(t.easy, m_settings, reply.words.data());
}

void WebWorker::heard(CurlTransfer &t, const QByteArray &line)
{
    Reply &reply = m_replies[t.easy];
    Replies::readHttpHeader(reply.head, line);
    t.lastCode = reply.head.status;
    t.lastReply = reply.head.statusLine;
}

void WebWorker::reply(const CurlJob &job, const FetchResult &result)
{
    if (job.id >= 0) {
        answer(job.id, result);
        return;
    }
    // The probe asks for nothing the server may lack: what is not a plain answer is the
    // server's trouble.
    if (result.ok() || result.kind == FetchResult::NotOnSource ||
        result.kind == FetchResult::Refused || result.kind == FetchResult::NotAPdf) {
        answerProbe({});
        return;
    }
    again(job);
    giveUp({SourceLoss::ServerError, SourceMode::Web, result.detail, m_where});
}

void WebWorker::finished(CurlTransfer &t, CURLcode code)
{
    const CurlJob &job = t.job;
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    long version = 0;
    curl_easy_getinfo(t.easy, CURLINFO_HTTP_VERSION, &version);
    // It multiplexes: many requests in flight on the one connection.
    if (version == CURL_HTTP_VERSION_2_0 && capacity() < Http2Streams)
        setCapacity(Http2Streams);
    const Reply &heard = m_replies[t.easy];
    const char *words = heard.words.data();
    const QString curlWords = QString::fromUtf8(*words ? words : curl_easy_strerror(code));
    const qint64 length = heard.head.length;

    if (std::optional<SourceLoss> loss = lossOf(t.easy, code, m_where, words)) {
        // A connection refused once others worked may be a server restarting: a strike.
        if (loss->kind == SourceLoss::CouldNotConnect && m_anyWorked && !struckOut(t)) {
            retryOrFail(t, curlWords, false);
            return;
        }
        again(job);
        giveUp(*loss);
        return;
    }
    if (t.file && t.file->errorCode() != 0) {
        // The workspace, not the server, failed: a full disk, a folder gone.
        answer(job.id, {FetchResult::WorkspaceFailed, t.file->errorCode(), t.file->errorString()});
        return;
    }
    if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        m_strikes = 0;
        reply(job, {FetchResult::TransferFailed, 0,
                    FileSystem::tooLargeText(code == CURLE_FILESIZE_EXCEEDED ? length : -1,
                                             FetchResult::MaxSheetBytes)});
        return;
    }
    if (code == CURLE_TOO_MANY_REDIRECTS) {
        reply(job, {FetchResult::TransferFailed, 0,
                    QStringLiteral("sent on more than %1 times").arg(MaxRedirects)});
        return;
    }
    if (code == CURLE_UNSUPPORTED_PROTOCOL && t.lastCode >= 300 && t.lastCode < 400) {
        reply(job, {FetchResult::TransferFailed, 0,
                    QStringLiteral("sent on to ") + QString::fromUtf8(heard.head.location) +
                        QStringLiteral(", which is not followed from https")});
        return;
    }
    const bool cut = code == CURLE_PARTIAL_FILE ||
                     (code == CURLE_OK && job.id >= 0 && length >= 0 && t.received != length);
    if (cut && length >= 0) {
        retryOrFail(t, QStringLiteral("cut short: %1 of %2 bytes").arg(t.received).arg(length),
                    false);
        return;
    }
    if (code != CURLE_OK) {
        const bool silent = code == CURLE_OPERATION_TIMEDOUT || t.silenced;
        retryOrFail(t,
                    silent ? QStringLiteral("no answer within %1 seconds").arg(stallSeconds())
                           : curlWords,
                    silent || broken(code));
        return;
    }

    const QString said = Replies::httpStatusText(t.lastReply, int(status));
    if (status == 429 || status == 503) {
        busy(t, said);
        return;
    }
    if (status >= 500) {
        retryOrFail(t, said, false);
        return;
    }
    m_strikes = 0; // it answered
    m_anyWorked = true;
    if (status == 404 || status == 410) {
        reply(job, {FetchResult::NotOnSource, 0, said});
        return;
    }
    if (status == 401 || status == 403) {
        reply(job, {FetchResult::Refused, 0, said});
        return;
    }
    if (job.id < 0) {
        reply(job, {});
        return;
    }
    if (status < 200 || status >= 300) {
        reply(job, {FetchResult::TransferFailed, 0, said});
        return;
    }
    if (!t.head.startsWith("%PDF-")) {
        // The page many servers send in place of what they do not have.
        char *type = nullptr;
        curl_easy_getinfo(t.easy, CURLINFO_CONTENT_TYPE, &type);
        reply(job, {FetchResult::NotAPdf, 0,
                    type ? QString::fromUtf8(type) : QStringLiteral("no content type")});
        return;
    }
    if (!commit(t)) {
        answer(job.id, {FetchResult::WorkspaceFailed, t.file->errorCode(), t.file->errorString()});
        return;
    }
    answer(job.id, {});
}

bool WebWorker::struckOut(const CurlTransfer &t)
{
    // Everything on its way when the server failed fails alike (one connection carries
    // them all): only a request made after the last strike can count another.
    if (t.started < m_lastStrike)
        return false;
    m_lastStrike = CurlClock::now();
    return ++m_strikes >= 3;
}

void WebWorker::retryOrFail(const CurlTransfer &t, const QString &why, bool silent)
{
    const CurlJob &job = t.job;
    // Three strikes with nothing heard between: the server is gone, and this sheet with it.
    if (silent && struckOut(t)) {
        again(job);
        giveUp({SourceLoss::StoppedAnswering, SourceMode::Web});
        return;
    }
    if (!job.retried) {
        CurlJob next = job;
        next.retried = true;
        again(std::move(next));
        return;
    }
    // Silent twice and never heard from: the server does not answer, whichever request
    // (the start-up look or a sheet) finds it first.
    if (silent && (job.id < 0 || !m_anyWorked)) {
        again(job);
        giveUp(
            {SourceLoss::NoAnswer, SourceMode::Web, QString(), m_where, m_settings.stallSeconds});
        return;
    }
    reply(job, {FetchResult::TransferFailed, 0, why});
}

void WebWorker::busy(const CurlTransfer &t, const QString &status)
{
    if (struckOut(t)) {
        again(t.job);
        giveUp({SourceLoss::ServerError, SourceMode::Web, status, m_where});
        return;
    }
    const auto now = CurlClock::now();
    curl_off_t after = 0; // seconds; an HTTP date is counted from now
    curl_easy_getinfo(t.easy, CURLINFO_RETRY_AFTER, &after);
    const qint64 seconds = qBound(qint64(DefaultRetryAfterSeconds),
                                  qint64(after > 0 ? after : DefaultRetryAfterSeconds),
                                  qint64(m_settings.stallSeconds));
    holdUntil(now + std::chrono::seconds(seconds));
    again(t.job);
}
