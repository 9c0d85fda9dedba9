#include "CommandLineBuild.h"

#include "ConsoleInteraction.h"
#include "ConsoleStream.h"
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
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum ExitStatus { AllWritten = 0, SomeMissing = 1, NothingWritten = 2, ReportNotWritten = 3 };

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

QString absolute(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::current().absoluteFilePath(path);
}

bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo x(a);
    const QFileInfo y(b);
    return x.absoluteFilePath() == y.absoluteFilePath() ||
           (x.exists() && x.canonicalFilePath() == y.canonicalFilePath());
}

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// The report file, its keys in the order a reader takes them in, a line per GSID.
QByteArray reportJson(const QString &output, qsizetype requested, const BuildReport *built)
{
    const qsizetype written = built ? built->written() : 0;
    QByteArray json = "{\n  \"output\": " + jsonString(output) +
                      ",\n  \"requested\": " + QByteArray::number(requested) +
                      ",\n  \"written\": " + QByteArray::number(written) + ",\n  \"missing\": [";
    const QList<BuildReport::Missing> none;
    const QList<BuildReport::Missing> &missing = built ? built->missing : none;
    for (qsizetype i = 0; i < missing.size(); ++i)
        json += (i == 0 ? "\n    {\"gsid\": " : ",\n    {\"gsid\": ") +
                jsonString(missing[i].gsid) +
                ", \"cause\": " + jsonString(BuildReport::causeName(missing[i].cause)) +
                ", \"detail\": " + jsonString(missing[i].detail) + '}';
    return json + (missing.isEmpty() ? "]\n}\n" : "\n  ]\n}\n");
}

// Writes text in place of the file at path as the output is replaced: a draft beside
// it, renamed over it once whole. Why not, or an empty text.
QString replaceWhole(FileSystem &fso, const QString &path, const QByteArray &text)
{
    QString draft;
    FsResult result = fso.createDraft(path, &draft);
    if (!result)
        return FileSystem::causeText(result);
    const int fd = ::open(QFile::encodeName(draft).constData(), O_WRONLY | O_CLOEXEC);
    int error = fd >= 0 ? 0 : errno;
    for (qsizetype done = 0; error == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        result = FsResult::fromErrno(error);
    if (result)
        result = fso.replaceFile(draft, path);
    if (!result)
        fso.deleteFile(draft, true);
    return result ? QString() : FileSystem::causeText(result);
}

// One build from the command line, from its options to its last line.
struct Run {
    explicit Run(const CommandLineOptions &options)
        : output(absolute(trimBlanks(options.output))), reportFile(absolute(options.report))
    {
        clock.start();
    }

    // Ends the run: the report file, the GSIDs missing from the output, and the closing
    // line. From here on a signal ends the program at once: nothing is left to clean up.
    int finish(int status, const BuildReport *built = nullptr);

    FileSystem &fso = FileSystem::program();
    SignalPipe signalPipe{{SIGINT, SIGTERM, SIGHUP, SIGPIPE}, SignalPipe::Mode::EndAtOnce};
    ConsoleStream err{STDERR_FILENO};
    ConsoleStream out{STDOUT_FILENO};
    ConsoleInteraction ui{err};
    QElapsedTimer clock;
    QString output;
    QString reportFile; // empty: none asked for
    qsizetype requested = 0;
};

int Run::finish(int status, const BuildReport *built)
{
    ui.endProgress();
    // A signal while the report is written is told after it, so that no draft is left.
    signalPipe.setMode(SignalPipe::Mode::ToTheLoop);
    if (!reportFile.isEmpty()) {
        const QString why = replaceWhole(fso, reportFile, reportJson(output, requested, built));
        if (!why.isEmpty()) {
            ui.showError(QStringLiteral("The report file ") + reportFile +
                         QStringLiteral(" could not be written: ") + why + QLatin1Char('.'));
            if (status == AllWritten || status == SomeMissing)
                status = ReportNotWritten;
        }
    }
    signalPipe.setMode(SignalPipe::Mode::EndAtOnce);
    const int signalNumber = signalPipe.received();
    if (signalNumber != 0)
        status = 128 + signalNumber;
    // What the output lacks, or what could not be had at all: a script feeds these back
    // in. Last but for the closing line, after the clean-up: a reader that went away
    // ends the program with SIGPIPE.
    const bool listed = built && (built->outcome == BuildReport::Written ||
                                  built->outcome == BuildReport::NothingFetched ||
                                  built->outcome == BuildReport::NothingReadable);
    if (signalNumber == 0 && listed && !built->missing.isEmpty())
        out.write(
            (built->missingGsids().join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit());
    const bool wrote = built && built->outcome == BuildReport::Written;
    ui.writeLine((wrote ? QStringLiteral("Wrote ") : QStringLiteral("Did not write ")) +
                 (output.isEmpty() ? QStringLiteral("the output file") : output) +
                 QStringLiteral(": %1 of %2 data sheets (%3).")
                     .arg(wrote ? built->written() : 0)
                     .arg(requested)
                     .arg(ConsoleInteraction::duration(clock.elapsed())));
    return status;
}

} // namespace

int runCommandLineBuild(const CommandLineOptions &options, const Settings &defaults)
{
    // Until the workspace is taken a signal ends the program at once (Run::signalPipe).
    Run run(options);
    ConsoleInteraction &ui = run.ui;
    FileSystem &fso = run.fso;
    const bool fromInput = options.listFiles.value(0) == CommandLineOptions::standardInput();
    const QString listFile = fromInput ? QString() : absolute(options.listFiles.value(0));

    // The report's place first: a slip there must cost neither a build nor the list.
    if (!run.reportFile.isEmpty()) {
        QString why;
        QString draft;
        if (QFileInfo(run.reportFile).isDir())
            why = FileSystem::causeText(FsResult::fromErrno(EISDIR));
        else if (sameFile(run.reportFile, run.output))
            why = QStringLiteral("it is the output file");
        else if (sameFile(run.reportFile, listFile))
            why = QStringLiteral("it is the list file");
        else if (const FsResult made = fso.createDraft(run.reportFile, &draft); !made)
            why = FileSystem::causeText(made);
        else
            fso.deleteFile(draft, true);
        if (!why.isEmpty()) {
            ui.showError(QStringLiteral("The report file ") + run.reportFile +
                         QStringLiteral(" cannot be written (") + why +
                         QStringLiteral("); no output file was written."));
            run.reportFile.clear();
            return run.finish(NothingWritten);
        }
    }

    // A script never gets the sample sheets: their numbers look like real GSIDs.
    const LoadedSettings loaded =
        loadSettings(QProcessEnvironment::systemEnvironment(), defaults, SamplePolicy::Never);
    // Unknown keys do not stop a build, but a misspelt one may leave a source unset.
    for (const QString &warning : loaded.warnings)
        ui.showNotice(warning);
    if (!loaded) {
        ui.showError(loaded.error);
        return run.finish(NothingWritten);
    }
    const Settings &settings = loaded.settings;
    if (!settings.sources.anySet()) {
        ui.showError(QStringLiteral("No data-sheet source is set; no output file was written."),
                     loaded.placesLooked());
        return run.finish(NothingWritten);
    }

    // The list, read as the window's import reads a file.
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
        return run.finish(NothingWritten);
    }
    // The window builds what fitted; a script would not see what was left out.
    if (imported.full) {
        ui.showError(EntryBatch::fullMessage() + QStringLiteral(" No output file was written."));
        return run.finish(NothingWritten);
    }
    list.addAll(imported.entries);
    list.updateCount();
    run.requested = list.count();
    if (list.isEmpty()) {
        ui.showError(QStringLiteral("No GSID was found in ") + listName +
                     QStringLiteral("; no output file was written."));
        return run.finish(NothingWritten);
    }

    // From the workspace on there is something to remove and, soon, a build to stop: a
    // signal stops it as Stop does, and the program ends through its clean-up.
    SignalPipe &signalPipe = run.signalPipe;
    StartUp up =
        startUp(settings, fso, [&signalPipe] { signalPipe.setMode(SignalPipe::Mode::ToTheLoop); });
    if (!up) {
        ui.showError(up.error, up.details);
        return run.finish(NothingWritten);
    }
    Workspace &workspace = up.workspace;

    const QString refusal =
        BuildReport::refusal(run.output, workspace.verify(), settings.programDir);
    if (!refusal.isEmpty()) {
        ui.showError(refusal);
        workspace.remove();
        return run.finish(NothingWritten);
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
            report = build.run(list.entries(), run.output,
                               [&ui, total](const QString &text) { ui.showProgress(text, total); });
        }
    }
    // Clean first, so that nothing is left behind however the program ends from here.
    letBuildGo();
    workspace.remove();
    ui.endProgress();
    if (const std::optional<UserMessage> message = report.message(BuildReport::Audience::Console))
        ui.showMessage(*message);
    return run.finish(statusOf(report, signalPipe.received()), &report);
}
