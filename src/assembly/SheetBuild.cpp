#include "SheetBuild.h"

#include "SheetRenamer.h"
#include "platform/FileSystem.h"
#include "platform/FtpFetcher.h"
#include "platform/ShareFetcher.h"
#include "platform/ToolProcess.h"
#include "platform/UserInteraction.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>

#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MissingListed = 20;
constexpr qsizetype MaxSheetText = 4 * 1024 * 1024;

QString canonicalFolder(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
}

// A GSID goes into a path: it must name a file inside its edition folder.
bool namesAFile(const QString &gsid, SourceMode mode)
{
    if (gsid.isEmpty() || gsid == QStringLiteral(".") || gsid == QStringLiteral("..") ||
        gsid.contains(QLatin1Char('/')) || gsid.contains(QChar(0)))
        return false;
    // Line breaks cannot travel inside an FTP command.
    return mode != SourceMode::Ftp ||
           std::none_of(gsid.cbegin(), gsid.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

// An argument takes its bytes, its terminating zero and its pointer.
qsizetype argumentCost(const QString &argument)
{
    return argument.toLocal8Bit().size() + 1 + qsizetype(sizeof(char *));
}

bool fileNameLess(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

SheetBuild::SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_fso(fso), m_ui(ui)
{
    if (!m_config.shareDir.isEmpty() && !m_config.shareDir.endsWith(QLatin1Char('/')))
        m_config.shareDir += QLatin1Char('/');
    if (m_config.textRuns <= 0)
        m_config.textRuns = qMax(1, QThread::idealThreadCount());
    selectEdition(Edition::English);
}

SheetBuild::~SheetBuild()
{
    if (m_running) {
        // Quietly: nobody is left to tell.
        blockSignals(true);
        stop();
    }
}

QString SheetBuild::outputNameError(const QString &outputPath, const QString &workspaceDir)
{
    if (outputPath.isEmpty())
        return QStringLiteral("Must specify an output file name.");
    if (outputPath.right(4).compare(QStringLiteral(".pdf"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Output file name must end in .pdf.");
    // The clean-up empties the workspace, so an output there would not outlive its run.
    const QString folder = canonicalFolder(QFileInfo(outputPath).absolutePath());
    const QString workspace = canonicalFolder(workspaceDir);
    if (folder == workspace || folder.startsWith(workspace + QLatin1Char('/')))
        return QStringLiteral("The output file must not be in the workspace folder ") +
               workspaceDir + QLatin1Char('.');
    return QString();
}

void SheetBuild::selectEdition(Edition edition)
{
    m_edition = edition;
    const bool metric = edition == Edition::Metric;
    const QString prefix = metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_");
    if (m_config.mode == SourceMode::Ftp) {
        m_ftpDir = metric ? QStringLiteral("/Geod/PDF Metric Sheet/")
                          : QStringLiteral("/Geod/PDF Single Sheet/");
        m_sheetPrefix = prefix;
        return;
    }
    m_sheetPrefix =
        m_config.shareDir +
        (metric ? QStringLiteral("PDF Metric Sheet/") : QStringLiteral("PDF Single Sheet/")) +
        prefix;
}

QString SheetBuild::scratch(const char *stem, qsizetype index, const char *ending) const
{
    return m_config.workspaceDir + QLatin1String(stem) + QLatin1Char('-') +
           QString::number(index + 1) + QLatin1String(ending);
}

void SheetBuild::start(const QStringList &gsids, const QString &outputPath)
{
    m_running = true;
    m_stopping = false;
    m_gsids = gsids;
    m_output = QFileInfo(outputPath).absoluteFilePath();
    m_items = QList<Item>(gsids.size());
    m_nextFetch = m_nextName = 0;
    m_inFetch = m_unnamed = 0;
    m_fetched.clear();
    m_fetchedAny = false;
    m_sheets.clear();
    m_missing.clear();
    m_draft.clear();
    if (m_config.mode == SourceMode::Ftp) {
        auto *ftp = new FtpFetcher(m_config.ftpHost, m_ftpDir, m_config.ftpConnections,
                                   m_config.ftpStallSeconds);
        m_fetcher.reset(ftp);
        // The edition's directory first: a server that went away since start-up
        // must not cost the user the list.
        m_probing = true;
        connect(ftp, &FtpFetcher::probed, this, [this](bool ok) {
            m_probing = false;
            if (ok)
                pump();
            else
                finish(Report::SourceMissing);
        });
        ftp->probe();
    } else {
        m_fetcher = std::make_unique<ShareFetcher>(QString(), m_fso);
    }
    connect(m_fetcher.get(), &SheetFetcher::fetched, this, &SheetBuild::onFetched);
    pump();
}

void SheetBuild::pump()
{
    if (!m_running || m_probing || m_worker || !m_draft.isEmpty())
        return;
    for (bool again = true; again;) {
        again = false;
        // A core that came free gets its next sheet before anything else is done.
        while (m_textRuns.size() < m_config.textRuns && !m_fetched.empty()) {
            const qsizetype i = *m_fetched.begin();
            m_fetched.erase(m_fetched.begin());
            extract(i);
        }
        // Named in list order, so that twin station names are numbered as listed.
        while (m_nextName < m_gsids.size() && (m_items[m_nextName].state == State::Read ||
                                               m_items[m_nextName].state == State::Failed)) {
            name(m_nextName++);
            emit progress(QString::number(m_nextName));
        }
        if (m_nextName == m_gsids.size()) {
            merge();
            return;
        }
        // Fetch ahead of the naming, but not without bound: the workspace holds them.
        while (m_nextFetch < m_gsids.size() && m_inFetch + m_unnamed < m_config.fetchAhead) {
            const qsizetype i = m_nextFetch++;
            const QString &gsid = m_gsids[i];
            if (!namesAFile(gsid, m_config.mode)) {
                m_items[i].state = State::Failed;
                again = true; // it may be the next to name
                continue;
            }
            m_items[i].state = State::Fetching;
            ++m_inFetch;
            m_fetcher->fetch(int(i), m_sheetPrefix + gsid + QStringLiteral(".pdf"),
                             scratch("Temp", i, ".pdf"));
        }
        again = again || (m_textRuns.size() < m_config.textRuns && !m_fetched.empty());
    }
}

void SheetBuild::onFetched(int index, const FsResult &result)
{
    if (!m_running || index < 0 || index >= m_items.size())
        return;
    --m_inFetch;
    if (!result) {
        const QString problem = workspaceProblem(result);
        if (!problem.isEmpty()) {
            finish(Report::WorkspaceFailed, problem);
            return;
        }
        m_items[index].state = State::Failed;
    } else {
        m_items[index].state = State::Fetched;
        m_fetchedAny = true;
        ++m_unnamed;
        m_fetched.insert(index);
    }
    pump();
}

void SheetBuild::extract(qsizetype index)
{
    m_items[index].state = State::Extracting;
    auto *process = new ToolProcess(this);
    m_textRuns << process;
    const auto take = [=, this] {
        // A sheet's name stands near its top; a tool that pours out text without end
        // must not fill the memory.
        QByteArray &text = m_items[index].text;
        const QByteArray more = process->readAll();
        text += more.left(qMax<qsizetype>(0, MaxSheetText - text.size()));
    };
    connect(process, &ToolProcess::readyRead, this, take);
    connect(process, &ToolProcess::finished, this, [=, this](int code, bool crashed) {
        take();
        ShellResult run;
        run.result =
            process->property("timedOut").toBool() ? ShellResult::TimedOut : ShellResult::Finished;
        run.crashed = crashed;
        run.exitCode = code;
        onExtracted(index, process, textToolOpened(run));
    });
    // A sheet the tool hangs on counts as unreadable.
    QTimer::singleShot(m_config.textTimeOutMs, process, [process] {
        process->setProperty("timedOut", true);
        process->kill();
    });
    // The text comes through a pipe: no text file is made, read and removed per sheet.
    const ShellCommand pdfToTextCmd = pdfToTextCommand(m_config.programDir);
    static const QProcessEnvironment environment = toolEnvironment();
    const bool started = process->start(
        pdfToTextCmd.program,
        pdfToTextCmd.arguments + QStringList{scratch("Temp", index, ".pdf"), QStringLiteral("-")},
        environment);
    if (!started) {
        // Unreadable; told from the event loop, as a run that ends is.
        QTimer::singleShot(0, process, [=, this] { onExtracted(index, process, false); });
    }
}

void SheetBuild::onExtracted(qsizetype index, ToolProcess *process, bool opened)
{
    m_textRuns.removeOne(process);
    process->deleteLater();
    m_items[index].opened = opened;
    m_items[index].state = State::Read;
    pump();
}

void SheetBuild::name(qsizetype index)
{
    if (m_items[index].state == State::Failed) {
        m_missing << index;
        return;
    }
    --m_unnamed;
    const QString &gsid = m_gsids[index];
    const QString source =
        (m_edition == Edition::Metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_")) +
        gsid + QStringLiteral(".pdf");
    const RenameOutcome named =
        renameCurrPdf(m_fso, m_config.workspaceDir, scratch("Temp", index, ".pdf"),
                      std::exchange(m_items[index].text, {}), m_items[index].opened, source);
    if (named.kind == RenameOutcome::Unreadable)
        m_missing << index;
    else
        m_sheets.append({index, gsid, m_config.workspaceDir + named.fileName, named.stem});
}

void SheetBuild::merge()
{
    emit progress(QStringLiteral("Writing"));
    if (m_sheets.isEmpty()) {
        finish(m_fetchedAny ? Report::NothingReadable : Report::NothingFetched);
        return;
    }
    // The new output is written beside the old one and replaces it only when whole,
    // so no failure can cost the user the file they had.
    for (;;) {
        const FsResult made = m_fso.createDraft(m_output, &m_draft);
        if (made)
            break;
        if (!askToRetryReplacing(m_output, made)) {
            finish(Report::Cancelled);
            return;
        }
    }
    sortForMerge(m_sheets);
    QStringList paths;
    for (const Sheet &sheet : std::as_const(m_sheets))
        paths << sheet.path;
    // pdftk takes seconds for thousands of sheets: off the window's thread.
    m_worker = QThread::create([this, paths] {
        MergeResult result;
        result.merged = mergeSheets(paths, m_draft);
        if (!result.merged && !m_stopping) {
            // One sheet the merge tool cannot read must not sink the others; when it
            // can read none of them, the tool is at fault, not the sheets.
            const QStringList bad = unmergeable(paths);
            if (!bad.isEmpty() && bad.size() < paths.size() && !m_stopping) {
                QStringList rest = paths;
                for (const QString &path : bad)
                    rest.removeOne(path);
                result.merged = mergeSheets(rest, m_draft);
                result.unmergeable = bad;
            }
        }
        // The sheets are done with, whatever the outcome: thousands of deletions
        // belong on this thread, not the window's.
        for (const QString &path : paths)
            m_fso.deleteFile(path, true);
        m_mergeResult = result;
    });
    connect(m_worker, &QThread::finished, this, &SheetBuild::onMerged);
    m_worker->start();
}

void SheetBuild::onMerged()
{
    if (!m_worker)
        return; // stopped: already reported
    m_worker->wait();
    delete std::exchange(m_worker, nullptr);
    const QSet<QString> bad(m_mergeResult.unmergeable.cbegin(), m_mergeResult.unmergeable.cend());
    m_sheets.removeIf([&](const Sheet &sheet) {
        if (!bad.contains(sheet.path))
            return false;
        m_missing << sheet.index;
        return true;
    });
    if (!m_mergeResult.merged || QFileInfo(m_draft).size() == 0) {
        finish(Report::MergeFailed, QStringLiteral("The output file ") + m_output +
                                        QStringLiteral(" could not be written."));
        return;
    }
    for (;;) {
        const FsResult replaced = m_fso.replaceFile(m_draft, m_output);
        if (replaced) {
            m_draft.clear();
            finish(Report::Written);
            return;
        }
        if (!askToRetryReplacing(m_output, replaced)) {
            finish(Report::Cancelled);
            return;
        }
    }
}

void SheetBuild::endTools()
{
    m_stopping = true;
    if (m_fetcher)
        m_fetcher->stop();
    const QList<ToolProcess *> runs = std::exchange(m_textRuns, {});
    for (ToolProcess *process : runs) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
        delete process;
    }
    if (m_worker) {
        m_worker->wait(); // pdftk is ended within a tenth of a second
        delete std::exchange(m_worker, nullptr);
    }
}

void SheetBuild::stop()
{
    if (m_running)
        finish(Report::Stopped);
}

void SheetBuild::finish(Report::Outcome outcome, const QString &problem)
{
    if (!m_running)
        return;
    m_running = false;
    endTools();
    if (!m_draft.isEmpty())
        m_fso.deleteFile(std::exchange(m_draft, QString()), true);
    cleanUp();
    Report report;
    report.outcome = outcome;
    report.problem = problem;
    const auto *ftp = qobject_cast<const FtpFetcher *>(m_fetcher.get());
    report.serverStoppedAnswering = ftp && ftp->serverStoppedAnswering();
    if (outcome == Report::WorkspaceFailed) {
        report.missing = m_gsids;
    } else if (outcome != Report::Stopped && outcome != Report::SourceMissing) {
        // Sheets never named (a build cut short) did not reach the output either.
        for (qsizetype i = m_nextName; i < m_gsids.size(); ++i)
            m_missing << i;
        std::sort(m_missing.begin(), m_missing.end());
        for (const qsizetype i : std::as_const(m_missing))
            report.missing << m_gsids[i];
    }
    m_fetcher.reset();
    emit finished(report);
}

SheetBuild::Report SheetBuild::fetchAndMerge(const QStringList &gsids, const QString &outputPath,
                                             const std::function<void(const QString &)> &onProgress)
{
    std::optional<Report> result;
    QEventLoop loop;
    const auto a = connect(this, &SheetBuild::progress, this, onProgress);
    const auto b = connect(this, &SheetBuild::finished, this, [&](const Report &report) {
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

bool SheetBuild::askToRetryReplacing(const QString &outputPath, const FsResult &failure)
{
    const bool inUse = failure.code == EBUSY || failure.code == ETXTBSY;
    const QString text =
        inUse ? QStringLiteral(
                    "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.")
              : QStringLiteral("The output file ") + outputPath +
                    QStringLiteral(" could not be replaced: ") +
                    FileSystem::causeText(failure, QFileInfo(outputPath).absolutePath()) +
                    QLatin1Char('.');
    return m_ui.askRetryCancel(text);
}

QStringList SheetBuild::unmergeable(const QStringList &sheets)
{
    const QString probe = m_config.workspaceDir + QStringLiteral("~probe.part");
    const bool fine = mergeSheets(sheets, probe);
    m_fso.deleteFile(probe, true);
    if (fine)
        return {};
    if (sheets.size() == 1)
        return sheets;
    const qsizetype half = sheets.size() / 2;
    return unmergeable(sheets.mid(0, half)) + unmergeable(sheets.mid(half));
}

bool SheetBuild::mergeSheets(const QStringList &sheets, const QString &outputPath)
{
    const qsizetype budget =
        m_config.mergeArgumentBytes > 0 ? m_config.mergeArgumentBytes : systemArgumentBudget();
    const ShellCommand whole = mergeCommand(sheets, outputPath);
    if (sheets.size() <= 2 || argumentBytes(whole) <= budget) {
        const ShellResult merged = ShellAndWait(whole, 0, -1, &m_stopping);
        // A tool that failed half-way must not leave a broken output behind.
        if (!merged.succeeded() && merged.result == ShellResult::Finished)
            m_fso.deleteFile(outputPath, true);
        return merged.succeeded();
    }

    // Too long for one run: merge consecutive batches into parts, which keep the
    // sheets' order, then merge the parts the same way. Parts end in ".part", so the
    // workspace's sheet listing never takes them for sheets.
    const qsizetype fixed =
        argumentBytes(mergeCommand({}, m_config.workspaceDir + QStringLiteral("~00000.part")));
    QStringList parts;
    QStringList made;
    bool ok = true;
    for (qsizetype start = 0; ok && start < sheets.size();) {
        qsizetype end = start + 1;
        qsizetype bytes = fixed + argumentCost(sheets[start]);
        while (end < sheets.size() && end - start < qMax(2, m_config.mergeBatchSize)) {
            const qsizetype more = argumentCost(sheets[end]);
            if (end - start >= 2 && bytes + more > budget)
                break;
            bytes += more;
            ++end;
        }
        if (end - start == 1) {
            parts << sheets[start]; // a lone sheet joins the next round as it is
        } else {
            const QString part =
                m_config.workspaceDir +
                QStringLiteral("~%1.part").arg(++m_partsMade, 5, 10, QLatin1Char('0'));
            made << part;
            parts << part;
            ok =
                ShellAndWait(mergeCommand(sheets.mid(start, end - start), part), 0, -1, &m_stopping)
                    .succeeded();
        }
        start = end;
    }
    ok = ok && mergeSheets(parts, outputPath);
    for (const QString &part : std::as_const(made))
        m_fso.deleteFile(part, true);
    return ok;
}

qsizetype SheetBuild::argumentBytes(const ShellCommand &command)
{
    qsizetype bytes = argumentCost(command.program);
    for (const QString &argument : command.arguments)
        bytes += argumentCost(argument);
    return bytes;
}

qsizetype SheetBuild::systemArgumentBudget()
{
    const long limit = sysconf(_SC_ARG_MAX);
    qsizetype environment = 0;
    for (char **entry = environ; *entry; ++entry)
        environment += qsizetype(std::strlen(*entry)) + 1 + qsizetype(sizeof(char *));
    // Room for what the pdftk launcher adds on its way to the Java program.
    constexpr qsizetype Reserve = 128 * 1024;
    return qMax<qsizetype>(16 * 1024, (limit > 0 ? limit : 128 * 1024) - environment - Reserve);
}

QString SheetBuild::workspaceProblem(const FsResult &failure) const
{
    const QString folder = m_config.workspaceDir;
    if (failure.code == ENOSPC || failure.code == EDQUOT)
        return QStringLiteral("The workspace folder ") + folder +
               QStringLiteral(" is full; no output file was written.");
    if (!m_fso.folderExists(folder))
        return QStringLiteral("The workspace folder ") + folder +
               QStringLiteral(" vanished during the build; no output file was written.");
    return QString();
}

void SheetBuild::cleanUp()
{
    // Every file found, whatever its name: a listing, never a pattern.
    const QStringList names =
        QDir(m_config.workspaceDir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        m_fso.deleteFile(m_config.workspaceDir + name, true);
}

void SheetBuild::sortForMerge(QList<Sheet> &sheets)
{
    std::stable_sort(sheets.begin(), sheets.end(), [](const Sheet &a, const Sheet &b) {
        if (a.stem != b.stem)
            return fileNameLess(a.stem, b.stem);
        return a.index < b.index;
    });
}

ShellCommand SheetBuild::mergeCommand(const QStringList &sheets, const QString &outputPath) const
{
    // Absolute input paths: pdftk reads a relative name holding "=" as a handle.
    QStringList arguments = sheets;
    arguments << QStringLiteral("cat") << QStringLiteral("output")
              << QFileInfo(outputPath).absoluteFilePath();
    return {m_config.programDir + QStringLiteral("/pdftk"), arguments};
}

QString SheetBuild::toolProblem(const QString &programDir)
{
    for (const QLatin1String tool : {QLatin1String("pdftotext"), QLatin1String("pdftk")}) {
        const QString path = programDir + QLatin1Char('/') + tool;
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
            ::access(native.constData(), X_OK) != 0)
            return QStringLiteral("The program ") + tool +
                   QStringLiteral(" could not be run from ") + programDir + QLatin1Char('.');
    }
    return QString();
}

QString SheetBuild::missingMessage(const QStringList &gsids)
{
    QString text = QStringLiteral("No data sheet could be fetched for these GSIDs:\r\n") +
                   gsids.mid(0, MissingListed).join(QStringLiteral(", "));
    if (gsids.size() > MissingListed)
        text += QStringLiteral(", and %1 more").arg(gsids.size() - MissingListed);
    return text + QStringLiteral("\r\nThey were left in the list.");
}

QString SheetBuild::missingDetails(const QStringList &gsids)
{
    return gsids.join(QLatin1Char('\n'));
}
