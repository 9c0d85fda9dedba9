#include "SheetRenamer.h"

#include "SheetName.h"
#include "platform/FileSystem.h"

#include <QFile>

#include <csignal>

namespace {

// The text the tool wrote; none when it wrote no text file.
QByteArray readText(FileSystem &fso, const QString &path)
{
    QString error;
    const auto file = fso.openForReading(path, &error);
    return file ? file->readAll() : QByteArray();
}

} // namespace

bool textToolOpened(const ShellResult &run)
{
    constexpr int CopyForbidden = 3;
    return run.result == ShellResult::Finished && !run.crashed &&
           (run.exitCode == 0 || run.exitCode == CopyForbidden);
}

RenameOutcome nameSheet(FileSystem &fso, const QString &workspaceDir, const QString &sheetPath,
                        const QByteArray &text, bool opened, const QString &sourceName)
{
    // Only a sheet the tool could open as a PDF may reach the merge.
    if (!opened) {
        fso.deleteFile(sheetPath, true);
        return {RenameOutcome::Unreadable, QString(), QString()};
    }
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    const std::optional<QString> name = sheetNameFromText(lines);
    RenameOutcome outcome;
    outcome.kind = name ? RenameOutcome::Renamed : RenameOutcome::NoLabel;
    // A sheet without the label (or without any text) keeps its source name, so
    // the next fetch cannot overwrite it.
    outcome.stem = safeFileName(name.value_or(sourceName));
    outcome.fileName = unusedFileName(workspaceDir, outcome.stem);
    if (!fso.moveFile(sheetPath, workspaceDir + outcome.fileName)) {
        fso.deleteFile(sheetPath, true);
        return {RenameOutcome::Unreadable, QString(), QString()};
    }
    return outcome;
}

RenameOutcome renameCurrPdf(const ShellCommand &pdfToTextCmd, const QString &workspaceDir,
                            FileSystem &fso, const QString &sourceName, int timeOutMs)
{
    const QString textFile = workspaceDir + QStringLiteral("Text.txt");
    // Whatever stands under the text's name goes first: the tool must never write
    // through a link planted there.
    fso.deleteFile(textFile, true);
    const ShellResult run = ShellAndWait(pdfToTextCmd, 0, timeOutMs);
    if (run.result == ShellResult::TimedOut && run.pid > 0)
        ::kill(pid_t(run.pid), SIGKILL);
    const bool opened = textToolOpened(run);
    const QByteArray text = opened ? readText(fso, textFile) : QByteArray();
    fso.deleteFile(textFile, true);
    return nameSheet(fso, workspaceDir, workspaceDir + QStringLiteral("Temp.pdf"), text, opened,
                     sourceName);
}
