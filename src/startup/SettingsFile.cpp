#include "SettingsFile.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && (isBlank(text.back()) || text.back() == '\r'))
        text.chop(1);
    return text;
}

} // namespace

SettingsFile SettingsFile::parse(QByteArrayView text)
{
    SettingsFile file;
    QString section;
    int number = 0;
    // A UTF-8 byte-order mark, as some editors write one.
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    while (!text.isEmpty()) {
        ++number;
        const qsizetype end = text.indexOf('\n');
        const QByteArrayView line = trimmed(end < 0 ? text : text.first(end));
        text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
        if (line.isEmpty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = QString::fromUtf8(trimmed(line.sliced(1, line.size() - 2)));
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0) {
            file.strayLines << number;
            continue;
        }
        QByteArrayView value = trimmed(line.sliced(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.sliced(1, value.size() - 2);
        file.entries.append({section, QString::fromUtf8(trimmed(line.first(equals))),
                             QString::fromUtf8(value), number});
    }
    return file;
}
