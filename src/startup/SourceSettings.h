#pragma once

#include "AppSettings.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Where the data sheets come from, and how the output is made, set without
// rebuilding. Each value is taken from the first of these that sets it: the
// environment variable, the user's settings file, the system's settings file, the
// build's default. The files are INI files with the keys ShareDir, FtpHost,
// FtpConnections and FtpMode under [Sources], and Bookmarks under [Output]; the
// program only reads them.
struct SourceSettings {
    static constexpr int MaxFtpConnections = 8;
    // The build's stand-in host: it never answers, so as a default it sets nothing.
    static QString placeholderHost() { return QStringLiteral("ftp.geodesy.invalid"); }

    QString shareDir;       // absolute; holds "PDF Single Sheet/" and "PDF Metric Sheet/"
    QString ftpHost;        // "host" or "host:port"
    int ftpConnections = 4; // at most this many FTP connections in one build
    FtpMode ftpMode = FtpMode::Auto;
    bool sampleSheets = false; // shareDir is the bundled sample share
    bool bookmarks = true;     // the output gets one bookmark per station

    struct Loaded;
    // The settings in force; a value that is set but unusable is an error naming the
    // file (or variable) and key. The folders follow the XDG variables of env.
    // sampleShare is the share used only when no share and no FTP host is set
    // anywhere (an empty build share and the placeholder host count as not set);
    // once either is set, the share not set is empty, and so is the host.
    static Loaded load(const QProcessEnvironment &env, const SourceSettings &defaults,
                       const QString &sampleShare = QString());

    // The settings files, most personal first.
    static QStringList files(const QProcessEnvironment &env);
};

struct SourceSettings::Loaded {
    SourceSettings value;
    QString error;
    // Sections and keys the program does not know: ignored, so that a newer file does
    // not stop an older program, but said, as a misspelt one would leave a source unset.
    QStringList warnings;

    explicit operator bool() const { return error.isEmpty(); }
};
