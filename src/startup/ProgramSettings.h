#pragma once

#include "AppSettings.h"
#include "SourceSettings.h"

#include <QProcessEnvironment>
#include <QStringList>

// The settings a run of the program works with, whether it opens its window or builds
// from the command line: the build's values are the defaults, the settings files and
// the environment point an installed program at an office's own share and server, and
// the sample sheets beside the program stand in only when no source is set anywhere.
struct ProgramSettings {
    AppSettings settings;
    QString error;        // a setting is unusable: the program must not start
    QStringList warnings; // unknown sections and keys, ignored

    explicit operator bool() const { return error.isEmpty(); }

    static ProgramSettings load(const QProcessEnvironment &env, const SourceSettings &defaults,
                                const QString &programDir);
};
