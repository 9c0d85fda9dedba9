#include "TestSupport.h"
#include "startup/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void loading_data();
    void loading();
};

void TestSettings::loading_data()
{
    // Each place may set the keys; the first that sets one wins. Rows give what the
    // environment, the user's file, the system's file and the build say, then the
    // outcome: "share|web|host|connections|mode" and flags, or the message (@USER@,
    // @SYSTEM@: the files), and the warnings.
    QTest::addColumn<QString>("variables"); // NAME=value;…
    QTest::addColumn<QString>("user");      // the file's text; "<folder>": a folder there
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("build"); // "share|host"; empty: no share, the placeholder host
    QTest::addColumn<bool>("script");   // the command line's rule: never the samples
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("warnings");
    const QString all = "[Sources]\nShareDir=/sys/share\nFtpHost=sys.example:2121\n"
                        "FtpConnections=2\nFtpMode=passive\n";
    const QString built = "/build/share|build.example";
    const QString samples = "/program/demo/geod/|||4|auto|samples";
    const QString unknown = "sharedir=/x\n[Sources]\nFtpHost=h.example\nFtpTimeout=30\nA=1\n"
                            "B=2\nC=3\nD=4\nE=5\n";
    const QString shipped = "# Remove the \"#\" to set it.\n[Sources]\n#ShareDir=/mnt/geod\n"
                            ";FtpHost=ftp.example.net\n  # FtpMode=auto\n\n[Output]\n"
                            "#Bookmarks=true\n";
    // clang-format off
    QTest::newRow("nothing set, a script: nothing") << "" << "" << "" << "" << true << "|||4|auto|" << QStringList{};
    QTest::newRow("the build's own sources") << "" << "" << "" << built << true << "/build/share||build.example|4|auto|" << QStringList{};
    QTest::newRow("only a host: FTP, never the samples") << "" << "" << "[Sources]\nFtpHost=ftp.office.example\n" << "" << false << "||ftp.office.example|4|auto|" << QStringList{};
    QTest::newRow("the placeholder host written out is set") << "" << "[Sources]\nFtpHost=ftp.geodesy.invalid\n" << "" << "" << false << "||ftp.geodesy.invalid|4|auto|" << QStringList{};
    QTest::newRow("system file") << "" << "" << all << built << false << "/sys/share||sys.example:2121|2|passive|" << QStringList{};
    QTest::newRow("user over system") << "" << "[Sources]\nFtpHost=user.example\nFtpMode=Active\n" << all << "" << false << "/sys/share||user.example|2|active|" << QStringList{};
    QTest::newRow("variable over files") << "BRINDLEWICK_SHARE_DIR=/env/share;BRINDLEWICK_FTP_HOST=[::1]:21;BRINDLEWICK_FTP_MODE=auto" << "[Sources]\nShareDir=/user/share\n" << all << "" << false << "/env/share||[::1]:21|2|auto|" << QStringList{};
    QTest::newRow("an empty value unsets the files below") << "" << "[Sources]\nFtpHost=\n" << all << "" << false << "/sys/share|||2|passive|" << QStringList{};
    QTest::newRow("the shipped file's examples are comments") << "" << "" << shipped << "" << false << samples << QStringList{};
    QTest::newRow("blanks around the = and at the end") << "" << "[Sources]\n FtpHost = h.example \t\r\n" << "" << "" << false << "||h.example|4|auto|" << QStringList{};
    QTest::newRow("misspelt section: the samples, and said") << "" << "[Source]\nFtpHost=ftp.office.example\n" << "" << "" << false << samples
        << QStringList{"The setting [Source] FtpHost in @USER@ is unknown and was ignored."};
    QTest::newRow("many unknown keys: five named, the rest counted") << "" << "" << unknown << "" << false << "||h.example|4|auto|"
        << QStringList{"The setting sharedir in @SYSTEM@ is unknown and was ignored.", "The setting [Sources] FtpTimeout in @SYSTEM@ is unknown and was ignored.",
                       "The setting [Sources] A in @SYSTEM@ is unknown and was ignored.", "The setting [Sources] B in @SYSTEM@ is unknown and was ignored.",
                       "The setting [Sources] C in @SYSTEM@ is unknown and was ignored.", "2 more unknown settings in @SYSTEM@ were ignored."};
    QTest::newRow("a line that is no setting") << "" << "" << "[Sources]\nFtpHost h.example\n" << "" << false << samples
        << QStringList{"Line 2 of @SYSTEM@ is not a setting and was ignored."};
    QTest::newRow("a semicolon stays in the value") << "" << "" << "[Sources]\nFtpHost=h;22301\n" << "" << false << "The setting FtpHost in @SYSTEM@ is not a host name: 'h;22301'." << QStringList{};
    QTest::newRow("six-digit port") << "BRINDLEWICK_FTP_HOST=h.example:221001" << "" << "" << "" << false << "The setting BRINDLEWICK_FTP_HOST in the environment has a port out of range: 'h.example:221001'." << QStringList{};
    QTest::newRow("relative share") << "BRINDLEWICK_SHARE_DIR=geod" << "" << "" << "" << false << "The setting BRINDLEWICK_SHARE_DIR in the environment is not an absolute folder path: 'geod'." << QStringList{};
    QTest::newRow("host with a line feed") << "BRINDLEWICK_FTP_HOST=ftp.office.example\n" << "" << "" << "" << false << "The setting BRINDLEWICK_FTP_HOST in the environment has white space around it: 'ftp.office.example\\n'." << QStringList{};
    QTest::newRow("quoted space in a file") << "" << "" << "[Sources]\nFtpHost=\"ftp.office.example \"\n" << "" << false << "The setting FtpHost in @SYSTEM@ has white space around it: 'ftp.office.example '." << QStringList{};
    QTest::newRow("control character") << "BRINDLEWICK_SHARE_DIR=/mnt/\x01geod" << "" << "" << "" << false << "The setting BRINDLEWICK_SHARE_DIR in the environment holds a control character: '/mnt/\\x01geod'." << QStringList{};
    QTest::newRow("bookmarks off, any word and case") << "" << "[Output]\nBookmarks=Off\n" << "" << "" << false << samples + "|no bookmarks" << QStringList{};
    QTest::newRow("bookmarks, neither on nor off") << "BRINDLEWICK_BOOKMARKS=maybe" << "" << "" << "" << false << "The setting BRINDLEWICK_BOOKMARKS in the environment is not true or false: 'maybe'." << QStringList{};
    QTest::newRow("a web server, its folder") << "BRINDLEWICK_WEB_URL=https://sheets.example:8443/geod;BRINDLEWICK_WEB_CONNECTIONS=16" << "" << "" << "" << true << "|https://sheets.example:8443/geod/||4|auto||web 16" << QStringList{};
    QTest::newRow("no web address") << "" << "" << "[Sources]\nWebUrl=ftp://sheets.example/\n" << "" << false << "The setting WebUrl in @SYSTEM@ is not an https:// or http:// address of a folder: 'ftp://sheets.example/'." << QStringList{};
    QTest::newRow("FTP over TLS") << "BRINDLEWICK_FTP_TLS=Required" << "" << all << "" << false << "/sys/share||sys.example:2121|2|passive||tls" << QStringList{};
    QTest::newRow("TLS with active mode") << "BRINDLEWICK_FTP_TLS=required;BRINDLEWICK_FTP_MODE=active" << "" << "" << "" << false << "The settings FtpMode=active and FtpTls=required cannot go together: over TLS the data connections are passive. Set FtpMode to auto or passive." << QStringList{};
    QTest::newRow("a CA file that is not there") << "" << "" << "[Sources]\nCaFile=/no/such/ca.pem\n" << "" << false << "The setting CaFile in @SYSTEM@ names a file that cannot be read: '/no/such/ca.pem'." << QStringList{};
    QTest::newRow("settings file unreadable") << "" << "<folder>" << all << "" << false << "The settings file @USER@ cannot be read." << QStringList{};
    // clang-format on
}

void TestSettings::loading()
{
    QFETCH(QString, variables);
    QFETCH(QString, user);
    QFETCH(QString, system);
    QFETCH(QString, build);
    QFETCH(bool, script);
    QFETCH(QString, result);
    QFETCH(QStringList, warnings);
    QTemporaryDir dir;
    const QString userFile = dir.filePath("home/brindlewick/brindlewick.conf");
    const QString systemFile = dir.filePath("xdg/brindlewick/brindlewick.conf");
    QProcessEnvironment env;
    env.insert("XDG_CONFIG_HOME", dir.filePath("home"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("nowhere") + ':' + dir.filePath("xdg"));
    for (const QString &pair : variables.split(';', Qt::SkipEmptyParts))
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    for (const auto &[path, text] : {std::pair{userFile, user}, std::pair{systemFile, system}}) {
        QDir().mkpath(QFileInfo(path).path());
        if (text == "<folder>")
            QVERIFY(QDir().mkdir(path));
        else if (!text.isEmpty())
            writeFile(path, text.toUtf8());
    }
    Settings defaults;
    defaults.programDir = "/program";
    defaults.sources.shareDir = build.section('|', 0, 0);
    defaults.sources.ftpHost = build.isEmpty() ? placeholderHost() : build.section('|', 1);
    const LoadedSettings loaded =
        loadSettings(env, defaults, script ? SamplePolicy::Never : SamplePolicy::WhenNoSourceIsSet);
    const SourceSettings &v = loaded.settings.sources;
    const char *modes[] = {"auto", "active", "passive"};
    QStringList got;
    got << v.shareDir << v.webUrl << v.ftpHost << QString::number(v.ftpConnections)
        << modes[int(v.ftpMode)] << (loaded.settings.sampleSheets ? "samples" : "");
    if (!loaded.settings.bookmarks)
        got << "no bookmarks";
    if (v.ftpTls == FtpTls::Required)
        got << "tls";
    if (v.webConnections != SourceSettings().webConnections)
        got << QString("web %1").arg(v.webConnections);
    QCOMPARE(loaded ? got.join('|') : loaded.error,
             result.replace("@USER@", userFile).replace("@SYSTEM@", systemFile));
    QCOMPARE(
        loaded.warnings,
        warnings.replaceInStrings("@USER@", userFile).replaceInStrings("@SYSTEM@", systemFile));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
