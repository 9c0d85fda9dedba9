#include "TestSupport.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"
#include "startup/CommandLine.h"
#include "ui/frmMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void shareWinsOverFtp();
    void ftpWhenShareAbsent();
    void neitherSourceIsFatal();
    void workspaceEmptiedKeepingSubfolders();
    void unsafeWorkspaceRefused_data();
    void unsafeWorkspaceRefused();
    void pdfToTextCommandKeepsProgramFolderWhole();
    void commandLinePath_data();
    void commandLinePath();
    void commandLineImportsFile();
    void exitRemovesWorkspace();

private:
    bool load(const AppSettings &settings)
    {
        m_ui = ScriptedInteraction();
        m_window = std::make_unique<frmMain>(settings, m_fso, m_ui);
        return m_window->Form_Load();
    }
    QString text(const char *name) const
    {
        QObject *o = m_window->findChild<QObject *>(QString::fromLatin1(name));
        return o->property("text").toString();
    }

    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
    std::unique_ptr<frmMain> m_window;
};

void TestStartup::init()
{
    m_box = std::make_unique<Sandbox>();
    QDir().mkpath(m_box->share());
}

void TestStartup::shareWinsOverFtp()
{
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    AppSettings settings = m_box->settings();
    settings.ftpHost = server.host();
    QVERIFY(load(settings));
    QCOMPARE(m_window->sourceMode(), SourceMode::Share);
    QVERIFY(!m_window->ftp());
    QVERIFY(m_ui.messages.isEmpty());
    QCOMPARE(m_window->helpFile(), programFolder() + "/Brindlewick.hlp");
    QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
    QVERIFY(QFileInfo(m_box->workspace()).isDir()); // created
}

void TestStartup::ftpWhenShareAbsent()
{
    QDir(m_box->share()).removeRecursively();
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    AppSettings settings = m_box->settings();
    settings.ftpHost = server.host();
    QVERIFY(load(settings));
    QCOMPARE(m_window->sourceMode(), SourceMode::Ftp);
    QVERIFY(m_window->ftp());
    QVERIFY(m_window->ftp()->setCurrentDirectory("/")); // a live connection
}

void TestStartup::neitherSourceIsFatal()
{
    QDir(m_box->share()).removeRecursively();
    QDir().mkpath(m_box->workspace());
    writeFile(m_box->workspace() + "keep.pdf", "x");
    QVERIFY(!load(m_box->settings()));
    QVERIFY(m_ui.ended);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].title, "Error");
    QCOMPARE(m_ui.messages[0].text, "Unable to locate either Network or FTP directories.");
    QVERIFY(QFile::exists(m_box->workspace() + "keep.pdf"));
    QVERIFY(!m_window->isVisible());
}

void TestStartup::workspaceEmptiedKeepingSubfolders()
{
    const QString ws = m_box->workspace();
    QDir().mkpath(ws + "sub");
    for (const char *name : {"Temp.pdf", ".hidden", "ro.txt", "sub/inner.txt"})
        writeFile(ws + name, "x");
    QFile::setPermissions(ws + "ro.txt", QFileDevice::ReadOwner);
    QVERIFY(load(m_box->settings()));
    QCOMPARE(QDir(ws).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFile::exists(ws + "sub/inner.txt"));
}

void TestStartup::unsafeWorkspaceRefused_data()
{
    QTest::addColumn<QString>("kind");
    // clang-format off
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("a file") << "file";
    QTest::newRow("cannot be created") << "uncreatable";
    // clang-format on
}

void TestStartup::unsafeWorkspaceRefused()
{
    QFETCH(QString, kind);
    const QString target = m_box->dir.filePath("target");
    QDir().mkpath(target);
    writeFile(target + "/precious.txt", "keep me");
    AppSettings settings = m_box->settings();
    if (kind == "link")
        QVERIFY(QFile::link(target, m_box->workspace().chopped(1)));
    else if (kind == "file")
        writeFile(m_box->workspace().chopped(1), "a file");
    else
        settings.workspaceDir = m_box->dir.filePath("no/such/parent/DS~Temp/");
    QVERIFY(!load(settings));
    QVERIFY(m_ui.ended);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text,
             "Unable to use the workspace folder " + settings.workspaceDir + '.');
    QVERIFY(QFile::exists(target + "/precious.txt"));
}

void TestStartup::pdfToTextCommandKeepsProgramFolderWhole()
{
    const ShellCommand c = pdfToTextCommand("/opt/my tools", "/tmp/DS~Temp/");
    QCOMPARE(c.program, "/opt/my tools/pdftotext");
    QCOMPARE(c.arguments,
             (QStringList{"-q", "-layout", "/tmp/DS~Temp/Temp.pdf", "/tmp/DS~Temp/Text.txt"}));
    QCOMPARE(c.text(),
             "/opt/my tools/pdftotext -q -layout /tmp/DS~Temp/Temp.pdf /tmp/DS~Temp/Text.txt");
}

void TestStartup::commandLinePath_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("path");
    // clang-format off
    QTest::newRow("none") << "" << "";
    QTest::newRow("spaces only") << "   " << "";
    QTest::newRow("quoted with spaces") << "\"/my data/list.txt\"" << "/my data/list.txt";
    QTest::newRow("two quoted: first") << "\"/a.txt\" \"/b.txt\"" << "/a.txt";
    QTest::newRow("two unquoted: whole") << "/a.txt /b.txt" << "/a.txt /b.txt";
    QTest::newRow("empty quotes") << "\"\"" << "";
    QTest::newRow("spaces inside quotes") << "\" /a.txt \"" << "/a.txt";
    QTest::newRow("quoted spaces only") << "\"   \"" << "";
    QTest::newRow("no closing quote") << "\"/a b.txt" << "/a b.txt";
    QTest::newRow("lone quote") << "\"" << "";
    QTest::newRow("tab kept") << "\t/a.txt" << "\t/a.txt";
    QTest::newRow("surrounding spaces") << "  /a.txt  " << "/a.txt";
    // clang-format on
}

void TestStartup::commandLinePath()
{
    QFETCH(QString, command);
    QFETCH(QString, path);
    QCOMPARE(::commandLinePath(command), path);
}

void TestStartup::commandLineImportsFile()
{
    const QString list = m_box->dir.filePath("my list.txt");
    writeFile(list, "300\n100, 200\n");
    AppSettings settings = m_box->settings();
    settings.commandLine = '"' + list + '"';
    QVERIFY(load(settings));
    QCOMPARE(m_window->stationList().entries(), (QStringList{"100", "200", "300"}));
    QCOMPARE(text("txtInFile"), list);
    QCOMPARE(text("txtOutFile"), m_box->dir.filePath("my list.pdf"));

    // A path naming no file is reported, and the program goes on with an empty list.
    settings.commandLine = m_box->dir.filePath("absent.txt");
    QVERIFY(load(settings));
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, "Unable to read the file " + settings.commandLine + '.');
    QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
}

void TestStartup::exitRemovesWorkspace()
{
    QVERIFY(load(m_box->settings()));
    QDir().mkpath(m_box->workspace() + "sub");
    writeFile(m_box->workspace() + "sub/ro.txt", "x");
    QFile::setPermissions(m_box->workspace() + "sub/ro.txt", QFileDevice::ReadOwner);
    QTest::mouseClick(m_window->findChild<QPushButton *>("btnExit"), Qt::LeftButton);
    QVERIFY(m_ui.ended);
    QCOMPARE(m_ui.exitCode, 0);
    QVERIFY(!QFileInfo::exists(m_box->workspace()));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
