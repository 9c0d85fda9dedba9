#include "SheetRenamer.h"

#include "SheetName.h"
#include "platform/FileSystem.h"

#include <QFile>

namespace {

QStringList readLines(FileSystem &fso, const QString &path, bool *ok)
{
    QString error;
    const auto file = fso.openForReading(path, &error);
    *ok = bool(file);
    if (!file)
        return {};
    QStringList lines = QString::fromUtf8(file->readAll()).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

} // namespace

RenameOutcome renameCurrPdf(const ShellCommand &pdfToTextCmd, const QString &workspaceDir,
                            FileSystem &fso, const QString &sourceName)
{
    const QString tempPdf = workspaceDir + QStringLiteral("Temp.pdf");
    const QString textFile = workspaceDir + QStringLiteral("Text.txt");
    const ShellResult run = ShellAndWait(pdfToTextCmd, 0, -1);
    bool haveText = false;
    const QStringList lines = readLines(fso, textFile, &haveText);
    fso.deleteFile(textFile, true);

    RenameOutcome outcome;
    if (!run.succeeded() || !haveText) {
        // Not a PDF the tool can open: it must not reach the merge.
        fso.deleteFile(tempPdf, true);
        return outcome;
    }
    const std::optional<QString> name = sheetNameFromText(lines);
    outcome.kind = name ? RenameOutcome::Renamed : RenameOutcome::NoLabel;
    // A sheet without the label keeps its source name, so the next fetch cannot
    // overwrite it.
    outcome.fileName = unusedFileName(workspaceDir, safeFileName(name.value_or(sourceName)));
    if (!fso.moveFile(tempPdf, workspaceDir + outcome.fileName)) {
        fso.deleteFile(tempPdf, true);
        return {RenameOutcome::Unreadable, QString()};
    }
    return outcome;
}
