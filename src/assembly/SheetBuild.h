#pragma once

#include "ShellAndWait.h"
#include "startup/Startup.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <set>

class FileSystem;
class QThread;
class SheetFetcher;
class ToolProcess;
class UserInteraction;
struct FsResult;

enum class Edition { English, Metric };

struct BuildConfig {
    SourceMode mode = SourceMode::Share;
    QString shareDir;       // share mode: holds the edition folders
    QString ftpHost;        // FTP mode: "host" or "host:port"
    int ftpConnections = 4; // FTP mode: at most this many at once
    int ftpStallSeconds = 30;
    QString workspaceDir;      // ends with "/"
    QString programDir;        // holds pdftotext and pdftk
    int textTimeOutMs = 60000; // one pdftotext run; a sheet that takes longer is unreadable
    int textRuns = 0;          // pdftotext runs at once; 0: one per core
    int fetchAhead = 64;       // sheets fetched but not yet named, at most
    // One pdftk run takes a limited argument list. A list that does not fit is merged
    // in ordered batches of at most mergeBatchSize sheets into intermediate files,
    // which are then merged in turn. 0 bytes: the system's own limit.
    int mergeBatchSize = 1000;
    qsizetype mergeArgumentBytes = 0;
};

// One Continue run without the window: fetch every sheet of the list into the
// workspace, name it after its station, and merge them all into the output file.
// The work is driven by the event loop: sheets are fetched several at a time (over
// as many FTP connections as allowed), their text is extracted on every core, they
// are named in list order as their text comes in, and the merge runs on a worker
// thread. Nothing blocks the window, and stop() ends it all at once.
class SheetBuild : public QObject {
    Q_OBJECT

public:
    struct Report {
        enum Outcome {
            Written,         // the output holds every sheet not in missing
            Cancelled,       // the user chose not to replace the output
            Stopped,         // stop() ended the build; the output is untouched
            SourceMissing,   // the FTP server or its edition directory cannot be reached
            NothingFetched,  // no sheet could be fetched
            NothingReadable, // sheets were fetched, but none could be read
            MergeFailed,     // the merge tool failed; problem says so
            WorkspaceFailed, // the workspace filled up or went; problem says so
        };
        Outcome outcome = Written;
        QStringList missing; // GSIDs that did not reach the output, in list order
        QString problem;
        bool serverStoppedAnswering = false; // the FTP server went silent half-way
    };

    // A sheet named in the workspace, and where its GSID stood in the list.
    struct Sheet {
        qsizetype index = 0;
        QString gsid;
        QString path;
        QString stem; // its name before numbering made it unique
    };

    SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui, QObject *parent = nullptr);
    ~SheetBuild() override;

    // Why a trimmed output name is refused, or an empty text.
    static QString outputNameError(const QString &outputPath, const QString &workspaceDir);
    // Why pdftotext or pdftk in the program folder cannot be run, or an empty text.
    static QString toolProblem(const QString &programDir);

    // Chooses the edition's folder (or FTP directory) and file-name prefix.
    void selectEdition(Edition edition);
    QString ftpDir() const { return m_ftpDir; }
    QString sheetPrefix() const { return m_sheetPrefix; }

    // Starts the build; progress() counts the sheets named, then says "Writing", and
    // finished() reports the end. The old output is replaced only by a complete new
    // one; a replacement that fails is offered for Retry or Cancel.
    void start(const QStringList &gsids, const QString &outputPath);
    // Ends the running tools and transfers, empties the workspace and reports Stopped.
    void stop();
    bool isRunning() const { return m_running; }
    // start() and wait for the end, running the event loop meanwhile.
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

signals:
    void progress(const QString &text);
    void finished(const SheetBuild::Report &report);

private:
    enum class State { Pending, Fetching, Fetched, Extracting, Read, Failed };
    struct Item {
        State state = State::Pending;
        bool opened = false; // the text tool could read it
        QByteArray text;     // what it gave, until the sheet is named
    };
    struct MergeResult {
        bool merged = false;
        QStringList unmergeable;
    };

    QString scratch(const char *stem, qsizetype index, const char *ending) const;
    void pump();
    void onFetched(int index, const FsResult &result);
    void extract(qsizetype index);
    void onExtracted(qsizetype index, ToolProcess *process, bool opened);
    void name(qsizetype index);
    void merge();
    void onMerged();
    bool askToRetryReplacing(const QString &outputPath, const FsResult &failure);
    QString workspaceProblem(const FsResult &failure) const;
    void endTools();
    void finish(Report::Outcome outcome, const QString &problem = QString());

    BuildConfig m_config;
    FileSystem &m_fso;
    UserInteraction &m_ui;
    Edition m_edition = Edition::English;
    QString m_ftpDir;
    QString m_sheetPrefix;
    int m_partsMade = 0;

    // The run in progress.
    bool m_running = false;
    QStringList m_gsids;
    QString m_output;
    QList<Item> m_items;
    std::unique_ptr<SheetFetcher> m_fetcher;
    bool m_probing = false;
    qsizetype m_nextFetch = 0;
    int m_inFetch = 0;
    int m_unnamed = 0;             // fetched, not yet named
    std::set<qsizetype> m_fetched; // waiting for the text tool, lowest first
    QList<ToolProcess *> m_textRuns;
    qsizetype m_nextName = 0;
    bool m_fetchedAny = false;
    QList<Sheet> m_sheets;
    QList<qsizetype> m_missing;
    QString m_draft;
    QThread *m_worker = nullptr;
    MergeResult m_mergeResult;
    std::atomic<bool> m_stopping{false};
};

Q_DECLARE_METATYPE(SheetBuild::Report)
