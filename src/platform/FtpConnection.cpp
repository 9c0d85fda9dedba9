#include "FtpConnection.h"

#include <QUrl>

#include <curl/curl.h>

namespace {

// The Internet session: the library's global state, set up once for the process.
void ensureSession()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);
}

} // namespace

FtpConnection::FtpConnection(QString host) : m_host(std::move(host))
{
    ensureSession();
    CURL *curl = curl_easy_init();
    m_curl = curl;
    if (!curl)
        return;
    setFtpOptions(curl, 60); // the log-in waits as long as a slow server may take
}

FtpConnection::~FtpConnection()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL *>(m_curl));
}

QString FtpConnection::urlFor(const QString &directory, const QString &name) const
{
    return ftpUrl(m_host, directory, name);
}

void setFtpOptions(void *handle, long stallSeconds)
{
    auto *curl = static_cast<CURL *>(handle);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "OxFtpTest");
    curl_easy_setopt(curl, CURLOPT_USERNAME, "anonymous");
    curl_easy_setopt(curl, CURLOPT_PASSWORD, "");
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-"); // active mode, on the control address
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // No SIZE before each RETR: on a distant server that round trip is a quarter of
    // a sheet's time. The fetcher checks the size the server announces instead.
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    // Nothing may wait longer than these, so a dead server cannot hang the program:
    // the connection and greeting and the server's data connection (30 s at most),
    // each reply, and a transfer that moves nothing.
    const long connectSeconds = qMin(30L, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, connectSeconds * 1000);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    // Servers drop idle connections; do not reuse one older than their usual limit.
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, 60L);
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

int FtpConnection::perform(const QString &url)
{
    auto *curl = static_cast<CURL *>(m_curl);
    if (!curl)
        return CURLE_FAILED_INIT;
    const QByteArray u = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    return curl_easy_perform(curl);
}

bool FtpConnection::connect()
{
    return perform(urlFor(QStringLiteral("/"))) == CURLE_OK;
}
