#include "Merger.h"

#include "MergePlan.h"
#include "platform/FileSystem.h"

#include <QFile>

Merger::Merger(MergeJob job, FileSystem &fso)
    : m_job(std::move(job)), m_fso(fso),
      m_budget(m_job.argumentBudget > 0 ? m_job.argumentBudget : MergePlan::systemArgumentBudget())
{
}

MergeOutcome Merger::run()
{
    MergeOutcome outcome;
    MergePlan::sortForMerge(m_job.sheets);
    for (const Sheet &sheet : std::as_const(m_job.sheets))
        m_paths << sheet.path;
    const QStringList &sheets = m_paths;
    const bool marked = m_job.bookmarks;
    // With bookmarks, the merge is only a first step, made in the build's folder.
    const QString merged =
        marked ? m_job.scratchDir + QStringLiteral("~merged.part") : m_job.output;
    QStringList included = sheets;
    outcome.merged = merge(sheets, merged);
    // A tool that crashed or hung says nothing about the sheets: no search then.
    const bool refusedInput = m_failure.result == ShellResult::Finished && !m_failure.crashed;
    if (!outcome.merged && refusedInput && !stopped()) {
        const QStringList bad =
            unmergeable(sheets, m_job.scratchDir + QStringLiteral("~probe.part"));
        // When it refuses every one, the tool is at fault, not the sheets.
        if (!bad.isEmpty() && bad.size() < sheets.size() && !stopped()) {
            for (const QString &path : bad)
                included.removeOne(path);
            outcome.merged = merge(included, merged);
            outcome.unmergeable = bad;
        }
    }
    if (outcome.merged && marked && !stopped()) {
        outcome.merged = addBookmarks(included, merged);
        outcome.bookmarksFailed = !outcome.merged;
    }
    if (marked)
        m_fso.deleteFile(merged, true);
    if (!outcome.merged || stopped())
        m_fso.deleteFile(m_job.output, true);
    for (const QString &path : sheets)
        m_fso.deleteFile(path, true);
    outcome.failure = m_failure;
    return outcome;
}

bool Merger::addBookmarks(const QStringList &included, const QString &merged)
{
    // One entry a sheet in the output, at the page its sheet begins.
    QStringList titles;
    QList<int> pages;
    for (qsizetype i = 0, j = 0; i < m_job.sheets.size(); ++i) {
        const Sheet &sheet = m_job.sheets[i];
        if (j >= included.size() || included[j] != sheet.path)
            continue; // left out of the output
        ++j;
        // "CEDAR RIDGE (GSID 300)"; "GSID 541" for a sheet that names no station.
        const QString gsid = QStringLiteral("GSID ") + sheet.gsid;
        titles << (sheet.station.isEmpty()
                       ? gsid
                       : sheet.station + QStringLiteral(" (") + gsid + QLatin1Char(')'));
        pages << sheet.pages;
    }
    const QByteArray info = MergePlan::bookmarkInfo(titles, pages);
    const QString infoFile = m_job.scratchDir + QStringLiteral("~bookmarks.txt");
    QFile file(infoFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(info) != info.size() ||
        !file.flush()) {
        m_failure = {};
        m_failure.result = ShellResult::Finished;
        m_failure.exitCode = -1;
        m_failure.errorOutput = file.errorString().toLocal8Bit();
        return false;
    }
    file.close();
    const ShellCommand command{m_job.programDir + QStringLiteral("/pdftk"),
                               {merged, QStringLiteral("update_info_utf8"), infoFile,
                                QStringLiteral("output"), m_job.output}};
    const ShellResult run = ShellAndWait(command, m_job.stop.get());
    m_fso.deleteFile(infoFile, true);
    if (!run.succeeded()) {
        m_failure = run;
        m_fso.deleteFile(m_job.output, true);
    }
    return run.succeeded();
}

bool Merger::runTool(const QStringList &files, const QString &output)
{
    const ShellResult run =
        ShellAndWait(MergePlan::mergeCommand(m_job.programDir, files, output), m_job.stop.get());
    if (!run.succeeded()) {
        m_failure = run;
        // A tool that failed half-way must not leave a broken file behind.
        m_fso.deleteFile(output, true);
    }
    return run.succeeded();
}

bool Merger::merge(const QStringList &files, const QString &output)
{
    const ShellCommand whole = MergePlan::mergeCommand(m_job.programDir, files, output);
    if (files.size() <= 2 || MergePlan::argumentBytes(whole) <= m_budget)
        return runTool(files, output);

    // Too long for one run: batches into parts, which keep the sheets' order, then the
    // parts the same way.
    const qsizetype fixed = MergePlan::argumentBytes(MergePlan::mergeCommand(
        m_job.programDir, {}, m_job.scratchDir + QStringLiteral("~00000.part")));
    QStringList parts;
    QStringList made;
    bool ok = true;
    const QList<QStringList> batches = MergePlan::batches(files, m_budget, fixed, m_job.batchSize);
    for (const QStringList &batch : batches) {
        if (!ok || stopped()) {
            ok = false;
            break;
        }
        if (batch.size() == 1) {
            parts << batch.first(); // a lone file joins the next round as it is
            continue;
        }
        const QString part = m_job.scratchDir +
                             QStringLiteral("~%1.part").arg(++m_partsMade, 5, 10, QLatin1Char('0'));
        made << part;
        parts << part;
        ok = runTool(batch, part);
    }
    ok = ok && merge(parts, output);
    for (const QString &part : std::as_const(made))
        m_fso.deleteFile(part, true);
    return ok;
}

QStringList Merger::unmergeable(const QStringList &sheets, const QString &probe)
{
    if (stopped())
        return {};
    const bool fine = merge(sheets, probe);
    m_fso.deleteFile(probe, true);
    if (fine)
        return {};
    if (sheets.size() == 1)
        return sheets;
    const qsizetype half = sheets.size() / 2;
    return unmergeable(sheets.mid(0, half), probe) + unmergeable(sheets.mid(half), probe);
}
