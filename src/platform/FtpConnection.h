#pragma once

#include "FileSystem.h"

#include <QString>

// The run's one FTP connection: logs in anonymously at start-up and serves every
// transfer afterwards. Active mode; path parts are URL-escaped.
class FtpConnection {
public:
    // host is "name" or "name:port".
    explicit FtpConnection(QString host);
    ~FtpConnection();
    FtpConnection(const FtpConnection &) = delete;
    FtpConnection &operator=(const FtpConnection &) = delete;

    // Logs in; false when the server cannot be reached or refuses the log-in.
    bool connect();
    // Enters an absolute directory such as "/Geod/PDF Single Sheet/"; false when it
    // does not exist or the server cannot be reached (after one reconnection).
    bool setCurrentDirectory(const QString &directory);
    // Copies a file of the current directory byte for byte to localPath. The local
    // file is replaced only by a complete transfer.
    FsResult getFile(const QString &remoteName, const QString &localPath);

private:
    int perform(const QString &url, bool noBody, void *sink);
    QString urlFor(const QString &directory, const QString &name = QString()) const;

    QString m_host;
    QString m_directory = QStringLiteral("/");
    void *m_curl = nullptr;
};

// The URL of a file (or, with no name, of a directory, ending in "/") on the server;
// every path part is escaped.
QString ftpUrl(const QString &host, const QString &directory, const QString &name = QString());
