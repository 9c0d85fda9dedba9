#include "SheetBuild.h"

#include "SheetRenamer.h"
#include "platform/FileSystem.h"
#include "platform/FtpConnection.h"
#include "platform/UserInteraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MissingListed = 20;

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

SheetBuild::SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui)
    : m_config(std::move(config)), m_fso(fso), m_ui(ui)
{
    if (!m_config.shareDir.isEmpty() && !m_config.shareDir.endsWith(QLatin1Char('/')))
        m_config.shareDir += QLatin1Char('/');
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

bool SheetBuild::selectEdition(Edition edition)
{
    m_edition = edition;
    const bool metric = edition == Edition::Metric;
    const QString prefix = metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_");
    if (m_config.mode == SourceMode::Ftp) {
        m_ftpDir = metric ? QStringLiteral("/Geod/PDF Metric Sheet/")
                          : QStringLiteral("/Geod/PDF Single Sheet/");
        m_sheetPrefix = prefix;
        return m_config.ftp && m_config.ftp->setCurrentDirectory(m_ftpDir);
    }
    m_sheetPrefix =
        m_config.shareDir +
        (metric ? QStringLiteral("PDF Metric Sheet/") : QStringLiteral("PDF Single Sheet/")) +
        prefix;
    return true;
}

FsResult SheetBuild::fetch(const QString &gsid, const QString &target)
{
    if (!namesAFile(gsid, m_config.mode))
        return FsResult::failed(QStringLiteral("Not a file name"), true);
    const QString source = m_sheetPrefix + gsid + QStringLiteral(".pdf");
    if (m_config.mode == SourceMode::Ftp) {
        return m_config.ftp ? m_config.ftp->getFile(source, target)
                            : FsResult::failed(QStringLiteral("No connection"));
    }
    return m_fso.copyFile(source, target);
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

SheetBuild::Report SheetBuild::fetchAndMerge(const QStringList &gsids, const QString &outputPath,
                                             const std::function<void(const QString &)> &progress)
{
    Report report;
    const QString tempPdf = m_config.workspaceDir + QStringLiteral("Temp.pdf");
    const QString sourcePrefix =
        m_edition == Edition::Metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_");
    QList<Sheet> sheets;
    QList<qsizetype> missing; // list positions
    bool fetchedAny = false;
    for (qsizetype i = 0; i < gsids.size(); ++i) {
        progress(QString::number(i + 1));
        const QString &gsid = gsids[i];
        // A failed fetch must never hand the previous sheet to the renaming again.
        m_fso.deleteFile(tempPdf, true);
        const FsResult fetched = fetch(gsid, tempPdf);
        if (!fetched) {
            report.problem = workspaceProblem(fetched);
            if (!report.problem.isEmpty()) {
                report.outcome = Report::WorkspaceFailed;
                report.missing = gsids;
                return report;
            }
            missing << i;
            continue;
        }
        fetchedAny = true;
        const RenameOutcome renamed =
            renameCurrPdf(m_config.pdfToTextCmd, m_config.workspaceDir, m_fso,
                          sourcePrefix + gsid + QStringLiteral(".pdf"), m_config.textTimeOutMs);
        if (renamed.kind == RenameOutcome::Unreadable)
            missing << i;
        else
            sheets.append({i, gsid, m_config.workspaceDir + renamed.fileName, renamed.stem});
    }
    progress(QStringLiteral("Writing"));
    if (sheets.isEmpty())
        report.outcome = fetchedAny ? Report::NothingReadable : Report::NothingFetched;
    else
        writeOutput(sheets, outputPath, report, missing);
    std::sort(missing.begin(), missing.end());
    for (const qsizetype i : std::as_const(missing))
        report.missing << gsids[i];
    return report;
}

void SheetBuild::writeOutput(QList<Sheet> &sheets, const QString &outputPath, Report &report,
                             QList<qsizetype> &missing)
{
    const QString output = QFileInfo(outputPath).absoluteFilePath();
    // The new output is written beside the old one and replaces it only when whole,
    // so no failure can cost the user the file they had.
    QString draft;
    for (;;) {
        const FsResult made = m_fso.createDraft(output, &draft);
        if (made)
            break;
        if (!askToRetryReplacing(output, made)) {
            report.outcome = Report::Cancelled;
            return;
        }
    }
    const auto dropDraft = qScopeGuard([&] { m_fso.deleteFile(draft, true); });

    sortForMerge(sheets);
    auto paths = [&] {
        QStringList out;
        for (const Sheet &sheet : std::as_const(sheets))
            out << sheet.path;
        return out;
    };
    bool merged = mergeSheets(paths(), draft);
    if (!merged) {
        // One sheet the merge tool cannot read must not sink the others.
        // When it can read none of them, the tool is at fault, not the sheets.
        const QStringList found = unmergeable(paths());
        const QSet<QString> bad(found.cbegin(), found.cend());
        if (!bad.isEmpty() && bad.size() < sheets.size()) {
            sheets.removeIf([&](const Sheet &sheet) {
                if (!bad.contains(sheet.path))
                    return false;
                missing << sheet.index;
                return true;
            });
            merged = mergeSheets(paths(), draft);
        }
    }
    if (!merged || QFileInfo(draft).size() == 0) {
        report.outcome = Report::MergeFailed;
        report.problem =
            QStringLiteral("The output file ") + output + QStringLiteral(" could not be written.");
        return;
    }
    for (;;) {
        const FsResult replaced = m_fso.replaceFile(draft, output);
        if (replaced)
            return;
        if (!askToRetryReplacing(output, replaced)) {
            report.outcome = Report::Cancelled;
            return;
        }
    }
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
        const ShellResult merged = ShellAndWait(whole, 0, -1);
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
                ShellAndWait(mergeCommand(sheets.mid(start, end - start), part), 0, -1).succeeded();
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
