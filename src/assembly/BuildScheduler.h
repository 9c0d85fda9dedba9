#pragma once

#include "BuildReport.h"
#include "MergePlan.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <optional>
#include <set>

class FileSystem;
class SheetSource;
class ToolProcess;

// The first half of a build: every sheet of the list fetched into the build's folder,
// its text read by pdftotext, and the sheet named after its station, in list order.
// Sheets are fetched ahead of the naming (several at once), their text is read on
// every core, and each is named as soon as those before it are. Everything is driven
// by the event loop; the source and the text runs report queued, so a report may end
// the whole build.
class BuildScheduler : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString folder;            // the build's own folder, ending in "/"
        QString workspaceDir;      // the workspace it lies in, for messages
        QString programDir;        // holds pdftotext
        QString sourcePrefix;      // the edition's file-name prefix at the source
        bool ftp = false;          // FTP: a GSID with a control character names no sheet
        int textTimeOutMs = 60000; // one pdftotext run; a sheet that takes longer is unreadable
        int textRuns = 0;          // pdftotext runs at once; 0: one per core
        int fetchAhead = 64;       // sheets fetched but not yet named, at most
    };
    // When pdftotext crashes or runs out of time on this many sheets in a row, it is
    // the tool that fails, not the sheets.
    static constexpr int TextFailuresToGiveUp = 3;

    BuildScheduler(Settings settings, SheetSource &source, FileSystem &fso,
                   QObject *parent = nullptr);
    ~BuildScheduler() override;

    void start(const QStringList &gsids);
    // Ends every text run at once; nothing is reported after it. The source is its
    // owner's to stop.
    void stop();

    // The sheets named so far, in list order.
    const QList<Sheet> &sheets() const { return m_sheets; }
    // GSIDs that did not reach a sheet, in list order, with why.
    QList<BuildReport::Missing> missing() const;
    qsizetype namedCount() const { return m_nextName; }
    bool fetchedAny() const { return m_fetchedAny; }
    // Why the source stopped serving part-way, if it did.
    const std::optional<SourceLoss> &sourceLost() const { return m_sourceLost; }

signals:
    // One more GSID of the list was dealt with: named, or found missing.
    void named(qsizetype count);
    // Every GSID of the list has been dealt with.
    void done();
    // The build cannot go on: the workspace filled up or went, or pdftotext fails.
    void failed(BuildReport::Outcome outcome, const QString &problem);

private:
    enum class State { Pending, Fetching, Fetched, Extracting, Read, Failed };
    struct Item {
        State state = State::Pending;
        MissingCause cause = MissingCause::NotOnSource; // when Failed
        QString detail;                                 // what the source or tool said
        bool opened = false;                            // the text tool could read it
        QByteArray text;                                // what it gave, until named
        int pages = 1;
    };

    QString scratch(qsizetype index) const;
    void pump();
    void onFetched(int index, const FetchResult &result);
    void extract(qsizetype index);
    void onExtracted(qsizetype index, ToolProcess *process, int exitCode, bool crashed);
    void name(qsizetype index);
    void fail(BuildReport::Outcome outcome, const QString &problem);
    // The build's folder went (removed by hand, say): the build fails, told so.
    bool folderGone();

    Settings m_settings;
    SheetSource &m_source;
    FileSystem &m_fso;
    bool m_running = false;
    QStringList m_gsids;
    QList<Item> m_items;
    qsizetype m_nextFetch = 0;
    qsizetype m_nextName = 0;
    int m_inFetch = 0;
    int m_unnamed = 0;             // fetched, not yet named
    std::set<qsizetype> m_fetched; // waiting for the text tool, lowest first
    QList<ToolProcess *> m_textRuns;
    int m_textFailuresInARow = 0;
    bool m_fetchedAny = false;
    QList<Sheet> m_sheets;
    QList<qsizetype> m_missing;
    std::optional<SourceLoss> m_sourceLost;
};
