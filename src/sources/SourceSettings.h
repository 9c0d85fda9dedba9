#pragma once

#include <QString>

#include <atomic>

// Where a build's sheets come from; start-up chooses one and keeps it for the run.
enum class SourceMode : quint8 { Undecided = 0, Ftp = 1, Share = 2, Web = 3 };

// How each FTP transfer's data connection is made. Auto: active, as the program always
// did, until the server refuses the data port or its data connection never arrives;
// then passive (EPSV, then PASV) for the rest of the window's builds.
enum class FtpMode : quint8 { Auto, Active, Passive };

// Required: explicit TLS (AUTH TLS) for the log-in and every data connection.
enum class FtpTls : quint8 { Off, Required };

// The sources as the settings set them. An empty share, web address or host is a
// source not set, which start-up does not try.
struct SourceSettings {
    static constexpr int MaxFtpConnections = 8;
    static constexpr int MaxWebConnections = 16;

    QString shareDir;       // absolute; holds "PDF Single Sheet/" and "PDF Metric Sheet/"
    QString webUrl;         // "https://host[:port]/path/" (or http), ending in "/"
    QString ftpHost;        // "host" or "host:port"
    int ftpConnections = 4; // at most this many FTP connections in one build
    FtpMode ftpMode = FtpMode::Auto;
    FtpTls ftpTls = FtpTls::Off;
    int webConnections = 6; // HTTP/1.1 connections at once (HTTP/2 needs one)
    QString caFile;         // an office's own CA (PEM), trusted beside the system's
    int stallSeconds = 30;  // a transfer that hears nothing for this long has failed

    bool anySet() const { return !shareDir.isEmpty() || !webUrl.isEmpty() || !ftpHost.isEmpty(); }
};

// What the builds of one window learn of their source, for the builds after them.
struct SourceMemory {
    std::atomic<bool> passive{false}; // the FTP server wants passive mode
};
