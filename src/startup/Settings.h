#pragma once

#include "sources/SourceSettings.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Everything a run of the program works with, whether it opens its window or builds
// from the command line. Loaded once, and handed on whole: to start-up, to each build
// and, as its sources part, to the sources.
struct Settings {
    SourceSettings sources;
    bool bookmarks = true;     // the output gets one bookmark per station
    bool sampleSheets = false; // no source was set: the share is the bundled samples
    QString tempRoot;          // where the workspace folder is made: $TMPDIR or /tmp
    QString programDir;        // holds pdftotext, pdftk, the help file and the samples
    // A look at a folder that may lie on a network mount (the share, the output's folder,
    // a list file's) that brings no answer in this time counts as not answering.
    int answerMs = 5000;
};

// The settings in force, and where each came from. Each value is taken from the first
// of these that sets it: the environment variable, the user's settings file, the
// system's settings files, the build's default.
struct LoadedSettings {
    // One setting as it stands, for a user who asks where a value comes from.
    struct Origin {
        QString name;  // "[Sources] FtpHost"
        QString value; // as given; empty when not set
        QString where; // "the environment (BRINDLEWICK_FTP_HOST)", a file's path, "the build"
    };

    Settings settings;
    QString error;           // a setting is unusable: the program must not start
    QStringList warnings;    // unknown sections and keys, ignored
    QList<Origin> origins;   // every setting the program reads, in the files' order
    QStringList filesLooked; // the settings files, most personal first

    explicit operator bool() const { return error.isEmpty(); }
    // Where a source could have been set: for the message when none was.
    QString placesLooked() const;
};

// Whether the bundled sample sheets stand in when no source is set anywhere: the window
// says so in its title; a script must never take them for real sheets.
enum class SamplePolicy { WhenNoSourceIsSet, Never };

// defaults: the build's values (an empty share and the placeholder host set nothing),
// with the program's folder and the temporary folder.
LoadedSettings loadSettings(const QProcessEnvironment &env, const Settings &defaults,
                            SamplePolicy samples);

// The build's stand-in host: it never answers, so as a default it sets nothing.
QString placeholderHost();
// The settings files, most personal first. Without HOME, the account's home folder.
QStringList settingsFiles(const QProcessEnvironment &env);
// Every environment variable the program reads, with what it sets, for --help.
QList<std::pair<QString, QString>> environmentVariables();

// One value checked as the settings file or the environment gives it: the value to use,
// or why it is refused. key is the file's key ("FtpHost"); where names the place for the
// message ("in /etc/xdg/…", "in the environment").
struct CheckedSetting {
    QString value;
    QString error;
};
CheckedSetting checkSetting(const QString &key, const QString &value, const QString &shownKey,
                            const QString &where);
