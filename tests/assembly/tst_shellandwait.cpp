#include "TestSupport.h"
#include "assembly/ShellAndWait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>

class TestShellAndWait : public QObject {
    Q_OBJECT

private slots:
    void cannotStart_data();
    void cannotStart();
    void waitsForTheEnd();
    void timeOutLeavesChildRunning();
    void argumentsReachChildUnchanged();
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
    QElapsedTimer timer;
    timer.start();
    const ShellResult r = ShellAndWait({program, {}}, 0, -1);
    QCOMPARE(r.result, result);
    QVERIFY(!r.succeeded());
    QVERIFY(timer.elapsed() < 5000);
}

void TestShellAndWait::waitsForTheEnd()
{
    QTemporaryDir dir;
    const QString mark = dir.filePath("done");
    const ShellResult r =
        ShellAndWait({"/bin/sh", {"-c", "sleep 0.3; touch \"$0\"; exit 3", mark}}, 0, -1);
    QCOMPARE(r.result, 0);
    QCOMPARE(r.exitCode, 3);
    QVERIFY(!r.succeeded());
    QVERIFY(QFile::exists(mark));
}

void TestShellAndWait::timeOutLeavesChildRunning()
{
    QElapsedTimer timer;
    timer.start();
    const ShellResult r = ShellAndWait({"/bin/sleep", {"30"}}, 0, 1000);
    const qint64 waited = timer.elapsed();
    QCOMPARE(r.result, ShellResult::TimedOut);
    QVERIFY(waited >= 900 && waited < 10000);
    QVERIFY(r.pid > 0);
    QCOMPARE(::kill(pid_t(r.pid), 0), 0); // still there
    ::kill(pid_t(r.pid), SIGKILL);
}

void TestShellAndWait::argumentsReachChildUnchanged()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("args");
    const QStringList arguments = {"two words", "q\"uo'te", "tab\there", "*.pdf", "a=b", ""};
    QStringList all{"-c", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$0\"", out};
    all += arguments;
    QCOMPARE(ShellAndWait({"/bin/sh", all}, 0, -1).result, 0);
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringList expected;
    for (const QString &a : arguments)
        expected << QLatin1Char('[') + a + QLatin1Char(']');
    QCOMPARE(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

QTEST_GUILESS_MAIN(TestShellAndWait)
#include "tst_shellandwait.moc"
