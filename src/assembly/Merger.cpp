#include "Merger.h"

#include "MergePlan.h"
#include "platform/FileSystem.h"

Merger::Merger(MergeJob job, FileSystem &fso)
    : m_job(std::move(job)), m_fso(fso),
      m_budget(m_job.argumentBudget > 0 ? m_job.argumentBudget : MergePlan::systemArgumentBudget())
{
}

MergeOutcome Merger::run()
{
    MergeOutcome outcome;
    const QStringList &sheets = m_job.sheets;
    outcome.merged = merge(sheets, m_job.output);
    // A tool that crashed or hung says nothing about the sheets: no search then.
    const bool refusedInput = m_failure.result == ShellResult::Finished && !m_failure.crashed;
    if (!outcome.merged && refusedInput && !stopped()) {
        const QStringList bad = unmergeable(sheets);
        // When it refuses every one, the tool is at fault, not the sheets.
        if (!bad.isEmpty() && bad.size() < sheets.size() && !stopped()) {
            QStringList rest = sheets;
            for (const QString &path : bad)
                rest.removeOne(path);
            outcome.merged = merge(rest, m_job.output);
            outcome.unmergeable = bad;
        }
    }
    if (!outcome.merged || stopped())
        m_fso.deleteFile(m_job.output, true);
    for (const QString &path : sheets)
        m_fso.deleteFile(path, true);
    outcome.failure = m_failure;
    return outcome;
}

bool Merger::runTool(const QStringList &files, const QString &output)
{
    const ShellResult run = ShellAndWait(MergePlan::mergeCommand(m_job.programDir, files, output),
                                         0, -1, m_job.stop.get());
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

QStringList Merger::unmergeable(const QStringList &sheets)
{
    if (stopped())
        return {};
    const QString probe = m_job.scratchDir + QStringLiteral("~probe.part");
    const bool fine = merge(sheets, probe);
    m_fso.deleteFile(probe, true);
    if (fine)
        return {};
    if (sheets.size() == 1)
        return sheets;
    const qsizetype half = sheets.size() / 2;
    return unmergeable(sheets.mid(0, half)) + unmergeable(sheets.mid(half));
}
