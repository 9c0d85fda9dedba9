// One Continue in the real window, offscreen, with the real tools:
//   bench_build <share folder | ftp host:port | https://web/url/> <gsid file> <output.pdf> <temp
//   folder>
// The list comes in through the command line, as a user's would; only Continue is
// timed, from the click to the window ready again. A 10 ms timer records the longest
// time the event loop went without running meanwhile. The FTP connections come from
// BRINDLEWICK_FTP_CONNECTIONS (default 4), a web server's authority from
// BRINDLEWICK_CA_FILE, the bookmarks are left out with
// BRINDLEWICK_BOOKMARKS=0. Prints one line of key=value figures;
// fails when the build reports anything.
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

long peakKilobytes(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr,
                     "usage: bench_build <share|host:port> <gsids> <out.pdf> <temp folder>\n");
        return 2;
    }
    Settings settings;
    settings.programDir = programFolder();
    const bool share = QFileInfo(args[1]).isDir();
    const bool web = args[1].startsWith("https://");
    settings.sources.shareDir = share ? args[1] + "/" : "/nonexistent/share/";
    settings.sources.ftpHost = share || web ? QString() : args[1];
    settings.sources.webUrl = web ? args[1] : QString();
    settings.sources.caFile = qEnvironmentVariable("BRINDLEWICK_CA_FILE");
    settings.tempRoot = QDir(args[4]).absolutePath(); // the workspace is made in it
    // Bookmarks as the settings would give them: on unless turned off.
    settings.bookmarks = qEnvironmentVariable("BRINDLEWICK_BOOKMARKS") != "0";
    const int connections = qEnvironmentVariableIntValue("BRINDLEWICK_FTP_CONNECTIONS");
    settings.sources.ftpConnections = connections < 1 ? 4 : connections;

    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(settings, {args[2]}, fso, ui);
    if (!window.Form_Load() || window.sourceMode() != (share ? SourceMode::Share
                                                       : web ? SourceMode::Web
                                                             : SourceMode::Ftp)) {
        std::fprintf(stderr, "bench_build: the source %s was not taken\n", qPrintable(args[1]));
        return 1;
    }
    window.show();
    const qsizetype stations = window.stationList().count();
    window.findChild<QLineEdit *>("txtOutFile")->setText(args[3]);

    QEventLoop loop;
    QObject::connect(&window, &frmMain::buildFinished, &loop, &QEventLoop::quit);
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    QElapsedTimer timer;
    timer.start();
    sinceTick.start();
    ticks.start(10);
    window.findChild<QPushButton *>("btnContinue")->click();
    if (window.isBuilding())
        loop.exec();
    ticks.stop();
    longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed()); // the last stretch too
    const qint64 elapsed = timer.elapsed();

    for (const auto &m : std::as_const(ui.messages))
        std::fprintf(stderr, "bench_build: %s\n", qPrintable(m.text));
    if (!ui.messages.isEmpty() || !window.stationList().isEmpty())
        return 1;
    std::printf("stations=%lld wall_ms=%lld peak_kb=%ld children_peak_kb=%ld gap_ms=%lld\n",
                static_cast<long long>(stations), static_cast<long long>(elapsed),
                peakKilobytes(RUSAGE_SELF), peakKilobytes(RUSAGE_CHILDREN),
                static_cast<long long>(longestGapNs / 1000000));
    return 0;
}
