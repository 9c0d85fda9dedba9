#include "SettingsFile.h"

#include <QStringDecoder>

namespace {

// A carriage return counts too: a file written with CR LF line ends, or a stray one.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// The bytes as they stand: a byte-order mark inside a line is a character like any other.
QString decoded(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(bytes);
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
            section = decoded(trimmed(line.sliced(1, line.size() - 2)));
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        const QByteArrayView key = equals < 0 ? QByteArrayView() : trimmed(line.first(equals));
        if (key.isEmpty()) {
            file.strayLines << number;
            continue;
        }
        QByteArrayView value = trimmed(line.sliced(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.sliced(1, value.size() - 2);
        file.entries.append({section, decoded(key), decoded(value), number});
    }
    return file;
}
