#include "CommandLineBuild.h"

#include "ConsoleInteraction.h"
#include "SignalPipe.h"
#include "assembly/SheetBuild.h"
#include "platform/FileSystem.h"
#include "platform/ToolProcess.h"
#include "platform/WorkerThread.h"
#include "startup/Startup.h"
#include "stations/InputFile.h"
#include "stations/StationList.h"
#include "stations/Tokens.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

enum ExitStatus { AllWritten = 0, SomeMissing = 1, NothingWritten = 2 };

// A stopped build's tools are killed at once and go within milliseconds; one stuck in
// the kernel is not waited for longer than this.
constexpr int WorkerWaitMs = 3000;

int statusOf(const BuildReport &report, int signalNumber)
{
    switch (report.outcome) {
    case BuildReport::Written:
        return report.missing.isEmpty() ? AllWritten : SomeMissing;
    case BuildReport::Stopped:
        return signalNumber != 0 ? 128 + signalNumber : NothingWritten;
    default:
        return NothingWritten;
    }
}

// Lets what a finished build handed to deleteLater() go, and gives its workers time to
// end the tools they ran and the reaper time to collect them, so that no child
// outlives the program.
void letBuildGo()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Threads stuck in the kernel (a hung mount) are not waited for: they go with the process.
    const auto gone = [] {
        return workerThreadsRunning() <= workerThreadsStuck() && ToolProcess::reaping() == 0;
    };
    if (gone())
        return;
    const QDeadlineTimer deadline(WorkerWaitMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (gone() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(10);
    loop.exec();
}

} // namespace

int runCommandLineBuild(const CommandLineOptions &options, const Settings &defaults)
{
    ConsoleInteraction ui(stderr, ::isatty(STDERR_FILENO) == 1);
    FileSystem &fso = FileSystem::program();

    // A script never gets the sample sheets: their numbers look like real GSIDs.
    const LoadedSettings loaded =
        loadSettings(QProcessEnvironment::systemEnvironment(), defaults, SamplePolicy::Never);
    // Unknown keys do not stop a build, but a misspelt one may leave a source unset.
    for (const QString &warning : loaded.warnings)
        ui.showNotice(warning);
    if (!loaded) {
        ui.showError(loaded.error);
        return NothingWritten;
    }
    const Settings &settings = loaded.settings;
    if (!settings.sources.anySet()) {
        ui.showError(QStringLiteral("No data-sheet source is set; no output file was written."),
                     loaded.placesLooked());
        return NothingWritten;
    }

    // The list, read as the window's import reads a file.
    const bool fromInput = options.listFiles.value(0) == CommandLineOptions::standardInput();
    const QString listFile =
        fromInput ? QString() : QDir::current().absoluteFilePath(options.listFiles.value(0));
    StationList list;
    ImportedEntries imported;
    if (fromInput) {
        QFile input;
        if (input.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            imported = importEntries(input, list);
        else
            imported.error = input.errorString();
    } else {
        imported = importEntries(fso, listFile, list);
    }
    const QString listName = fromInput ? QStringLiteral("standard input") : listFile;
    if (!imported) {
        ui.showError(fromInput ? QStringLiteral("Unable to read the list from standard input.")
                               : unreadableFileMessage(listFile));
        return NothingWritten;
    }
    // The window builds what fitted; a script would not see what was left out.
    if (imported.full) {
        ui.showError(EntryBatch::fullMessage() + QStringLiteral(" No output file was written."));
        return NothingWritten;
    }
    list.addAll(imported.entries);
    list.updateCount();
    if (list.isEmpty()) {
        ui.showError(QStringLiteral("No GSID was found in ") + listName +
                     QStringLiteral("; no output file was written."));
        return NothingWritten;
    }

    // From here on there is a workspace to remove and, soon, a build to stop: a
    // signal stops it as Stop does, and the program ends through its clean-up.
    SignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP});
    StartUp up = startUp(settings, fso);
    if (!up) {
        ui.showError(up.error, up.details);
        return NothingWritten;
    }
    Workspace &workspace = up.workspace;

    const QString output = trimBlanks(options.output);
    const QString refusal = BuildReport::refusal(output, workspace.verify(), settings.programDir);
    if (!refusal.isEmpty()) {
        ui.showError(refusal);
        workspace.remove();
        return NothingWritten;
    }

    BuildReport report;
    {
        const Edition edition = options.metric ? Edition::Metric : Edition::English;
        BuildConfig config = BuildConfig::of(settings, up, edition);
        config.listFile = listFile;
        SheetBuild build(config, fso, ui);
        QObject::connect(&signalPipe, &SignalPipe::signalled, &build, [&build] {
            if (build.isRunning())
                build.stop();
        });
        if (signalPipe.received() != 0) {
            report.outcome = BuildReport::Stopped;
        } else {
            const qsizetype total = list.count();
            report = build.run(list.entries(), output,
                               [&ui, total](const QString &text) { ui.showProgress(text, total); });
        }
    }
    // Clean first: a reader of standard output that went away ends the program with
    // SIGPIPE, which must not leave a tool running or the workspace behind.
    letBuildGo();
    workspace.remove();
    ui.endProgress();
    if (const std::optional<UserMessage> message = report.message(BuildReport::Audience::Console))
        ui.showMessage(*message);
    // What the output lacks, or what could not be had at all: a script feeds these back in.
    const bool listed = report.outcome == BuildReport::Written ||
                        report.outcome == BuildReport::NothingFetched ||
                        report.outcome == BuildReport::NothingReadable;
    if (listed && !report.missing.isEmpty()) {
        const QByteArray gsids = report.missingGsids().join(QLatin1Char('\n')).toLocal8Bit();
        std::fwrite(gsids.constData(), 1, size_t(gsids.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return statusOf(report, signalPipe.received());
}
