#include "SheetBuild.h"

#include "BuildScheduler.h"
#include "MergePlan.h"
#include "Merger.h"
#include "OutputFile.h"
#include "platform/FileSystem.h"
#include "platform/UserInteraction.h"
#include "platform/WorkerThread.h"
#include "sources/FtpSource.h"
#include "sources/ShareSource.h"
#include "sources/WebSource.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>
#include <stdlib.h>

namespace {

// The build's own folder inside the workspace; empty when it cannot be made.
QString makeBuildFolder(const QString &workspaceDir, int *error)
{
    QByteArray name = QFile::encodeName(workspaceDir + QStringLiteral("~build-XXXXXX"));
    if (!::mkdtemp(name.data())) {
        *error = errno;
        return QString();
    }
    return QFile::decodeName(name) + QLatin1Char('/');
}

// Removes the folder off the window's thread, since a stopped build may leave
// thousands of sheets in it. It is renamed first, at once: a worker that has not yet
// heard of the stop then finds no folder to write into under the old name.
void removeLater(const QString &folder)
{
    if (folder.isEmpty())
        return;
    QString gone = folder;
    gone.chop(1);
    gone += QStringLiteral(".gone");
    const QString doomed = QDir().rename(folder, gone) ? gone : folder;
    startWorkerThread([doomed] { QDir(doomed).removeRecursively(); });
}

} // namespace

BuildConfig BuildConfig::of(const Settings &settings, const StartUp &startUp, Edition edition)
{
    BuildConfig config;
    config.settings = settings;
    config.mode = startUp.mode;
    config.edition = edition;
    config.workspaceDir = startUp.workspace.path();
    config.memory = startUp.memory;
    return config;
}

SheetBuild::SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui, QObject *parent)
    : Build(parent), m_config(std::move(config)), m_fso(fso), m_ui(ui)
{
    if (!m_config.workspaceDir.endsWith(QLatin1Char('/')))
        m_config.workspaceDir += QLatin1Char('/');
}

SheetBuild::~SheetBuild()
{
    if (m_running) {
        // Quietly: nobody is left to tell.
        blockSignals(true);
        stop();
    }
}

BuildFactory SheetBuild::factory(FileSystem &fso, UserInteraction &ui)
{
    return [&fso, &ui](const BuildConfig &config, QObject *parent) -> Build * {
        return new SheetBuild(config, fso, ui, parent);
    };
}

EditionPaths SheetBuild::paths() const
{
    return EditionPaths::of(m_config.edition, m_config.mode, m_config.settings.sources);
}

void SheetBuild::start(const QStringList &gsids, const QString &outputPath)
{
    m_running = true;
    m_gsids = gsids;
    m_refused.clear();
    m_mailbox = Mailbox::create(this);
    m_mergeStop = std::make_shared<StopToken>();
    m_output = std::make_unique<OutputFile>(
        QFileInfo(outputPath).absoluteFilePath(), m_fso,
        [this](const QString &question) { return m_ui.askRetryCancel(question); },
        m_config.settings.answerMs);
    // The output's folder first: a build that cannot end well fetches nothing
    // and makes no folder, and the draft it makes now is the one the merge writes.
    m_output->prepare(m_config.listFile, m_config.workspaceDir,
                      [this](const OutputProblem &problem) { onPrepared(problem); });
}

void SheetBuild::onPrepared(const OutputProblem &problem)
{
    if (!m_running)
        return;
    if (problem.kind == OutputProblem::GaveUp) {
        finish(BuildReport::Cancelled);
        return;
    }
    if (!problem.ok()) {
        const auto [text, details] = BuildReport::outputProblem(problem);
        finish(BuildReport::OutputFailed, text, details);
        return;
    }
    int error = 0;
    m_folder = makeBuildFolder(m_config.workspaceDir, &error);
    if (m_folder.isEmpty()) {
        finish(BuildReport::WorkspaceFailed, QStringLiteral("The workspace folder ") +
                                                 m_config.workspaceDir +
                                                 QStringLiteral(" cannot be written: ") +
                                                 FileSystem::causeText(FsResult::fromErrno(error)) +
                                                 QStringLiteral("; no output file was written."));
        return;
    }

    const EditionPaths where = paths();
    const SourceSettings &sources = m_config.settings.sources;
    if (m_config.mode == SourceMode::Ftp)
        m_source = new FtpSource(sources, where.folder, m_config.memory);
    else if (m_config.mode == SourceMode::Web)
        m_source = new WebSource(sources, where.folder);
    else
        m_source = new ShareSource(where.folder, m_fso, sources.stallSeconds);
    BuildScheduler::Settings settings;
    settings.folder = m_folder;
    settings.workspaceDir = m_config.workspaceDir;
    settings.programDir = m_config.settings.programDir;
    settings.sourcePrefix = where.prefix;
    settings.ftp = m_config.mode == SourceMode::Ftp;
    settings.textTimeOutMs = m_config.textTimeOutMs;
    settings.textRuns = m_config.textRuns;
    settings.fetchAhead = m_config.fetchAhead;
    m_scheduler = new BuildScheduler(settings, *m_source, m_fso, this);
    connect(m_scheduler, &BuildScheduler::named, this,
            [this](qsizetype count) { emit progress(QString::number(count)); });
    connect(m_scheduler, &BuildScheduler::done, this, &SheetBuild::merge);
    connect(
        m_scheduler, &BuildScheduler::failed, this,
        [this](BuildReport::Outcome outcome, const QString &problem) { finish(outcome, problem); });
    // The edition's folder first: a source that went away since start-up must not
    // cost the user the list.
    connect(m_source, &SheetSource::opened, this, &SheetBuild::onOpened);
    m_source->open();
}

QString SheetBuild::noneOnTheWebServer() const
{
    // A web server cannot list a folder: a missing edition folder answers 404 for all.
    const QList<BuildReport::Missing> missing = m_scheduler->missing();
    if (m_config.mode != SourceMode::Web || missing.size() != m_gsids.size() ||
        std::any_of(missing.cbegin(), missing.cend(), [](const BuildReport::Missing &m) {
            return m.cause != MissingCause::NotOnSource;
        }))
        return QString();
    return QStringLiteral("Not one of them is on the web server: its folder ") +
           webAddress(m_config.settings.sources.webUrl, paths().folder) +
           QStringLiteral(" may be missing.");
}

void SheetBuild::onOpened(const FetchResult &result)
{
    if (!m_running)
        return;
    const SourceSettings &sources = m_config.settings.sources;
    const QString host = sources.ftpHost;
    if (!result.ok() && m_scheduler->sourceLost()) {
        // It refused us, or never answered: that is the news, not the folder.
        const QString asked =
            m_config.mode == SourceMode::Share
                ? QString(QStringLiteral("Copies from ") + paths().folder +
                          QStringLiteral(" that earlier builds let go are still stuck."))
            : m_config.mode == SourceMode::Web
                ? QString(QStringLiteral("The web server was asked for ") + sources.webUrl +
                          QLatin1Char('.'))
                : QStringLiteral("The FTP server ") + host +
                      QStringLiteral(" was asked for the folder ") + paths().folder +
                      QLatin1Char('.');
        finish(BuildReport::SourceMissing, m_scheduler->sourceLost()->sentence(), asked);
        return;
    }
    if (!result.ok()) {
        const QString said =
            result.detail.isEmpty() ? QString() : QStringLiteral(": ") + result.detail;
        QString tried;
        if (m_config.mode != SourceMode::Ftp)
            tried = QStringLiteral("The folder ") + paths().folder +
                    QStringLiteral(" could not be entered") + said;
        else if (result.kind == FetchResult::NotOnSource || result.kind == FetchResult::Refused)
            tried = QStringLiteral("The FTP server ") + host +
                    QStringLiteral(" answered, but its folder ") + paths().folder +
                    QStringLiteral(" could not be entered") + said;
        else
            tried = QStringLiteral("The FTP server ") + host +
                    QStringLiteral(" could not be reached") + said;
        if (!tried.endsWith(QLatin1Char('.')))
            tried += QLatin1Char('.');
        if (m_config.mode == SourceMode::Ftp && !sources.shareDir.isEmpty())
            tried = QStringLiteral("The share folder ") + sources.shareDir +
                    QStringLiteral(" was not used: it could not be seen when the program "
                                   "started.\n") +
                    tried;
        finish(BuildReport::SourceMissing, QString(), tried);
        return;
    }
    m_scheduler->start(m_gsids);
}

void SheetBuild::merge()
{
    m_source->stop(); // every sheet is in; its connections may close
    QList<Sheet> sheets = m_scheduler->sheets();
    if (sheets.isEmpty()) {
        // Nothing to write: no "Writing" before the message.
        finish(m_scheduler->fetchedAny() ? BuildReport::NothingReadable
                                         : BuildReport::NothingFetched);
        return;
    }
    emit progress(QStringLiteral("Writing"));
    if (!m_running)
        return; // stopped from the progress report
    MergeJob job;
    job.programDir = m_config.settings.programDir;
    job.scratchDir = m_folder;
    job.sheets = std::move(sheets);
    job.bookmarks = m_config.settings.bookmarks;
    job.output = m_output->draft();
    job.argumentBudget = m_config.mergeArgumentBytes;
    job.batchSize = m_config.mergeBatchSize;
    job.stop = m_mergeStop;
    // pdftk takes seconds for thousands of sheets: off the window's thread.
    startWorkerThread([job, fso = &m_fso, mailbox = m_mailbox, this] {
        const MergeOutcome outcome = Merger(job, *fso).run();
        mailbox->post([this, outcome] { onMerged(outcome); });
    });
}

void SheetBuild::onMerged(const MergeOutcome &outcome)
{
    if (!m_running)
        return;
    const QSet<QString> bad(outcome.unmergeable.cbegin(), outcome.unmergeable.cend());
    for (const Sheet &sheet : m_scheduler->sheets()) {
        if (bad.contains(sheet.path))
            m_refused.append(
                {sheet.gsid, MissingCause::MergeRefused, QStringLiteral("pdftk refused it")});
    }
    m_output->checkDraft(m_folder, [this, outcome](const std::optional<OutputFile::DraftCheck> &c) {
        onDraftChecked(outcome, c);
    });
}

void SheetBuild::onDraftChecked(const MergeOutcome &outcome,
                                const std::optional<OutputFile::DraftCheck> &check)
{
    if (!m_running)
        return;
    if (!check) {
        const auto [text, details] =
            BuildReport::outputProblem({OutputProblem::NoAnswer,
                                        FileSystem::parentFolderName(m_output->path()),
                                        {},
                                        (m_config.settings.answerMs + 999) / 1000});
        finish(BuildReport::OutputFailed, text, details);
        return;
    }
    const bool incomplete = outcome.merged && !check->whole;
    if ((!outcome.merged || incomplete) && check->workspaceDiskFull) {
        // The merge is made in the workspace first: its disk, not the output's, is full.
        finish(BuildReport::WorkspaceFailed,
               QStringLiteral("The workspace folder ") + m_config.workspaceDir +
                   QStringLiteral(" is full; no output file was written."));
        return;
    }
    if (!outcome.merged || incomplete) {
        finish(BuildReport::MergeFailed,
               BuildReport::mergeProblem(outcome.failure, check->outputDiskFull, incomplete,
                                         outcome.bookmarksFailed),
               QString::fromLocal8Bit(outcome.failure.errorOutput).trimmed());
        return;
    }
    m_output->replace([this](const OutputProblem &problem) {
        if (!m_running)
            return;
        if (problem.ok() || problem.kind == OutputProblem::GaveUp) {
            finish(problem.ok() ? BuildReport::Written : BuildReport::Cancelled);
            return;
        }
        const auto [text, details] = BuildReport::outputProblem(problem);
        finish(BuildReport::OutputFailed, text, details);
    });
}

void SheetBuild::stop()
{
    if (m_running)
        finish(BuildReport::Stopped);
}

void SheetBuild::finish(BuildReport::Outcome outcome, const QString &problem,
                        const QString &details)
{
    if (!m_running)
        return;
    m_running = false;
    if (m_mailbox)
        m_mailbox->close();
    if (m_mergeStop)
        m_mergeStop->stop(); // the merger ends its tool and removes what it made
    BuildReport report;
    report.outcome = outcome;
    report.output = m_output ? m_output->path() : QString();
    report.source = m_config.mode;
    report.total = m_gsids.size();
    report.problem = problem;
    report.details = details;
    if (m_scheduler) {
        m_scheduler->stop();
        report.sourceLost = m_scheduler->sourceLost();
        if (outcome == BuildReport::WorkspaceFailed || outcome == BuildReport::TextToolFailed) {
            for (const QString &gsid : std::as_const(m_gsids))
                report.missing.append({gsid, MissingCause::TransferFailed, QString()});
        } else if (outcome != BuildReport::Stopped && outcome != BuildReport::SourceMissing) {
            report.problem = report.problem.isEmpty() ? noneOnTheWebServer() : report.problem;
            // In list order: those the scheduler lost, and those the merge tool refused.
            QHash<QString, BuildReport::Missing> causes;
            for (const auto &m : m_scheduler->missing())
                causes.insert(m.gsid, m);
            for (const auto &m : std::as_const(m_refused))
                causes.insert(m.gsid, m);
            for (const QString &gsid : std::as_const(m_gsids)) {
                const auto found = causes.constFind(gsid);
                if (found != causes.cend())
                    report.missing.append(*found);
            }
        }
        m_scheduler->deleteLater();
        m_scheduler = nullptr;
    }
    if (m_source) {
        m_source->stop();
        m_source->deleteLater();
        m_source = nullptr;
    }
    if (m_output)
        m_output->discard();
    removeLater(std::exchange(m_folder, QString()));
    emit finished(report);
}

BuildReport SheetBuild::run(const QStringList &gsids, const QString &outputPath,
                            const std::function<void(const QString &)> &onProgress)
{
    std::optional<BuildReport> result;
    QEventLoop loop;
    QMetaObject::Connection a;
    if (onProgress)
        a = connect(this, &SheetBuild::progress, this, onProgress);
    const auto b = connect(this, &SheetBuild::finished, this, [&](const BuildReport &report) {
        result = report;
        loop.quit();
    });
    start(gsids, outputPath);
    if (!result)
        loop.exec();
    disconnect(a);
    disconnect(b);
    return *result;
}
