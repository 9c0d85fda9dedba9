#include "CurlOptions.h"

#include <QFile>
#include <QtGlobal>

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/socket.h>

namespace {

// Every socket libcurl opens: the control connection, the listening and the accepted
// data connections of active FTP, HTTP's connections.
curl_socket_t openSocket(void *, curlsocktype, curl_sockaddr *address)
{
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int socketOptions(void *accepted, curl_socket_t socket, curlsocktype purpose)
{
    // Accepted data connections do not come through openSocket.
    ::fcntl(socket, F_SETFD, ::fcntl(socket, F_GETFD) | FD_CLOEXEC);
    if (purpose == CURLSOCKTYPE_ACCEPT && accepted)
        *static_cast<bool *>(accepted) = true;
    return CURL_SOCKOPT_OK;
}

} // namespace

void initCurl()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);
}

void setCommonOptions(void *handle, long stallSeconds)
{
    auto *curl = static_cast<CURL *>(handle);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "OxFtpTest");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &socketOptions);
    // The connection and greeting (30 s at most), and a transfer that moves nothing.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, qMin(30L, stallSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    // Servers drop idle connections; do not reuse one older than their usual limit.
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, 60L);
}

void setTlsOptions(void *handle, const QString &caFile)
{
    auto *curl = static_cast<CURL *>(handle);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (caFile.isEmpty())
        return;
    // The office's file in place of the system's bundle, and the system's hashed folder of
    // authorities beside it: both are trusted.
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    const char *systemFolder = info && info->capath ? info->capath : "/etc/ssl/certs";
    curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(caFile).constData());
    curl_easy_setopt(curl, CURLOPT_CAPATH, systemFolder);
}
