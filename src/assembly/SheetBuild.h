#pragma once

#include "ShellAndWait.h"
#include "startup/Startup.h"

#include <QStringList>
#include <functional>

class FileSystem;
class FtpConnection;
class UserInteraction;

enum class Edition { English, Metric };

struct BuildConfig {
    SourceMode mode = SourceMode::Share;
    QString shareDir;             // share mode: holds the edition folders
    FtpConnection *ftp = nullptr; // FTP mode: the run's connection
    QString workspaceDir;         // ends with "/"
    QString programDir;           // holds pdftk
    ShellCommand pdfToTextCmd;
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
        enum Outcome { Written, Cancelled, NothingFetched, MergeFailed };
        Outcome outcome = Written;
        QStringList missing; // GSIDs whose sheet could not be fetched or read
    };

    SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui);

    // Why a trimmed output name is refused, or an empty text.
    static QString outputNameError(const QString &outputPath, const QString &workspaceDir);

    // Chooses the edition's folder and prefix; in FTP mode enters its directory and
    // returns false when that fails.
    bool selectEdition(Edition edition);
    QString ftpDir() const { return m_ftpDir; }
    QString sheetPrefix() const { return m_sheetPrefix; }

    // Fetches and merges. progress receives "1", "2", … and then "Writing". An
    // output file that cannot be deleted is offered for Retry or Cancel.
    Report fetchAndMerge(const QStringList &gsids, const QString &outputPath,
                         const std::function<void(const QString &)> &progress);
    // Deletes every file of the workspace.
    void cleanUp();

    // The command that joins the given sheets into the output.
    ShellCommand mergeCommand(const QStringList &sheets, const QString &outputPath) const;
    // The workspace's sheets, in the order they are merged.
    QStringList workspaceSheets() const;
    // Merges the files in order into the output, in batches when one run cannot take
    // them all. Intermediate files are removed whatever the outcome.
    bool mergeSheets(const QStringList &sheets, const QString &outputPath);

    // What a command's arguments take of the system's argument space.
    static qsizetype argumentBytes(const ShellCommand &command);
    // The argument space left for one command with this process's environment.
    static qsizetype systemArgumentBudget();

    static QString missingMessage(const QStringList &gsids);

private:
    bool fetch(const QString &gsid, const QString &target);
    bool clearOutput(const QString &outputPath);

    BuildConfig m_config;
    FileSystem &m_fso;
    UserInteraction &m_ui;
    Edition m_edition = Edition::English;
    QString m_ftpDir;
    QString m_sheetPrefix;
    int m_partsMade = 0;
};
