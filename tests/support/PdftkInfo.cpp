#include "PdftkInfo.h"

#include <QHash>
#include <QRegularExpression>

PdftkInfo PdftkInfo::read(const QByteArray &utf8)
{
    // Its reader ends a line where Java's Scanner does (seen with pdftk-java 3.3).
    static const QRegularExpression lineEnd("\r\n|[\n\r\u0085\u2028\u2029]");
    QStringList lines = QString::fromUtf8(utf8).split(lineEnd);
    if (lines.last().isEmpty())
        lines.removeLast();
    PdftkInfo info;
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(": ");
        if (colon < 0 && line.endsWith("Begin"))
            info.records.append({line.chopped(5), {}});
        else if (colon > 0 && !info.records.isEmpty())
            info.records.last().fields.append({line.left(colon), line.mid(colon + 2)});
        else
            info.strays << line;
    }
    return info;
}

QList<std::pair<QString, int>> PdftkInfo::bookmarks() const
{
    QList<std::pair<QString, int>> marks;
    for (const Record &record : records) {
        const QHash<QString, QString> field(record.fields.cbegin(), record.fields.cend());
        if (record.kind == "Bookmark")
            marks.append({field.value("BookmarkTitle"), field.value("BookmarkPageNumber").toInt()});
    }
    return marks;
}
