#pragma once

#include "ShellAndWait.h"

#include <QList>
#include <QStringList>

// A sheet named in the build's folder, and where its GSID stood in the list.
struct Sheet {
    qsizetype index = 0;
    QString gsid;
    QString path;
    QString stem;    // its name before numbering made it unique
    QString station; // the station name printed on it, whole; empty when none
    int pages = 1;
};

// How the merge is laid out, worked out without running anything: the order of the
// output, the commands, and the batches a list too long for one run is cut into.
namespace MergePlan {

// By file name, and sheets of one station name (" (2)", " (3)", …) in list order.
void sortForMerge(QList<Sheet> &sheets);

// The command that joins the given files, in order, into the output. Absolute paths
// only: pdftk reads a relative name holding "=" as a handle.
ShellCommand mergeCommand(const QString &programDir, const QStringList &files,
                          const QString &outputPath);

// What an argument, and a whole command, take of the system's argument space.
qsizetype argumentCost(const QString &argument);
qsizetype argumentBytes(const ShellCommand &command);
// The argument space left for one command with this process's environment.
qsizetype systemArgumentBudget();

// The files cut into consecutive batches, each of at most batchSize files (2 at
// least) whose merge command, with fixedBytes for the program and the rest, fits the
// budget. A batch of one file needs no merge of its own.
QList<QStringList> batches(const QStringList &files, qsizetype budget, qsizetype fixedBytes,
                           int batchSize);

// A bookmark's title as pdftk keeps it: control characters, line and paragraph
// separators and no-break spaces become blanks, half a surrogate pair U+FFFD.
QString bookmarkText(const QString &title);

// pdftk's info text (update_info_utf8) for one level-1 bookmark per title, at the
// first page of its sheet; pages holds each sheet's page count, beside titles.
QByteArray bookmarkInfo(const QStringList &titles, const QList<int> &pages);

} // namespace MergePlan
