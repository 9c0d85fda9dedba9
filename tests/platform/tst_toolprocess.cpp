#include "TestSupport.h"
#include "assembly/ShellAndWait.h"
#include "platform/ToolProcess.h"

#include <QProcessEnvironment>
#include <QTest>

class TestToolProcess : public QObject {
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
};

void TestToolProcess::runs_data()
{
    QTest::addColumn<QString>("script"); // for /bin/sh; empty: a program that does not exist
    QTest::addColumn<int>("bytes");      // its output's size; -1: it cannot start
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    // clang-format off
    // More than a pipe holds, and the end reported only after all of it.
    QTest::newRow("output and exit code") << "head -c 300000 /dev/zero; exit 3" << 300000 << 3 << false;
    QTest::newRow("no input") << "cat" << 0 << 0 << false;
    QTest::newRow("ended by a signal") << "kill -9 $$" << 0 << -1 << true;
    QTest::newRow("no such program") << "" << -1 << 0 << false;
    // clang-format on
}

void TestToolProcess::runs()
{
    QFETCH(QString, script);
    QFETCH(int, bytes);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    ToolProcess tool;
    QByteArray output;
    std::optional<std::pair<int, bool>> end;
    connect(&tool, &ToolProcess::readyRead, this, [&] { output += tool.readAll(); });
    connect(&tool, &ToolProcess::finished, this, [&](int code, bool signalled) {
        QVERIFY(!end);
        end = {code, signalled};
        output += tool.readAll();
    });
    const bool started = script.isEmpty()
                             ? tool.start("/no/such/tool", {}, toolEnvironment())
                             : tool.start("/bin/sh", {"-c", script}, toolEnvironment());
    QCOMPARE(started, bytes >= 0);
    if (!started)
        return;
    QTRY_VERIFY_WITH_TIMEOUT(end, EventBound);
    QCOMPARE(output.size(), bytes);
    QCOMPARE(end->first, exitCode);
    QCOMPARE(end->second, crashed);
}

QTEST_GUILESS_MAIN(TestToolProcess)
#include "tst_toolprocess.moc"
