#include "SheetName.h"

#include "stations/Tokens.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString Label = QStringLiteral("OXA Name:");
constexpr qsizetype StationNameLength = 40;
// Most file systems allow 255 bytes; leave room for a " (n)" suffix.
constexpr qsizetype MaxNameBytes = 240;

} // namespace

std::optional<QString> sheetNameFromText(const QStringList &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qsizetype at = lines[i].indexOf(Label, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        QString station = trimBlanks(lines[i].mid(at + Label.size(), StationNameLength));
        station.replace(QLatin1Char(' '), QLatin1Char('-'));
        // The label on the last line leaves the qualifier empty.
        QString qualifier = i + 1 < lines.size() ? trimBlanks(lines[i + 1].mid(7)) : QString();
        const qsizetype comma = qualifier.indexOf(QLatin1Char(','));
        if (comma >= 0)
            qualifier.truncate(comma);
        return station + QLatin1Char(' ') + qualifier + QStringLiteral(".pdf");
    }
    return std::nullopt;
}

QString stationNameFromText(const QStringList &lines)
{
    for (const QString &line : lines) {
        const qsizetype at = line.indexOf(Label, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        QString name = trimBlanks(line.mid(at + Label.size()));
        const qsizetype gap = name.indexOf(QStringLiteral("   "));
        if (gap >= 0)
            name.truncate(gap);
        return name.trimmed();
    }
    return QString();
}

QString safeFileName(const QString &name)
{
    QString out = name;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (c.isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate()) {
            ++i; // a character beyond the BMP, whole
        } else if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7f ||
                   c.isSurrogate()) {
            // Half a pair (a cut through such a character) has no UTF-8 form.
            out[i] = QLatin1Char('-');
        }
    }
    if (out.startsWith(QLatin1Char('.')))
        out.prepend(QLatin1Char('-'));
    if (QFile::encodeName(out).size() > MaxNameBytes) {
        // Whole characters go from the end, a pair of surrogates together, or the name
        // would hold half of one; in one pass, however long the name.
        QString stem = out.chopped(4); // ".pdf"
        qsizetype bytes = QFile::encodeName(stem).size();
        while (bytes > MaxNameBytes - 4) {
            const qsizetype n = stem.size() > 1 && stem.back().isLowSurrogate() &&
                                        stem[stem.size() - 2].isHighSurrogate()
                                    ? 2
                                    : 1;
            bytes -= QFile::encodeName(stem.right(n)).size();
            stem.chop(n);
        }
        out = stem + QStringLiteral(".pdf");
    }
    return out;
}

QString unusedFileName(const QString &folder, const QString &name)
{
    auto taken = [&](const QString &candidate) {
        const QFileInfo info(folder + candidate);
        return info.exists() || info.isSymLink();
    };
    if (!taken(name))
        return name;
    const QString stem = name.endsWith(QStringLiteral(".pdf")) ? name.chopped(4) : name;
    for (int n = 2;; ++n) {
        const QString candidate = stem + QStringLiteral(" (%1).pdf").arg(n);
        if (!taken(candidate))
            return candidate;
    }
}
