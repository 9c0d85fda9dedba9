#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>

class StationList;

// A property that fails ends the run with a message on standard error and abort(), so
// that libFuzzer keeps the input. The detail is made only then.
[[noreturn]] void propertyFailed(const char *property, const QString &detail);
#define FUZZ_CHECK(condition, detail) ((condition) ? void() : propertyFailed(#condition, detail))

// The text with what cannot be seen as \uXXXX, and quoted, for the messages.
QString shown(QStringView text);

// The fuzz input as text: UTF-8 (malformed sequences become U+FFFD).
inline QString utf8Text(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// U+0000-U+001F and U+007F: never in an entry of the list nor in a file name.
inline bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// Adds the entries to the list as the window does, and checks the list's properties:
// ordered by entryLess, no repeats, at most MaxEntries entries; the entries added are in
// it, each a station number without a separator or a control character.
void addAndCheck(StationList &list, const QStringList &added);
