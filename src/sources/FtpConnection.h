#pragma once

#include <QString>

// The FTP connection of start-up: it logs in anonymously to tell whether the server
// can be used at all, and is closed again once it has, since a server may allow one
// connection per address. Builds connect anew (FtpSource).
class FtpConnection {
public:
    // host is "name" or "name:port".
    explicit FtpConnection(QString host);
    ~FtpConnection();
    FtpConnection(const FtpConnection &) = delete;
    FtpConnection &operator=(const FtpConnection &) = delete;

    // Logs in; false when the server cannot be reached or refuses the log-in.
    bool connect();
    // What the server answered last, or libcurl's words when it answered nothing.
    QString lastReply() const { return m_lastReply; }

private:
    QString m_host;
    void *m_curl = nullptr;
    QString m_lastReply;
};

// The URL of a file (or, with no name, of a directory, ending in "/") on the server;
// every path part is escaped.
QString ftpUrl(const QString &host, const QString &directory, const QString &name = QString());

// The options every FTP handle of the program gets: the common ones (CurlOptions.h),
// anonymous log-in, active or passive mode, and no reply waited for longer than
// stallSeconds.
void setFtpOptions(void *curlHandle, long stallSeconds, bool passive = false);
