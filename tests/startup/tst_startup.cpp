#include "NginxServer.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "startup/Workspace.h"
#include "ui/frmMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// Start-up as the window goes through it: the source, the workspace, the command line;
// and that the builds use what it settled.
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void shareThenWebThenFtp();
    void neitherSourceIsFatal_data();
    void neitherSourceIsFatal();
    void workspaceNames_data();
    void workspaceNames();
    void secondWindowKeepsOutOfTheFirst();
    void commandLineImportsFile_data();
    void commandLineImportsFile();

private:
    bool load(const Settings &settings, const QStringList &arguments = {})
    {
        m_ui = ScriptedInteraction();
        m_window = std::make_unique<frmMain>(settings, arguments, m_fso, m_ui);
        return m_window->Form_Load();
    }
    QString text(const char *name) const
    {
        return m_window->findChild<QObject *>(QString::fromLatin1(name))
            ->property("text")
            .toString();
    }
    // Adds the GSIDs, names the output and presses Continue; waits for the build, if any.
    void build(const QString &gsids, const QString &output)
    {
        m_window->findChild<QLineEdit *>("txtAdd")->setText(gsids);
        QTest::mouseClick(m_window->findChild<QPushButton *>("btnPaste"), Qt::LeftButton);
        m_window->findChild<QLineEdit *>("txtOutFile")->setText(output);
        QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
        QTest::mouseClick(m_window->findChild<QPushButton *>("btnContinue"), Qt::LeftButton);
        if (m_window->isBuilding())
            QVERIFY(finished.wait(EventBound));
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

void TestStartup::shareThenWebThenFtp()
{
    // The share wins even when the servers answer; the web server without it; FTP only
    // without both. A share on a network mount whose server is gone counts as absent, in
    // time (without FUSE here, it is removed instead). Builds use the source chosen, as it
    // is by then.
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    const QString host = server.host();
    QTemporaryDir certificates;
    NginxServer web(m_box->dir.path(), makeTestCertificates(certificates.path()));
    QVERIFY2(web.start(), qPrintable(web.error()));
    HungMount mount(m_box->share(), m_box->dir.filePath("mount"));
    const bool fuse = mount.start().isEmpty();
    Settings settings = m_box->settings();
    settings.sources.shareDir = fuse ? mount.path() + "/" : m_box->share();
    settings.sources.ftpHost = host;
    settings.sources.webUrl = web.url();
    settings.sources.caFile = certificates.filePath("ca.pem");
    const QString out = m_box->dir.filePath("o.pdf");
    for (const SourceMode expected : {SourceMode::Share, SourceMode::Web, SourceMode::Ftp}) {
        settings.sampleSheets = expected == SourceMode::Web;
        QElapsedTimer shown;
        shown.start();
        QVERIFY(load(settings));
        QVERIFY2(shown.elapsed() < settings.answerMs + 2000,
                 qPrintable(QString::number(shown.elapsed())));
        QCOMPARE(m_window->sourceMode(), expected);
        QCOMPARE(m_window->windowTitle().endsWith(" (sample sheets)"), settings.sampleSheets);
        QVERIFY(m_ui.messages.isEmpty());
        QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
        if (expected == SourceMode::Share) {
            QVERIFY(fuse ? mount.hang() : QDir(m_box->share()).removeRecursively());
        } else if (expected == SourceMode::Web) {
            // No edition folder there: every sheet not found, and the likely cause said.
            build("100", out);
            QVERIFY2(m_ui.messages.value(0).text.endsWith(
                         "Not one of them is on the web server: its folder " + web.url() +
                         "PDF%20Single%20Sheet/ may be missing."),
                     qPrintable(m_ui.messages.value(0).text));
            web.stop();
        }
    }
    // Over FTP: the edition folder missing, then there, then the server gone. The list
    // stays for the next Continue each time.
    build("100", out);
    writeSheets(m_box->dir.filePath("Geod"), {station("100", "ZULU", "A, B")});
    build("", out);
    QCOMPARE(stationNamesOf(out), QStringList{"ZULU"});
    server.stop();
    build("100", out);
    QCOMPARE(m_ui.messages.size(), 2);
    QCOMPARE(m_ui.messages[0].text, "Unable to locate either Network or FTP directories.");
    QCOMPARE(m_ui.messages[1].text,
             "Could not connect to the FTP server " + host + ": Connection refused.");
}

void TestStartup::neitherSourceIsFatal_data()
{
    // What happened at the FTP server, in the details (@HOST@).
    QTest::addColumn<QString>("host"); // "silent": a listener that never greets
    QTest::addColumn<QString>("what");
    // clang-format off
    QTest::newRow("no such host") << "ftp.example.invalid" << "The host name of the FTP server @HOST@ was not found.";
    QTest::newRow("no greeting") << "silent" << "The FTP server @HOST@ did not answer within 2 seconds.";
    // clang-format on
}

void TestStartup::neitherSourceIsFatal()
{
    QFETCH(QString, host);
    QFETCH(QString, what);
    QTcpServer silent;
    if (host == "silent") {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        host = QString("127.0.0.1:%1").arg(silent.serverPort());
    }
    QDir(m_box->share()).removeRecursively();
    QDir().mkpath(m_box->workspace());
    writeFile(m_box->workspace() + "keep.pdf", "x");
    Settings settings = m_box->settings();
    settings.sources.ftpHost = host;
    settings.sources.stallSeconds = 2;
    QVERIFY(!load(settings));
    QVERIFY(m_ui.ended);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].title, "Error");
    QCOMPARE(m_ui.messages[0].text, "Unable to locate either Network or FTP directories.");
    QCOMPARE(m_ui.messages[0].details, "The share folder " + m_box->share() + " cannot be seen.\n" +
                                           what.replace("@HOST@", host));
    QVERIFY(QFile::exists(m_box->workspace() + "keep.pdf"));
    QVERIFY(!m_window->isVisible());
}

void TestStartup::workspaceNames_data()
{
    // What stands under the first names before start-up, the temporary folder (@BOX@: the
    // sandbox; none: the sandbox's own), and the name the window takes, or the message it
    // ends with (@ROOT@: the temporary folder).
    QTest::addColumn<QStringList>("planted"); // "link", "other user", "loose", "file";
                                              // "all others'": every name another user's
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("taken"); // the name's suffix; "random": mkdtemp's
    QTest::addColumn<QString>("fatal");
    const QString unable = "Unable to use the workspace folder in the temporary folder @ROOT@: ";
    // clang-format off
    QTest::newRow("ours, mode 0777: tightened") << QStringList{"loose"} << "" << "" << "";
    QTest::newRow("a link, another user's, a file: passed over") << QStringList{"link", "other user", "file"} << "" << "-4" << "";
    QTest::newRow("all hundred another user's") << QStringList{"all others'"} << "" << "random" << "";
    QTest::newRow("temporary folder missing") << QStringList{} << "@BOX@/no/such/folder" << "" << unable + "it does not exist.";
    QTest::newRow("temporary folder is a file") << QStringList{} << "@BOX@/target/precious.txt" << "" << unable + "it is not a folder.";
    QTest::newRow("temporary folder too long") << QStringList{} << "@LONG@" << "" << unable + "it is too long.";
    // clang-format on
}

void TestStartup::workspaceNames()
{
    QFETCH(QStringList, planted);
    QFETCH(QString, root);
    QFETCH(QString, taken);
    QFETCH(QString, fatal);
    const QString target = m_box->dir.filePath("target");
    QDir().mkpath(target);
    writeFile(target + "/precious.txt", "keep me");
    Settings settings = m_box->settings();
    if (root == "@LONG@")
        root = "@BOX@" + QString("/" + QString(200, 'x')).repeated(25);
    if (!root.isEmpty())
        settings.tempRoot = root.replace("@BOX@", m_box->dir.path());
    const QString first = m_box->workspace().chopped(1);
    if (planted.value(0) == "all others'")
        planted = QStringList(Workspace::MaxNames, "other user");
    for (int i = 0; i < planted.size(); ++i) {
        const QString name = i == 0 ? first : first + QString("-%1").arg(i + 1);
        if (planted[i] == "link")
            QVERIFY(QFile::link(target, name));
        else if (planted[i] == "file")
            writeFile(name, "a file");
        else
            QVERIFY(QDir().mkdir(name));
        if (planted[i] == "other user")
            QCOMPARE(::chown(QFile::encodeName(name).constData(), 4242, 4242), 0);
        if (planted[i] == "loose")
            QCOMPARE(::chmod(QFile::encodeName(name).constData(), 0777), 0);
    }
    QCOMPARE(load(settings), fatal.isEmpty());
    if (!fatal.isEmpty()) {
        QVERIFY(m_ui.ended);
        const QString shown =
            root.size() <= 100 ? root : root.left(60) + QChar(0x2026) + root.right(30);
        QCOMPARE(m_ui.messages.value(0).text, fatal.replace("@ROOT@", shown));
        return;
    }
    const QString path = m_window->workspace().path();
    if (taken == "random") {
        const QString pattern = QRegularExpression::escape(first) + "-[A-Za-z0-9]{6}/";
        QVERIFY2(
            QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(path).hasMatch(),
            qPrintable(path));
        // With the same lock: a second window gets a folder of its own.
        const Workspace second = Workspace::acquire(settings.tempRoot);
        QVERIFY(second.isValid());
        QVERIFY(second.path() != path);
        QCOMPARE(QFileInfo(first).ownerId(), 4242u); // the others' names untouched
    } else {
        QCOMPARE(path, first + taken + '/');
    }
    QCOMPARE(QFileInfo(path).permissions() & 0x0777, QFileDevice::Permissions(0x0700));
    QVERIFY(QFile::exists(target + "/precious.txt"));
}

void TestStartup::secondWindowKeepsOutOfTheFirst()
{
    // The first window creates its workspace.
    QVERIFY(load(m_box->settings()));
    writeFile(m_box->workspace() + "Sheet of a build.pdf", "x");
    ScriptedInteraction ui;
    frmMain second(m_box->settings(), QStringList(), m_fso, ui);
    QVERIFY(second.Form_Load());
    const QString own = second.workspace().path();
    QCOMPARE(own, m_box->workspace().chopped(1) + "-2/");
    // Its Exit takes its own folder only, whatever that holds.
    QVERIFY(QDir().mkpath(own + "sub"));
    writeFile(own + "sub/ro.txt", "x");
    QFile::setPermissions(own + "sub/ro.txt", QFileDevice::ReadOwner);
    QTest::mouseClick(second.findChild<QPushButton *>("btnExit"), Qt::LeftButton);
    QVERIFY(ui.ended);
    QVERIFY(!QFileInfo::exists(own));
    QVERIFY(QFile::exists(m_box->workspace() + "Sheet of a build.pdf"));
    // A window ended without Exit leaves its folder to the next one, which empties it
    // of files of every name, and leaves folders alone.
    m_window.reset();
    const QString ws = m_box->workspace();
    QDir().mkpath(ws + "sub");
    for (const char *name : {".hidden", "ro.txt", "*", "sub/inner.txt"})
        writeFile(ws + name, "x");
    QFile::setPermissions(ws + "ro.txt", QFileDevice::ReadOwner);
    QVERIFY(load(m_box->settings()));
    QCOMPARE(m_window->workspace().path(), ws);
    QCOMPARE(QDir(ws).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFile::exists(ws + "sub/inner.txt"));
}

void TestStartup::commandLineImportsFile_data()
{
    // Where the list lies, where the desktop keeps the user's documents, and the output
    // proposed for it (@BOX@: the sandbox). Never into a folder the user cannot write, or
    // the program's installed data.
    QTest::addColumn<QString>("where");     // open, closed or installed
    QTest::addColumn<QString>("documents"); // user-dirs.dirs, environment, Documents, none
    QTest::addColumn<QString>("proposed");
    // clang-format off
    QTest::newRow("beside the list") << "open" << "none" << "@BOX@/lists/my list.pdf";
    QTest::newRow("closed folder: the desktop's documents") << "closed" << "user-dirs.dirs" << "@BOX@/home/Papers/my list.pdf";
    QTest::newRow("closed folder: ~/Documents") << "closed" << "Documents" << "@BOX@/home/Documents/my list.pdf";
    QTest::newRow("closed folder: no documents folder") << "closed" << "none" << "@BOX@/home/my list.pdf";
    QTest::newRow("the installed sample list") << "installed" << "environment" << "@BOX@/elsewhere/my list.pdf";
    // clang-format on
}

void TestStartup::commandLineImportsFile()
{
    QFETCH(QString, where);
    QFETCH(QString, documents);
    QFETCH(QString, proposed);
    const QString box = m_box->dir.path();
    Settings settings = m_box->settings();
    QString folder = box + "/lists";
    if (where == "installed") {
        // As the package lays it out: the program folder links to its data.
        folder = box + "/share/brindlewick/demo";
        QDir().mkpath(box + "/lib/brindlewick");
        QVERIFY(QDir().mkpath(folder) && QFile::link(folder, box + "/lib/brindlewick/demo"));
        settings.programDir = box + "/lib/brindlewick";
    }
    const QString list = folder + "/my list.txt";
    QDir().mkpath(folder);
    writeFile(list, "300\n100, 200\n");
    std::unique_ptr<ClosedFolder> closed;
    if (where == "closed") {
        closed = std::make_unique<ClosedFolder>(folder);
        if (!closed->error().isEmpty())
            QSKIP(qPrintable(closed->error()));
    }
    // The user's own folders, as the desktop names them; as they were after the test.
    const QProcessEnvironment saved = QProcessEnvironment::systemEnvironment();
    const auto restore = qScopeGuard([&] {
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"})
            saved.contains(name) ? qputenv(name, saved.value(name).toLocal8Bit()) : qunsetenv(name);
    });
    qputenv("HOME", QFile::encodeName(box + "/home"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(box + "/config"));
    qunsetenv("XDG_DOCUMENTS_DIR");
    QDir().mkpath(box + "/home");
    if (documents == "user-dirs.dirs") {
        QDir().mkpath(box + "/config");
        writeFile(box + "/config/user-dirs.dirs",
                  "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    } else if (documents == "environment") {
        qputenv("XDG_DOCUMENTS_DIR", QFile::encodeName(box + "/elsewhere"));
    } else if (documents == "Documents") {
        QDir().mkpath(box + "/home/Documents");
    }

    QVERIFY(load(settings, {list, m_box->dir.filePath("ignored.txt")})); // the first only
    QCOMPARE(m_window->stationList().entries(), (QStringList{"100", "200", "300"}));
    QCOMPARE(text("txtInFile"), list);
    QCOMPARE(text("txtOutFile"), proposed.replace("@BOX@", box));
    if (where != "open")
        return;

    // A path naming no file is reported, and the program goes on with an empty list.
    const QString absent = m_box->dir.filePath("absent.txt");
    QVERIFY(load(settings, {absent}));
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, "Unable to read the file " + absent + '.');
    QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
