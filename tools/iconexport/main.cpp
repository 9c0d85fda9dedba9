// Writes the program's icon as PNG files for the desktop's icon theme:
// iconexport <folder>  ->  <folder>/<size>x<size>/apps/brindlewick.png
#include "ui/AppIcon.h"

#include <QDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: iconexport <folder>\n");
        return 2;
    }
    for (const int size : IconSizes) {
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) ||
            !appIconImage(size).save(folder + QStringLiteral("/brindlewick.png"), "PNG")) {
            std::fprintf(stderr, "iconexport: cannot write below %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
