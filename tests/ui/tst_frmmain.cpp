#include "NginxServer.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "platform/WorkerThread.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup()
    {
        m_window.reset();
        QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, 30000);
    }
    void controlsFitAndAreNamed();
    void windowFrameFocusAndTabOrder();
    void typingAndPasting();
    void pastedColumnIntoTheBox();
    void enterAdds();
    void removeAndClear();
    void importByDialogAndDrop();
    void dropsElsewhere();
    void failedReadCanBeRetried();
    void browseForOutput();
    void aboutBoxShowsFreshAndCloses();
    void continueRefusesBeforeFetching_data();
    void continueRefusesBeforeFetching();
    void continueBuildsAndClears_data();
    void continueBuildsAndClears();
    void stopAndCloseDuringABuild_data();
    void stopAndCloseDuringABuild();
    void continueReportsMissingSheets();
    void continueOverFtpKeepsTheList_data();
    void continueOverFtpKeepsTheList();

private:
    template <typename T = QWidget> T *get(const char *name)
    {
        T *w = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QLineEdit *edit(const char *name) { return get<QLineEdit>(name); }
    QString labelText(const char *name) { return get<QLabel>(name)->text(); }
    void press(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    // Continue, and wait for the build it starts to end.
    void build()
    {
        QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
        press("btnContinue");
        if (m_window->isBuilding())
            QVERIFY(finished.wait(60000));
    }
    void typeAndAdd(const QString &text)
    {
        QTest::keyClicks(edit("txtAdd"), text);
        press("btnPaste");
    }
    QStringList shownEntries();
    void drop(QWidget *target, const QList<QUrl> &urls, const QString &text = {});

    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
    std::unique_ptr<frmMain> m_window;
};

void TestFrmMain::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(m_box->share(), {station("100", "ZULU", "A, B"), station("200", "ALPHA", "C, D"),
                                 station("300", "MIKE", "E, F")});
    m_ui = ScriptedInteraction();
    m_window = std::make_unique<frmMain>(m_box->settings(), QStringList(), m_fso, m_ui);
    QVERIFY(m_window->Form_Load());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

QStringList TestFrmMain::shownEntries()
{
    auto *list = get<QComboBox>("cmbGsidList");
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

void TestFrmMain::drop(QWidget *target, const QList<QUrl> &urls, const QString &text)
{
    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(urls);
    if (!text.isEmpty())
        data.setText(text);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropEvent);
}

void TestFrmMain::controlsFitAndAreNamed()
{
    // In both windows: every control inside the window and apart from the others
    // (txtInFile hides under txtAdd), its caption whole, and a name and the tooltip
    // as description for a screen reader.
    frmAbout about(m_window.get());
    about.setFont(m_window->font()); // as About shows it
    about.show();
    for (QWidget *window :
         {static_cast<QWidget *>(m_window.get()), static_cast<QWidget *>(&about)}) {
        const QList<QWidget *> controls =
            window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(controls.size() >= 5);
        for (QWidget *w : controls) {
            if (w->isWindow())
                continue; // the About box itself
            const QString name = w->objectName();
            QVERIFY2(window->rect().contains(w->geometry()), qPrintable(name));
            for (QWidget *other : controls) {
                // The twips give a pixel of overlap here and there, never more.
                const QRect both = w->geometry().intersected(other->geometry());
                QVERIFY2(other == w || !w->isVisible() || !other->isVisible() ||
                             both.width() <= 1 || both.height() <= 1,
                         qPrintable(name + " overlaps " + other->objectName()));
            }
            QString caption;
            if (auto *b = qobject_cast<QAbstractButton *>(w))
                caption = b->text();
            else if (auto *l = qobject_cast<QLabel *>(w); l && !l->wordWrap())
                caption = l->text();
            QVERIFY2(w->fontMetrics().horizontalAdvance(caption) <= w->width(), qPrintable(name));
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a && !a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(name));
            QCOMPARE(a->text(QAccessible::Description), w->toolTip());
        }
    }
    QCOMPARE(get("txtInFile")->geometry(), get("txtAdd")->geometry());
}

void TestFrmMain::windowFrameFocusAndTabOrder()
{
    QCOMPARE(m_window->windowTitle(), " Get a List of Data Sheets and Combine into a Single PDF");
    QCOMPARE(m_window->size(), QSize(408, 176));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(
        !(m_window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!m_window->windowIcon().isNull());
    QVERIFY(get<QRadioButton>("btnEnglish")->isChecked());
    QVERIFY(!get<QComboBox>("cmbGsidList")->isEditable());
    QCOMPARE(m_window->focusWidget(), get("btnExit"));

    const QStringList expected = {"btnExit",     "btnAbout",    "btnEnglish",   "txtOutFile",
                                  "btnContinue", "btnClear",    "btnGetInFile", "btnGetOutFile",
                                  "btnHelp",     "cmbGsidList", "txtAdd",       "btnRemove",
                                  "btnPaste",    "btnExit"};
    m_window->activateWindow();
    get("btnExit")->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);

    press("btnHelp"); // the help file of the program's folder
    QCOMPARE(m_ui.helpShown, QStringList{programFolder() + "/Brindlewick.hlp"});
}

void TestFrmMain::typingAndPasting()
{
    auto *btnPaste = get<QPushButton>("btnPaste");
    QTest::keyClicks(edit("txtAdd"), "   ");
    QCOMPARE(btnPaste->text(), "Paste Clipboard");
    typeAndAdd("12345, 23456 GSID:345 12345");
    QCOMPARE(shownEntries(), (QStringList{"12345", "23456", "345"}));
    QCOMPARE(edit("txtAdd")->text(), "");
    QCOMPARE(btnPaste->text(), "Paste Clipboard");
    QCOMPARE(labelText("lblCount"), "3 Data Sheets Loaded");
    QCOMPARE(get<QComboBox>("cmbGsidList")->currentIndex(), 0);

    // The clipboard, when the box is blank; the same text twice changes nothing.
    QGuiApplication::clipboard()->setText("200\r\n1000\r\n30\r\n1000\r\n");
    press("btnPaste");
    press("btnPaste");
    QCOMPARE(shownEntries(), (QStringList{"1000", "12345", "200", "23456", "30", "345"}));

    // Beyond the list's capacity: the rest is dropped and the user told once. A GSID
    // listed already takes no room.
    QString many = "1000,";
    for (int i = 0; i < StationList::MaxEntries; ++i)
        many += QString::number(100000 + i) + ',';
    QGuiApplication::clipboard()->setText(many);
    press("btnPaste");
    QCOMPARE(get<QComboBox>("cmbGsidList")->count(), StationList::MaxEntries);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, "The GSID list is full; it holds at most 32767 entries.");
}

void TestFrmMain::pastedColumnIntoTheBox()
{
    // A column copied from an editor, longer than a line edit's usual limit: every
    // GSID arrives, none cut in half.
    QString column;
    QStringList expected;
    for (int i = 0; i < 5000; ++i) {
        expected << QString::number(1000000 + i);
        column += expected.last() + (i % 2 ? "\n" : "\t");
    }
    QVERIFY(column.size() >= 40000);
    QGuiApplication::clipboard()->setText(column);
    edit("txtAdd")->setFocus();
    QTest::keyClick(edit("txtAdd"), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(get<QPushButton>("btnPaste")->text(), "Add Text to List");
    QGuiApplication::clipboard()->setText("999"); // the box's text is taken, not this
    press("btnPaste");
    QCOMPARE(shownEntries(), expected);
}

void TestFrmMain::enterAdds()
{
    QTest::keyClicks(edit("txtAdd"), "12 34");
    QTest::keyClick(edit("txtAdd"), Qt::Key_Return);
    QCOMPARE(shownEntries(), (QStringList{"12", "34"}));
    QTest::keyClicks(edit("txtAdd"), "56");
    QTest::keyClick(edit("txtAdd"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(shownEntries(), (QStringList{"12", "34", "56"}));
    // Enter on a focused button presses it.
    get<QComboBox>("cmbGsidList")->setCurrentIndex(1);
    get("btnRemove")->setFocus();
    QTest::keyClick(get("btnRemove"), Qt::Key_Return);
    QCOMPARE(shownEntries(), (QStringList{"12", "56"}));
}

void TestFrmMain::removeAndClear()
{
    typeAndAdd("1 2 3");
    get<QRadioButton>("btnMetric")->setChecked(true);
    get<QComboBox>("cmbGsidList")->setCurrentIndex(1);
    press("btnRemove");
    QCOMPARE(shownEntries(), (QStringList{"1", "3"}));
    QCOMPARE(get<QComboBox>("cmbGsidList")->currentIndex(), 0);
    QCOMPARE(labelText("lblCount"), "2 Data Sheets Loaded");

    edit("txtOutFile")->setText("/tmp/x.pdf");
    edit("txtInFile")->setText("/tmp/x.txt");
    QTest::keyClicks(edit("txtAdd"), "typed");
    press("btnClear");
    QVERIFY(shownEntries().isEmpty());
    QCOMPARE(edit("txtOutFile")->text(), "");
    QCOMPARE(edit("txtInFile")->text(), "");
    QCOMPARE(edit("txtAdd")->text(), "typed");
    QVERIFY(get<QRadioButton>("btnMetric")->isChecked());
    QCOMPARE(labelText("lblCount"), "No Data Sheets Loaded");

    press("btnRemove"); // nothing selected: nothing happens
    QVERIFY(shownEntries().isEmpty());
    QVERIFY(m_ui.messages.isEmpty());
}

void TestFrmMain::importByDialogAndDrop()
{
    const QString file = m_box->dir.filePath("week 12.txt");
    writeFile(file, "300\nStation 100\n");
    m_ui.nextFile = file;
    press("btnGetInFile");
    QCOMPARE(m_ui.dialogTitles.last(), "Select the GSID Input File");
    QCOMPARE(shownEntries(), (QStringList{"100", "300"}));
    QCOMPARE(edit("txtOutFile")->text(), m_box->dir.filePath("week 12.pdf"));

    // Browsing to the same file reads nothing; the dialog starts from it.
    writeFile(file, "555\n");
    m_ui.nextFile = file;
    press("btnGetInFile");
    QCOMPARE(m_ui.dialogStarts.last(), file);
    QCOMPARE(shownEntries(), (QStringList{"100", "300"}));
    press("btnGetInFile"); // cancelled
    QCOMPARE(shownEntries().size(), 2);

    // Dropping reads even the same file; only the first dropped file counts, and
    // the output path already set stays.
    const QString other = m_box->dir.filePath("other.txt");
    writeFile(other, "\xEF\xBB\xBF"
                     "200\n");
    drop(get("cmbGsidList"), {QUrl::fromLocalFile(file), QUrl::fromLocalFile(other)});
    QCOMPARE(shownEntries(), (QStringList{"100", "300", "555"}));
    QCOMPARE(edit("txtOutFile")->text(), m_box->dir.filePath("week 12.pdf"));
    drop(get("cmbGsidList"), {QUrl::fromLocalFile(other)});
    QCOMPARE(shownEntries(), (QStringList{"100", "200", "300", "555"}));
    drop(get("cmbGsidList"), {}, "999"); // no file list
    QCOMPARE(shownEntries().size(), 4);
    QVERIFY(m_ui.messages.isEmpty());
}

void TestFrmMain::dropsElsewhere()
{
    const QString file = m_box->dir.filePath("x.txt");
    const QString other = m_box->dir.filePath("y.pdf");
    writeFile(file, "77\n");
    drop(edit("txtAdd"), {QUrl::fromLocalFile(file)});
    QCOMPARE(edit("txtAdd")->text(), "");
    drop(get("btnContinue"), {QUrl::fromLocalFile(file)});
    QVERIFY(shownEntries().isEmpty());
    edit("txtOutFile")->setText("/old/path.pdf");
    drop(edit("txtOutFile"), {QUrl::fromLocalFile(other), QUrl::fromLocalFile(file),
                              QUrl::fromLocalFile(m_box->dir.filePath("z.pdf"))});
    QCOMPARE(edit("txtOutFile")->text(), other);
    drop(edit("txtOutFile"), {}, "plain text, no files");
    QCOMPARE(edit("txtOutFile")->text(), other);
}

void TestFrmMain::failedReadCanBeRetried()
{
    const QString file = m_box->dir.filePath("later.txt");
    QDir().mkpath(file); // a folder for now
    for (const char *how : {"browse", "drop"}) {
        m_ui.nextFile = file;
        press("btnGetInFile");
        QCOMPARE(edit("txtInFile")->text(), ""); // as before the failed read
        QCOMPARE(m_ui.messages.last().text, "Unable to read the file " + file + '.');
        if (QString(how) == "drop") {
            QDir().rmdir(file);
            writeFile(file, "4711\n");
            drop(get("cmbGsidList"), {QUrl::fromLocalFile(file)});
        }
    }
    QCOMPARE(shownEntries(), QStringList{"4711"});
    QCOMPARE(edit("txtInFile")->text(), file);

    // A pipe is refused at once, without waiting for a writer.
    const QString pipe = m_box->dir.filePath("pipe.txt");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    m_ui.nextFile = pipe;
    press("btnGetInFile");
    QCOMPARE(m_ui.messages.last().text, "Unable to read the file " + pipe + '.');
    QCOMPARE(edit("txtInFile")->text(), file);

    // A file in a folder that does not answer (a hung network mount): told in time.
    HungMount mount(m_box->dir.filePath("served"), m_box->dir.filePath("mount"));
    if (const QString why = mount.start(); !why.isEmpty())
        QSKIP(qPrintable(why));
    writeFile(m_box->dir.filePath("served/list.txt"), "4712\n");
    QVERIFY(mount.hang());
    const QString hungList = mount.path() + "/list.txt";
    m_ui.nextFile = hungList;
    QElapsedTimer told;
    told.start();
    press("btnGetInFile");
    QVERIFY2(told.elapsed() < Settings().answerMs + 2000,
             qPrintable(QString::number(told.elapsed())));
    QCOMPARE(m_ui.messages.last().text, "Unable to read the file " + hungList + '.');
    QCOMPARE(edit("txtInFile")->text(), file);
    QCOMPARE(shownEntries(), QStringList{"4711"});
}

void TestFrmMain::browseForOutput()
{
    // Each row: the two boxes, the user's choice (none: cancel), then where the dialog
    // opened and what the output box holds. The dialog remembers across the rows.
    struct Use {
        QString outFile, inFile;
        std::optional<QString> choice;
        QString start, result;
    };
    const QList<Use> uses = {
        {"", "", std::nullopt, "", ""}, // both empty, cancelled
        {"", "/data/lists/week.txt", "/out/sheets", "/data/lists/",
         "/out/sheets"}, // no extension added
        {"", "/data/lists/week.txt", std::nullopt, "/data/lists/sheets",
         ""}, // last name, input's folder
        {"/x/old.pdf", "/data/lists/week.txt", "/x/old.pdf", "/x/old.pdf",
         "/x/old.pdf"}, // existing file
        {"rel.pdf", "", std::nullopt, "/data/lists/rel.pdf",
         "rel.pdf"}, // relative: the last folder
    };
    for (const Use &use : uses) {
        edit("txtOutFile")->setText(use.outFile);
        edit("txtInFile")->setText(use.inFile);
        m_ui.nextFile = use.choice;
        press("btnGetOutFile");
        QCOMPARE(m_ui.dialogTitles.last(), "Select The Output PDF File");
        QCOMPARE(m_ui.dialogStarts.last(), use.start);
        QCOMPARE(edit("txtOutFile")->text(), use.result);
        QVERIFY(m_ui.messages.isEmpty());
    }
}

void TestFrmMain::aboutBoxShowsFreshAndCloses()
{
    // Each press loads it afresh; Enter closes it once, Esc the second time.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            seen << box->windowTitle() << box->findChild<QLabel *>("lblVersion")->text();
            QCOMPARE(box->focusWidget()->objectName(), "cmdOK");
            QTest::keyClick(box, key);
        });
        press("btnAbout"); // returns when the box has closed
        QCOMPARE(seen, (QStringList{"About Brindlewick", "Version 1.3.1    January 9, 2012"}));
        QVERIFY(!QApplication::activeModalWidget());
    }
}

void TestFrmMain::continueRefusesBeforeFetching_data()
{
    // What is wrong, the output named (@BOX@: the sandbox, @WS@: the workspace), and the
    // message.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("no output named") << "" << "" << "Must specify an output file name.";
    QTest::newRow("output not a PDF") << "" << " /tmp/a.pdf.txt " << "Output file name must end in .pdf.";
    QTest::newRow("output in the workspace") << "" << "@WS@sub/o.pdf" << "The output file must not be in the workspace folder @WS@.";
    QTest::newRow("output is the list file") << "" << "@BOX@/sub/../x.pdf" << "The output file must not be the list file @BOX@/x.pdf.";
    QTest::newRow("no tools") << "tools" << "@BOX@/o.pdf" << "The program pdftotext could not be run from @TOOLS@.";
    QTest::newRow("output folder missing") << "" << "@BOX@/nowhere/o.pdf" << "The output folder @BOX@/nowhere does not exist.";
    QTest::newRow("a link into a missing folder") << "link" << "@BOX@/link.pdf" << "The output folder @BOX@/gone does not exist.";
    QTest::newRow("a file in the folder's place") << "file" << "@BOX@/file/o.pdf" << "The output folder @BOX@/file is not a folder.";
    QTest::newRow("output folder closed") << "closed" << "@BOX@/closed/o.pdf" << "The output folder @BOX@/closed cannot be written: permission was denied.";
    QTest::newRow("output folder does not answer") << "hangs" << "@BOX@/mount/o.pdf" << "The output folder does not answer.";
    // clang-format on
}

void TestFrmMain::continueRefusesBeforeFetching()
{
    // Told at once, before any sheet is fetched from the FTP server; the list and the
    // paths are kept.
    QFETCH(QString, fault);
    QFETCH(QString, output);
    QFETCH(QString, message);
    QTemporaryDir noTools;
    const QString box = m_box->dir.path();
    const QString ftp = m_box->dir.filePath("ftp");
    writeSheets(ftp + "/Geod", {station("100", "ZULU", "A, B")});
    FtpServer server(ftp);
    QVERIFY(server.start());
    Settings settings = m_box->settings();
    settings.sources.shareDir.clear();
    settings.sources.ftpHost = server.host();
    if (fault == "tools")
        settings.programDir = noTools.path();
    std::unique_ptr<ClosedFolder> closed;
    HungMount mount(m_box->dir.filePath("served"), m_box->dir.filePath("mount"));
    if (fault == "link")
        QVERIFY(QFile::link(box + "/gone/x.pdf", box + "/link.pdf"));
    if (fault == "file")
        writeFile(box + "/file", "a file where the folder should be");
    if (fault == "closed") {
        closed = std::make_unique<ClosedFolder>(box + "/closed");
        if (!closed->error().isEmpty())
            QSKIP(qPrintable(closed->error()));
    }
    if (fault == "hangs") {
        if (const QString why = mount.start(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(mount.hang());
    }
    m_window = std::make_unique<frmMain>(settings, QStringList(), m_fso, m_ui);
    QVERIFY(m_window->Form_Load());
    m_window->show();

    edit("txtOutFile")->setText("   ");
    build(); // an empty list: nothing at all, not even trimming
    QCOMPARE(edit("txtOutFile")->text(), "   ");
    QVERIFY(m_ui.messages.isEmpty());

    const QString list = m_box->dir.filePath("x.pdf");
    writeFile(list, "100\n");
    edit("txtOutFile")->clear();
    drop(get("cmbGsidList"), {QUrl::fromLocalFile(list)});
    QCOMPARE(edit("txtOutFile")->text(), ""); // a list named x.pdf is never proposed
    output.replace("@BOX@", box).replace("@WS@", m_box->workspace());
    edit("txtOutFile")->setText(output);
    QElapsedTimer told;
    told.start();
    build();
    QVERIFY2(told.elapsed() < settings.answerMs + 2000,
             qPrintable(QString::number(told.elapsed())));
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, message.replace("@BOX@", box)
                                        .replace("@TOOLS@", noTools.path())
                                        .replace("@WS@", m_box->workspace()));
    QCOMPARE(edit("txtOutFile")->text(), output.trimmed());
    QCOMPARE(shownEntries(), QStringList{"100"});
    QVERIFY(QDir(m_box->workspace()).isEmpty());
    QCOMPARE(readFile(list), "100\n");
    QCOMPARE(server.retrieved(), QStringList());
}

void TestFrmMain::continueBuildsAndClears_data()
{
    QTest::addColumn<QString>("gsids");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("three") << "300 100 200" << QStringList{"ALPHA", "MIKE", "ZULU"};
}

void TestFrmMain::continueBuildsAndClears()
{
    QFETCH(QString, gsids);
    QFETCH(QStringList, names);
    typeAndAdd(gsids);
    const QString out = m_box->dir.filePath("sheets.pdf");
    edit("txtOutFile")->setText("  " + out + " ");

    // While the build runs the window stays alive and shows itself busy: busy
    // pointer, progress label, Continue turned Stop, every other control disabled;
    // and the label paints every number in turn, then "Writing".
    QStringList painted;
    struct PaintSpy : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } spy;
    bool busyThroughout = true;
    spy.onPaint = [&] {
        const QString text = labelText("lblCopyCount");
        if (text.isEmpty() || (!painted.isEmpty() && painted.last() == text))
            return;
        painted << text;
        const QList<QWidget *> controls =
            m_window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        const bool othersDisabled =
            std::none_of(controls.cbegin(), controls.cend(), [&](QWidget *w) {
                return w->isEnabled() && w != get("lblCopyCount") && w != get("btnContinue");
            });
        busyThroughout = busyThroughout && m_window->isBuilding() && othersDisabled &&
                         get<QPushButton>("btnContinue")->text() == "Stop" &&
                         m_window->cursor().shape() == Qt::BusyCursor;
    };
    get("lblCopyCount")->installEventFilter(&spy);
    build();
    get("lblCopyCount")->removeEventFilter(&spy);

    QStringList counted;
    for (int i = 1; i <= names.size(); ++i)
        counted << QString::number(i);
    QCOMPARE(painted, counted + QStringList{"Writing"});
    QVERIFY(busyThroughout);
    QCOMPARE(stationNamesOf(out), names);
    QVERIFY(m_ui.messages.isEmpty());
    QVERIFY(shownEntries().isEmpty());
    QCOMPARE(edit("txtOutFile")->text(), "");
    QCOMPARE(labelText("lblCount"), "No Data Sheets Loaded");
    QVERIFY(!get("lblCopyCount")->isVisible());
    QCOMPARE(get<QPushButton>("btnContinue")->text(), "Continue");
    QVERIFY(get("btnClear")->isEnabled());
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_box->workspace()).isEmpty(), EventBound);
}

void TestFrmMain::stopAndCloseDuringABuild_data()
{
    // The build held at a phase by a tool that blocks until it is killed, by the
    // question whether to retry replacing the output, or by an output folder that does
    // not answer (a hung network mount); then Stop, Esc or the close box.
    QTest::addColumn<QString>("phase"); // pdftotext, pdftk, asking or hung output
    QTest::addColumn<QString>("how");
    // clang-format off
    QTest::newRow("reading text, Stop") << "pdftotext" << "Stop";
    QTest::newRow("reading text, close box") << "pdftotext" << "close";
    QTest::newRow("merging, Esc") << "pdftk" << "Esc";
    QTest::newRow("merging, close box") << "pdftk" << "close";
    QTest::newRow("asking to retry, close box") << "asking" << "close";
    QTest::newRow("output folder hung, Stop") << "hung output" << "Stop";
    QTest::newRow("output folder hung, close box") << "hung output" << "close";
    // clang-format on
}

void TestFrmMain::stopAndCloseDuringABuild()
{
    QFETCH(QString, phase);
    QFETCH(QString, how);
    QTemporaryDir tools;
    const QString pids = tools.filePath("pids");
    QHash<QString, QByteArray> scripts;
    if (phase == "pdftotext" || phase == "pdftk")
        scripts.insert(phase, "echo $$ >> " + pids.toUtf8() + "\nexec sleep 600\n");
    standInTools(tools.path(), scripts);
    Settings settings = m_box->settings();
    settings.programDir = tools.path();
    StubbornFileSystem fso; // for the question: the output is in use
    // The build's workers may use it a moment after it ended: not beyond its life.
    const auto settle = qScopeGuard([] { waitForWorkerThreads(EventBound); });
    const bool hung = phase == "hung output";
    // The output's folder, and where its files really lie.
    const QString served = hung ? m_box->dir.filePath("served") : m_box->dir.path();
    HungMount mount(served, m_box->dir.filePath("mount"));
    if (hung) {
        if (const QString why = mount.start(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }
    m_window = std::make_unique<frmMain>(settings, QStringList(), fso, m_ui);
    QVERIFY(m_window->Form_Load());
    m_window->show();

    typeAndAdd("100 200 300");
    const QString out = (hung ? mount.path() : served) + "/kept.pdf";
    writeFile(served + "/kept.pdf", "the old output");
    fso.lockedPath = out;
    fso.failuresLeft = phase == "asking" ? 1 : 0;
    edit("txtOutFile")->setText(out);
    const auto act = [&] {
        if (how == "Stop")
            press("btnContinue");
        else if (how == "Esc")
            QTest::keyClick(m_window.get(), Qt::Key_Escape);
        else
            QVERIFY(m_window->close());
    };
    m_ui.onRetryCancel = act; // the user closes the window instead of answering
    QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
    if (hung)
        QVERIFY(mount.hang());
    press("btnContinue");
    if (phase != "asking") {
        if (hung)
            QVERIFY(mount.waitForBlockedCall()); // the output's check waits in the kernel
        else
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pids), EventBound);
        QElapsedTimer stopping;
        stopping.start();
        act();
        QCOMPARE(finished.size(), 1);
        QVERIFY2(stopping.elapsed() < 100, qPrintable(QString::number(stopping.elapsed())));
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, EventBound);
    QCOMPARE(m_window->stationList().count(), 3);
    QCOMPARE(edit("txtOutFile")->text(), out);
    if (hung)
        QVERIFY(mount.release());
    QCOMPARE(readFile(out), QByteArray("the old output"));
    for (const QByteArray &pid : readFile(pids).split('\n')) {
        if (!pid.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + pid), EventBound);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_box->workspace()).isEmpty(), EventBound);
    // A draft the check made after it was given up on is taken back.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(served).entryList({".kept*"}, QDir::Files | QDir::Hidden),
                              QStringList(), EventBound);
    const qsizetype asked = phase == "asking" ? 1 : 0;
    if (how == "close") {
        QCOMPARE(m_ui.messages.size(), asked);
        QVERIFY(!m_window->isVisible());
        return;
    }
    QCOMPARE(m_ui.messages.size(), asked + 1);
    QCOMPARE(m_ui.messages.last().title, "Brindlewick");
    QCOMPARE(m_ui.messages.last().text, "The build was stopped; no output file was written.");
    QCOMPARE(get<QPushButton>("btnContinue")->text(), "Continue");
}

void TestFrmMain::continueReportsMissingSheets()
{
    typeAndAdd("100 404 405");
    const QString out = m_box->dir.filePath("part.pdf");
    edit("txtOutFile")->setText(out);
    build();
    QCOMPARE(stationNamesOf(out), QStringList{"ZULU"});
    // What is missing stays for another try, and the output written is not named
    // again, so a second Continue cannot overwrite it. The message says what was made.
    QCOMPARE(shownEntries(), (QStringList{"404", "405"}));
    QCOMPARE(edit("txtOutFile")->text(), "");
    QCOMPARE(labelText("lblCount"), "2 Data Sheets Loaded");
    QCOMPARE(m_ui.messages.size(), 1); // its words are BuildReport's (tst_buildreport)
    QVERIFY(
        m_ui.messages[0].text.startsWith("The output file " + out + " was written with 1 of 3"));
}

void TestFrmMain::continueOverFtpKeepsTheList_data()
{
    // No share: the sheets come from an FTP server (or a web server), which changes after
    // start-up.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");
    const QString unable = "Unable to locate either Network or FTP directories.";
    // clang-format off
    QTest::newRow("edition folder missing") << "no folder" << unable;
    QTest::newRow("server gone") << "gone" << "Could not connect to the FTP server @HOST@: Connection refused.";
    QTest::newRow("no sheet on it") << "no sheets" << "No data sheet could be fetched; no output file was written.\nCould not be fetched, not on the FTP server: 100";
    QTest::newRow("web: edition folder missing") << "web, no folder" << "No data sheet could be fetched; no output file was written.\nCould not be fetched, not on the web server: 100\nNot one of them is on the web server: its folder @WEB@PDF%20Single%20Sheet/ may be missing.";
    // clang-format on
}

void TestFrmMain::continueOverFtpKeepsTheList()
{
    QFETCH(QString, change);
    QFETCH(QString, message);
    QDir(m_box->share()).removeRecursively();
    const QString root = m_box->dir.filePath("ftp");
    QDir().mkpath(root);
    const bool web = change.startsWith("web");
    if (!change.endsWith("no folder"))
        writeSheets(root + "/Geod", {station("500", "ECHO", "A, B")});
    FtpServer server(root);
    QVERIFY(server.start());
    QTemporaryDir certificates;
    NginxServer nginx(root, makeTestCertificates(certificates.path()));
    Settings settings = m_box->settings();
    settings.sources.ftpHost = server.host();
    if (web) {
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        settings.sources.webUrl = nginx.url();
        settings.sources.caFile = certificates.filePath("ca.pem");
        message.replace("@WEB@", nginx.url());
    }
    m_window = std::make_unique<frmMain>(settings, QStringList(), m_fso, m_ui);
    QVERIFY(m_window->Form_Load());
    QCOMPARE(m_window->sourceMode(), web ? SourceMode::Web : SourceMode::Ftp);
    if (change == "gone")
        server.stop();
    typeAndAdd("100");
    const QString out = m_box->dir.filePath("o.pdf");
    edit("txtOutFile")->setText(out);
    build();
    QVERIFY(!m_ui.ended);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, message.replace("@HOST@", server.host()));
    QCOMPARE(shownEntries(), QStringList{"100"});
    QCOMPARE(edit("txtOutFile")->text(), out);
    if (!change.endsWith("no folder"))
        return;
    // The folder is there now, with the sheet: the next Continue builds.
    writeSheets(root + (web ? "" : "/Geod"), {station("100", "ZULU", "A, B")});
    build();
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(stationNamesOf(out), QStringList{"ZULU"});
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
