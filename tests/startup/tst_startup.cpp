#include "TestSupport.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"
#include "startup/CommandLine.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void shareWinsOverFtp();
    void ftpWhenShareAbsent();
    void neitherSourceIsFatal();
    void workspaceEmptiedKeepingSubfolders();
    void workspaceCreated();
    void unsafeWorkspaceRefused_data();
    void unsafeWorkspaceRefused();
    void pdfToTextCommandKeepsProgramFolderWhole();
    void commandLinePath_data();
    void commandLinePath();
    void commandLineImportsFile();
    void exitRemovesWorkspace();
};

void TestStartup::shareWinsOverFtp()
{
    Sandbox box;
    writeSheets(box.share(),
                {station(QStringLiteral("1"), QStringLiteral("A"), QStringLiteral("B, C"))});
    FtpServer server(box.dir.path());
    QVERIFY(server.start());
    AppSettings settings = box.settings();
    settings.ftpHost = server.host();
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(settings, fso, ui);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.sourceMode(), SourceMode::Share);
    QVERIFY(!window.ftp());
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(window.helpFile(), programFolder() + QStringLiteral("/Brindlewick.hlp"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblCount"))->text(),
             QStringLiteral("No Data Sheets Loaded"));
}

void TestStartup::ftpWhenShareAbsent()
{
    Sandbox box;
    FtpServer server(box.dir.path());
    QVERIFY(server.start());
    AppSettings settings = box.settings();
    settings.ftpHost = server.host();
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(settings, fso, ui);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.sourceMode(), SourceMode::Ftp);
    QVERIFY(window.ftp());
    QVERIFY(window.ftp()->setCurrentDirectory(QStringLiteral("/"))); // a live connection
}

void TestStartup::neitherSourceIsFatal()
{
    Sandbox box;
    QDir().mkpath(box.workspace());
    writeFile(box.workspace() + QStringLiteral("keep.pdf"), "x");
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(box.settings(), fso, ui);
    QVERIFY(!window.Form_Load());
    QVERIFY(ui.ended);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(ui.messages[0].text,
             QStringLiteral("Unable to locate either Network or FTP directories."));
    QVERIFY(QFile::exists(box.workspace() + QStringLiteral("keep.pdf")));
    QVERIFY(!window.isVisible());
}

void TestStartup::workspaceEmptiedKeepingSubfolders()
{
    Sandbox box;
    QDir().mkpath(box.share());
    QDir().mkpath(box.workspace() + QStringLiteral("sub"));
    writeFile(box.workspace() + QStringLiteral("Temp.pdf"), "x");
    writeFile(box.workspace() + QStringLiteral(".hidden"), "x");
    writeFile(box.workspace() + QStringLiteral("ro.txt"), "x");
    QFile::setPermissions(box.workspace() + QStringLiteral("ro.txt"), QFileDevice::ReadOwner);
    writeFile(box.workspace() + QStringLiteral("sub/inner.txt"), "x");
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(box.settings(), fso, ui);
    QVERIFY(window.Form_Load());
    QCOMPARE(QDir(box.workspace()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFile::exists(box.workspace() + QStringLiteral("sub/inner.txt")));
}

void TestStartup::workspaceCreated()
{
    Sandbox box;
    QDir().mkpath(box.share());
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(box.settings(), fso, ui);
    QVERIFY(window.Form_Load());
    QVERIFY(QFileInfo(box.workspace()).isDir());
}

void TestStartup::unsafeWorkspaceRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("a file") << "file";
    QTest::newRow("cannot be created") << "uncreatable";
}

void TestStartup::unsafeWorkspaceRefused()
{
    QFETCH(QString, kind);
    Sandbox box;
    QDir().mkpath(box.share());
    const QString target = box.dir.filePath(QStringLiteral("target"));
    QDir().mkpath(target);
    writeFile(target + QStringLiteral("/precious.txt"), "keep me");
    AppSettings settings = box.settings();
    if (kind == QStringLiteral("link"))
        QVERIFY(QFile::link(target, box.workspace().chopped(1)));
    else if (kind == QStringLiteral("file"))
        writeFile(box.workspace().chopped(1), "a file");
    else
        settings.workspaceDir = box.dir.filePath(QStringLiteral("no/such/parent/DS~Temp/"));
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(settings, fso, ui);
    QVERIFY(!window.Form_Load());
    QVERIFY(ui.ended);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].text,
             QStringLiteral("Unable to use the workspace folder ") + settings.workspaceDir + '.');
    QVERIFY(QFile::exists(target + QStringLiteral("/precious.txt")));
}

void TestStartup::pdfToTextCommandKeepsProgramFolderWhole()
{
    const ShellCommand c =
        pdfToTextCommand(QStringLiteral("/opt/my tools"), QStringLiteral("/tmp/DS~Temp/"));
    QCOMPARE(c.program, QStringLiteral("/opt/my tools/pdftotext"));
    QCOMPARE(c.arguments,
             (QStringList{"-q", "-layout", "/tmp/DS~Temp/Temp.pdf", "/tmp/DS~Temp/Text.txt"}));
    QCOMPARE(c.text(), QStringLiteral("/opt/my tools/pdftotext -q -layout /tmp/DS~Temp/Temp.pdf "
                                      "/tmp/DS~Temp/Text.txt"));
}

void TestStartup::commandLinePath_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("path");
    QTest::newRow("none") << ""
                          << "";
    QTest::newRow("spaces only") << "   "
                                 << "";
    QTest::newRow("quoted with spaces") << "\"/my data/list.txt\""
                                        << "/my data/list.txt";
    QTest::newRow("two quoted: first") << "\"/a.txt\" \"/b.txt\""
                                       << "/a.txt";
    QTest::newRow("two unquoted: whole") << "/a.txt /b.txt"
                                         << "/a.txt /b.txt";
    QTest::newRow("empty quotes") << "\"\""
                                  << "";
    QTest::newRow("spaces inside quotes") << "\" /a.txt \""
                                          << "/a.txt";
    QTest::newRow("quoted spaces only") << "\"   \""
                                        << "";
    QTest::newRow("no closing quote") << "\"/a b.txt"
                                      << "/a b.txt";
    QTest::newRow("lone quote") << "\""
                                << "";
    QTest::newRow("tab kept") << "\t/a.txt"
                              << "\t/a.txt";
    QTest::newRow("surrounding spaces") << "  /a.txt  "
                                        << "/a.txt";
}

void TestStartup::commandLinePath()
{
    QFETCH(QString, command);
    QFETCH(QString, path);
    QCOMPARE(::commandLinePath(command), path);
}

void TestStartup::commandLineImportsFile()
{
    Sandbox box;
    QDir().mkpath(box.share());
    const QString list = box.dir.filePath(QStringLiteral("my list.txt"));
    writeFile(list, "300\n100, 200\n");
    AppSettings settings = box.settings();
    settings.commandLine = QLatin1Char('"') + list + QLatin1Char('"');
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(settings, fso, ui);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.stationList().entries(), (QStringList{"100", "200", "300"}));
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("txtInFile"))->text(), list);
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("txtOutFile"))->text(),
             box.dir.filePath(QStringLiteral("my list.pdf")));

    // A path naming no file is reported, and the program goes on with an empty list.
    settings.commandLine = box.dir.filePath(QStringLiteral("absent.txt"));
    ScriptedInteraction ui2;
    frmMain second(settings, fso, ui2);
    QVERIFY(second.Form_Load());
    QVERIFY(!ui2.ended);
    QCOMPARE(ui2.messages.size(), 1);
    QCOMPARE(ui2.messages[0].text,
             QStringLiteral("Unable to read the file ") + settings.commandLine + '.');
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("lblCount"))->text(),
             QStringLiteral("No Data Sheets Loaded"));
}

void TestStartup::exitRemovesWorkspace()
{
    Sandbox box;
    QDir().mkpath(box.share());
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(box.settings(), fso, ui);
    QVERIFY(window.Form_Load());
    QDir().mkpath(box.workspace() + QStringLiteral("sub"));
    writeFile(box.workspace() + QStringLiteral("sub/ro.txt"), "x");
    QFile::setPermissions(box.workspace() + QStringLiteral("sub/ro.txt"), QFileDevice::ReadOwner);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnExit")), Qt::LeftButton);
    QVERIFY(ui.ended);
    QCOMPARE(ui.exitCode, 0);
    QVERIFY(!QFileInfo::exists(box.workspace()));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
