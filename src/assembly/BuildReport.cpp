#include "BuildReport.h"

#include "startup/Startup.h"

#include <QHash>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MissingListed = 20;

} // namespace

QStringList BuildReport::missingGsids() const
{
    QStringList gsids;
    for (const Missing &m : missing)
        gsids << m.gsid;
    return gsids;
}

QString BuildReport::causeName(MissingCause cause)
{
    switch (cause) {
    case MissingCause::NotOnSource:
        return QStringLiteral("not-on-source");
    case MissingCause::Refused:
        return QStringLiteral("refused");
    case MissingCause::TransferFailed:
        return QStringLiteral("transfer-failed");
    case MissingCause::SourceLost:
        return QStringLiteral("source-lost");
    case MissingCause::NotAPdf:
        return QStringLiteral("not-a-pdf");
    case MissingCause::TextFailed:
    case MissingCause::TextCrashed:
    case MissingCause::TextTimedOut:
        return QStringLiteral("unreadable");
    case MissingCause::MergeRefused:
        return QStringLiteral("merge-refused");
    }
    return QString();
}

namespace {

// "The FTP server stopped answering." as a clause: "the FTP server stopped answering".
QString asClause(QString sentence)
{
    if (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toLower();
    return sentence;
}

struct Group {
    QString title;
    QList<const BuildReport::Missing *> missing;
};

// The missing GSIDs by cause, in the order causes arise, each with its title.
QList<Group> groupedMissing(const BuildReport &report)
{
    const QString source = SourceLoss::sourceName(report.source);
    const auto title = [&](MissingCause cause) -> QString {
        switch (cause) {
        case MissingCause::NotOnSource:
            return QStringLiteral("Could not be fetched, not on ") + source;
        case MissingCause::Refused:
            return QStringLiteral("Could not be fetched, refused by ") + source;
        case MissingCause::TransferFailed:
            return QStringLiteral("Could not be fetched, the transfer failed");
        case MissingCause::NotAPdf:
            return QStringLiteral("Could not be fetched, ") + source +
                   QStringLiteral(" sent something else than a PDF");
        case MissingCause::SourceLost:
            return QStringLiteral("Could not be fetched, ") +
                   (report.sourceLost ? asClause(report.sourceLost->sentence())
                                      : source + QStringLiteral(" stopped serving"));
        case MissingCause::TextFailed:
            return QStringLiteral("Could not be read by pdftotext (it failed)");
        case MissingCause::TextCrashed:
            return QStringLiteral("Could not be read by pdftotext (it crashed)");
        case MissingCause::TextTimedOut:
            return QStringLiteral("Could not be read by pdftotext (it ran out of time)");
        case MissingCause::MergeRefused:
            return QStringLiteral("Refused by pdftk");
        }
        return QString();
    };
    // One pass, whatever the number of causes and GSIDs.
    QHash<MissingCause, QList<const BuildReport::Missing *>> byCause;
    for (const BuildReport::Missing &m : report.missing)
        byCause[m.cause] << &m;
    QList<Group> groups;
    for (const MissingCause cause :
         {MissingCause::NotOnSource, MissingCause::Refused, MissingCause::TransferFailed,
          MissingCause::SourceLost, MissingCause::NotAPdf, MissingCause::TextFailed,
          MissingCause::TextCrashed, MissingCause::TextTimedOut, MissingCause::MergeRefused}) {
        const auto found = byCause.constFind(cause);
        if (found != byCause.cend())
            groups.append({title(cause), *found});
    }
    return groups;
}

} // namespace

QString BuildReport::missingText() const
{
    QStringList lines;
    qsizetype listed = 0;
    for (const auto &[title, missing] : groupedMissing(*this)) {
        const qsizetype room = qMax<qsizetype>(0, MissingListed - listed);
        QString line = title + QStringLiteral(": ");
        if (room == 0) {
            line += QStringLiteral("%1 GSIDs").arg(missing.size());
        } else {
            QStringList gsids;
            for (qsizetype i = 0; i < qMin(room, missing.size()); ++i)
                gsids << missing[i]->gsid;
            line += gsids.join(QStringLiteral(", "));
            if (missing.size() > room)
                line += QStringLiteral(", and %1 more").arg(missing.size() - room);
        }
        listed += qMin(room, missing.size());
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString BuildReport::missingDetails() const
{
    // Each GSID with what the source or the tool said of it, when it said something.
    QStringList blocks;
    for (const auto &[title, missing] : groupedMissing(*this)) {
        QString block = title + QLatin1Char(':');
        for (const Missing *m : missing)
            block += QLatin1Char('\n') + m->gsid +
                     (m->detail.isEmpty() ? QString()
                                          : QStringLiteral(" (") + m->detail + QLatin1Char(')'));
        blocks << block;
    }
    return blocks.join(QStringLiteral("\n\n"));
}

QString BuildReport::mergeProblem(const ShellResult &failure, bool diskFull, bool incomplete,
                                  bool bookmarks)
{
    QString why;
    const QString said =
        QString::fromLocal8Bit(failure.errorOutput).trimmed().section(QLatin1Char('\n'), 0, 0);
    if (diskFull || failure.errorOutput.contains("No space left on device"))
        why = QStringLiteral("the disk is full");
    else if (failure.result >= ShellResult::StartErrorBase &&
             failure.result < ShellResult::StartErrorBase + 1000)
        why = QStringLiteral("it could not be started");
    else if (failure.result == ShellResult::TimedOut)
        why = QStringLiteral("it stopped answering");
    else if (failure.crashed)
        why = QStringLiteral("it crashed");
    else if (incomplete)
        why = QStringLiteral("it wrote an incomplete file");
    else if (!said.isEmpty())
        why = QStringLiteral("it said: ") + said;
    else
        why = QStringLiteral("it ended with status %1").arg(failure.exitCode);
    return (bookmarks ? QStringLiteral("The program pdftk could not add the bookmarks to the "
                                       "output file (")
                      : QStringLiteral("The program pdftk could not write the output file (")) +
           why + QStringLiteral(").");
}

std::optional<UserMessage> BuildReport::message(Audience audience) const
{
    const bool console = audience == Audience::Console;
    const QString lost = sourceLost ? sourceLost->sentence() + QLatin1Char('\n') : QString();
    // The command line writes the GSIDs on standard output and each one's words in its
    // report file; the window shows them in the message's details. (Not the member
    // details: what was tried, or the tool's words, which every audience is told.)
    const QString missingWords = console ? QString() : missingDetails();
    const QString kept = output.isEmpty() ? QString()
                                          : QStringLiteral("\nThe output file ") + output +
                                                QStringLiteral(" was not changed.");
    switch (outcome) {
    case NothingFetched:
        return UserMessage::error(
            lost + QStringLiteral("No data sheet could be fetched; no output file was written.\n") +
                missingText() + (problem.isEmpty() ? QString() : QLatin1Char('\n') + problem),
            missingWords);
    case NothingReadable:
        return UserMessage::error(QStringLiteral("None of the data sheets fetched could be "
                                                 "read; no output file was written.\n") +
                                      missingText(),
                                  missingWords);
    case MergeFailed:
        return UserMessage::error(problem + kept, details);
    case TextToolFailed:
    case WorkspaceFailed:
        return UserMessage::error(problem, details);
    case OutputFailed:
        // Nothing was fetched, or what was is in no file: the list is what matters.
        return UserMessage::error(problem, this->details);
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
    // It made something: say what, and what it could not, by cause.
    return UserMessage{UserMessage::Warning, QStringLiteral("Brindlewick"),
                       QStringLiteral("The output file %1 was written with %2 of %3 data sheets.\n")
                               .arg(output)
                               .arg(total - missing.size())
                               .arg(total) +
                           lost + QLatin1Char('\n') + missingText() +
                           (console ? QStringLiteral("\n\nThey are listed on standard output.")
                                    : QStringLiteral("\n\nThey were left in the list.")),
                       missingWords};
}

QString BuildReport::outputNameError(const QString &outputPath)
{
    if (outputPath.isEmpty())
        return QStringLiteral("Must specify an output file name.");
    if (outputPath.right(4).compare(QStringLiteral(".pdf"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Output file name must end in .pdf.");
    return QString();
}

std::pair<QString, QString> BuildReport::outputProblem(const OutputProblem &problem)
{
    const QString folder = QStringLiteral("The output folder ") + problem.where;
    switch (problem.kind) {
    case OutputProblem::InWorkspace:
        return {QStringLiteral("The output file must not be in the workspace folder ") +
                    problem.where + QLatin1Char('.'),
                QString()};
    case OutputProblem::IsListFile:
        return {QStringLiteral("The output file must not be the list file ") + problem.where +
                    QLatin1Char('.'),
                QString()};
    case OutputProblem::FolderMissing:
        return {folder + QStringLiteral(" does not exist."), QString()};
    case OutputProblem::NotAFolder:
        return {folder + QStringLiteral(" is not a folder."), QString()};
    case OutputProblem::CannotWrite:
        return {folder + QStringLiteral(" cannot be written: ") +
                    FileSystem::causeText(problem.failure) + QLatin1Char('.'),
                QString()};
    case OutputProblem::NoAnswer:
        // A network mount whose server is gone: the folder may answer again later.
        return {QStringLiteral("The output folder does not answer."),
                QStringLiteral("No answer came from the folder ") + problem.where +
                    QStringLiteral(" within %1 seconds.").arg(problem.seconds)};
    case OutputProblem::GaveUp:
    case OutputProblem::None:
        break;
    }
    return {};
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

QString BuildReport::refusal(const QString &outputPath, const QString &workspaceProblem,
                             const QString &programDir)
{
    QString why = outputNameError(outputPath);
    // Nothing may be fetched for a build that cannot end well.
    if (why.isEmpty())
        why = workspaceProblem;
    if (why.isEmpty())
        why = toolProblem(programDir);
    return why;
}
