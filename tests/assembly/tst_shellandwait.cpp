#include "TestSupport.h"
#include "assembly/ShellAndWait.h"
#include "platform/StopToken.h"
#include "platform/ToolProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

// The one runner of tools, both ways: blocking (ShellAndWait, standard error kept) and
// on the event loop (ToolProcess, standard output read).
class TestShellAndWait : public QObject {
    Q_OBJECT

private slots:
    void cannotStart_data();
    void cannotStart();
    void runs_data();
    void runs();
    void stopEndsTheToolAndItsChildrenAtOnce();
};

void TestShellAndWait::cannotStart_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("result");
    // clang-format off
    QTest::newRow("no such program") << false << ShellResult::StartErrorBase + 53;
    QTest::newRow("not executable") << true << ShellResult::StartErrorBase + 70;
    // clang-format on
}

void TestShellAndWait::cannotStart()
{
    QFETCH(bool, exists);
    QFETCH(int, result);
    QTemporaryDir dir;
    const QString program = dir.filePath("tool");
    if (exists)
        writeFile(program, "#!/bin/sh\n");
    const ShellResult r = ShellAndWait({program, {}});
    QCOMPARE(r.result, result);
    ToolProcess tool;
    QVERIFY(!tool.start(program, {}, toolEnvironment()));
}

void TestShellAndWait::runs_data()
{
    // For /bin/sh: $1 and $2 are descriptors of ours, then come the words below.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    // clang-format off
    // More than a pipe holds, and the end reported only after all of it.
    QTest::newRow("output and exit code") << "head -c 300000 /dev/zero; exit 3" << QByteArray(300000, '\0') << 3 << false;
    QTest::newRow("no input") << "cat" << QByteArray() << 0 << false;
    QTest::newRow("ended by a signal") << "kill -9 $$" << QByteArray() << -1 << true;
    QTest::newRow("no descriptor of ours") << "[ ! -e /proc/$$/fd/$1 ] && [ ! -e /proc/$$/fd/$2 ] || exit 9" << QByteArray() << 0 << false;
    QTest::newRow("words unchanged") << "shift 2; printf '[%s]' \"$@\"" << QByteArray("[two words][q\"uo'te][tab\there][*.pdf][a=b][]") << 0 << false;
    // clang-format on
}

void TestShellAndWait::runs()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, output);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    // Opened without close-on-exec, as a library may: neither may reach a tool.
    const int socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int fileFd = ::open("/dev/null", O_RDONLY);
    const auto closeThem = qScopeGuard([=] { ::close(socketFd), ::close(fileFd); });
    const QStringList words =
        QStringList{"sh", QString::number(socketFd), QString::number(fileFd)} +
        QStringList{"two words", "q\"uo'te", "tab\there", "*.pdf", "a=b", ""};

    ToolProcess tool;
    QByteArray read;
    std::optional<std::pair<int, bool>> end;
    connect(&tool, &ToolProcess::readyRead, this, [&] { read += tool.readAll(); });
    connect(&tool, &ToolProcess::finished, this, [&](int code, bool signalled) {
        QVERIFY(!end);
        end = {code, signalled};
        read += tool.readAll();
    });
    QVERIFY(tool.start("/bin/sh", QStringList{"-c", script} + words, toolEnvironment()));
    QTRY_VERIFY_WITH_TIMEOUT(end, EventBound);
    QCOMPARE(read, output);
    QCOMPARE(end->first, exitCode);
    QCOMPARE(end->second, crashed);

    // Blocking, standard error is kept: its start only.
    const ShellResult r =
        ShellAndWait({"/bin/sh", QStringList{"-c", "exec >&2; " + script} + words});
    QCOMPARE(r.result, ShellResult::Finished);
    QCOMPARE(r.errorOutput, output.left(ShellResult::ErrorOutputKept));
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.crashed, crashed);
}

void TestShellAndWait::stopEndsTheToolAndItsChildrenAtOnce()
{
    // pdftk is a script that runs Java: its child must go with it. Stopped once the
    // child has said it runs.
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    StopToken stop;
    QElapsedTimer sinceStop;
    qint64 returnedAfter = -1;
    ShellResult r;
    QThread *waiter = QThread::create([&] {
        r = ShellAndWait({"/bin/sh", {"-c", "sleep 600 & echo $! > \"$0\"; wait", pidFile}}, &stop);
        returnedAfter = sinceStop.elapsed();
    });
    waiter->start();
    QTRY_VERIFY_WITH_TIMEOUT(!readFile(pidFile).trimmed().isEmpty(), EventBound);
    sinceStop.start();
    stop.stop();
    QTRY_VERIFY_WITH_TIMEOUT(waiter->isFinished(), EventBound);
    delete waiter;
    QCOMPARE(r.result, ShellResult::Stopped);
    QVERIFY2(returnedAfter < 100, qPrintable(QString::number(returnedAfter)));
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + readFile(pidFile).trimmed()),
                             EventBound);
    // Collected too: no zombie is left.
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QList<qint64>(), EventBound);
}

QTEST_GUILESS_MAIN(TestShellAndWait)
#include "tst_shellandwait.moc"
