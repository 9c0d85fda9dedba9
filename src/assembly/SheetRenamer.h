#pragma once

#include "ShellAndWait.h"

#include <QString>

class FileSystem;

struct RenameOutcome {
    enum Kind {
        Renamed,    // moved to its station name
        NoLabel,    // no label in its text: moved to its source file name
        Unreadable, // the text tool could not read it as a PDF; the sheet is gone
    };
    Kind kind = Unreadable;
    QString fileName; // the sheet's name in the workspace, when it stays
    QString stem;     // that name before a " (2)" was added to make it unique
    QString station;  // the station's whole name on the sheet; empty when none
};

// The text-extraction command: the program folder's pdftotext in layout mode, without
// messages; each run adds the sheet it reads and where the text goes.
ShellCommand pdfToTextCommand(const QString &programDir);

// Whether the text tool could open the sheet as a PDF: it exits 0, or 3 when the PDF
// forbids copying its text (1: not a PDF it can open).
bool textToolOpened(const ShellResult &run);

// Names the sheet at sheetPath after the station in the text the tool gave for it; a
// sheet the tool could not open is removed instead. The sheet stays in the workspace
// folder.
RenameOutcome renameCurrPdf(FileSystem &fso, const QString &workspaceDir, const QString &sheetPath,
                            const QByteArray &text, bool opened, const QString &sourceName);
