#include "assembly/MergePlan.h"

#include <QTest>

class TestMergePlan : public QObject {
    Q_OBJECT

private slots:
    void orderOfTheOutput();
};

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
