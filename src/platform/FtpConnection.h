#pragma once

#include <QString>

// The FTP connection of start-up: it logs in anonymously to tell whether the server
// can be used at all. Builds fetch over connections of their own (FtpFetcher).
class FtpConnection {
public:
    // host is "name" or "name:port".
    explicit FtpConnection(QString host);
    ~FtpConnection();
    FtpConnection(const FtpConnection &) = delete;
    FtpConnection &operator=(const FtpConnection &) = delete;

    // Logs in; false when the server cannot be reached or refuses the log-in.
    bool connect();

private:
    int perform(const QString &url);
    QString urlFor(const QString &directory, const QString &name = QString()) const;

    QString m_host;
    void *m_curl = nullptr;
};

// The URL of a file (or, with no name, of a directory, ending in "/") on the server;
// every path part is escaped.
QString ftpUrl(const QString &host, const QString &directory, const QString &name = QString());

// The options every FTP handle of the program gets: anonymous log-in, active mode,
// no reply or silent transfer waited for longer than stallSeconds, and no connection
// longer than 30 s.
void setFtpOptions(void *curlHandle, long stallSeconds);
