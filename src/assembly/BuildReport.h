#pragma once

#include "OutputFile.h"
#include "ShellAndWait.h"
#include "platform/UserInteraction.h"
#include "sources/SheetSource.h"

#include <QList>
#include <QMetaType>
#include <QStringList>

#include <optional>

// Why a GSID did not reach the output.
enum class MissingCause {
    NotOnSource,    // the source has no sheet for it
    Refused,        // the source has it, but would not give it
    TransferFailed, // every try to bring it failed
    SourceLost,     // the source stopped serving before its turn
    NotAPdf,        // the source sent something else in its place
    TextFailed,     // pdftotext could not read it
    TextCrashed,    // pdftotext crashed on it
    TextTimedOut,   // pdftotext ran out of time on it
    MergeRefused,   // pdftk refused it
};

// How a build ended, and everything the user is told about it. It also holds the
// checks made before a build starts, so that the window and the command line refuse
// and report in the same words.
struct BuildReport {
    enum Outcome {
        Written,         // the output holds every sheet not in missing
        Cancelled,       // the user chose not to replace the output
        Stopped,         // stopped; the output is untouched
        SourceMissing,   // the FTP server or its edition directory cannot be reached
        NothingFetched,  // no sheet could be fetched
        NothingReadable, // sheets were fetched, but none could be read
        TextToolFailed,  // pdftotext failed on sheet after sheet; problem says how
        MergeFailed,     // the merge tool failed; problem says so
        WorkspaceFailed, // the workspace filled up or went; problem says so
        OutputFailed,    // the output's folder cannot take it, or does not answer
    };
    struct Missing {
        QString gsid;
        MissingCause cause = MissingCause::NotOnSource;
        QString detail; // the source's or the tool's own words
    };
    // Who reads the message: the window keeps the missing GSIDs in its list; the
    // command line writes them to standard output.
    enum class Audience { Window, Console };

    Outcome outcome = Written;
    QString output; // the output file's path
    SourceMode source = SourceMode::Share;
    qsizetype total = 0;                  // GSIDs in the list
    QList<Missing> missing;               // GSIDs not in the output, in list order
    QString problem;                      // what went wrong, in words, when the build failed
    QString details;                      // what was tried, for the message's details
    std::optional<SourceLoss> sourceLost; // why the source stopped serving part-way

    QStringList missingGsids() const;
    // The data sheets the output holds.
    qsizetype written() const { return outcome == Written ? total - missing.size() : 0; }

    // The message that tells the user how the build ended; none for a build that
    // wrote every sheet, or that the user cancelled.
    std::optional<UserMessage> message(Audience audience = Audience::Window) const;
    // A cause as scripts read it: "not-on-source", "unreadable", …
    static QString causeName(MissingCause cause);

    // Why a trimmed output name is refused, or an empty text. The name alone: where it
    // lies is the output's own check, made off the window's thread.
    static QString outputNameError(const QString &outputPath);
    // What stands in the output's way, in words: problem, and details.
    static std::pair<QString, QString> outputProblem(const OutputProblem &problem);
    // Why pdftotext or pdftk in the program folder cannot be run, or an empty text.
    static QString toolProblem(const QString &programDir);
    // Why the build must not start, or an empty text: the output name, the workspace's
    // own problem, the tools. The build itself then checks the output's folder
    // (OutputFile::prepare) before it fetches anything.
    static QString refusal(const QString &outputPath, const QString &workspaceProblem,
                           const QString &programDir);

    // The missing GSIDs grouped by cause, a line a group: the first few in the text,
    // all of them, one per line, in the details.
    QString missingText() const;
    QString missingDetails() const;
    // Why pdftk could not write the output (or, with bookmarks, add them to it): the
    // run that failed, whether the disk filled up or the file came out incomplete.
    static QString mergeProblem(const ShellResult &failure, bool diskFull, bool incomplete,
                                bool bookmarks = false);
};

Q_DECLARE_METATYPE(BuildReport)
