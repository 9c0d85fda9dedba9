#include "CommandLine.h"

#include "stations/Tokens.h"

QString commandLinePath(const QString &commandText)
{
    QString argument = trimBlanks(commandText);
    if (argument.startsWith(QLatin1Char('"'))) {
        argument.remove(0, 1);
        const qsizetype quote = argument.indexOf(QLatin1Char('"'));
        if (quote >= 0)
            argument.truncate(quote);
    }
    // A quoted part of nothing but spaces names no file.
    return trimBlanks(argument);
}
