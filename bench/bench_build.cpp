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

// Times every event the loop delivers, summed by receiver and event type between two
// ticks of the gap timer: the longest gap's sums tell which step held the loop.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const QString who = QString::fromLatin1(receiver->metaObject()->className()) +
                            QLatin1Char('/') + QString::number(int(event->type()));
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        auto &[count, ns] = m_sinceTick[who];
        ++count;
        ns += timer.nsecsElapsed();
        return handled;
    }
    // A tick of the gap timer: the gap that ends here, if the longest, keeps its sums.
    void tick(qint64 gapNs, qint64 atMs)
    {
        if (gapNs > m_worstGapNs) {
            m_worstGapNs = gapNs;
            QList<std::pair<qint64, QString>> parts;
            for (auto it = m_sinceTick.cbegin(); it != m_sinceTick.cend(); ++it)
                parts.append({it->second, QStringLiteral("%1 x%2 %3 ms")
                                              .arg(it.key())
                                              .arg(it->first)
                                              .arg(it->second / 1000000)});
            std::sort(parts.begin(), parts.end(), std::greater<>());
            worst = QStringLiteral("%1 ms at %2 ms:").arg(gapNs / 1000000).arg(atMs);
            for (qsizetype i = 0; i < std::min<qsizetype>(parts.size(), 6); ++i)
                worst += QStringLiteral(" ") + parts[i].second + QLatin1Char(';');
        }
        m_sinceTick.clear();
    }
    QString worst;

private:
    int m_depth = 0;
    qint64 m_worstGapNs = 0;
    QHash<QString, std::pair<int, qint64>> m_sinceTick;
};

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
    TimedApplication app(argc, argv);
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
    QElapsedTimer timer;
    qint64 longestGapNs = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        app.tick(sinceTick.nsecsElapsed(), timer.elapsed());
        sinceTick.start();
    });
    timer.start();
    sinceTick.start();
    ticks.start(10);
    window.findChild<QPushButton *>("btnContinue")->click();
    if (window.isBuilding())
        loop.exec();
    ticks.stop();
    longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed()); // the last stretch too
    app.tick(sinceTick.nsecsElapsed(), timer.elapsed());
    const qint64 elapsed = timer.elapsed();

    for (const auto &m : std::as_const(ui.messages))
        std::fprintf(stderr, "bench_build: %s\n", qPrintable(m.text));
    if (!ui.messages.isEmpty() || !window.stationList().isEmpty())
        return 1;
    std::printf("stations=%lld wall_ms=%lld peak_kb=%ld children_peak_kb=%ld gap_ms=%lld\n",
                static_cast<long long>(stations), static_cast<long long>(elapsed),
                peakKilobytes(RUSAGE_SELF), peakKilobytes(RUSAGE_CHILDREN),
                static_cast<long long>(longestGapNs / 1000000));
    // What held the loop in its longest gap (receiver's class / event type), on standard error.
    std::fprintf(stderr, "bench_build: longest gap %s\n", qPrintable(app.worst));
    return 0;
}
