// Hundreds of builds in the real window (offscreen), against sources that misbehave:
// an FTP server that refuses connections, leaves RETRs unanswered and cuts sheets
// short at random, allows two connections per address, and is asked for sheets it
// does not have; and a share that holds a named pipe in a sheet's place. Stop and the
// close box come at random moments. After each build the program must be back where
// it started: no worker thread, no child process, no descriptor more.
//   bench_soak [--builds N] [--seed S] [--bound SECONDS]
// Prints one line of key=value figures; exits 1 on a hang or anything left behind.
// Meant for the sanitizer build (bench/soak), where a crash ends it with a report.
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "platform/WorkerThread.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

namespace {

int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot).size());
}

// Runs the event loop until done() holds or the bound passes; false then.
bool waitFor(const std::function<bool()> &done, int boundMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > boundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Soak {
    QTemporaryDir root;
    FileSystem fso;
    ScriptedInteraction ui;
    std::unique_ptr<FtpServer> server;
    QStringList gsids;
    QRandomGenerator random;
    int boundMs = 120000;
    int refusedStarts = 0;

    std::unique_ptr<frmMain> open(bool ftp)
    {
        Settings settings;
        settings.programDir = programFolder();
        settings.sources.shareDir = ftp ? root.filePath("no share/") : root.filePath("share/");
        settings.sources.ftpHost = server->host();
        settings.sources.stallSeconds = 2;
        settings.tempRoot = root.path();
        // A server that refuses at random may refuse the start-up's log-in too: the
        // user starts the program again.
        for (int attempt = 0; attempt < 5; ++attempt) {
            auto window = std::make_unique<frmMain>(settings, QStringList(), fso, ui);
            if (window->Form_Load()) {
                window->show();
                return window;
            }
            ++refusedStarts;
        }
        qFatal("the window did not load five times in a row");
    }

    QStringList list()
    {
        QStringList out;
        const int count = 1 + int(random.bounded(60));
        for (int i = 0; i < count; ++i) {
            const quint32 pick = random.bounded(100);
            if (pick < 8)
                out << QString::number(900000 + random.bounded(1000)); // on no source
            else if (pick < 10)
                out << QStringLiteral("777"); // a named pipe on the share
            else
                out << gsids[int(random.bounded(gsids.size()))];
        }
        return out;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int builds = 300;
    quint32 seed = 1;
    Soak soak;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--builds")
            builds = args[i + 1].toInt();
        else if (args[i] == "--seed")
            seed = args[i + 1].toUInt();
        else if (args[i] == "--bound")
            soak.boundMs = args[i + 1].toInt() * 1000;
    }
    soak.random.seed(seed);

    const QList<DataSheet> stations = longNamedStations(120);
    for (const DataSheet &s : stations)
        soak.gsids << s.gsid;
    if (!writeSheetTree(soak.root.filePath("share"), stations) ||
        !writeSheetTree(soak.root.filePath("ftp/Geod"), stations))
        qFatal("the sheets could not be written");
    for (const char *pipe :
         {"share/PDF Single Sheet/GSID_777.pdf", "share/PDF Metric Sheet/M_GSID_777.pdf"})
        ::mkfifo(QFile::encodeName(soak.root.filePath(pipe)).constData(), 0600);
    FtpServer::Options chaos;
    chaos.chaosSeed = int(seed);
    chaos.maxConsPerIp = 2;
    soak.server = std::make_unique<FtpServer>(soak.root.filePath("ftp"), chaos);
    if (!soak.server->start())
        qFatal("the FTP server did not start");

    std::unique_ptr<frmMain> windows[2] = {soak.open(true), soak.open(false)};
    const QString out = soak.root.filePath("out.pdf");
    int hangs = 0;
    int leftBehind = 0; // builds after which something had not gone
    int closes = 0;
    int stops = 0;
    int fdsAtStart = -1;
    int fdDrift = 0;
    int childrenLeft = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int n = 0; n < builds; ++n) {
        const int which = int(soak.random.bounded(2));
        frmMain *window = windows[which].get();
        soak.ui.messages.clear();
        window->findChild<QPushButton *>("btnClear")->click();
        auto *add = window->findChild<QLineEdit *>("txtAdd");
        add->setText(soak.list().join(' '));
        window->findChild<QPushButton *>("btnPaste")->click();
        window->findChild<QLineEdit *>("txtOutFile")->setText(out);
        window->findChild<QRadioButton *>(soak.random.bounded(2) ? "btnMetric" : "btnEnglish")
            ->setChecked(true);

        bool finished = false;
        const auto connection =
            QObject::connect(window, &frmMain::buildFinished, [&] { finished = true; });
        // Half the builds are left alone; the others are stopped, or their window
        // closed, at a random moment.
        const quint32 action = soak.random.bounded(4);
        QTimer interrupt;
        interrupt.setSingleShot(true);
        QObject::connect(&interrupt, &QTimer::timeout, [&] {
            if (!window->isBuilding())
                return;
            if (action == 2) {
                ++stops;
                window->findChild<QPushButton *>("btnContinue")->click();
            } else {
                ++closes;
                window->close();
            }
        });
        window->findChild<QPushButton *>("btnContinue")->click();
        if (action >= 2)
            interrupt.start(int(soak.random.bounded(3000)));
        if (window->isBuilding() && !waitFor([&] { return finished; }, soak.boundMs)) {
            ++hangs;
            std::fprintf(stderr, "bench_soak: build %d did not end within its bound\n", n);
            window->findChild<QPushButton *>("btnContinue")->click();
            if (!waitFor([&] { return finished; }, 5000))
                qFatal("a build could not even be stopped");
        }
        QObject::disconnect(connection);
        if (!window->isVisible()) // closed: the user starts the program again
            windows[which] = soak.open(which == 0);

        // Everything the build started has gone, within a bound.
        const auto children = [&] {
            QList<qint64> pids = childProcesses();
            pids.removeAll(soak.server->pid());
            return pids.size();
        };
        const bool settled = waitFor(
            [&] {
                return workerThreadsRunning() == 0 && children() == 0 &&
                       (fdsAtStart < 0 || openDescriptors() <= fdsAtStart);
            },
            30000);
        if (n == 1)
            fdsAtStart = openDescriptors(); // once both windows have built
        if (!settled && n > 1) {
            ++leftBehind;
            fdDrift = qMax(fdDrift, openDescriptors() - fdsAtStart);
            childrenLeft = qMax(childrenLeft, int(children()));
            std::fprintf(stderr,
                         "bench_soak: after build %d: %d worker threads, %d children, "
                         "%d descriptors more\n",
                         n, workerThreadsRunning(), int(children()),
                         openDescriptors() - fdsAtStart);
        }
    }
    std::printf("builds=%d stops=%d closes=%d hangs=%d left_behind=%d fd_drift=%d "
                "children_left=%d refused_starts=%d seconds=%lld\n",
                builds, stops, closes, hangs, leftBehind, fdDrift, childrenLeft, soak.refusedStarts,
                static_cast<long long>(elapsed.elapsed() / 1000));
    return hangs == 0 && leftBehind == 0 ? 0 : 1;
}
