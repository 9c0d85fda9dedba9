#pragma once

#include "SheetSource.h"

#include <QString>

#include <optional>

// The FTP connection of start-up: it logs in anonymously to tell whether the server
// can be used at all, and is closed again once it has, since a server may allow one
// connection per address. Builds connect anew (FtpSource).
class FtpConnection {
public:
    // settings.ftpHost is "name" or "name:port"; TLS as settings.ftpTls asks.
    explicit FtpConnection(const SourceSettings &settings);
    ~FtpConnection();
    FtpConnection(const FtpConnection &) = delete;
    FtpConnection &operator=(const FtpConnection &) = delete;

    // Logs in; false when the server cannot be reached or refuses the log-in.
    bool connect();
    // Why connect() failed, as a value naming the host.
    SourceLoss loss() const { return m_loss; }

private:
    SourceSettings m_settings;
    void *m_curl = nullptr;
    QString m_lastReply;
    SourceLoss m_loss;
};

// The URL of a file (or, with no name, of a directory, ending in "/") on the server;
// every path part is escaped.
QString ftpUrl(const QString &host, const QString &directory, const QString &name = QString());

// The options every FTP handle of the program gets: the common ones (CurlOptions.h),
// anonymous log-in, active or passive mode, no reply waited for longer than
// stallSeconds, and with FtpTls=required explicit TLS for the log-in and every data
// connection, its certificate checked.
void setFtpOptions(void *curlHandle, const SourceSettings &settings, long stallSeconds,
                   bool passive = false);

// What a failed try at an FTP server says of the server as a whole: nothing listens, no
// such host, no answer in time, a certificate not verified, TLS not begun, the log-in
// refused. Nothing for a failure of one sheet or one transfer. code is a CURLcode, reply
// the server's last reply line, error libcurl's words, osError the system's error number,
// seconds the time that ran out, for a time-out.
std::optional<SourceLoss> ftpServerLoss(int code, const QString &reply, const QString &host,
                                        const char *error, long osError, int seconds);
