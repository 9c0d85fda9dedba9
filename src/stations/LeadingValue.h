#pragma once

#include <QStringView>

// The value of the decimal number a text begins with, or 0. Blanks, tabs and line
// feeds are skipped wherever they stand; the decimal point is always the full stop;
// the exponent letter may be E or D in either case. A number beyond the range of a
// double gives an infinity of its sign rather than failing.
double leadingValue(QStringView text);

// A token names a station when its leading value is greater than zero.
inline bool isStationNumber(QStringView token)
{
    return leadingValue(token) > 0;
}
