#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "startup/CommandLine.h"
#include "startup/SourceSettings.h"
#include "startup/Workspace.h"
#include "ui/frmMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void shareFirstThenFtp();
    void neitherSourceIsFatal();
    void workspaceNames_data();
    void workspaceNames();
    void secondWindowKeepsOutOfTheFirst();
    void workspaceChangedAfterStartUp_data();
    void workspaceChangedAfterStartUp();
    void sourceSettings_data();
    void sourceSettings();
    void sampleSheetsAreNamedInTheTitle();
    void unknownSettingsDoNotStopTheProgram();
    void commandLinePath_data();
    void commandLinePath();
    void commandLineImportsFile();

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

void TestStartup::shareFirstThenFtp()
{
    // The share wins even when the FTP server answers; FTP only without it.
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    AppSettings settings = m_box->settings();
    settings.ftpHost = server.host();
    for (const SourceMode expected : {SourceMode::Share, SourceMode::Ftp}) {
        QVERIFY(load(settings));
        QCOMPARE(m_window->sourceMode(), expected);
        QVERIFY(m_ui.messages.isEmpty());
        QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
        m_window.reset();
        QDir(m_box->share()).removeRecursively();
    }
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

void TestStartup::workspaceNames_data()
{
    // What stands under the first names (or in place of the temporary folder) before
    // start-up, and what the window takes.
    QTest::addColumn<QStringList>("planted"); // "link", "other user", "loose", "file";
                                              // "all others'": every name another user's
    QTest::addColumn<QString>("taken");       // the name's suffix; "random": mkdtemp's
    QTest::addColumn<QString>("fatal");       // the message, when nothing is taken (@ROOT@)
    const QString root = "Unable to use the workspace folder in the temporary folder @ROOT@: ";
    // clang-format off
    QTest::newRow("absent: created") << QStringList{} << "" << "";
    QTest::newRow("ours, mode 0777: tightened") << QStringList{"loose"} << "" << "";
    QTest::newRow("a link: passed over") << QStringList{"link"} << "-2" << "";
    QTest::newRow("another user's, then a file") << QStringList{"other user", "file"} << "-3" << "";
    QTest::newRow("all hundred another user's") << QStringList{"all others'"} << "random" << "";
    QTest::newRow("temporary folder missing") << QStringList{"no root"} << "" << root + "it does not exist.";
    QTest::newRow("temporary folder is a file") << QStringList{"root a file"} << "" << root + "it is not a folder.";
    QTest::newRow("temporary folder too long") << QStringList{"root too long"} << "" << root + "it is too long.";
    // clang-format on
}

void TestStartup::workspaceNames()
{
    QFETCH(QStringList, planted);
    QFETCH(QString, taken);
    QFETCH(QString, fatal);
    const QString target = m_box->dir.filePath("target");
    QDir().mkpath(target);
    writeFile(target + "/precious.txt", "keep me");
    AppSettings settings = m_box->settings();
    const QString first = m_box->workspace().chopped(1);
    if (planted.value(0) == "all others'")
        planted = QStringList(Workspace::MaxNames, "other user");
    for (int i = 0; i < planted.size(); ++i) {
        const QString name = i == 0 ? first : first + QString("-%1").arg(i + 1);
        const QByteArray native = QFile::encodeName(name);
        if (planted[i] == "link") {
            QVERIFY(QFile::link(target, name));
        } else if (planted[i] == "file") {
            writeFile(name, "a file");
        } else if (planted[i] == "no root") {
            settings.tempRoot = m_box->dir.filePath("no/such/folder");
        } else if (planted[i] == "root a file") {
            settings.tempRoot = m_box->dir.filePath("tmp");
            writeFile(settings.tempRoot, "a file");
        } else if (planted[i] == "root too long") {
            settings.tempRoot = m_box->dir.path();
            while (settings.tempRoot.size() < 5000)
                settings.tempRoot += "/" + QString(200, 'x');
        } else {
            QVERIFY(QDir().mkdir(name));
        }
        if (planted[i] == "other user")
            QCOMPARE(::chown(native.constData(), 4242, 4242), 0);
        if (planted[i] == "loose")
            QCOMPARE(::chmod(native.constData(), 0777), 0);
    }
    const bool loaded = load(settings);
    QCOMPARE(loaded, fatal.isEmpty());
    if (!loaded) {
        QVERIFY(m_ui.ended);
        const QString shown =
            settings.tempRoot.size() <= 100
                ? settings.tempRoot
                : settings.tempRoot.left(60) + QChar(0x2026) + settings.tempRoot.right(30);
        QCOMPARE(m_ui.messages.value(0).text, fatal.replace("@ROOT@", shown));
        return;
    }
    const QString path = m_window->workspace().path();
    if (taken == "random") {
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                                        QRegularExpression::escape(first) + "-[A-Za-z0-9]{6}/"))
                     .match(path)
                     .hasMatch(),
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
    QVERIFY(load(m_box->settings()));
    writeFile(m_box->workspace() + "Sheet of a build.pdf", "x");
    ScriptedInteraction ui;
    frmMain second(m_box->settings(), m_fso, ui);
    QVERIFY(second.Form_Load());
    QCOMPARE(second.workspace().path(), m_box->workspace().chopped(1) + "-2/");
    QVERIFY(QFile::exists(m_box->workspace() + "Sheet of a build.pdf"));
    // Its Exit takes its own folder only, whatever that holds.
    const QString own = second.workspace().path();
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

void TestStartup::workspaceChangedAfterStartUp_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reason");
    // clang-format off
    QTest::newRow("swapped for a link") << "link" << "it is a link";
    QTest::newRow("removed") << "remove" << "it no longer exists";
    QTest::newRow("opened to others") << "chmod" << "other users may write to it";
    QTest::newRow("replaced") << "replace" << "it was replaced by another folder";
    // clang-format on
}

void TestStartup::workspaceChangedAfterStartUp()
{
    QFETCH(QString, change);
    QFETCH(QString, reason);
    writeSheets(m_box->share(), {station("100", "ZULU", "A, B")});
    QVERIFY(load(m_box->settings()));
    const QString ws = m_box->workspace();
    const QString elsewhere = m_box->dir.filePath("elsewhere");
    QDir().mkpath(elsewhere);
    QVERIFY(QDir().rename(ws, elsewhere + "/old"));
    if (change == "link")
        QVERIFY(QFile::link(elsewhere, ws.chopped(1)));
    else if (change == "chmod")
        QVERIFY(QDir().rename(elsewhere + "/old", ws) && ::chmod(QFile::encodeName(ws), 0777) == 0);
    else if (change == "replace")
        QVERIFY(QDir().mkdir(ws));
    m_window->findChild<QLineEdit *>("txtAdd")->setText("100");
    QTest::mouseClick(m_window->findChild<QPushButton *>("btnPaste"), Qt::LeftButton);
    m_window->findChild<QLineEdit *>("txtOutFile")->setText(m_box->dir.filePath("o.pdf"));
    QTest::mouseClick(m_window->findChild<QPushButton *>("btnContinue"), Qt::LeftButton);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text,
             "Unable to use the workspace folder " + ws + ": " + reason + '.');
    QVERIFY(!QFile::exists(m_box->dir.filePath("o.pdf")));
    QVERIFY(QDir(elsewhere).entryList(QDir::Files).isEmpty()); // nothing fetched into it
    QCOMPARE(m_window->stationList().entries(), QStringList{"100"});
}

void TestStartup::sourceSettings_data()
{
    // Each place may set the keys; the first that sets one wins. Rows give what the
    // environment, the user's file, the system's file and the build say, then the
    // outcome: "share|host|connections|mode|samples", or the message (@USER@,
    // @SYSTEM@: the files), and the warnings.
    QTest::addColumn<QString>("variables"); // NAME=value;…
    QTest::addColumn<QString>("user");      // INI text; "<folder>": a folder in its place
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("build"); // "share|host"; empty: no share, the placeholder host
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("warnings");
    const QString all = "[Sources]\nShareDir=/sys/share\nFtpHost=sys.example:2121\n"
                        "FtpConnections=2\nFtpMode=passive\n";
    const QString built = "/build/share|build.example";
    const QString samples = "/program/demo/geod/||4|auto|samples";
    // clang-format off
    QTest::newRow("nothing set: the samples") << "" << "" << "" << "" << samples << QStringList{};
    QTest::newRow("the build's own sources") << "" << "" << "" << built << "/build/share|build.example|4|auto|" << QStringList{};
    QTest::newRow("only a host: FTP, never the samples") << "" << "" << "[Sources]\nFtpHost=ftp.office.example\n" << "" << "|ftp.office.example|4|auto|" << QStringList{};
    QTest::newRow("only a share, from the environment") << "BRINDLEWICK_SHARE_DIR=/env/share" << "" << "" << "" << "/env/share||4|auto|" << QStringList{};
    QTest::newRow("the placeholder host written out is set") << "" << "[Sources]\nFtpHost=ftp.geodesy.invalid\n" << "" << "" << "|ftp.geodesy.invalid|4|auto|" << QStringList{};
    QTest::newRow("system file") << "" << "" << all << built << "/sys/share|sys.example:2121|2|passive|" << QStringList{};
    QTest::newRow("user over system") << "" << "[Sources]\nFtpHost=user.example\nFtpMode=Active\n" << all << "" << "/sys/share|user.example|2|active|" << QStringList{};
    QTest::newRow("variable over files") << "BRINDLEWICK_SHARE_DIR=/env/share;BRINDLEWICK_FTP_HOST=[::1]:21;BRINDLEWICK_FTP_MODE=auto" << "[Sources]\nShareDir=/user/share\n" << all << "" << "/env/share|[::1]:21|2|auto|" << QStringList{};
    QTest::newRow("misspelt section: the samples, and said") << "" << "[Source]\nFtpHost=ftp.office.example\n" << "" << "" << samples
        << QStringList{"The setting [Source] FtpHost in @USER@ is unknown and was ignored."};
    QTest::newRow("unknown keys beside known ones") << "" << "" << "sharedir=/x\n[Sources]\nFtpHost=h.example\nFtpTimeout=30\n" << "" << "|h.example|4|auto|"
        << QStringList{"The setting [Sources] FtpTimeout in @SYSTEM@ is unknown and was ignored.", "The setting sharedir in @SYSTEM@ is unknown and was ignored."};
    QTest::newRow("not a host") << "" << "" << "[Sources]\nFtpHost=ftp:/x\n" << "" << "The setting FtpHost in @SYSTEM@ is not a host name: 'ftp:/x'." << QStringList{};
    QTest::newRow("relative share") << "BRINDLEWICK_SHARE_DIR=geod" << "" << "" << "" << "The setting BRINDLEWICK_SHARE_DIR in the environment is not an absolute folder path: 'geod'." << QStringList{};
    QTest::newRow("host with a line feed") << "BRINDLEWICK_FTP_HOST=ftp.office.example\n" << "" << "" << "" << "The setting BRINDLEWICK_FTP_HOST in the environment has white space around it: 'ftp.office.example\\n'." << QStringList{};
    QTest::newRow("quoted space in a file") << "" << "" << "[Sources]\nFtpHost=\"ftp.office.example \"\n" << "" << "The setting FtpHost in @SYSTEM@ has white space around it: 'ftp.office.example '." << QStringList{};
    QTest::newRow("control character") << "BRINDLEWICK_SHARE_DIR=/mnt/\x01geod" << "" << "" << "" << "The setting BRINDLEWICK_SHARE_DIR in the environment holds a control character: '/mnt/\\x01geod'." << QStringList{};
    QTest::newRow("bookmarks turned off") << "" << "[Output]\nBookmarks=false\n" << "" << "" << samples + "|no bookmarks" << QStringList{};
    QTest::newRow("bookmarks, neither on nor off") << "BRINDLEWICK_BOOKMARKS=maybe" << "" << "" << "" << "The setting BRINDLEWICK_BOOKMARKS in the environment is not true or false: 'maybe'." << QStringList{};
    QTest::newRow("settings file unreadable") << "" << "<folder>" << all << "" << "The settings file @USER@ cannot be read." << QStringList{};
    // clang-format on
}

void TestStartup::sourceSettings()
{
    QFETCH(QString, variables);
    QFETCH(QString, user);
    QFETCH(QString, system);
    QFETCH(QString, build);
    QFETCH(QString, result);
    QFETCH(QStringList, warnings);
    const QString userFile = m_box->dir.filePath("home/brindlewick/brindlewick.conf");
    const QString systemFile = m_box->dir.filePath("xdg/brindlewick/brindlewick.conf");
    QProcessEnvironment env;
    env.insert("XDG_CONFIG_HOME", m_box->dir.filePath("home"));
    env.insert("XDG_CONFIG_DIRS",
               m_box->dir.filePath("nowhere") + ':' + m_box->dir.filePath("xdg"));
    for (const QString &pair : variables.split(';', Qt::SkipEmptyParts))
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    for (const auto &[path, text] : {std::pair{userFile, user}, std::pair{systemFile, system}}) {
        QDir().mkpath(QFileInfo(path).path());
        if (text == "<folder>")
            QVERIFY(QDir().mkdir(path));
        else if (!text.isEmpty())
            writeFile(path, text.toUtf8());
    }
    SourceSettings defaults;
    defaults.shareDir = build.section('|', 0, 0);
    defaults.ftpHost = build.isEmpty() ? SourceSettings::placeholderHost() : build.section('|', 1);
    const SourceSettings::Loaded loaded =
        SourceSettings::load(env, defaults, "/program/demo/geod/");
    const SourceSettings &v = loaded.value;
    const char *modes[] = {"auto", "active", "passive"};
    const QString got = loaded
                            ? QString("%1|%2|%3|%4|%5")
                                      .arg(v.shareDir, v.ftpHost)
                                      .arg(v.ftpConnections)
                                      .arg(modes[int(v.ftpMode)], v.sampleSheets ? "samples" : "") +
                                  (v.bookmarks ? "" : "|no bookmarks")
                            : loaded.error;
    QCOMPARE(got, result.replace("@USER@", userFile).replace("@SYSTEM@", systemFile));
    for (QString &w : warnings)
        w.replace("@USER@", userFile).replace("@SYSTEM@", systemFile);
    QCOMPARE(loaded.warnings, warnings);
}

void TestStartup::sampleSheetsAreNamedInTheTitle()
{
    AppSettings settings = m_box->settings();
    for (const bool samples : {false, true}) {
        settings.sampleSheets = samples;
        QVERIFY(load(settings));
        QCOMPARE(m_window->windowTitle().endsWith(" (sample sheets)"), samples);
    }
}

void TestStartup::unknownSettingsDoNotStopTheProgram()
{
    // The real program, as a script starts it: the warning is told, and the window
    // comes up all the same, with nobody to close the box.
    const QString config = m_box->dir.filePath("config");
    QDir().mkpath(config + "/brindlewick");
    writeFile(config + "/brindlewick/brindlewick.conf",
              "[Source]\nShareDir=" + m_box->share().toUtf8() + "\n");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"BRINDLEWICK_SHARE_DIR", "BRINDLEWICK_FTP_HOST"})
        env.remove(name);
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_CONFIG_DIRS", m_box->dir.filePath("no-system"));
    env.insert("TMPDIR", m_box->dir.path());
    env.insert("BRINDLEWICK_EXIT_WHEN_SHOWN", "1");
    p.setProcessEnvironment(env);
    p.start(programFolder() + "/brindlewick", {});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAllStandardOutput(), "shown\n");
    const QStringList told = QString::fromLocal8Bit(p.readAllStandardError()).split('\n');
    QVERIFY2(told.contains("brindlewick: The setting [Source] ShareDir in " + config +
                           "/brindlewick/brindlewick.conf is unknown and was ignored."),
             qPrintable(told.join('\n')));
}

void TestStartup::commandLinePath_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("path");
    // clang-format off
    QTest::newRow("quoted with spaces") << "\"/my data/list.txt\"" << "/my data/list.txt";
    QTest::newRow("two quoted: first") << "\"/a.txt\" \"/b.txt\"" << "/a.txt";
    QTest::newRow("spaces inside quotes") << "\" /a.txt \"" << "/a.txt";
    QTest::newRow("no closing quote") << "\"/a b.txt" << "/a b.txt";
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
    settings.arguments = {list, m_box->dir.filePath("ignored.txt")}; // the first only
    QVERIFY(load(settings));
    QCOMPARE(m_window->stationList().entries(), (QStringList{"100", "200", "300"}));
    QCOMPARE(text("txtInFile"), list);
    QCOMPARE(text("txtOutFile"), m_box->dir.filePath("my list.pdf"));

    // A path naming no file is reported, and the program goes on with an empty list.
    settings.arguments = {m_box->dir.filePath("absent.txt")};
    QVERIFY(load(settings));
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, "Unable to read the file " + settings.arguments[0] + '.');
    QCOMPARE(text("lblCount"), "No Data Sheets Loaded");
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
