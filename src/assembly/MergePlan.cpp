#include "MergePlan.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {

bool fileNameLess(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

void MergePlan::sortForMerge(QList<Sheet> &sheets)
{
    std::stable_sort(sheets.begin(), sheets.end(), [](const Sheet &a, const Sheet &b) {
        if (a.stem != b.stem)
            return fileNameLess(a.stem, b.stem);
        return a.index < b.index;
    });
}

ShellCommand MergePlan::mergeCommand(const QString &programDir, const QStringList &files,
                                     const QString &outputPath)
{
    QStringList arguments = files;
    arguments << QStringLiteral("cat") << QStringLiteral("output")
              << QFileInfo(outputPath).absoluteFilePath();
    return {programDir + QStringLiteral("/pdftk"), arguments};
}

qsizetype MergePlan::argumentCost(const QString &argument)
{
    // Its bytes, its terminating zero and its pointer.
    return argument.toLocal8Bit().size() + 1 + qsizetype(sizeof(char *));
}

qsizetype MergePlan::argumentBytes(const ShellCommand &command)
{
    qsizetype bytes = argumentCost(command.program);
    for (const QString &argument : command.arguments)
        bytes += argumentCost(argument);
    return bytes;
}

qsizetype MergePlan::systemArgumentBudget()
{
    const long limit = sysconf(_SC_ARG_MAX);
    qsizetype environment = 0;
    for (char **entry = environ; *entry; ++entry)
        environment += qsizetype(std::strlen(*entry)) + 1 + qsizetype(sizeof(char *));
    // Room for what the pdftk launcher adds on its way to the Java program.
    constexpr qsizetype Reserve = 128 * 1024;
    return qMax<qsizetype>(16 * 1024, (limit > 0 ? limit : 128 * 1024) - environment - Reserve);
}

QList<QStringList> MergePlan::batches(const QStringList &files, qsizetype budget,
                                      qsizetype fixedBytes, int batchSize)
{
    QList<QStringList> out;
    for (qsizetype start = 0; start < files.size();) {
        qsizetype end = start + 1;
        qsizetype bytes = fixedBytes + argumentCost(files[start]);
        while (end < files.size() && end - start < qMax(2, batchSize)) {
            const qsizetype more = argumentCost(files[end]);
            if (end - start >= 2 && bytes + more > budget)
                break;
            bytes += more;
            ++end;
        }
        out << files.mid(start, end - start);
        start = end;
    }
    return out;
}

QString MergePlan::bookmarkText(const QString &title)
{
    // pdftk-java ends an info line at CR, LF and NEL (control characters) and at a line
    // or paragraph separator, and stores a title in PDFDocEncoding when it can, where
    // the no-break space's byte reads back as the euro sign.
    QString text = title;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const auto kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line ||
            kind == QChar::Separator_Paragraph || c == QChar::Nbsp) {
            text[i] = QLatin1Char(' ');
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            // UTF-8 has no form for it: it would reach pdftk as "?".
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QByteArray MergePlan::bookmarkInfo(const QStringList &titles, const QList<int> &pages)
{
    QByteArray info;
    int page = 1;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        info += "BookmarkBegin\nBookmarkTitle: " + bookmarkText(titles[i]).toUtf8() +
                "\nBookmarkLevel: 1\nBookmarkPageNumber: " + QByteArray::number(page) + '\n';
        page += qMax(1, pages.value(i, 1));
    }
    return info;
}
