#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFileSystem : public QObject {
    Q_OBJECT

private slots:
    void pathNames_data();
    void pathNames();
    void deleteFiles_data();
    void deleteFiles();
    void deleteLiteralNameWithWildcards();
    void copyReplacesAndLeavesNoScratch();
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

void TestFileSystem::deleteFiles_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<bool>("notFound");
    QTest::addColumn<QStringList>("left");
    // The folder holds Temp.pdf.part, Tempxpdf, a.pdf, b.txt and the folder sub.pdf.
    // clang-format off
    QTest::newRow("missing name: no pattern") << "Temp.pdf" << true
        << QStringList{"Temp.pdf.part", "Tempxpdf", "a.pdf", "b.txt", "sub.pdf"};
    QTest::newRow("question mark") << "Temp?pdf" << false
        << QStringList{"Temp.pdf.part", "a.pdf", "b.txt", "sub.pdf"};
    QTest::newRow("ending") << "*.pdf" << false
        << QStringList{"Temp.pdf.part", "Tempxpdf", "b.txt", "sub.pdf"};
    QTest::newRow("everything, folders kept") << "*" << false << QStringList{"sub.pdf"};
    QTest::newRow("folder name is no file") << "sub.pdf" << true
        << QStringList{"Temp.pdf.part", "Tempxpdf", "a.pdf", "b.txt", "sub.pdf"};
    // clang-format on
}

void TestFileSystem::deleteFiles()
{
    QFETCH(QString, spec);
    QFETCH(bool, notFound);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    for (const char *name : {"Temp.pdf.part", "Tempxpdf", "a.pdf", "b.txt"})
        writeFile(dir.filePath(name), "x");
    QVERIFY(QDir(dir.path()).mkdir("sub.pdf"));
    FileSystem fso;
    const FsResult r = fso.deleteFile(dir.filePath(spec), true);
    QCOMPARE(bool(r), !notFound);
    QCOMPARE(r.notFound, notFound);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), left);
}

void TestFileSystem::copyReplacesAndLeavesNoScratch()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("source.pdf"), "new sheet");
    writeFile(dir.filePath("Temp.pdf"), "an older, longer sheet");
    FileSystem fso;
    QVERIFY(fso.copyFile(dir.filePath("source.pdf"), dir.filePath("Temp.pdf")));
    QFile copy(dir.filePath("Temp.pdf"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), "new sheet");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             (QStringList{"Temp.pdf", "source.pdf"}));
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
