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
};

// Names the sheet just fetched to the workspace's Temp.pdf after the station in its
// text, so that sheets pile up one file per station. Text.txt never outlives the call.
// A text tool still running after timeOutMs is ended and the sheet counts as unreadable.
RenameOutcome renameCurrPdf(const ShellCommand &pdfToTextCmd, const QString &workspaceDir,
                            FileSystem &fso, const QString &sourceName, int timeOutMs = 60000);
