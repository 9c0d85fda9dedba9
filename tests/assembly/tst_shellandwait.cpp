#include "TestSupport.h"
#include "assembly/ShellAndWait.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <QTimer>

class TestShellAndWait : public QObject {
    Q_OBJECT

private slots:
    void cannotStart_data();
    void cannotStart();
    void argumentsReachChildUnchangedAndItsEndIsAwaited();
    void stopEndsTheToolAndItsChildren();
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

void TestShellAndWait::argumentsReachChildUnchangedAndItsEndIsAwaited()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("args");
    const QStringList arguments = {"two words", "q\"uo'te", "tab\there", "*.pdf", "a=b", ""};
    const QString script = "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$0\"; exit 3";
    const ShellResult r =
        ShellAndWait({"/bin/sh", QStringList{"-c", script, out} + arguments}, 0, -1);
    QCOMPARE(r.result, ShellResult::Finished);
    QCOMPARE(r.exitCode, 3);
    QVERIFY(!r.succeeded());
    QStringList expected;
    for (const QString &a : arguments)
        expected << QLatin1Char('[') + a + QLatin1Char(']');
    QCOMPARE(QString::fromUtf8(readFile(out)).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             expected);
}

void TestShellAndWait::stopEndsTheToolAndItsChildren()
{
    // pdftk is a script that runs Java: its child must go with it. Stopped once the
    // child has said it runs.
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    std::atomic<bool> stop{false};
    ShellResult r;
    QThread *waiter = QThread::create([&] {
        r = ShellAndWait({"/bin/sh", {"-c", "sleep 600 & echo $! > \"$0\"; wait", pidFile}}, 0, -1,
                         &stop);
    });
    waiter->start();
    QTRY_VERIFY_WITH_TIMEOUT(!readFile(pidFile).trimmed().isEmpty(), EventBound);
    stop = true;
    QTRY_VERIFY_WITH_TIMEOUT(waiter->isFinished(), EventBound);
    delete waiter;
    QCOMPARE(r.result, ShellResult::TimedOut);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + readFile(pidFile).trimmed()),
                             EventBound);
}

QTEST_GUILESS_MAIN(TestShellAndWait)
#include "tst_shellandwait.moc"
