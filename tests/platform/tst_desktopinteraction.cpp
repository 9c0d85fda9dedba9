#include "TestSupport.h"
#include "platform/DesktopInteraction.h"

#include <QApplication>
#include <QTest>
#include <QTextBrowser>

class TestDesktopInteraction : public QObject {
    Q_OBJECT

private slots:
    void helpShowsOneWindow();
};

void TestDesktopInteraction::helpShowsOneWindow()
{
    auto browsers = [] {
        QList<QTextBrowser *> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *b = qobject_cast<QTextBrowser *>(w); b && b->isVisible())
                found << b;
        return found;
    };
    DesktopInteraction ui;
    const QString helpFile = programFolder() + "/Brindlewick.hlp";
    ui.showHelp(helpFile);
    ui.showHelp(helpFile); // again: the same window, raised
    QCOMPARE(browsers().size(), 1);
    QCOMPARE(browsers()[0]->windowTitle(), "Brindlewick Help");
    QVERIFY(browsers()[0]->toPlainText().contains("Building the GSID list"));

    // A missing file is the viewer's to report; nothing fails.
    ui.showHelp("/no/such/Brindlewick.hlp");
    QCOMPARE(browsers().size(), 1);
    QVERIFY(browsers()[0]->toPlainText().contains("could not be opened"));
    ui.showHelp(helpFile);
    QVERIFY(browsers()[0]->toPlainText().contains("Building the GSID list"));

    // Closed by the user, it opens afresh with the document.
    browsers()[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ui.showHelp(helpFile);
    QCOMPARE(browsers().size(), 1);
    QVERIFY(browsers()[0]->toPlainText().contains("Building the GSID list"));
}

QTEST_MAIN(TestDesktopInteraction)
#include "tst_desktopinteraction.moc"
