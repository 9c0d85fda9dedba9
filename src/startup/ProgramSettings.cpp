#include "ProgramSettings.h"

#include "Workspace.h"

ProgramSettings ProgramSettings::load(const QProcessEnvironment &env,
                                      const SourceSettings &defaults, const QString &programDir)
{
    const SourceSettings::Loaded sources =
        SourceSettings::load(env, defaults, programDir + QStringLiteral("/demo/geod/"));
    ProgramSettings loaded;
    loaded.error = sources.error;
    loaded.warnings = sources.warnings;
    AppSettings &settings = loaded.settings;
    settings.programDir = programDir;
    settings.shareDir = sources.value.shareDir;
    settings.ftpHost = sources.value.ftpHost;
    settings.ftpConnections = sources.value.ftpConnections;
    settings.ftpMode = sources.value.ftpMode;
    settings.sampleSheets = sources.value.sampleSheets;
    settings.bookmarks = sources.value.bookmarks;
    settings.tempRoot = Workspace::defaultTempRoot();
    return loaded;
}
