#include "SheetRenamer.h"

#include "SheetName.h"
#include "platform/FileSystem.h"

ShellCommand pdfToTextCommand(const QString &programDir)
{
    return {programDir + QStringLiteral("/pdftotext"),
            {QStringLiteral("-q"), QStringLiteral("-layout")}};
}

bool textToolOpened(const ShellResult &run)
{
    constexpr int CopyForbidden = 3;
    return run.result == ShellResult::Finished && !run.crashed &&
           (run.exitCode == 0 || run.exitCode == CopyForbidden);
}

RenameOutcome renameCurrPdf(FileSystem &fso, const QString &workspaceDir, const QString &sheetPath,
                            const QByteArray &text, bool opened, const QString &sourceName)
{
    // Only a sheet the tool could open as a PDF may reach the merge.
    if (!opened) {
        fso.deleteFile(sheetPath, true);
        return {RenameOutcome::Unreadable, QString(), QString(), QString()};
    }
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    const std::optional<QString> name = sheetNameFromText(lines);
    RenameOutcome outcome;
    outcome.kind = name ? RenameOutcome::Renamed : RenameOutcome::NoLabel;
    outcome.station = stationNameFromText(lines);
    // A sheet without the label (or without any text) keeps its source name, so
    // the next fetch cannot overwrite it.
    outcome.stem = safeFileName(name.value_or(sourceName));
    outcome.fileName = unusedFileName(workspaceDir, outcome.stem);
    if (!fso.moveFile(sheetPath, workspaceDir + outcome.fileName)) {
        fso.deleteFile(sheetPath, true);
        return {RenameOutcome::Unreadable, QString(), QString(), QString()};
    }
    return outcome;
}
