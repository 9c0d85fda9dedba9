#pragma once

#include <QString>
#include <QStringList>

// A token longer than this cannot be a station number. Dropping such tokens keeps
// a pasted or imported blob without separators from costing time and memory.
inline constexpr qsizetype MaxTokenLength = 4096;

// Removes leading and trailing space characters only (tabs stay).
QString trimBlanks(const QString &text);

// Typed or pasted text: cut at every comma, blank and CR LF pair; from each piece
// whatever stands in front of a positive number is stripped a character at a time.
// Returns the entries to add, in text order of appearance.
QStringList pasteEntries(const QString &source);
