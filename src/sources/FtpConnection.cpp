#include "FtpConnection.h"

#include "CurlOptions.h"

#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <thread>

namespace {

size_t keepLastReply(char *line, size_t size, size_t count, void *reply)
{
    *static_cast<QString *>(reply) = QString::fromUtf8(line, qsizetype(size * count)).trimmed();
    return size * count;
}

} // namespace

FtpConnection::FtpConnection(QString host) : m_host(std::move(host))
{
    initCurl();
    CURL *curl = curl_easy_init();
    m_curl = curl;
    if (!curl)
        return;
    setFtpOptions(curl, 60); // the log-in waits as long as a slow server may take
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &keepLastReply);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &m_lastReply);
}

FtpConnection::~FtpConnection()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL *>(m_curl));
}

void setFtpOptions(void *handle, long stallSeconds, bool passive)
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

bool FtpConnection::connect()
{
    auto *curl = static_cast<CURL *>(m_curl);
    if (!curl)
        return false;
    const QByteArray url = ftpUrl(m_host, QStringLiteral("/")).toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    // A server that allows few connections per address counts one just closed for a
    // moment longer (ours of a window closed a moment ago, say): a refusal with 421 is
    // tried again a few times, a little later each time, for three seconds at most.
    CURLcode code = CURLE_OK;
    for (int wait = 50, waited = 0;; waited += wait, wait *= 2) {
        m_lastReply.clear();
        code = curl_easy_perform(curl);
        long reply = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
        if (code == CURLE_OK || reply != 421 || waited >= 3000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    if (code != CURLE_OK && m_lastReply.isEmpty())
        m_lastReply = QString::fromUtf8(curl_easy_strerror(code));
    return code == CURLE_OK;
}
