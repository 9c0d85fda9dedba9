#include "TestSupport.h"
#include "ui/DesktopInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

class TestDesktopInteraction : public QObject {
    Q_OBJECT

private slots:
    void helpShowsOneWindow();
    void closingTheMainWindowEndsTheProgram();
    void startUpFailureIsCentredAndTold();
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

void TestDesktopInteraction::startUpFailureIsCentredAndTold()
{
    // Before the main window is shown, a box over it would sit at the screen's corner.
    DesktopInteraction ui;
    QWidget notYetShown;
    notYetShown.resize(408, 176);
    ui.setParentWindow(&notYetShown);
    QPoint centre;
    QTimer::singleShot(0, qApp, [&] {
        QWidget *box = QApplication::activeModalWidget();
        QVERIFY(box);
        centre = box->geometry().center();
        box->close();
    });
    ui.showError("Unable to locate either Network or FTP directories.");
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((centre - screen).manhattanLength() < 40,
             qPrintable(QString("%1,%2").arg(centre.x()).arg(centre.y())));

    // The program itself, as a script starts it: the same words on standard error.
    QTemporaryDir box;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", box.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", box.filePath("none"));
    env.insert("BRINDLEWICK_SHARE_DIR", "geod");
    program.setProcessEnvironment(env);
    program.start(programFolder() + "/brindlewick", {});
    QByteArray told;
    QTRY_VERIFY_WITH_TIMEOUT((told += program.readAllStandardError()).contains(".\n"), EventBound);
    QVERIFY2(told.contains("brindlewick: The setting BRINDLEWICK_SHARE_DIR in the environment is "
                           "not an absolute folder path: 'geod'.\n"),
             told.constData());
    program.kill(); // its box waits for a user
    program.waitForFinished();
}

QTEST_MAIN(TestDesktopInteraction)
#include "tst_desktopinteraction.moc"
