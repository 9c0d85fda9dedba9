#include "TestSupport.h"

#include <QDir>
#include <QImage>
#include <QTest>

// The installed program, the Debian package and the desktop files, checked from a
// real install into scratch folders.
class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void installedProgramAndDesktopFiles();
    void debianPackageInstallsAndRuns();

private:
    QTemporaryDir m_prefix;
    // Left in the build's demo folder while the test installs and packages it, as a
    // demo's output or a user's file would be: none may reach the install.
    const QStringList m_strays{QString(BRINDLEWICK_BUILD_DIR) + "/demo/sample-gsids.pdf",
                               QString(BRINDLEWICK_BUILD_DIR) +
                                   "/demo/geod/PDF Single Sheet/GSID_1.pdf"};
};

// Runs a tool to its end: what it said, after "failed: " when it did not end with status 0.
static QString run(const QString &program, const QStringList &args,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ended = p.waitForFinished(EventBound);
    p.kill();
    p.waitForFinished();
    const bool ok = ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return (ok ? "" : "failed: ") + QString::fromLocal8Bit(p.readAll());
}

static bool ran(const QString &said)
{
    return !said.startsWith("failed: ");
}

// Starts the program as a user would: its window comes up, and not a word of warning of
// ours is said (the package's own settings file among those it reads).
static void showsItsWindow(const QString &launcher, const QProcessEnvironment &extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("BRINDLEWICK_EXIT_WHEN_SHOWN", "1");
    const QString said = run(launcher, {}, env);
    QVERIFY2(ran(said) && said.contains("shown\n") && !said.contains("brindlewick:"),
             qPrintable(said));
}

void TestInstall::initTestCase()
{
    for (const QString &stray : m_strays)
        writeFile(stray, "stray");
    const QString said =
        run(CMAKE_COMMAND, {"--install", BRINDLEWICK_BUILD_DIR, "--prefix", m_prefix.path()});
    QVERIFY2(m_prefix.isValid() && ran(said), qPrintable(said));
}

void TestInstall::cleanupTestCase()
{
    for (const QString &stray : m_strays)
        QFile::remove(stray);
}

void TestInstall::installedProgramAndDesktopFiles()
{
    const QDir prefix(m_prefix.path());
    const QString folder = prefix.filePath("lib/brindlewick/");
    QVERIFY(QFileInfo(folder + "brindlewick").isExecutable());
    // What is the same on every architecture lies in share/, the program folder links to it.
    const std::pair<QString, QString> links[] = {
        {folder + "Brindlewick.hlp", prefix.filePath("share/brindlewick/Brindlewick.hlp")},
        {folder + "demo", prefix.filePath("share/brindlewick/demo")},
        {folder + "pdftk", QFileInfo(PDFTK_PATH).absoluteFilePath()},
        {folder + "pdftotext", QFileInfo(PDFTOTEXT_PATH).absoluteFilePath()},
        {prefix.filePath("bin/brindlewick"), folder + "brindlewick"}};
    for (const auto &[link, target] : links) {
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        QVERIFY2(QFileInfo(link).exists(), qPrintable(link));
    }
    QCOMPARE(QDir(folder + "demo").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"geod", "sample-gsids.txt"}));
    for (const char *edition : {"demo/geod/PDF Single Sheet", "demo/geod/PDF Metric Sheet"})
        QCOMPARE(QDir(folder + edition).entryList(QDir::Files).size(), 25);
    QVERIFY(!QFileInfo::exists(folder + "demo/geod/.generated"));
    const QImage icon(prefix.filePath("share/icons/hicolor/48x48/apps/brindlewick.png"));
    QCOMPARE(icon.size(), QSize(48, 48));
    // Through the bin/ link: the program must find its sample share in its real folder.
    showsItsWindow(prefix.filePath("bin/brindlewick"));

    const QString desktop =
        prefix.filePath("share/applications/org.example.oxlade.brindlewick.desktop");
    const QString metainfo =
        prefix.filePath("share/metainfo/org.example.oxlade.brindlewick.metainfo.xml");
    QCOMPARE(run("desktop-file-validate", {desktop}).trimmed(), QString());
    const QString info = run("appstreamcli", {"validate", "--no-net", metainfo});
    QVERIFY2(ran(info), qPrintable(info));
    QVERIFY(readFile(metainfo).contains("<release version=\"1.3.1\""));

    // As a desktop sees the install (its databases made as the package's triggers make
    // them): offered for GSID lists, never the default for every plain text file.
    QVERIFY(ran(run("update-mime-database", {prefix.filePath("share/mime")})));
    QVERIFY(ran(run("update-desktop-database", {prefix.filePath("share/applications")})));
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", prefix.filePath("bin") + ':' + env.value("PATH"));
    env.insert("XDG_DATA_DIRS", prefix.filePath("share"));
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        env.insert(name, home.path());
    const auto defaultFor = [&](const QString &type) {
        return run("gio", {"mime", type}, env).section('\n', 0, 0);
    };
    QCOMPARE(defaultFor("text/plain"), "No default applications for “text/plain”");
    QCOMPARE(defaultFor("text/x-gsid-list"), "Default application for “text/x-gsid-list”: "
                                             "org.example.oxlade.brindlewick.desktop");
}

void TestInstall::debianPackageInstallsAndRuns()
{
    QTemporaryDir out;
    QTemporaryDir root;
    const QString pack =
        run(CPACK_COMMAND, {"-G", "DEB", "-B", out.path(), "--config",
                            QString(BRINDLEWICK_BUILD_DIR) + "/CPackConfig.cmake"});
    QVERIFY2(ran(pack), qPrintable(pack));
    const QStringList debs = QDir(out.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    const QString deb = out.filePath(debs.first());
    const QString fields = run("dpkg-deb", {"-f", deb, "Package", "Version", "Depends"});
    for (const char *field : {"Package: brindlewick\n", "Version: 1.3.1-1\n", "pdftk-java"})
        QVERIFY2(fields.contains(field), qPrintable(fields));
    QCOMPARE(run("dpkg-deb", {"-I", deb, "conffiles"}).trimmed(),
             "/etc/xdg/brindlewick/brindlewick.conf");
    // Built from named files: nothing else the build folder holds.
    const QString contents = run("dpkg-deb", {"-c", deb});
    QVERIFY(contents.contains("./usr/share/brindlewick/demo/sample-gsids.txt"));
    QCOMPARE(contents.count(".pdf\n"), 50);
    for (const char *stray : {"sample-gsids.pdf", "GSID_1.pdf"})
        QVERIFY2(!contents.contains(stray), stray);
    // Debian's own checks, to the last remark: each override says why it holds. Not for the
    // sanitizer build, which no package is ever made from (its program has no checked
    // buffers of glibc's own, for one).
    if (!BRINDLEWICK_SANITIZED)
        QCOMPARE(run("lintian", {"--pedantic", "-I", deb})
                     .remove("running with root privileges is not recommended!")
                     .trimmed(),
                 QString());

    QVERIFY(ran(run("dpkg", {"-x", deb, root.path()})));
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
              "[Sources]\nShareDir=" + share.toUtf8() + "\nFtpHost=" + DeadHost + "\n");
    QProcessEnvironment env;
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("XDG_CONFIG_DIRS", root.filePath("etc/xdg"));
    showsItsWindow(usr.filePath("bin/brindlewick"), env);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
