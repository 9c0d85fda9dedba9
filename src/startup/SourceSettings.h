#pragma once

#include <QProcessEnvironment>
#include <QString>

// Where the data sheets come from, set without rebuilding. Each value is taken from
// the first of these that sets it: the environment variable, the user's settings
// file, the system's settings file, the build's default. The files are INI files
// with the keys ShareDir, FtpHost and FtpConnections under [Sources]; the program
// only reads them.
struct SourceSettings {
    static constexpr int MaxFtpConnections = 8;

    QString shareDir;       // absolute; holds "PDF Single Sheet/" and "PDF Metric Sheet/"
    QString ftpHost;        // "host" or "host:port"
    int ftpConnections = 4; // at most this many FTP connections in one build

    struct Loaded;
    // The settings in force; a value that is set but unusable is an error naming the
    // file (or variable) and key. The folders follow the XDG variables of env.
    static Loaded load(const QProcessEnvironment &env, const SourceSettings &defaults);

    // The settings files, most personal first.
    static QStringList files(const QProcessEnvironment &env);
};

struct SourceSettings::Loaded {
    SourceSettings value;
    QString error;

    explicit operator bool() const { return error.isEmpty(); }
};
