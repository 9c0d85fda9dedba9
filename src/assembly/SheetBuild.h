#pragma once

#include "Build.h"
#include "BuildReport.h"
#include "Edition.h"
#include "OutputFile.h"
#include "startup/Startup.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class BuildScheduler;
class FileSystem;
class Mailbox;
class SheetSource;
class StopToken;
class UserInteraction;
struct MergeOutcome;

// What one build is asked for: the settings as loaded, the source start-up chose, the
// edition, and the window's workspace; the rest are the engine's own limits.
struct BuildConfig {
    Settings settings; // the sources, the tools' folder, the bookmarks
    SourceMode mode = SourceMode::Share;
    Edition edition = Edition::English;
    QString workspaceDir; // ends with "/"
    QString listFile;     // the list file the GSIDs came from, if any: never the output
    std::shared_ptr<SourceMemory> memory = std::make_shared<SourceMemory>();
    int textTimeOutMs = 60000; // one pdftotext run; a sheet that takes longer is unreadable
    int textRuns = 0;          // pdftotext runs at once; 0: one per core
    int fetchAhead = 64;       // sheets fetched but not yet named, at most
    // One pdftk run takes a limited argument list. A list that does not fit is merged
    // in ordered batches of at most mergeBatchSize sheets into intermediate files,
    // which are then merged in turn. 0 bytes: the system's own limit.
    int mergeBatchSize = 1000;
    qsizetype mergeArgumentBytes = 0;

    // The one way from what start-up settled to a build, for the window and the
    // command line alike.
    static BuildConfig of(const Settings &settings, const StartUp &startUp, Edition edition);
};

// One Continue run without the window: every sheet of the list fetched, named after
// its station and merged into the output file, which is replaced only by a complete
// new one. It works in a folder of its own inside the workspace, so that nothing a
// stopped build left running can touch the next one's files. The parts:
//   the source (SheetSource)       fetches sheets, on worker threads of its own
//   the scheduler (BuildScheduler) fetches ahead, reads the text, names in list order
//   the merger (Merger)            runs pdftk on a worker thread
//   the output file (OutputFile)   checked first, the draft made then; its replacement,
//                                  with Retry or Cancel; each step with a deadline
//   the report (BuildReport)       how it ended, and the words for it
// Rules that keep it safe: every worker reports queued, never from inside a call made
// to it; an object is let go with deleteLater(), never inside its own signal; and
// nothing waits on the window's thread without a bound: stop() returns at once, and
// what a worker stuck in the kernel brings late lands in a folder no longer used, or is
// taken back (a draft made after its deadline).
class SheetBuild : public Build {
    Q_OBJECT

public:
    SheetBuild(BuildConfig config, FileSystem &fso, UserInteraction &ui, QObject *parent = nullptr);
    ~SheetBuild() override;

    // The window's default: a SheetBuild on fso and ui, which must outlive it.
    static BuildFactory factory(FileSystem &fso, UserInteraction &ui);

    // Where the edition's sheets lie at the source.
    EditionPaths paths() const;

    void start(const QStringList &gsids, const QString &outputPath) override;
    // Ends every transfer, tool and worker at once, and reports Stopped.
    void stop() override;
    bool isRunning() const override { return m_running; }
    // start() and wait for the end, running the event loop meanwhile.
    BuildReport run(const QStringList &gsids, const QString &outputPath,
                    const std::function<void(const QString &)> &progress = {});

private:
    void onPrepared(const OutputProblem &problem);
    void onOpened(const FetchResult &result);
    // When the web server has not one sheet of the list, that its edition folder may be
    // missing; else nothing.
    QString noneOnTheWebServer() const;
    void merge();
    void onMerged(const MergeOutcome &outcome);
    void onDraftChecked(const MergeOutcome &outcome,
                        const std::optional<OutputFile::DraftCheck> &check);
    void finish(BuildReport::Outcome outcome, const QString &problem = QString(),
                const QString &details = QString());

    BuildConfig m_config;
    FileSystem &m_fso;
    UserInteraction &m_ui;

    // The run in progress.
    bool m_running = false;
    QStringList m_gsids;
    QString m_folder; // the build's own, inside the workspace
    QPointer<SheetSource> m_source;
    BuildScheduler *m_scheduler = nullptr;
    std::unique_ptr<OutputFile> m_output;
    std::shared_ptr<Mailbox> m_mailbox; // for the merge worker
    std::shared_ptr<StopToken> m_mergeStop;
    QList<BuildReport::Missing> m_refused; // sheets the merge tool refused
};
