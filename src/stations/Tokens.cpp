#include "Tokens.h"

#include "LeadingValue.h"

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

bool isSeparator(QChar c)
{
    // Every kind of white space: text copied on Linux ends lines in LF, spreadsheets
    // put tabs between cells, and web pages carry no-break spaces. A control character
    // (a NUL from a binary export, say) ends a GSID too, or the GSID would carry it.
    return c == QLatin1Char(',') || c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f;
}

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

qsizetype positiveNumberStart(QStringView piece)
{
    // A number's value at one of its digits is at most its value at the first digit
    // of the same part (whole or fraction), so one look per part is enough: a part
    // that reads as zero (all zeros, or too small to be held) reads as zero from any
    // later digit too. Each character is looked at a bounded number of times.
    const qsizetype n = piece.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = piece[i];
        if (c == QLatin1Char('+')) {
            if (leadingValue(piece.mid(i)) > 0)
                return i;
            ++i;
            continue;
        }
        if (!isDigit(c) && c != QLatin1Char('.')) {
            ++i;
            continue;
        }
        qsizetype end = i;
        qsizetype point = -1;
        while (end < n && (isDigit(piece[end]) || (piece[end] == QLatin1Char('.') && point < 0))) {
            if (piece[end] == QLatin1Char('.'))
                point = end;
            ++end;
        }
        if (leadingValue(piece.mid(i)) > 0)
            return i;
        if (point >= i && point + 1 < end && leadingValue(piece.mid(point + 1)) > 0)
            return point + 1;
        i = end;
    }
    return -1;
}

QStringList pasteEntries(const QString &source)
{
    QStringList out;
    const QStringView text(source);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSeparator(text[i]))
            continue;
        const QStringView piece = text.mid(start, i - start);
        start = i + 1;
        if (piece.isEmpty() || piece.size() > MaxTokenLength)
            continue;
        // Whatever stands in front of a positive number goes: "GSID:777" adds 777.
        const qsizetype from = positiveNumberStart(piece);
        if (from >= 0)
            out << piece.mid(from).toString();
    }
    return out;
}
