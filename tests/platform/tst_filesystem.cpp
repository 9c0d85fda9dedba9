#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFileSystem : public QObject {
    Q_OBJECT

private slots:
    void pathNames_data();
    void pathNames();
    void deleteLiteralNameWithWildcards();
    void copyOfMissingFileLeavesTargetAlone();
};

void TestFileSystem::pathNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("base");
    // clang-format off
    QTest::newRow("plain") << "/lists/week.txt" << "/lists" << "week";
    QTest::newRow("two dots") << "/x/b.c.txt" << "/x" << "b.c";
    QTest::newRow("space") << "/lists/week 12.txt" << "/lists" << "week 12";
    QTest::newRow("no folder") << "week.txt" << "" << "week";
    QTest::newRow("root") << "/week.txt" << "/" << "week";
    QTest::newRow("no extension") << "/a/list" << "/a" << "list";
    QTest::newRow("hidden file") << "/a/.list" << "/a" << ".list";
    // clang-format on
}

void TestFileSystem::pathNames()
{
    QFETCH(QString, path);
    QFETCH(QString, parent);
    QFETCH(QString, base);
    QCOMPARE(FileSystem::parentFolderName(path), parent);
    QCOMPARE(FileSystem::baseName(path), base);
}

void TestFileSystem::deleteLiteralNameWithWildcards()
{
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    writeFile(root + "out*.pdf", "x");
    writeFile(root + "outer.pdf", "y");
    FileSystem fso;
    QVERIFY(fso.deleteFile(root + "out*.pdf", true));
    QVERIFY(QFile::exists(root + "outer.pdf"));
}

void TestFileSystem::copyOfMissingFileLeavesTargetAlone()
{
    QTemporaryDir dir;
    const QString b = dir.filePath("b");
    FileSystem fso;
    const FsResult r = fso.copyFile(dir.filePath("absent"), b);
    QVERIFY(!r);
    QVERIFY(r.notFound);
    QVERIFY(!QFile::exists(b));
}

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
