// The station list at its largest, in the real window offscreen: importing a file
// of 32,767 GSIDs (dropped on the list), pasting the same as text, removing entries
// and pressing Clear on the full list. Prints the medians as one line of key=value
// figures, in milliseconds.
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "stations/Tokens.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Largest = 32767;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Step> double timed(Step step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? atoi(argv[1]) : 7;
    Sandbox box;
    QDir().mkpath(box.share());
    const QString file = box.dir.filePath("gsids.txt");
    QByteArray text;
    // Shuffled, so that insertion order differs from list order.
    for (int i = 0; i < Largest; ++i)
        text += QByteArray::number(100000 + (i * 7919) % Largest) + "\r\n";
    writeFile(file, text);

    // 1 MB of pieces as long as a piece may be, none of which holds a GSID: the search
    // for a number in each must stay linear in its length.
    QString longPieces;
    while (longPieces.size() < 1024 * 1024)
        longPieces += QString(MaxTokenLength - 1, QLatin1Char('0')) + QLatin1Char('\n');

    QList<double> imports, pastes, removals, clears, strips;
    for (int run = 0; run < runs; ++run) {
        FileSystem fso;
        ScriptedInteraction ui;
        frmMain window(box.settings(), QStringList(), fso, ui);
        window.Form_Load();
        window.show();
        auto *list = window.findChild<QComboBox *>("cmbGsidList");
        auto press = [&](const char *name) { window.findChild<QPushButton *>(name)->click(); };
        auto full = [&] {
            if (list->count() == Largest && window.stationList().count() == Largest)
                return true;
            std::fprintf(stderr, "expected %d entries, got %d\n", Largest, list->count());
            return false;
        };

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        imports << timed([&] {
            QApplication::sendEvent(list, &enter);
            QApplication::sendEvent(list, &drop);
        });
        if (!full())
            return 1;
        // Removing the first entry moves every other one.
        list->setCurrentIndex(0);
        removals << timed([&] { press("btnRemove"); });
        list->setCurrentIndex(Largest / 2);
        removals << timed([&] { press("btnRemove"); });
        if (list->count() != Largest - 2)
            return 1;
        press("btnClear");

        QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
        pastes << timed([&] { press("btnPaste"); });
        if (!full())
            return 1;
        clears << timed([&] { press("btnClear"); });
        if (list->count() != 0)
            return 1;

        QGuiApplication::clipboard()->setText(longPieces);
        strips << timed([&] { press("btnPaste"); });
        if (list->count() != 0)
            return 1;
    }
    std::printf("runs=%d import_ms=%.1f paste_ms=%.1f remove_ms=%.2f clear_ms=%.2f "
                "strip_ms=%.1f\n",
                runs, median(imports), median(pastes), median(removals), median(clears),
                median(strips));
    return 0;
}
