// Writes the bundled sample data sheets: sheetgen <folder> [count]
#include "DataSheet.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: sheetgen <folder> [count]\n");
        return 2;
    }
    const int count = args.size() > 2 ? args[2].toInt() : 25;
    if (!writeSheetTree(args[1], sampleStations(count))) {
        std::fprintf(stderr, "sheetgen: cannot write below %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
