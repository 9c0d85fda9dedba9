#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTest>

// The installed program, the Debian package and the desktop files, checked from a
// real install into scratch folders.
class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void installedProgramRunsFromItsOwnFolder();
    void desktopFilesValidate();
    void debianPackageInstallsAndRuns();

private:
    struct Run {
        int exitCode = -1;
        QString output;
    };
    static Run run(const QString &program, const QStringList &args, int timeoutMs = 120000);
    // Starts the program as a user would, and reports whether its window came up.
    static void startsAndShowsItsWindow(const QString &launcher,
                                        const QProcessEnvironment &extra = {});

    QTemporaryDir m_prefix;
    // Left in the build's demo folder while the test installs and packages it, as a
    // demo's output or a user's file would be: none may reach the install.
    const QStringList m_strays{QString(BRINDLEWICK_BUILD_DIR) + "/demo/sample-gsids.pdf",
                               QString(BRINDLEWICK_BUILD_DIR) +
                                   "/demo/geod/PDF Single Sheet/GSID_1.pdf"};
};

TestInstall::Run TestInstall::run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromLocal8Bit(p.readAll()) + "\n(timed out)"};
    }
    const int code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return {code, QString::fromLocal8Bit(p.readAll())};
}

void TestInstall::startsAndShowsItsWindow(const QString &launcher, const QProcessEnvironment &extra)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("BRINDLEWICK_EXIT_WHEN_SHOWN", "1");
    p.setProcessEnvironment(env);
    p.start(launcher, {});
    QVERIFY2(p.waitForFinished(60000), qPrintable(launcher));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    // Not a word of warning of ours: the package's own settings file among those it reads.
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && out == "shown\n" &&
                 !err.contains("brindlewick:"),
             qPrintable(out + err));
}

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    for (const QString &stray : m_strays)
        writeFile(stray, "stray");
    const Run install =
        run(CMAKE_COMMAND, {"--install", BRINDLEWICK_BUILD_DIR, "--prefix", m_prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
}

void TestInstall::cleanupTestCase()
{
    for (const QString &stray : m_strays)
        QFile::remove(stray);
}

void TestInstall::installedProgramRunsFromItsOwnFolder()
{
    const QDir prefix(m_prefix.path());
    const QString folder = prefix.filePath("lib/brindlewick/");
    QVERIFY(QFileInfo(folder + "brindlewick").isExecutable());
    // What is the same on every architecture lies in share/, the program folder links to it.
    QCOMPARE(QFileInfo(folder + "Brindlewick.hlp").symLinkTarget(),
             prefix.filePath("share/brindlewick/Brindlewick.hlp"));
    QVERIFY(QFileInfo(folder + "Brindlewick.hlp").isFile());
    QCOMPARE(QFileInfo(folder + "demo").symLinkTarget(), prefix.filePath("share/brindlewick/demo"));
    QCOMPARE(QDir(folder + "demo").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"geod", "sample-gsids.txt"}));
    QCOMPARE(QFileInfo(folder + "pdftk").symLinkTarget(), QFileInfo(PDFTK_PATH).absoluteFilePath());
    QCOMPARE(QFileInfo(folder + "pdftotext").symLinkTarget(),
             QFileInfo(PDFTOTEXT_PATH).absoluteFilePath());
    QCOMPARE(QDir(folder + "demo/geod/PDF Single Sheet").entryList(QDir::Files).size(), 25);
    QCOMPARE(QDir(folder + "demo/geod/PDF Metric Sheet").entryList(QDir::Files).size(), 25);
    QVERIFY(!QFileInfo::exists(folder + "demo/geod/.generated"));
    QCOMPARE(QFileInfo(prefix.filePath("bin/brindlewick")).symLinkTarget(), folder + "brindlewick");

    const QImage icon(prefix.filePath("share/icons/hicolor/48x48/apps/brindlewick.png"));
    QCOMPARE(icon.size(), QSize(48, 48));

    // Through the bin/ link: the program must find its sample share in its real folder.
    startsAndShowsItsWindow(prefix.filePath("bin/brindlewick"));
}

void TestInstall::desktopFilesValidate()
{
    const QDir prefix(m_prefix.path());
    const QString desktop =
        prefix.filePath("share/applications/org.example.oxlade.brindlewick.desktop");
    const QString metainfo =
        prefix.filePath("share/metainfo/org.example.oxlade.brindlewick.metainfo.xml");
    const Run entry = run("desktop-file-validate", {desktop});
    QVERIFY2(entry.exitCode == 0 && entry.output.trimmed().isEmpty(), qPrintable(entry.output));
    const Run info = run("appstreamcli", {"validate", "--no-net", metainfo});
    QVERIFY2(info.exitCode == 0, qPrintable(info.output));

    QFile file(metainfo);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("<release version=\"1.3.1\""));

    // As a desktop sees the install (its databases made as the package's triggers make
    // them): offered for GSID lists, never the default for every plain text file.
    QVERIFY(run("update-mime-database", {prefix.filePath("share/mime")}).exitCode == 0);
    QVERIFY(run("update-desktop-database", {prefix.filePath("share/applications")}).exitCode == 0);
    QTemporaryDir home;
    QProcess gio;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", prefix.filePath("bin") + ':' + env.value("PATH"));
    env.insert("XDG_DATA_DIRS", prefix.filePath("share"));
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        env.insert(name, home.path());
    gio.setProcessEnvironment(env);
    const auto defaultFor = [&](const QString &type) {
        gio.start("gio", {"mime", type});
        gio.waitForFinished();
        return QString::fromUtf8(gio.readAllStandardOutput()).section('\n', 0, 0);
    };
    QCOMPARE(defaultFor("text/plain"), "No default applications for “text/plain”");
    QCOMPARE(defaultFor("text/x-gsid-list"), "Default application for “text/x-gsid-list”: "
                                             "org.example.oxlade.brindlewick.desktop");
}

void TestInstall::debianPackageInstallsAndRuns()
{
    QTemporaryDir out;
    QTemporaryDir root;
    const Run pack = run(CPACK_COMMAND, {"-G", "DEB", "-B", out.path(), "--config",
                                         QString(BRINDLEWICK_BUILD_DIR) + "/CPackConfig.cmake"});
    QVERIFY2(pack.exitCode == 0, qPrintable(pack.output));
    const QStringList debs = QDir(out.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    const QString deb = QDir(out.path()).filePath(debs.first());

    const Run fields = run("dpkg-deb", {"-f", deb, "Package", "Version", "Depends"});
    QVERIFY2(fields.exitCode == 0, qPrintable(fields.output));
    QVERIFY(fields.output.contains("Package: brindlewick"));
    QVERIFY(fields.output.contains("Version: 1.3.1-1"));
    QVERIFY(fields.output.contains("pdftk-java"));
    // Built from named files: nothing else the build folder holds.
    const Run contents = run("dpkg-deb", {"-c", deb});
    QCOMPARE(contents.exitCode, 0);
    QVERIFY(contents.output.contains("./usr/share/brindlewick/demo/sample-gsids.txt"));
    QCOMPARE(contents.output.count(".pdf\n"), 50);
    for (const char *stray : {"sample-gsids.pdf", "GSID_1.pdf"})
        QVERIFY2(!contents.output.contains(stray), stray);
        // Debian's own checks, to the last remark: each override says why it holds. Not
        // for the sanitizer build, which no package is ever made from (its program has no
        // checked buffers of glibc's own, for one).
#if !BRINDLEWICK_SANITIZED
    Run lintian = run("lintian", {"--pedantic", "-I", deb});
    lintian.output.remove("running with root privileges is not recommended!");
    QVERIFY2(lintian.exitCode == 0 && lintian.output.trimmed().isEmpty(),
             qPrintable(lintian.output));
#endif
    const Run conffiles = run("dpkg-deb", {"-I", deb, "conffiles"});
    QCOMPARE(conffiles.output.trimmed(), "/etc/xdg/brindlewick/brindlewick.conf");

    const Run unpack = run("dpkg", {"-x", deb, root.path()});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    const QDir usr(root.filePath("usr"));
    QVERIFY(QFileInfo(usr.filePath("share/man/man1/brindlewick.1.gz")).isFile());
    QCOMPARE(QFile::symLinkTarget(usr.filePath("lib/brindlewick/pdftk")),
             usr.filePath("bin/pdftk")); // relative: ../../bin/pdftk

    // Pointed at a share outside its folder through the user's settings file; its own
    // sample share is gone, and the FTP server cannot be reached, so only that share
    // lets it start.
    QTemporaryDir config;
    const QString share = config.filePath("office share");
    QVERIFY(QDir().rename(usr.filePath("lib/brindlewick/demo/geod"), share));
    QVERIFY(QDir(config.path()).mkdir("brindlewick"));
    writeFile(config.filePath("brindlewick/brindlewick.conf"),
              "[Sources]\nShareDir=" + share.toUtf8() + "\nFtpHost=" + deadHost().toUtf8() + "\n");
    QProcessEnvironment env;
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("XDG_CONFIG_DIRS", root.filePath("etc/xdg"));
    startsAndShowsItsWindow(usr.filePath("bin/brindlewick"), env);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
