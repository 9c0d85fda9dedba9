#include "FtpConnection.h"

#include "ReplacingFile.h"

#include <QUrl>

#include <curl/curl.h>

namespace {

// The Internet session: the library's global state, set up once for the process.
void ensureSession()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);
}

size_t writeToFile(char *data, size_t size, size_t count, void *target)
{
    auto *file = static_cast<ReplacingFile *>(target);
    return file->write(data, qint64(size * count)) ? size * count : 0;
}

// Answers that come from the server itself; repeating the request cannot help.
bool isDefinitive(int code)
{
    return code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED ||
           code == CURLE_FTP_COULDNT_RETR_FILE || code == CURLE_WRITE_ERROR ||
           code == CURLE_URL_MALFORMAT || code == CURLE_LOGIN_DENIED;
}

} // namespace

FtpConnection::FtpConnection(QString host) : m_host(std::move(host))
{
    ensureSession();
    CURL *curl = curl_easy_init();
    m_curl = curl;
    if (!curl)
        return;
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "OxFtpTest");
    curl_easy_setopt(curl, CURLOPT_USERNAME, "anonymous");
    curl_easy_setopt(curl, CURLOPT_PASSWORD, "");
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-"); // active mode, on the control address
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A dead server must not hang a build for ever.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    // Servers drop idle connections; do not reuse one older than their usual limit.
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, 60L);
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

int FtpConnection::perform(const QString &url, bool noBody, void *sink)
{
    auto *curl = static_cast<CURL *>(m_curl);
    if (!curl)
        return CURLE_FAILED_INIT;
    const QByteArray u = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_NOBODY, noBody ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, sink ? writeToFile : nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, sink);
    return curl_easy_perform(curl);
}

// A connection the server closed while we were idle fails at once; one fresh
// attempt tells a dropped connection from a server that is really gone.
static bool worthRetrying(int code)
{
    return code != CURLE_OK && !isDefinitive(code);
}

bool FtpConnection::connect()
{
    return perform(urlFor(QStringLiteral("/")), true, nullptr) == CURLE_OK;
}

bool FtpConnection::setCurrentDirectory(const QString &directory)
{
    int code = perform(urlFor(directory), true, nullptr);
    if (worthRetrying(code))
        code = perform(urlFor(directory), true, nullptr);
    if (code != CURLE_OK)
        return false;
    m_directory = directory;
    return true;
}

FsResult FtpConnection::getFile(const QString &remoteName, const QString &localPath)
{
    int code = CURLE_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ReplacingFile target(localPath);
        if (!target.open())
            return FsResult::fromErrno(target.errorCode());
        code = perform(urlFor(m_directory, remoteName), false, &target);
        if (code == CURLE_OK && target.commit())
            return FsResult::ok();
        // The local side failed (a full disk): the server is not to blame.
        if (target.errorCode() != 0)
            return FsResult::fromErrno(target.errorCode());
        if (!worthRetrying(code))
            break;
    }
    return FsResult::failed(QString::fromUtf8(curl_easy_strerror(CURLcode(code))),
                            code == CURLE_REMOTE_FILE_NOT_FOUND);
}
