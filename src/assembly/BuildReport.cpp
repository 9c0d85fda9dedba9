#include "BuildReport.h"

#include "startup/Startup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// Both name one file: the same path, or the same file reached another way.
bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath())
        return true;
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

QStringList BuildReport::missingGsids() const
{
    QStringList gsids;
    for (const Missing &m : missing)
        gsids << m.gsid;
    return gsids;
}

bool BuildReport::serverStoppedAnswering() const
{
    return sourceLost == QStringLiteral("The FTP server stopped answering.");
}

std::optional<UserMessage> BuildReport::message() const
{
    switch (outcome) {
    case NothingFetched:
        return UserMessage::error(
            (sourceLost.isEmpty() ? QString() : sourceLost + QStringLiteral("\r\n")) +
            QStringLiteral("No data sheet could be fetched; no output file was written."));
    case NothingReadable:
        return UserMessage::error(QStringLiteral("None of the data sheets fetched could be "
                                                 "read; no output file was written."),
                                  missingDetails(missingGsids()));
    case TextToolFailed:
    case MergeFailed:
    case WorkspaceFailed:
        return UserMessage::error(problem, details);
    case SourceMissing:
        // The server may be back for the next Continue; the list is not lost.
        return UserMessage::error(problem.isEmpty() ? sourceFailureMessage() : problem, details);
    case Stopped:
        return UserMessage::information(
            QStringLiteral("The build was stopped; no output file was written."));
    case Cancelled:
        return std::nullopt;
    case Written:
        break;
    }
    if (missing.isEmpty())
        return std::nullopt;
    const QString lost = sourceLost.isEmpty() ? QString() : sourceLost + QStringLiteral("\r\n");
    return UserMessage::error(lost + missingMessage(missingGsids()),
                              missingDetails(missingGsids()));
}

QString BuildReport::outputNameError(const QString &outputPath, const QString &workspaceDir)
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

QString BuildReport::toolProblem(const QString &programDir)
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

QString BuildReport::refusal(const QString &outputPath, const QString &listFile,
                             const QString &workspaceDir, const QString &workspaceProblem,
                             const QString &programDir)
{
    QString why = outputNameError(outputPath, workspaceDir);
    if (why.isEmpty() && sameFile(outputPath, listFile))
        why = QStringLiteral("The output file must not be the list file ") + listFile +
              QLatin1Char('.');
    // Nothing may be fetched for a build that cannot end well.
    if (why.isEmpty())
        why = workspaceProblem;
    if (why.isEmpty())
        why = toolProblem(programDir);
    return why;
}

QString BuildReport::missingMessage(const QStringList &gsids)
{
    QString text = QStringLiteral("No data sheet could be fetched for these GSIDs:\r\n") +
                   gsids.mid(0, MissingListed).join(QStringLiteral(", "));
    if (gsids.size() > MissingListed)
        text += QStringLiteral(", and %1 more").arg(gsids.size() - MissingListed);
    return text + QStringLiteral("\r\nThey were left in the list.");
}

QString BuildReport::missingDetails(const QStringList &gsids)
{
    return gsids.join(QLatin1Char('\n'));
}
