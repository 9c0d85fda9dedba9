#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

class TestFileSystem : public QObject {
    Q_OBJECT

private slots:
    void deleteFiles_data();
    void deleteFiles();
    void listFilesAreNeverOpenedUnlessRegular();
    void copyTakesThePlaceOfWhateverStandsThere();
};

void TestFileSystem::deleteFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("notFound");
    QTest::addColumn<QStringList>("left");
    // The folder holds *, ?.pdf, [ab].pdf, a.pdf, b.pdf and the folder sub.pdf.
    // clang-format off
    QTest::newRow("star is a name") << "*" << false
        << QStringList{"?.pdf", "[ab].pdf", "a.pdf", "b.pdf", "sub.pdf"};
    QTest::newRow("a pattern matching others deletes none") << "*.pdf" << true
        << QStringList{"*", "?.pdf", "[ab].pdf", "a.pdf", "b.pdf", "sub.pdf"};
    QTest::newRow("folder name is no file") << "sub.pdf" << true
        << QStringList{"*", "?.pdf", "[ab].pdf", "a.pdf", "b.pdf", "sub.pdf"};
    // clang-format on
}

void TestFileSystem::deleteFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, notFound);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    for (const char *file : {"*", "?.pdf", "[ab].pdf", "a.pdf", "b.pdf"})
        writeFile(dir.filePath(file), "x");
    QVERIFY(QDir(dir.path()).mkdir("sub.pdf"));
    FileSystem fso;
    const FsResult r = fso.deleteFile(dir.filePath(name), true);
    QCOMPARE(bool(r), !notFound);
    QCOMPARE(r.notFound, notFound);
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
    // A missing source leaves nothing behind.
    const FsResult missing = fso.copyFile(dir.filePath("absent"), target);
    QVERIFY(!missing && missing.notFound);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"elsewhere.txt", "source.pdf"}));
}

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
