#include "FtpConnection.h"

#include "CurlOptions.h"

#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

size_t keepLastReply(char *line, size_t size, size_t count, void *reply)
{
    *static_cast<QString *>(reply) = QString::fromUtf8(line, qsizetype(size * count)).trimmed();
    return size * count;
}

} // namespace

FtpConnection::FtpConnection(const SourceSettings &settings) : m_settings(settings)
{
    initCurl();
    CURL *curl = curl_easy_init();
    m_curl = curl;
    if (!curl)
        return;
    // The builds' rules: their bounds on every wait, and over TLS, passive mode (libcurl
    // cannot do active FTP over TLS).
    setFtpOptions(curl, m_settings, m_settings.stallSeconds, m_settings.ftpTls == FtpTls::Required);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &keepLastReply);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &m_lastReply);
}

FtpConnection::~FtpConnection()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL *>(m_curl));
}

void setFtpOptions(void *handle, const SourceSettings &settings, long stallSeconds, bool passive)
{
    auto *curl = static_cast<CURL *>(handle);
    setCommonOptions(curl, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_USERNAME, "anonymous");
    curl_easy_setopt(curl, CURLOPT_PASSWORD, "");
    // Active mode on the control connection's address; passive tries EPSV, then PASV.
    curl_easy_setopt(curl, CURLOPT_FTPPORT, passive ? nullptr : "-");
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 1L);
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 1L);
    // No SIZE before each RETR: on a distant server that round trip is a quarter of
    // a sheet's time. The source checks the size the server announces instead.
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    // Nothing may wait longer than these, so a dead server cannot hang the program: the
    // server's data connection (30 s at most) and each reply.
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, qMin(30L, stallSeconds) * 1000);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    if (settings.ftpTls == FtpTls::Required) {
        // AUTH TLS before the log-in, and every data connection protected (PROT P).
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        curl_easy_setopt(curl, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        setTlsOptions(curl, settings.caFile);
    }
}

QString ftpUrl(const QString &host, const QString &directory, const QString &name)
{
    QString url = QStringLiteral("ftp://") + host + QLatin1Char('/');
    const QStringList parts = directory.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        url += QString::fromLatin1(QUrl::toPercentEncoding(part)) + QLatin1Char('/');
    if (!name.isEmpty())
        url += QString::fromLatin1(QUrl::toPercentEncoding(name));
    return url;
}

std::optional<SourceLoss> ftpServerLoss(int code, const QString &reply, const QString &host,
                                        const char *error, long osError, int seconds)
{
    SourceLoss loss;
    loss.source = SourceMode::Ftp;
    loss.where = host;
    const QString words = error && *error ? QString::fromUtf8(error) : QString();
    // libcurl calls a 421 at the greeting a time-out.
    if (reply.startsWith(QLatin1String("421"))) {
        loss.kind = SourceLoss::ConnectionRefused;
        loss.said = reply;
        return loss;
    }
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        loss.kind = SourceLoss::HostNotFound;
        return loss;
    case CURLE_COULDNT_CONNECT:
        loss.kind = SourceLoss::CouldNotConnect;
        // "Connection refused" says more than libcurl's "Couldn't connect to server".
        loss.said = osError ? QString::fromLocal8Bit(std::strerror(int(osError))) : words;
        return loss;
    case CURLE_OPERATION_TIMEDOUT:
        loss.kind = SourceLoss::NoAnswer;
        loss.seconds = seconds;
        return loss;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        loss.kind = SourceLoss::CertificateNotVerified;
        loss.said = words;
        return loss;
    case CURLE_USE_SSL_FAILED:
        loss.kind = SourceLoss::TlsNotOffered;
        loss.said = reply.isEmpty() ? words : reply;
        return loss;
    case CURLE_LOGIN_DENIED:
        loss.kind = SourceLoss::LoginRefused;
        loss.said = reply;
        return loss;
    default:
        break;
    }
    return std::nullopt;
}

bool FtpConnection::connect()
{
    auto *curl = static_cast<CURL *>(m_curl);
    if (!curl)
        return false;
    const QByteArray url = ftpUrl(m_settings.ftpHost, QStringLiteral("/")).toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    // A server that allows few connections per address counts one just closed for a
    // moment longer (ours of a window closed a moment ago, say): a refusal with 421 is
    // tried again a few times, a little later each time, for three seconds at most.
    CURLcode code = CURLE_OK;
    for (int wait = 50, waited = 0;; waited += wait, wait *= 2) {
        m_lastReply.clear();
        error[0] = '\0';
        code = curl_easy_perform(curl);
        long reply = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
        if (code == CURLE_OK || reply != 421 || waited >= 3000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (code == CURLE_OK)
        return true;
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    // Out of time before the connection was made, or waiting for a reply on it.
    curl_off_t connected = 0;
    curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
    const auto loss =
        ftpServerLoss(code, m_lastReply, m_settings.ftpHost, error, osError,
                      connected > 0 ? m_settings.stallSeconds : qMin(30, m_settings.stallSeconds));
    if (loss) {
        m_loss = *loss;
    } else {
        // Anything else: the server answered, but not as an FTP server that lets us in.
        m_loss.kind = SourceLoss::LoginRefused;
        m_loss.source = SourceMode::Ftp;
        m_loss.where = m_settings.ftpHost;
        m_loss.said = m_lastReply.isEmpty()
                          ? QString::fromUtf8(*error ? error : curl_easy_strerror(code))
                          : m_lastReply;
    }
    return false;
}
