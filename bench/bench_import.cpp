// Importing a 32,767-line GSID file into the main window: the median of several
// runs, each into a fresh window.
#include "TestSupport.h"
#include "platform/ScriptedInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Sandbox box;
    QDir().mkpath(box.share());
    const QString file = box.dir.filePath("gsids.txt");
    QByteArray text;
    // Shuffled, so that insertion order differs from list order.
    for (int i = 0; i < 32767; ++i)
        text += QByteArray::number(100000 + (i * 7919) % 32767) + "\r\n";
    writeFile(file, text);

    const int runs = argc > 1 ? atoi(argv[1]) : 7;
    QList<qint64> times;
    for (int run = 0; run < runs; ++run) {
        FileSystem fso;
        ScriptedInteraction ui;
        frmMain window(box.settings(), fso, ui);
        window.Form_Load();
        window.show();
        auto *list = window.findChild<QComboBox *>("cmbGsidList");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QElapsedTimer timer;
        timer.start();
        QApplication::sendEvent(list, &enter);
        QApplication::sendEvent(list, &drop);
        times << timer.elapsed();
        if (list->count() != 32767) {
            std::fprintf(stderr, "expected 32767 entries, got %d\n", list->count());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "import of 32767 GSIDs into the window: median %lld ms (min %lld, max %lld, %d runs)\n",
        times[times.size() / 2], times.first(), times.last(), runs);
    return 0;
}
