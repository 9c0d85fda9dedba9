#pragma once

#include "MergePlan.h"
#include "ShellAndWait.h"
#include "platform/StopToken.h"

#include <QStringList>

#include <memory>

class FileSystem;

struct MergeJob {
    QString programDir; // holds pdftk
    QString scratchDir; // intermediate files go here; ends with "/"
    // In list order; the merger puts them in the output's order (MergePlan::sortForMerge)
    // on its own thread, as sorting thousands of names would hold the window.
    QList<Sheet> sheets;
    bool bookmarks = false;       // one per sheet, titled with its station and GSID
    QString output;               // the file to write
    qsizetype argumentBudget = 0; // bytes one pdftk run may take; 0: the system's limit
    int batchSize = 1000;         // sheets one run joins at most
    std::shared_ptr<StopToken> stop = std::make_shared<StopToken>();
};

struct MergeOutcome {
    bool merged = false;
    QStringList unmergeable;      // sheets pdftk refused, left out of the output
    ShellResult failure;          // the run that failed, when nothing was merged
    bool bookmarksFailed = false; // merged, but the bookmarks could not be added
};

// Joins the sheets into the output with pdftk: in one run, or, when the argument list
// is too long for one, in ordered batches into intermediate files that are joined in
// turn. One sheet pdftk refuses does not sink the others: the refused ones are found
// by merging halves and left out. With titles, the merged file gets its bookmarks in
// a second run (update_info_utf8) before it becomes the output, so the output is
// whole with them or not written. Blocking: it runs on a worker thread, and a stop
// ends its tool at once; it removes the intermediate files, the sheets and, when it
// did not merge, the output, whatever happens.
class Merger {
public:
    Merger(MergeJob job, FileSystem &fso);
    MergeOutcome run();

private:
    bool merge(const QStringList &files, const QString &output);
    bool runTool(const QStringList &files, const QString &output);
    QStringList unmergeable(const QStringList &sheets, const QString &probe);
    bool addBookmarks(const QStringList &included, const QString &merged);
    // The sheets' files, in the output's order.
    QStringList m_paths;
    bool stopped() const { return m_job.stop->isStopped(); }

    MergeJob m_job;
    FileSystem &m_fso;
    qsizetype m_budget;
    int m_partsMade = 0;
    ShellResult m_failure;
};
