#include "Startup.h"

#include "sources/SourceProbe.h"

StartUp startUp(const Settings &settings, FileSystem &fso,
                const std::function<void()> &sourceChosen)
{
    StartUp up;
    const SourceChoice source = discoverSource(settings.sources, fso, settings.answerMs);
    if (source.mode == SourceMode::Undecided) {
        up.error = sourceFailureMessage();
        up.details = source.detail;
        return up;
    }
    up.mode = source.mode;
    if (sourceChosen)
        sourceChosen();
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
