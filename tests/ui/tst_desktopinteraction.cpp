#include "TestSupport.h"
#include "ui/DesktopInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

class TestDesktopInteraction : public QObject {
    Q_OBJECT

private slots:
    void helpShowsOneWindow();
    void closingTheMainWindowEndsTheProgram();
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

void TestDesktopInteraction::closingTheMainWindowEndsTheProgram()
{
    Sandbox box;
    FileSystem fso;
    DesktopInteraction ui;
    frmMain window(box.settings(), QStringList(), fso, ui);
    window.show();
    ui.showHelp(programFolder() + "/Brindlewick.hlp");
    // The program's own event loop, as main() runs it, must end when the main
    // window closes; a guard ends it otherwise, too late.
    bool guarded = false;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QTimer::singleShot(10000, qApp, [&] {
        guarded = true;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    QVERIFY(!guarded);
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->metaObject()->className()));
}

QTEST_MAIN(TestDesktopInteraction)
#include "tst_desktopinteraction.moc"
