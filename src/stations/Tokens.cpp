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

QStringList pasteEntries(const QString &source)
{
    QStringList out;
    auto takePiece = [&](QStringView piece) {
        if (piece.size() > MaxTokenLength)
            return;
        // Strip one character at a time until a positive number starts the piece.
        for (qsizetype i = 0; i < piece.size(); ++i) {
            const QStringView rest = piece.mid(i);
            if (leadingValue(rest) > 0) {
                out << rest.toString();
                return;
            }
        }
    };
    const QStringView text(source);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const bool crlf = !end && text[i] == QLatin1Char('\r') && i + 1 < text.size() &&
                          text[i + 1] == QLatin1Char('\n');
        if (end || crlf || text[i] == QLatin1Char(',') || text[i] == QLatin1Char(' ')) {
            if (i > start)
                takePiece(text.mid(start, i - start));
            if (crlf)
                ++i;
            start = i + 1;
        }
    }
    return out;
}
