#include "assembly/SheetName.h"

#include <QTest>

class TestSheetName : public QObject {
    Q_OBJECT

private slots:
    void fromText_data();
    void fromText();
};

void TestSheetName::fromText_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("name"); // empty: no label
    // clang-format off
    QTest::newRow("worked example") << QStringList{"title", "OXA Name:  NORTH  BASE 2", "County:  Alpha , Beta"} << "NORTH--BASE-2 Alpha .pdf";
    QTest::newRow("label in other case") << QStringList{"oxa NAME: HARLOW", "County: Carver, Beta State"} << "HARLOW Carver.pdf";
    QTest::newRow("label twice: first wins") << QStringList{"OXA Name: FIRST", "County: A, B", "OXA Name: SECOND", "County: C, D"} << "FIRST A.pdf";
    QTest::newRow("label mid-line") << QStringList{"  Station OXA Name: MID", "County: Q, R"} << "MID Q.pdf";
    QTest::newRow("at most 40 characters") << QStringList{"OXA Name: " + QString(45, QLatin1Char('X')), "County: A, B"} << QString(39, QLatin1Char('X')) + " A.pdf";
    QTest::newRow("label on the last line") << QStringList{"OXA Name: LAST"} << "LAST .pdf";
    QTest::newRow("no comma keeps qualifier whole") << QStringList{"OXA Name: P", "County: Only State"} << "P Only State.pdf";
    QTest::newRow("short next line") << QStringList{"OXA Name: P", "abc"} << "P .pdf";
    QTest::newRow("tab stays") << QStringList{"OXA Name: A\tB", "County: C, D"} << "A\tB C.pdf";
    QTest::newRow("no label") << QStringList{"GSID: 1", "Name: nothing"} << "";
    QTest::newRow("empty text") << QStringList{} << "";
    // clang-format on
}

void TestSheetName::fromText()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, name);
    QCOMPARE(sheetNameFromText(lines).value_or(QString()), name);
}

QTEST_GUILESS_MAIN(TestSheetName)
#include "tst_sheetname.moc"
