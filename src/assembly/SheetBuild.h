#pragma once

#include "ShellAndWait.h"
#include "startup/Startup.h"

#include <QStringList>
#include <functional>

class FileSystem;
class FtpConnection;
class UserInteraction;
struct FsResult;

enum class Edition { English, Metric };

struct BuildConfig {
    SourceMode mode = SourceMode::Share;
    QString shareDir;             // share mode: holds the edition folders
    FtpConnection *ftp = nullptr; // FTP mode: the run's connection
    QString workspaceDir;         // ends with "/"
    QString programDir;           // holds pdftk
    ShellCommand pdfToTextCmd;
    int textTimeOutMs = 60000; // one pdftotext run; a sheet that takes longer is unreadable
    // One pdftk run takes a limited argument list. A list that does not fit is merged
    // in ordered batches of at most mergeBatchSize sheets into intermediate files,
    // which are then merged in turn. 0 bytes: the system's own limit.
    int mergeBatchSize = 1000;
    qsizetype mergeArgumentBytes = 0;
};

// One Continue run without the window: fetch every sheet of the list into the
// workspace, name it after its station, and merge them all into the output file.
class SheetBuild {
public:
    struct Report {
        enum Outcome {
            Written,         // the output holds every sheet not in missing
            Cancelled,       // the user chose not to replace the output
            NothingFetched,  // no sheet could be fetched
            NothingReadable, // sheets were fetched, but none could be read
            MergeFailed,     // the merge tool failed; problem says so
            WorkspaceFailed, // the workspace filled up or went; problem says so
        };
        Outcome outcome = Written;
        QStringList missing; // GSIDs that did not reach the output, in list order
        QString problem;
    };

    // A sheet named in the workspace, and where its GSID stood in the list.
    struct Sheet {
        qsizetype index = 0;
        QString gsid;
        QString path;
        QString stem; // its name before numbering made it unique
    };

    SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui);

    // Why a trimmed output name is refused, or an empty text.
    static QString outputNameError(const QString &outputPath, const QString &workspaceDir);
    // Why pdftotext or pdftk in the program folder cannot be run, or an empty text.
    static QString toolProblem(const QString &programDir);

    // Chooses the edition's folder and prefix; in FTP mode enters its directory and
    // returns false when that fails.
    bool selectEdition(Edition edition);
    QString ftpDir() const { return m_ftpDir; }
    QString sheetPrefix() const { return m_sheetPrefix; }

    // Fetches and merges. progress receives "1", "2", … and then "Writing". The old
    // output is replaced only by a complete new one; a replacement that fails is
    // offered for Retry or Cancel.
    Report fetchAndMerge(const QStringList &gsids, const QString &outputPath,
                         const std::function<void(const QString &)> &progress);
    // Deletes every file of the workspace, whatever its name.
    void cleanUp();

    // The order of the output: by file name, and sheets of one station name (" (2)",
    // " (3)", …) in list order.
    static void sortForMerge(QList<Sheet> &sheets);
    // The command that joins the given sheets into the output.
    ShellCommand mergeCommand(const QStringList &sheets, const QString &outputPath) const;
    // Merges the files in order into the output, in batches when one run cannot take
    // them all. Intermediate files are removed whatever the outcome.
    bool mergeSheets(const QStringList &sheets, const QString &outputPath);
    // The sheets the merge tool cannot read, found by merging halves of the set.
    QStringList unmergeable(const QStringList &sheets);

    // What a command's arguments take of the system's argument space.
    static qsizetype argumentBytes(const ShellCommand &command);
    // The argument space left for one command with this process's environment.
    static qsizetype systemArgumentBudget();

    // The report of GSIDs that did not reach the output: the first few in the text,
    // every one in the details.
    static QString missingMessage(const QStringList &gsids);
    static QString missingDetails(const QStringList &gsids);

private:
    FsResult fetch(const QString &gsid, const QString &target);
    QString workspaceProblem(const FsResult &failure) const;
    void writeOutput(QList<Sheet> &sheets, const QString &outputPath, Report &report,
                     QList<qsizetype> &missing);
    bool askToRetryReplacing(const QString &outputPath, const FsResult &failure);

    BuildConfig m_config;
    FileSystem &m_fso;
    UserInteraction &m_ui;
    Edition m_edition = Edition::English;
    QString m_ftpDir;
    QString m_sheetPrefix;
    int m_partsMade = 0;
};
