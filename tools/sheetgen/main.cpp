// Writes the bundled sample data sheets, and optionally a GSID list naming them:
// sheetgen <folder> [count] [list-file] [long]
// "long" gives the stations long names and counties.
#include "DataSheet.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: sheetgen <folder> [count] [list-file] [long]\n");
        return 2;
    }
    const int count = args.size() > 2 ? args[2].toInt() : 25;
    const bool longNames = args.size() > 4 && args[4] == QStringLiteral("long");
    const QList<DataSheet> stations = longNames ? longNamedStations(count) : sampleStations(count);
    if (!writeSheetTree(args[1], stations)) {
        std::fprintf(stderr, "sheetgen: cannot write below %s\n", qPrintable(args[1]));
        return 1;
    }
    if (args.size() > 3) {
        QFile list(args[3]);
        if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return 1;
        for (const DataSheet &s : stations)
            list.write(s.gsid.toLatin1() + '\n');
    }
    return 0;
}
