#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/WorkerThread.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

// A build the test drives: it keeps what the window handed it and ends when told;
// stopped, it reports Stopped at once, as SheetBuild does.
struct StandInBuild : Build {
    StandInBuild(BuildConfig config, QObject *parent) : Build(parent), config(std::move(config)) {}
    void start(const QStringList &list, const QString &output) override
    {
        gsids = list;
        report.output = output;
        running = true;
    }
    void stop() override { end(BuildReport::Stopped); }
    bool isRunning() const override { return running; }
    void end(BuildReport::Outcome outcome, const QStringList &missing = {})
    {
        running = false;
        report.outcome = outcome;
        report.total = gsids.size();
        for (const QString &gsid : missing)
            report.missing.append({gsid, MissingCause::NotOnSource, QString()});
        emit finished(report);
    }

    BuildConfig config;
    QStringList gsids;
    BuildReport report;
    bool running = false;
};

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup()
    {
        m_window.reset();
        QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, EventBound);
    }
    void looksAsDesigned();
    void buildingTheList();
    void importingAFile();
    void aboutBox_data();
    void aboutBox();
    void refusedBeforeFetching_data();
    void refusedBeforeFetching();
    void busyThenEachEnd_data();
    void busyThenEachEnd();
    void realBuildStoppedWhileItWaits_data();
    void realBuildStoppedWhileItWaits();

private:
    // The window on the sandbox; its builds are stand-ins, or real ones (SheetBuild).
    void open(const Settings &settings, bool real = false);
    template <typename T = QWidget> T *get(const char *name)
    {
        return m_window->findChild<T *>(name);
    }
    QLineEdit *edit(const char *name) { return get<QLineEdit>(name); }
    void press(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    void typeAndAdd(const QString &text)
    {
        QTest::keyClicks(edit("txtAdd"), text);
        press("btnPaste");
    }
    QStringList shownEntries()
    {
        QStringList shown;
        for (int i = 0; i < get<QComboBox>("cmbGsidList")->count(); ++i)
            shown << get<QComboBox>("cmbGsidList")->itemText(i);
        return shown;
    }
    void drop(QWidget *target, const QList<QUrl> &urls, const QString &text = {})
    {
        QMimeData data;
        data.setUrls(urls);
        data.setText(text);
        QDragEnterEvent enter({1, 1}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropEvent({1, 1}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropEvent);
    }
    // Whether every control but the progress label and Continue (Stop) is enabled.
    bool othersEnabled(bool enabled)
    {
        const auto controls = m_window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        return std::all_of(controls.cbegin(), controls.cend(), [&](QWidget *w) {
            return w->isEnabled() == enabled || w == get("lblCopyCount") || w == get("btnContinue");
        });
    }

    std::unique_ptr<Sandbox> m_box;
    StubbornFileSystem m_fso;
    ScriptedInteraction m_ui;
    std::unique_ptr<frmMain> m_window;
    QPointer<StandInBuild> m_build; // the last stand-in made
    int m_made = 0;                 // builds made
};

void TestFrmMain::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(m_box->share(), {station("100", "ZULU", "A, B")});
    m_ui = ScriptedInteraction();
    m_fso.lockedPath.clear();
    m_made = 0;
    open(m_box->settings());
}

void TestFrmMain::open(const Settings &settings, bool real)
{
    m_window = std::make_unique<frmMain>(
        settings, QStringList(), m_fso, m_ui,
        [this, real](const BuildConfig &config, QObject *parent) -> Build * {
            ++m_made;
            if (real)
                return new SheetBuild(config, m_fso, m_ui, parent);
            return m_build = new StandInBuild(config, parent);
        });
    QVERIFY(m_window->Form_Load());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFrmMain::looksAsDesigned()
{
    QCOMPARE(m_window->size(), QSize(408, 176));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(
        !(m_window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!m_window->windowIcon().isNull());
    QVERIFY(get<QRadioButton>("btnEnglish")->isChecked());
    QVERIFY(!get<QComboBox>("cmbGsidList")->isEditable());
    QCOMPARE(m_window->focusWidget(), get("btnExit"));
    const QStringList order = QString("btnExit btnAbout btnEnglish txtOutFile btnContinue btnClear "
                                      "btnGetInFile btnGetOutFile btnHelp cmbGsidList txtAdd "
                                      "btnRemove btnPaste btnExit")
                                  .split(' ');
    m_window->activateWindow();
    get("btnExit")->setFocus();
    QStringList visited{"btnExit"};
    while (visited.size() < order.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order);
    press("btnHelp"); // the help file of the program's folder
    QCOMPARE(m_ui.helpShown, QStringList{programFolder() + "/Brindlewick.hlp"});

    // In both windows: every control inside the window and apart from the others
    // (txtInFile hides under txtAdd), its caption whole, and a name and the tooltip
    // as description for a screen reader.
    QCOMPARE(get("txtInFile")->geometry(), get("txtAdd")->geometry());
    frmAbout about(m_window.get());
    about.setFont(m_window->font()); // as About shows it
    about.show();
    for (QWidget *window :
         {static_cast<QWidget *>(m_window.get()), static_cast<QWidget *>(&about)}) {
        const auto controls = window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
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
            const auto *label = qobject_cast<QLabel *>(w);
            const QString caption = qobject_cast<QAbstractButton *>(w)
                                        ? static_cast<QAbstractButton *>(w)->text()
                                        : (label && !label->wordWrap() ? label->text() : QString());
            QVERIFY2(w->fontMetrics().horizontalAdvance(caption) <= w->width(), qPrintable(name));
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a && !a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(name));
            QCOMPARE(a->text(QAccessible::Description), w->toolTip());
        }
    }
}

void TestFrmMain::buildingTheList()
{
    press("btnRemove"); // nothing selected: nothing happens
    auto *btnPaste = get<QPushButton>("btnPaste");
    QTest::keyClicks(edit("txtAdd"), "   ");
    QCOMPARE(btnPaste->text(), "Paste Clipboard");
    typeAndAdd("12345, 23456 GSID:345 12345");
    QCOMPARE(shownEntries(), (QStringList{"12345", "23456", "345"}));
    QCOMPARE(edit("txtAdd")->text(), "");
    QCOMPARE(btnPaste->text(), "Paste Clipboard");
    QCOMPARE(get<QLabel>("lblCount")->text(), "3 Data Sheets Loaded");
    QCOMPARE(get<QComboBox>("cmbGsidList")->currentIndex(), 0);
    // Enter in the box adds, as the button does; Enter on a focused button presses it.
    QTest::keyClicks(edit("txtAdd"), "56");
    QTest::keyClick(edit("txtAdd"), Qt::Key_Enter, Qt::KeypadModifier);
    get<QComboBox>("cmbGsidList")->setCurrentIndex(1);
    get("btnRemove")->setFocus();
    QTest::keyClick(get("btnRemove"), Qt::Key_Return);
    QCOMPARE(shownEntries(), (QStringList{"12345", "345", "56"}));
    QCOMPARE(get<QComboBox>("cmbGsidList")->currentIndex(), 0);

    // Clear empties the list and both paths, and leaves the box and the edition.
    get<QRadioButton>("btnMetric")->setChecked(true);
    edit("txtOutFile")->setText("/tmp/x.pdf");
    edit("txtInFile")->setText("/tmp/x.txt");
    QTest::keyClicks(edit("txtAdd"), "typed");
    press("btnClear");
    QVERIFY(shownEntries().isEmpty());
    QCOMPARE(edit("txtOutFile")->text() + edit("txtInFile")->text(), "");
    QCOMPARE(edit("txtAdd")->text(), "typed");
    QVERIFY(get<QRadioButton>("btnMetric")->isChecked());
    QCOMPARE(get<QLabel>("lblCount")->text(), "No Data Sheets Loaded");

    // A column copied from an editor, longer than a line edit's usual limit, pasted into
    // the box: its text is taken, not the clipboard's, and no GSID is cut.
    QString column;
    for (int i = 0; i < 5000; ++i)
        column += QString::number(1000000 + i) + (i % 2 ? "\n" : "\t");
    QGuiApplication::clipboard()->setText(column);
    edit("txtAdd")->clear();
    QTest::keyClick(edit("txtAdd"), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(btnPaste->text(), "Add Text to List");
    QGuiApplication::clipboard()->setText("200\r\n1000\r\n");
    press("btnPaste");
    QCOMPARE(get<QComboBox>("cmbGsidList")->count(), 5000);
    // The clipboard, when the box is blank; the same text twice adds nothing more.
    press("btnPaste");
    press("btnPaste");
    QCOMPARE(get<QComboBox>("cmbGsidList")->count(), 5002);
    // Beyond the list's capacity: the rest is dropped and the user told once.
    QString many;
    for (int i = 0; i < StationList::MaxEntries; ++i)
        many += QString::number(100000 + i) + ',';
    QGuiApplication::clipboard()->setText(many);
    press("btnPaste");
    QCOMPARE(get<QComboBox>("cmbGsidList")->count(), StationList::MaxEntries);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, "The GSID list is full; it holds at most 32767 entries.");
}

void TestFrmMain::importingAFile()
{
    const QString file = m_box->dir.filePath("week 12.txt");
    QDir().mkpath(file); // a folder for now: unreadable
    m_ui.nextFile = file;
    press("btnGetInFile");
    QCOMPARE(m_ui.dialogTitles.last(), "Select the GSID Input File");
    QCOMPARE(m_ui.messages.last().text, "Unable to read the file " + file + '.');
    // The box does not claim the file was read, so the same name, once mended, is read.
    QCOMPARE(edit("txtInFile")->text(), "");
    QDir().rmdir(file);
    writeFile(file, "300\n100\n");
    m_ui.nextFile = file;
    press("btnGetInFile");
    QCOMPARE(shownEntries(), (QStringList{"100", "300"}));
    QCOMPARE(edit("txtOutFile")->text(), m_box->dir.filePath("week 12.pdf"));

    // Browsing to the same file reads nothing; the dialog starts from it.
    writeFile(file, "555\n");
    m_ui.nextFile = file;
    press("btnGetInFile");
    QCOMPARE(m_ui.dialogStarts.last(), file);
    press("btnGetInFile"); // cancelled
    QCOMPARE(shownEntries().size(), 2);
    // Dropping reads even the same file; only the first dropped file counts, and the
    // output path already set stays.
    const QString other = m_box->dir.filePath("other.pdf");
    writeFile(other, "200\n");
    drop(get("cmbGsidList"), {QUrl::fromLocalFile(file), QUrl::fromLocalFile(other)});
    drop(get("cmbGsidList"), {}, "999"); // no file list
    QCOMPARE(shownEntries(), (QStringList{"100", "300", "555"}));
    QCOMPARE(edit("txtOutFile")->text(), m_box->dir.filePath("week 12.pdf"));
    // The output box takes the first file dropped on it; the other controls none.
    drop(edit("txtOutFile"), {QUrl::fromLocalFile(other), QUrl::fromLocalFile(file)});
    drop(edit("txtOutFile"), {}, "plain text, no files");
    drop(edit("txtAdd"), {QUrl::fromLocalFile(file)});
    drop(get("btnContinue"), {QUrl::fromLocalFile(file)});
    QCOMPARE(edit("txtOutFile")->text(), other);
    QCOMPARE(edit("txtAdd")->text(), "");
    QCOMPARE(shownEntries().size(), 3);
    QCOMPARE(m_made, 0);

    // A file in a folder that does not answer (a hung network mount) is refused in time,
    // and does not change the box.
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
    QCOMPARE(m_ui.messages.size(), 2);
    QCOMPARE(edit("txtInFile")->text(), file);
    QCOMPARE(shownEntries().size(), 3);
}

void TestFrmMain::aboutBox_data()
{
    // The About box is grey by design: its texts must stay readable on it whatever the
    // desktop's theme. Enter closes it, or Esc.
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("key");
    QTest::newRow("dark palette, Enter") << true << int(Qt::Key_Return);
    QTest::newRow("light palette, Esc") << false << int(Qt::Key_Escape);
}

void TestFrmMain::aboutBox()
{
    QFETCH(bool, dark);
    QFETCH(int, key);
    const QPalette before = QApplication::palette();
    if (dark) {
        // A dark desktop theme: light text on dark grounds.
        QPalette palette(QColor(53, 53, 53));
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
            palette.setColor(role, QColor(240, 240, 240));
        QApplication::setPalette(palette);
    }
    QStringList seen;
    QTimer::singleShot(0, this, [&] {
        QWidget *box = QApplication::activeModalWidget();
        seen << box->windowTitle() << box->findChild<QLabel *>("lblVersion")->text()
             << box->focusWidget()->objectName();
        // Every text dark on the grey (the disclaimer red), whatever the theme's colours.
        QList<QWidget *> texts{box->findChild<QWidget *>("Text1"),
                               box->findChild<QWidget *>("cmdOK")};
        for (QLabel *label : box->findChildren<QLabel *>())
            texts << label;
        for (QWidget *w : texts) {
            const QColor text = w->palette().color(w->foregroundRole());
            const bool unreadable = w->objectName() == "lblDisclaimer"
                                        ? text.red() < 150 || text.green() > 100
                                        : text.lightness() > 80;
            if (unreadable || w->palette().color(w->backgroundRole()) != QColor(192, 192, 192))
                seen << w->objectName() + " unreadable";
        }
        if (box->grab().toImage().pixelColor(2, 2) != QColor(192, 192, 192))
            seen << "not grey";
        QApplication::setPalette(before);
        QTest::keyClick(box, Qt::Key(key));
    });
    press("btnAbout"); // returns when the box has closed
    const QStringList expected{"About Brindlewick", "Version 1.3.1    January 9, 2012", "cmdOK"};
    QVERIFY2(seen == expected, qPrintable(seen.join("; ")));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestFrmMain::refusedBeforeFetching_data()
{
    // What is wrong, the output named (@BOX@: the sandbox, @WS@: the workspace), whether
    // the refusal is the build's (its look at the output, before it fetches), and the
    // message.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("built");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("no output named") << "" << "" << false << "Must specify an output file name.";
    QTest::newRow("output not a PDF") << "" << " /tmp/a.pdf.txt " << false << "Output file name must end in .pdf.";
    QTest::newRow("no tools") << "tools" << "@BOX@/o.pdf" << false << "The program pdftotext could not be run from @TOOLS@.";
    QTest::newRow("output in the workspace") << "" << "@WS@sub/o.pdf" << true << "The output file must not be in the workspace folder @WS@.";
    QTest::newRow("output is the list file") << "" << "@BOX@/sub/../x.pdf" << true << "The output file must not be the list file @BOX@/x.pdf.";
    QTest::newRow("a file in the output folder's place") << "file" << "@BOX@/file/o.pdf" << true << "The output folder @BOX@/file is not a folder.";
    // The workspace changed after start-up: moved away, with a link, nothing, another
    // folder or its own folder opened to others in its place.
    QTest::newRow("workspace swapped for a link") << "workspace link" << "@BOX@/o.pdf" << false << "Unable to use the workspace folder @WS@: it is a link.";
    QTest::newRow("workspace removed") << "workspace removed" << "@BOX@/o.pdf" << false << "Unable to use the workspace folder @WS@: it no longer exists.";
    QTest::newRow("workspace replaced") << "workspace replaced" << "@BOX@/o.pdf" << false << "Unable to use the workspace folder @WS@: it was replaced by another folder.";
    QTest::newRow("workspace opened to others") << "workspace opened" << "@BOX@/o.pdf" << false << "Unable to use the workspace folder @WS@: other users may write to it.";
    // clang-format on
}

void TestFrmMain::refusedBeforeFetching()
{
    // Told at once, with real builds; the list and the paths are kept.
    QFETCH(QString, fault);
    QFETCH(QString, output);
    QFETCH(bool, built);
    QFETCH(QString, message);
    QTemporaryDir noTools;
    const QString box = m_box->dir.path();
    Settings settings = m_box->settings();
    if (fault == "tools")
        settings.programDir = noTools.path();
    writeFile(box + "/file", "a file where a folder could be");
    open(settings, true);
    const QString ws = m_box->workspace();
    if (fault.startsWith("workspace")) {
        QVERIFY(QDir().rename(ws, box + "/old"));
        if (fault.endsWith("link"))
            QVERIFY(QDir().mkdir(box + "/new") && QFile::link(box + "/new", ws.chopped(1)));
        else if (fault.endsWith("replaced"))
            QVERIFY(QDir().mkdir(ws));
        else if (fault.endsWith("opened"))
            QVERIFY(QDir().rename(box + "/old", ws) && ::chmod(QFile::encodeName(ws), 0777) == 0);
    }
    edit("txtOutFile")->setText("   ");
    press("btnContinue"); // an empty list: nothing at all, not even trimming
    QCOMPARE(edit("txtOutFile")->text(), "   ");

    const QString list = box + "/x.pdf";
    writeFile(list, "100\n");
    edit("txtOutFile")->clear();
    drop(get("cmbGsidList"), {QUrl::fromLocalFile(list)});
    QCOMPARE(edit("txtOutFile")->text(), ""); // a list named x.pdf is never proposed
    output.replace("@BOX@", box).replace("@WS@", m_box->workspace());
    edit("txtOutFile")->setText(output);
    QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
    press("btnContinue");
    QCOMPARE(m_made, int(built));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), int(built), EventBound);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].text, message.replace("@BOX@", box)
                                        .replace("@TOOLS@", noTools.path())
                                        .replace("@WS@", m_box->workspace()));
    QCOMPARE(edit("txtOutFile")->text(), output.trimmed());
    QCOMPARE(edit("txtInFile")->text(), list);
    QCOMPARE(shownEntries(), QStringList{"100"});
    QCOMPARE(readFile(list), "100\n");
    for (const QString &folder : {ws, box + "/old"})
        QVERIFY(QDir(folder).isEmpty()); // nothing fetched into it, nor into the one moved away
}

void TestFrmMain::busyThenEachEnd_data()
{
    // How the build ends, and what the list holds then.
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("left");
    const QStringList all{"100", "404", "405"};
    QTest::newRow("written") << "written" << QStringList{};
    QTest::newRow("written, two missing") << "missing" << QStringList{"404", "405"};
    QTest::newRow("failed") << "failed" << all;
    QTest::newRow("cancelled, Metric") << "cancelled" << all;
    QTest::newRow("Stop") << "Stop" << all;
    QTest::newRow("Esc") << "Esc" << all;
    QTest::newRow("close box") << "close box" << all;
}

void TestFrmMain::busyThenEachEnd()
{
    QFETCH(QString, end);
    QFETCH(QStringList, left);
    const QString list = m_box->dir.filePath("list.txt");
    writeFile(list, "405 100 404\n");
    m_ui.nextFile = list;
    press("btnGetInFile");
    const QString out = m_box->dir.filePath("sheets.pdf");
    edit("txtOutFile")->setText("  " + out + " ");
    get<QRadioButton>("btnMetric")->setChecked(end == "cancelled");
    QTest::keyClick(m_window.get(), Qt::Key_Escape); // no build to stop: nothing
    QCOMPARE(m_made, 0);
    press("btnContinue");
    QVERIFY(m_build && m_build->running);
    QCOMPARE(m_build->gsids, (QStringList{"100", "404", "405"}));
    QCOMPARE(m_build->report.output, out);
    QCOMPARE(m_build->config.edition, end == "cancelled" ? Edition::Metric : Edition::English);

    // Busy: the busy pointer, Continue turned Stop, every other control disabled, and
    // each count painted as it comes, though the loop may not turn between two.
    QVERIFY(m_window->isBuilding());
    QVERIFY(othersEnabled(false));
    QCOMPARE(get<QPushButton>("btnContinue")->text(), "Stop");
    QCOMPARE(m_window->cursor().shape(), Qt::BusyCursor);
    struct PaintSpy : QObject {
        QStringList painted;
        bool eventFilter(QObject *label, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                painted << label->property("text").toString();
            return false;
        }
    } spy;
    get("lblCopyCount")->installEventFilter(&spy);
    for (const char *text : {"1", "2", "3", "Writing"})
        emit m_build->progress(text);
    get("lblCopyCount")->removeEventFilter(&spy);
    QCOMPARE(spy.painted, (QStringList{"1", "2", "3", "Writing"}));

    // The end, or Stop, Esc or the close box, which reach the build at once.
    QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
    QElapsedTimer timer;
    timer.start();
    if (end == "Stop")
        press("btnContinue");
    else if (end == "Esc")
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
    else if (end == "close box")
        QVERIFY(m_window->close());
    else
        m_build->end(end == "failed"      ? BuildReport::SourceMissing
                     : end == "cancelled" ? BuildReport::Cancelled
                                          : BuildReport::Written,
                     end == "missing" ? QStringList{"404", "405"} : QStringList{});
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_made, 1);
    QCOMPARE(shownEntries(), left);
    QCOMPARE(get<QLabel>("lblCount")->text(),
             left.isEmpty() ? "No Data Sheets Loaded"
                            : QString("%1 Data Sheets Loaded").arg(left.size()));
    const bool kept = left.size() == 3; // the paths go with the list
    QCOMPARE(edit("txtOutFile")->text(), kept ? out : "");
    QCOMPARE(edit("txtInFile")->text(), kept ? list : "");
    const std::optional<UserMessage> message = m_build->report.message();
    QCOMPARE(m_ui.messages.size(), message && end != "close box" ? 1 : 0); // closed: none to read
    if (!m_ui.messages.isEmpty())
        QCOMPARE(m_ui.messages[0].text, message->text);
    QCOMPARE(m_window->isVisible(), end != "close box");
    // Ready again.
    QVERIFY(!m_window->isBuilding());
    QVERIFY(othersEnabled(true));
    QVERIFY(!get("lblCopyCount")->isVisible());
    QCOMPARE(get<QPushButton>("btnContinue")->text(), "Continue");
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QTRY_VERIFY(!m_build); // let go
}

void TestFrmMain::realBuildStoppedWhileItWaits_data()
{
    // While the user is asked whether to retry replacing the output (in use), the close
    // box; while the output's folder does not answer (a hung network mount), Stop.
    QTest::addColumn<bool>("hung");
    QTest::newRow("asked to retry, close box") << false;
    QTest::newRow("output folder hung, Stop") << true;
}

void TestFrmMain::realBuildStoppedWhileItWaits()
{
    // The old output stays, and no draft: one made late, once nobody waited, is taken
    // back. A folder still hung is told in time at the next Continue.
    QFETCH(bool, hung);
    HungMount mount(m_box->dir.filePath("served"), m_box->dir.filePath("mount"));
    if (const QString why = hung ? mount.start() : QString(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString served = hung ? m_box->dir.filePath("served") : m_box->dir.path();
    const QString out = (hung ? mount.path() : served) + "/kept.pdf";
    writeFile(served + "/kept.pdf", "the old output");
    m_fso.lockedPath = out;
    m_fso.failuresLeft = 1;
    open(m_box->settings(), true);
    typeAndAdd("100");
    edit("txtOutFile")->setText(out);
    m_ui.onRetryCancel = [&] { QVERIFY(m_window->close()); };
    QSignalSpy finished(m_window.get(), &frmMain::buildFinished);
    if (hung)
        QVERIFY(mount.hang());
    press("btnContinue");
    if (hung) {
        QVERIFY(mount.waitForBlockedCall());
        QElapsedTimer timer;
        timer.start();
        press("btnContinue");
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_ui.messages.value(0).text, "The build was stopped; no output file was written.");
        timer.start();
        press("btnContinue");
        QVERIFY(finished.wait(EventBound));
        QVERIFY2(timer.elapsed() < Settings().answerMs + 2000,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_ui.messages.value(1).text, "The output folder does not answer.");
        QCOMPARE(shownEntries(), QStringList{"100"});
        QVERIFY(mount.release());
    } else {
        QVERIFY(finished.wait(EventBound));
        QCOMPARE(m_ui.messages.size(), 1); // the question only
        QVERIFY(!m_window->isVisible());
    }
    QCOMPARE(readFile(served + "/kept.pdf"), QByteArray("the old output"));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(served).entryList({".kept*"}, QDir::Files | QDir::Hidden),
                              QStringList(), EventBound);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_box->workspace()).isEmpty(), EventBound);
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
