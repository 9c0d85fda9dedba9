#include "CommandLineSources.h"

#include "ConsoleInteraction.h"
#include "ConsoleStream.h"
#include "platform/FileSystem.h"
#include "sources/SheetSource.h"
#include "sources/SourceProbe.h"
#include "startup/Startup.h"

#include <unistd.h>

int runCommandLineSources(const Settings &defaults)
{
    ConsoleStream out(STDOUT_FILENO);
    ConsoleStream err(STDERR_FILENO);
    ConsoleInteraction ui(err);
    // As a build from a script loads them: never the sample sheets.
    const LoadedSettings loaded =
        loadSettings(QProcessEnvironment::systemEnvironment(), defaults, SamplePolicy::Never);
    QString text = QStringLiteral("Settings (the first place that sets one wins: the environment, "
                                  "the settings files, the build):\n");
    for (const LoadedSettings::Origin &origin : loaded.origins)
        text += QStringLiteral("  ") + origin.name +
                (origin.value.isEmpty() ? QStringLiteral(": not set")
                                        : QStringLiteral(" = ") + origin.value +
                                              QStringLiteral(", from ") + origin.where) +
                QLatin1Char('\n');
    out.write(text.toLocal8Bit());
    for (const QString &warning : loaded.warnings)
        ui.showNotice(warning);
    if (!loaded) {
        ui.showError(loaded.error);
        return 2;
    }
    const SourceSettings &sources = loaded.settings.sources;
    if (!sources.anySet()) {
        ui.showError(QStringLiteral("No data-sheet source is set: a build with --output would "
                                    "refuse to run, and the window would show the sample sheets."),
                     loaded.placesLooked());
        return 2;
    }

    // Said before the servers are asked, which may take a while.
    out.write("\nSources, in the order a build tries them:\n");
    const SourceChoice choice =
        discoverSource(sources, FileSystem::program(), loaded.settings.answerMs);
    const std::pair<SourceMode, QString> order[] = {{SourceMode::Share, sources.shareDir},
                                                    {SourceMode::Web, sources.webUrl},
                                                    {SourceMode::Ftp, sources.ftpHost}};
    bool chosenSeen = false;
    text.clear();
    for (const auto &entry : order) {
        const SourceMode mode = entry.first;
        const QString &where = entry.second;
        if (where.isEmpty())
            continue;
        text += QStringLiteral("  ") + SourceLoss::sourceName(mode) + QLatin1Char(' ') + where +
                QStringLiteral(": ");
        const auto tried = std::find_if(choice.tried.cbegin(), choice.tried.cend(),
                                        [mode](const auto &t) { return t.source == mode; });
        if (tried == choice.tried.cend())
            text += chosenSeen ? QStringLiteral("not tried: a build takes the first that answers")
                               : QStringLiteral("not tried");
        else if (tried->ok)
            text += QStringLiteral("answers");
        else
            text += QStringLiteral("passed over: ") + tried->why;
        chosenSeen = chosenSeen || (tried != choice.tried.cend() && tried->ok);
        text += QLatin1Char('\n');
    }
    const bool found = choice.mode != SourceMode::Undecided && !choice.tried.isEmpty();
    if (found)
        text += QStringLiteral("A build would take its sheets from ") +
                SourceLoss::sourceName(choice.mode) + QLatin1Char(' ') + choice.tried.last().where +
                QStringLiteral(".\n");
    else
        text += QStringLiteral("No source answers: a build would end with \"") +
                sourceFailureMessage() + QStringLiteral("\"\n");
    out.write(text.toLocal8Bit());
    return found ? 0 : 2;
}
