#include "assembly/MergePlan.h"

#include <QTest>

class TestMergePlan : public QObject {
    Q_OBJECT

private slots:
    void batches_data();
    void batches();
    void orderOfTheOutput();
};

void TestMergePlan::batches_data()
{
    // Ten files of names "f0" … "f9" (each argument 3 + 1 + 8 bytes); the sizes of
    // the batches for a budget and a batch size, with 20 bytes for the rest.
    QTest::addColumn<qsizetype>("budget");
    QTest::addColumn<int>("batchSize");
    QTest::addColumn<QList<int>>("sizes");
    // clang-format off
    QTest::newRow("all fit") << qsizetype(1000) << 1000 << QList<int>{10};
    QTest::newRow("by batch size") << qsizetype(1000) << 4 << QList<int>{4, 4, 2};
    QTest::newRow("by the budget") << qsizetype(20 + 3 * 12) << 1000 << QList<int>{3, 3, 3, 1};
    QTest::newRow("two even over budget") << qsizetype(1) << 1000 << QList<int>{2, 2, 2, 2, 2};
    QTest::newRow("batch size below two") << qsizetype(1000) << 1 << QList<int>{2, 2, 2, 2, 2};
    // clang-format on
}

void TestMergePlan::batches()
{
    QFETCH(qsizetype, budget);
    QFETCH(int, batchSize);
    QFETCH(QList<int>, sizes);
    QStringList files;
    for (int i = 0; i < 10; ++i)
        files << QStringLiteral("f%1").arg(i);
    const QList<QStringList> batches = MergePlan::batches(files, budget, 20, batchSize);
    QList<int> got;
    QStringList joined;
    for (const QStringList &batch : batches) {
        got << int(batch.size());
        joined += batch;
    }
    QCOMPARE(got, sizes);
    QCOMPARE(joined, files); // every file once, in order
}

void TestMergePlan::orderOfTheOutput()
{
    // By name without regard to case, then by case; twins of a name in list order.
    QList<Sheet> sheets;
    const QStringList stems = {"zulu", "Alpha", "alpha", "CEDAR", "alpha", "beta"};
    for (qsizetype i = 0; i < stems.size(); ++i) {
        Sheet sheet;
        sheet.index = stems.size() - i; // the list's order runs against the stems'
        sheet.gsid = QString::number(i);
        sheet.stem = stems[i];
        sheets << sheet;
    }
    MergePlan::sortForMerge(sheets);
    QStringList order;
    for (const Sheet &s : sheets)
        order << s.stem + '/' + s.gsid;
    QCOMPARE(order, (QStringList{"Alpha/1", "alpha/4", "alpha/2", "beta/5", "CEDAR/3", "zulu/0"}));
}

QTEST_GUILESS_MAIN(TestMergePlan)
#include "tst_mergeplan.moc"
