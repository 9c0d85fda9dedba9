#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The sheet name read from a data sheet's extracted text: the station name after
// the first "OXA Name:" (any case), one blank, the qualifier from the next line,
// ".pdf". No value when no line carries the label.
std::optional<QString> sheetNameFromText(const QStringList &lines);

// The station's whole name on its sheet: what follows the first "OXA Name:" on its
// line, up to a wide gap (the next column of the layout), without surrounding blanks;
// empty when no line carries the label.
QString stationNameFromText(const QStringList &lines);

// Makes a name safe to create in a folder: "/", NUL, control characters and half
// surrogate pairs become "-", a leading "." gets a "-" in front, and an overlong name
// is shortened.
QString safeFileName(const QString &name);

// name, or name with " (2)", " (3)", … before ".pdf" when taken already.
QString unusedFileName(const QString &folder, const QString &name);
