#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestFileSystem : public QObject {
    Q_OBJECT

private slots:
    void deleteFiles_data();
    void deleteFiles();
    void listFilesAreNeverOpenedUnlessRegular();
    void copyTakesThePlaceOfWhateverStandsThere();
    void outputKeepsWhatItWas_data();
    void outputKeepsWhatItWas();
};

void TestFileSystem::deleteFiles_data()
{
    // The folder holds *, ?.pdf, [ab].pdf, a.pdf, b.pdf and the folder sub.pdf.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("notFound"); // else it alone is gone
    QTest::newRow("star is a name") << "*" << false;
    QTest::newRow("a pattern matching others deletes none") << "*.pdf" << true;
    QTest::newRow("folder name is no file") << "sub.pdf" << true;
}

void TestFileSystem::deleteFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, notFound);
    QTemporaryDir dir;
    QStringList left{"*", "?.pdf", "[ab].pdf", "a.pdf", "b.pdf"};
    for (const QString &file : std::as_const(left))
        writeFile(dir.filePath(file), "x");
    QVERIFY(QDir(dir.path()).mkdir("sub.pdf"));
    left << "sub.pdf";
    const FsResult r = FileSystem().deleteFile(dir.filePath(name), true);
    QCOMPARE(bool(r), !notFound);
    QCOMPARE(r.notFound, notFound);
    if (!notFound)
        left.removeOne(name);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), left);
}

void TestFileSystem::listFilesAreNeverOpenedUnlessRegular()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.txt");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    FileSystem fso;
    for (const QString &path : {fifo, QString("/dev/zero"), dir.path()}) {
        QString error;
        QVERIFY(!fso.openForReading(path, &error)); // returns at once: a pipe would block
        QCOMPARE(error, "Not a regular file");
    }
}

void TestFileSystem::copyTakesThePlaceOfWhateverStandsThere()
{
    QTemporaryDir dir;
    const QString source = dir.filePath("source.pdf");
    const QString target = dir.filePath("Temp-1.pdf");
    const QString elsewhere = dir.filePath("elsewhere.txt");
    writeFile(source, "new sheet");
    writeFile(elsewhere, "keep me");
    FileSystem fso;
    for (const char *standing : {"an older, longer sheet", "link"}) {
        if (QByteArray(standing) == "link")
            QVERIFY(QFile::link(elsewhere, target));
        else
            writeFile(target, standing);
        QVERIFY(fso.copyFile(source, target));
        QCOMPARE(readFile(target), "new sheet");
        QVERIFY(!QFileInfo(target).isSymLink());
        QVERIFY(QFile::remove(target));
    }
    QCOMPARE(readFile(elsewhere), "keep me");
    // A missing source, or one larger than a sheet may be, leaves nothing behind.
    const FsResult missing = fso.copyFile(dir.filePath("absent"), target);
    QVERIFY(!missing && missing.notFound);
    QVERIFY(QFile::resize(source, 65 << 20)); // sparse: no time, no disk
    const FsResult huge = fso.copyFile(source, target, 64 << 20);
    QCOMPARE(huge.error, "65.0 MiB, more than the 64 MiB a data sheet may have; not taken");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"elsewhere.txt", "source.pdf"}));
}

void TestFileSystem::outputKeepsWhatItWas_data()
{
    // What stands at the output path before a build: the file, or a link to it in
    // real/ (absolute, relative, through a second link, or to nothing yet). The
    // replaced file must have the mode and group it had; a link stays a link.
    QTest::addColumn<QString>("standing");
    QTest::addColumn<int>("mode");      // the old file's; the new one's when none stood
    QTest::addColumn<bool>("group");    // the old file belongs to group 4242
    QTest::addColumn<QString>("cause"); // the failure's cause, when it must fail
    // clang-format off
    QTest::newRow("group kept") << "file" << 0640 << true << "";
    QTest::newRow("read-only stays read-only") << "file" << 0444 << false << "";
    QTest::newRow("no file yet: as new files are") << "none" << 0644 << false << "";
    QTest::newRow("link: kept, its file replaced") << "link" << 0600 << true << "";
    QTest::newRow("relative link") << "relative link" << 0640 << false << "";
    QTest::newRow("link to a link") << "chain" << 0600 << false << "";
    QTest::newRow("dangling link: written through") << "dangling" << 0644 << false << "";
    QTest::newRow("dangling link into no folder") << "nowhere" << 0644 << false << "the folder does not exist";
    QTest::newRow("another user's link in a shared folder") << "foreign link" << 0600 << false << "permission was denied";
    // clang-format on
}

void TestFileSystem::outputKeepsWhatItWas()
{
    QFETCH(QString, standing);
    QFETCH(int, mode);
    QFETCH(bool, group);
    QFETCH(QString, cause);
    ::umask(022);
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const QString real = dir.filePath("real");
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(real));
    const QString output = out + "/result.pdf";
    const bool linked = standing != "file" && standing != "none";
    const QString file = linked ? real + "/result.pdf" : output;
    if (standing != "none" && standing != "dangling" && standing != "nowhere") {
        writeFile(file, "old");
        QCOMPARE(::chmod(QFile::encodeName(file), mode), 0);
        if (group)
            QCOMPARE(::chown(QFile::encodeName(file), -1, 4242), 0);
    }
    if (standing == "relative link") {
        QVERIFY(QFile::link("../real/result.pdf", output));
    } else if (standing == "chain") {
        QVERIFY(QFile::link(file, out + "/middle.pdf"));
        QVERIFY(QFile::link("middle.pdf", output));
    } else if (standing == "nowhere") {
        QVERIFY(QFile::link(dir.filePath("gone/result.pdf"), output));
    } else if (linked) {
        QVERIFY(QFile::link(file, output));
    }
    if (standing == "foreign link") {
        QCOMPARE(::chmod(QFile::encodeName(out), 01777), 0);
        QCOMPARE(::lchown(QFile::encodeName(output), 4242, 4242), 0);
    }
    const QString linkText = QFileInfo(output).symLinkTarget();

    FileSystem fso;
    QString draft;
    const FsResult made = fso.createDraft(output, &draft);
    if (!cause.isEmpty()) {
        QVERIFY(!made);
        QCOMPARE(FileSystem::causeText(made), cause);
        QCOMPARE(QFileInfo(output).symLinkTarget(), linkText);
        if (QFileInfo::exists(file))
            QCOMPARE(readFile(file), "old");
        return;
    }
    QVERIFY2(made, qPrintable(made.error));
    QCOMPARE(QFileInfo(draft).absolutePath(), QFileInfo(file).absolutePath());
    QFile tool(draft); // written as the merge tool writes it
    QVERIFY(tool.open(QIODevice::WriteOnly | QIODevice::Truncate));
    tool.write("new");
    tool.close();
    const FsResult replaced = fso.replaceFile(draft, output);
    QVERIFY2(replaced, qPrintable(replaced.error));

    QCOMPARE(QFileInfo(output).isSymLink(), linked);
    QCOMPARE(QFileInfo(output).symLinkTarget(), linkText);
    QCOMPARE(readFile(file), "new");
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(file), &st), 0);
    QVERIFY(S_ISREG(st.st_mode));
    QCOMPARE(int(st.st_mode & 07777), mode);
    QCOMPARE(st.st_gid, group ? gid_t(4242) : ::getegid());
    for (const QString &folder : {out, real}) // no draft left behind
        QCOMPARE(QDir(folder).entryList({".result.pdf.*"}, QDir::Files | QDir::Hidden), {});
}

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
