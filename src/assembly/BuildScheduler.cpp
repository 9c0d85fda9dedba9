#include "BuildScheduler.h"

#include "SheetName.h"
#include "SheetRenamer.h"
#include "platform/FileSystem.h"
#include "platform/ToolProcess.h"
#include "sources/SheetSource.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>

namespace {

constexpr qsizetype MaxSheetText = 4 * 1024 * 1024;

// A GSID goes into a path: it must name a file inside its edition folder.
bool namesAFile(const QString &gsid, bool ftp)
{
    if (gsid.isEmpty() || gsid == QStringLiteral(".") || gsid == QStringLiteral("..") ||
        gsid.contains(QLatin1Char('/')) || gsid.contains(QChar(0)))
        return false;
    // Line breaks cannot travel inside an FTP command.
    return !ftp ||
           std::none_of(gsid.cbegin(), gsid.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

MissingCause causeOf(const FetchResult &result)
{
    switch (result.kind) {
    case FetchResult::NotOnSource:
        return MissingCause::NotOnSource;
    case FetchResult::Refused:
        return MissingCause::Refused;
    case FetchResult::SourceLost:
        return MissingCause::SourceLost;
    case FetchResult::NotAPdf:
        return MissingCause::NotAPdf;
    default:
        return MissingCause::TransferFailed;
    }
}

} // namespace

BuildScheduler::BuildScheduler(Settings settings, SheetSource &source, FileSystem &fso,
                               QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_source(source), m_fso(fso)
{
    if (m_settings.textRuns <= 0)
        m_settings.textRuns = qMax(1, QThread::idealThreadCount());
    // Reports from the source arrive posted already.
    connect(&m_source, &SheetSource::fetched, this, &BuildScheduler::onFetched);
    connect(&m_source, &SheetSource::lost, this, [this](const SourceLoss &why) {
        if (!m_sourceLost)
            m_sourceLost = why;
    });
}

BuildScheduler::~BuildScheduler()
{
    stop();
}

QString BuildScheduler::scratch(qsizetype index) const
{
    return m_settings.folder + QStringLiteral("Temp-%1.pdf").arg(index + 1);
}

void BuildScheduler::start(const QStringList &gsids)
{
    m_running = true;
    m_gsids = gsids;
    m_items = QList<Item>(gsids.size());
    pump();
}

void BuildScheduler::stop()
{
    if (!m_running)
        return;
    m_running = false;
    // Killed and left to the reaper: nothing here waits for a tool to go.
    for (ToolProcess *process : std::exchange(m_textRuns, {})) {
        process->disconnect(this);
        process->abandon();
        process->deleteLater();
    }
}

void BuildScheduler::fail(BuildReport::Outcome outcome, const QString &problem)
{
    stop();
    emit failed(outcome, problem);
}

void BuildScheduler::pump()
{
    for (bool again = true; again && m_running;) {
        again = false;
        // A core that came free gets its next sheet before anything else is done.
        while (m_textRuns.size() < m_settings.textRuns && !m_fetched.empty()) {
            const qsizetype i = *m_fetched.begin();
            m_fetched.erase(m_fetched.begin());
            extract(i);
        }
        // Named in list order, so that twin station names are numbered as listed.
        while (m_nextName < m_gsids.size() && (m_items[m_nextName].state == State::Read ||
                                               m_items[m_nextName].state == State::Failed)) {
            const Item &item = m_items[m_nextName];
            // The GSIDs lost with the source are not counted one by one.
            const bool lost = item.state == State::Failed && item.cause == MissingCause::SourceLost;
            name(m_nextName++);
            if (!lost)
                emit named(m_nextName);
            if (!m_running)
                return; // stopped from the progress report
        }
        if (m_nextName == m_gsids.size()) {
            m_running = false;
            emit done();
            return;
        }
        // Fetch ahead of the naming, but not without bound: the folder holds them.
        while (m_nextFetch < m_gsids.size() && m_inFetch + m_unnamed < m_settings.fetchAhead) {
            const qsizetype i = m_nextFetch++;
            const QString &gsid = m_gsids[i];
            if (m_sourceLost) {
                // Nothing more can come from it: the rest of the list is lost at once.
                m_items[i].state = State::Failed;
                m_items[i].cause = MissingCause::SourceLost;
                again = true;
                continue;
            }
            if (!namesAFile(gsid, m_settings.ftp)) {
                m_items[i].state = State::Failed;
                m_items[i].cause = MissingCause::NotOnSource;
                again = true; // it may be the next to name
                continue;
            }
            m_items[i].state = State::Fetching;
            ++m_inFetch;
            m_source.fetch(int(i), m_settings.sourcePrefix + gsid + QStringLiteral(".pdf"),
                           scratch(i));
        }
        again = again || (m_textRuns.size() < m_settings.textRuns && !m_fetched.empty());
    }
}

void BuildScheduler::onFetched(int index, const FetchResult &result)
{
    if (!m_running || index < 0 || index >= m_items.size() ||
        m_items[index].state != State::Fetching)
        return;
    --m_inFetch;
    Item &item = m_items[index];
    if (result.kind == FetchResult::WorkspaceFailed) {
        const QString &folder = m_settings.workspaceDir;
        if (result.code == ENOSPC || result.code == EDQUOT) {
            fail(BuildReport::WorkspaceFailed,
                 QStringLiteral("The workspace folder ") + folder +
                     QStringLiteral(" is full; no output file was written."));
            return;
        }
        if (folderGone())
            return;
    }
    if (!result.ok()) {
        item.state = State::Failed;
        item.cause = causeOf(result);
        item.detail = result.detail;
    } else {
        item.state = State::Fetched;
        m_fetchedAny = true;
        ++m_unnamed;
        m_fetched.insert(index);
    }
    pump();
}

void BuildScheduler::extract(qsizetype index)
{
    m_items[index].state = State::Extracting;
    auto *process = new ToolProcess;
    // A sheet's name stands near its top; a tool that pours out text without end must
    // not fill the memory.
    process->setOutputLimit(MaxSheetText);
    m_textRuns << process;
    connect(
        process, &ToolProcess::finished, this,
        [=, this](int code, bool crashed) { onExtracted(index, process, code, crashed); },
        Qt::QueuedConnection);
    // A sheet the tool hangs on counts as unreadable. The timer is the process's own, so
    // that it goes with it: thousands of spent timers left waiting slow the event loop.
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, process, [process] {
        process->setProperty("timedOut", true);
        process->kill();
    });
    deadline->start(m_settings.textTimeOutMs);
    // The text comes through a pipe: no text file is made, read and removed per sheet.
    const ShellCommand pdfToTextCmd = pdfToTextCommand(m_settings.programDir);
    static const QProcessEnvironment environment = toolEnvironment();
    const bool started = process->start(
        pdfToTextCmd.program,
        pdfToTextCmd.arguments + QStringList{scratch(index), QStringLiteral("-")}, environment);
    if (!started) {
        // Told from the event loop, as a run that ends is.
        process->setProperty("timedOut", false);
        QTimer::singleShot(0, this, [=, this] { onExtracted(index, process, -1, true); });
    }
}

void BuildScheduler::onExtracted(qsizetype index, ToolProcess *process, int exitCode, bool crashed)
{
    if (!m_running || !m_textRuns.removeOne(process))
        return;
    Item &item = m_items[index];
    item.text = process->readAll();
    item.pages = qMax(1, process->formFeeds());
    const bool timedOut = process->property("timedOut").toBool();
    process->deleteLater();
    ShellResult run;
    run.result = timedOut ? ShellResult::TimedOut : ShellResult::Finished;
    run.crashed = crashed;
    run.exitCode = exitCode;
    item.opened = textToolOpened(run);
    item.cause = timedOut  ? MissingCause::TextTimedOut
                 : crashed ? MissingCause::TextCrashed
                           : MissingCause::TextFailed;
    item.detail = timedOut  ? QStringLiteral("pdftotext ran out of time")
                  : crashed ? QStringLiteral("pdftotext crashed")
                            : QStringLiteral("pdftotext ended with status %1").arg(exitCode);
    item.state = State::Read;
    if (!item.opened && folderGone())
        return;
    m_textFailuresInARow = timedOut || crashed ? m_textFailuresInARow + 1 : 0;
    if (m_textFailuresInARow >= TextFailuresToGiveUp) {
        fail(
            BuildReport::TextToolFailed,
            QStringLiteral("The program pdftotext failed on every data sheet it was given (") +
                (timedOut ? QStringLiteral("it stopped answering") : QStringLiteral("it crashed")) +
                QStringLiteral(")."));
        return;
    }
    pump();
}

void BuildScheduler::name(qsizetype index)
{
    Item &item = m_items[index];
    if (item.state == State::Failed) {
        m_missing << index;
        return;
    }
    --m_unnamed;
    const QString &gsid = m_gsids[index];
    const QString sourceName = m_settings.sourcePrefix + gsid + QStringLiteral(".pdf");
    const QByteArray text = std::exchange(item.text, {});
    const RenameOutcome named =
        renameCurrPdf(m_fso, m_settings.folder, scratch(index), text, item.opened, sourceName);
    if (named.kind == RenameOutcome::Unreadable) {
        if (folderGone())
            return;
        m_missing << index;
        return;
    }
    m_sheets.append(
        {index, gsid, m_settings.folder + named.fileName, named.stem, named.station, item.pages});
}

bool BuildScheduler::folderGone()
{
    // A sheet that vanished with its folder says nothing of the sheet or the tools.
    if (m_fso.folderExists(m_settings.folder))
        return false;
    fail(BuildReport::WorkspaceFailed,
         QStringLiteral("The workspace folder ") + m_settings.workspaceDir +
             QStringLiteral(" vanished during the build; no output file was written."));
    return true;
}

QList<BuildReport::Missing> BuildScheduler::missing() const
{
    QList<BuildReport::Missing> out;
    for (const qsizetype i : m_missing)
        out.append({m_gsids[i], m_items[i].cause, m_items[i].detail});
    return out;
}
