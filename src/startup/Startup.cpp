#include "Startup.h"

#include "sources/SourceProbe.h"

StartUp startUp(const Settings &settings, FileSystem &fso)
{
    StartUp up;
    const SourceChoice source = discoverSource(settings.sources, fso, settings.answerMs);
    if (source.mode == SourceMode::Undecided) {
        up.error = sourceFailureMessage();
        up.details = source.detail;
        return up;
    }
    up.mode = source.mode;
    up.workspace = Workspace::acquire(settings.tempRoot);
    if (!up.workspace.isValid()) {
        up.error = up.workspace.error();
        return up;
    }
    up.workspace.empty();
    return up;
}

QString sourceFailureMessage()
{
    return QStringLiteral("Unable to locate either Network or FTP directories.");
}
