#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFileSystem : public QObject {
    Q_OBJECT

private slots:
    void pathNames_data();
    void pathNames();
    void deleteByPattern();
    void deleteLiteralNameWithWildcards();
    void deleteFolderRemovesReadOnlyContent();
    void moveRefusesExistingTarget();
    void copyReplacesTarget();
    void copyOfMissingFileLeavesTargetAlone();
};

void TestFileSystem::pathNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("base");
    QTest::newRow("plain") << "/lists/week.txt"
                           << "/lists"
                           << "week";
    QTest::newRow("two dots") << "/x/b.c.txt"
                              << "/x"
                              << "b.c";
    QTest::newRow("space") << "/lists/week 12.txt"
                           << "/lists"
                           << "week 12";
    QTest::newRow("no folder") << "week.txt"
                               << ""
                               << "week";
    QTest::newRow("root") << "/week.txt"
                          << "/"
                          << "week";
    QTest::newRow("no extension") << "/a/list"
                                  << "/a"
                                  << "list";
    QTest::newRow("hidden file") << "/a/.list"
                                 << "/a"
                                 << ".list";
}

void TestFileSystem::pathNames()
{
    QFETCH(QString, path);
    QFETCH(QString, parent);
    QFETCH(QString, base);
    QCOMPARE(FileSystem::parentFolderName(path), parent);
    QCOMPARE(FileSystem::baseName(path), base);
}

void TestFileSystem::deleteByPattern()
{
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    writeFile(root + QStringLiteral("a.pdf"), "a");
    writeFile(root + QStringLiteral("b.txt"), "b");
    writeFile(root + QStringLiteral("ro.pdf"), "r");
    QFile::setPermissions(root + QStringLiteral("ro.pdf"), QFileDevice::ReadOwner);
    QDir(root).mkdir(QStringLiteral("sub"));
    FileSystem fso;

    const FsResult soft = fso.deleteFile(root + QStringLiteral("*"), false);
    QVERIFY(!soft); // the read-only file is refused without force
    QVERIFY(QFile::exists(root + QStringLiteral("ro.pdf")));
    QVERIFY(!QFile::exists(root + QStringLiteral("a.pdf")));

    QVERIFY(fso.deleteFile(root + QStringLiteral("*"), true));
    QVERIFY(!QFile::exists(root + QStringLiteral("ro.pdf")));
    QVERIFY(QDir(root + QStringLiteral("sub")).exists());

    const FsResult none = fso.deleteFile(root + QStringLiteral("*"), true);
    QVERIFY(!none);
    QVERIFY(none.notFound);
}

void TestFileSystem::deleteLiteralNameWithWildcards()
{
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    writeFile(root + QStringLiteral("out*.pdf"), "x");
    writeFile(root + QStringLiteral("outer.pdf"), "y");
    FileSystem fso;
    QVERIFY(fso.deleteFile(root + QStringLiteral("out*.pdf"), true));
    QVERIFY(QFile::exists(root + QStringLiteral("outer.pdf")));
}

void TestFileSystem::deleteFolderRemovesReadOnlyContent()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ws"));
    QDir().mkpath(folder + QStringLiteral("/deep"));
    writeFile(folder + QStringLiteral("/deep/ro.txt"), "r");
    QFile::setPermissions(folder + QStringLiteral("/deep/ro.txt"), QFileDevice::ReadOwner);
    FileSystem fso;
    QVERIFY(fso.deleteFolder(folder, true));
    QVERIFY(!QFileInfo::exists(folder));
}

void TestFileSystem::moveRefusesExistingTarget()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    writeFile(a, "a");
    writeFile(b, "b");
    FileSystem fso;
    QVERIFY(!fso.moveFile(a, b));
    QVERIFY(QFile::exists(a));
    QVERIFY(QFile::remove(b));
    QVERIFY(fso.moveFile(a, b));
    QVERIFY(!QFile::exists(a));
}

void TestFileSystem::copyReplacesTarget()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    writeFile(a, "new content");
    writeFile(b, "old");
    FileSystem fso;
    QVERIFY(fso.copyFile(a, b));
    QFile f(b);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("new content"));
}

void TestFileSystem::copyOfMissingFileLeavesTargetAlone()
{
    QTemporaryDir dir;
    const QString b = dir.filePath(QStringLiteral("b"));
    FileSystem fso;
    const FsResult r = fso.copyFile(dir.filePath(QStringLiteral("absent")), b);
    QVERIFY(!r);
    QVERIFY(r.notFound);
    QVERIFY(!QFile::exists(b));
}

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
