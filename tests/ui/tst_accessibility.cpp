#include "TestSupport.h"
#include "platform/ScriptedInteraction.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

// What a screen reader finds: every control of both windows has a name, and its
// tooltip, where it has one, as its description.
class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void everyControlNamedAndDescribed();

private:
    void check(QWidget *window, const QStringList &described);
};

void TestAccessibility::check(QWidget *window, const QStringList &described)
{
    const QList<QWidget *> controls =
        window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(!controls.isEmpty());
    QStringList withDescription;
    for (QWidget *control : controls) {
        const QString name = control->objectName();
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(control);
        QVERIFY2(a, qPrintable(name));
        QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(name));
        QCOMPARE(a->text(QAccessible::Description), control->toolTip());
        if (!control->toolTip().isEmpty())
            withDescription << name;
    }
    withDescription.sort();
    QCOMPARE(withDescription, described);
}

void TestAccessibility::everyControlNamedAndDescribed()
{
    Sandbox box;
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(box.settings(), fso, ui);
    check(&window, {"btnClear", "btnContinue", "btnGetInFile", "btnPaste", "btnRemove",
                    "cmbGsidList", "txtAdd", "txtInFile", "txtOutFile"});
    frmAbout about(&window);
    check(&about, {"cmdOK"});
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
