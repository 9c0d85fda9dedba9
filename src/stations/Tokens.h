#pragma once

#include <QString>
#include <QStringList>

// Removes leading and trailing space characters only (tabs stay).
QString trimBlanks(const QString &text);

// Typed or pasted text: cut at every comma, blank and CR LF pair; from each piece
// whatever stands in front of a positive number is stripped a character at a time.
// Returns the entries to add, in text order of appearance.
QStringList pasteEntries(const QString &source);
