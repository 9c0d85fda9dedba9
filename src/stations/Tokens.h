#pragma once

#include <QString>
#include <QStringList>

// A token longer than this cannot be a station number. Dropping such tokens keeps
// a pasted or imported blob without separators from costing time and memory.
inline constexpr qsizetype MaxTokenLength = 4096;

// Removes leading and trailing space characters only (tabs stay).
QString trimBlanks(const QString &text);

// GSIDs are separated by commas, by every white-space character (blank, tab, line
// ends, form feed, no-break and other Unicode spaces) and by every control character
// (U+0000-U+001F, U+007F).
bool isSeparator(QChar c);

// Where the rest of the piece first reads as a positive number (leadingValue > 0),
// or -1: the same answer as stripping one character at a time, in linear time.
qsizetype positiveNumberStart(QStringView piece);

// Typed or pasted text: cut at every separator; from each piece whatever stands in
// front of a positive number is stripped. Returns the entries to add, in order of
// appearance.
QStringList pasteEntries(const QString &source);
