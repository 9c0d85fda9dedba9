#include "stations/LeadingValue.h"
#include "stations/StationList.h"
#include "stations/Tokens.h"

#include <QTest>
#include <cmath>

class TestStationList : public QObject {
    Q_OBJECT

private slots:
    void leadingValue_data();
    void leadingValue();
    void orderAndWeeding_data();
    void orderAndWeeding();
    void pasteEntries_data();
    void pasteEntries();
};

void TestStationList::leadingValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    // clang-format off
    QTest::newRow("trailing letters") << "12345ABC" << 12345.0;
    QTest::newRow("blank inside") << "1 2" << 12.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    QTest::newRow("letters first") << "ABC12345" << 0.0;
    QTest::newRow("negative") << "-5" << -5.0;
    QTest::newRow("second full stop ends") << "1.2.3" << 1.2;
    QTest::newRow("comma is no decimal point") << "1,5" << 1.0;
    QTest::newRow("exponent sign") << "5e-1" << 0.5;
    QTest::newRow("underflow") << "1E-400" << 0.0;
    // clang-format on
}

void TestStationList::leadingValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::leadingValue(text), value);
}

void TestStationList::orderAndWeeding_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("expected");
    // clang-format off
    QTest::newRow("digits compare as characters") << QStringList{"200", "1000", "30", "1000"} << QStringList{"1000", "200", "30"};
    QTest::newRow("leading zero kept apart") << QStringList{"123", "0123", "123", "123"} << QStringList{"0123", "123"};
    QTest::newRow("123.0 is its own entry") << QStringList{"123.0", "123"} << QStringList{"123", "123.0"};
    QTest::newRow("case-insensitive, then exact") << QStringList{"12b", "12B", "12a", "12C"} << QStringList{"12a", "12B", "12b", "12C"};
    // clang-format on
}

void TestStationList::orderAndWeeding()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, expected);
    // One at a time and all at once must agree.
    StationList single;
    for (const QString &e : added)
        single.add(e);
    single.updateCount();
    QCOMPARE(single.entries(), expected);
    QCOMPARE(single.selected(), 0);

    StationList batch;
    batch.addAll(added);
    batch.updateCount();
    QCOMPARE(batch.entries(), expected);
}

void TestStationList::pasteEntries_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("entries");
    // clang-format off
    QTest::newRow("lone CR") << "111\r222" << QStringList{"111", "222"};
    QTest::newRow("no-break and thin spaces") << "111\u00A0222\u2009333" << QStringList{"111", "222", "333"};
    QTest::newRow("form feed, mixed") << "1\f2,\t 3\r\n\n4" << QStringList{"1", "2", "3", "4"};
    QTest::newRow("prefix stripped") << "GSID:12345" << QStringList{"12345"};
    QTest::newRow("letter before digit") << "A1B2" << QStringList{"1B2"};
    QTest::newRow("zero and letters add nothing") << "0,ABC" << QStringList{};
    QTest::newRow("huge number accepted") << "1E400" << QStringList{"1E400"};
    QTest::newRow("overlong piece dropped") << QString(5000, '0') + "1 7" << QStringList{"7"};
    QTest::newRow("separators only") << " ,, \r\n " << QStringList{};
    // clang-format on
}

void TestStationList::pasteEntries()
{
    QFETCH(QString, source);
    QFETCH(QStringList, entries);
    QCOMPARE(::pasteEntries(source), entries);
}

QTEST_APPLESS_MAIN(TestStationList)
#include "tst_stationlist.moc"
