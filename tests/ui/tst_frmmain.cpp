#include "TestSupport.h"
#include "platform/ScriptedInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void controlsAsLaidOut_data();
    void controlsAsLaidOut();
    void windowFrameAndFocus();
    void tabOrder();
    void typingAndPasting();
    void clipboardPaste();
    void removeAndClear();
    void fullListTellsOnce();
    void importByDialog();
    void importByDrop();
    void dropsElsewhere();
    void continueValidates_data();
    void continueValidates();
    void continueBuildsAndClears();
    void continueWithMissingSheets();
    void continueFtpDirectoryMissingEndsProgram();

private:
    template <typename T> T *control(const char *name)
    {
        T *w = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QStringList shownEntries();
    void drop(QWidget *target, const QList<QUrl> &urls, const QString &text = {});

    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    std::unique_ptr<ScriptedInteraction> m_ui;
    std::unique_ptr<frmMain> m_window;
};

void TestFrmMain::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(m_box->share(),
                {station(QStringLiteral("100"), QStringLiteral("ZULU"), QStringLiteral("A, B")),
                 station(QStringLiteral("200"), QStringLiteral("ALPHA"), QStringLiteral("C, D")),
                 station(QStringLiteral("300"), QStringLiteral("MIKE"), QStringLiteral("E, F"))});
    m_ui = std::make_unique<ScriptedInteraction>();
    m_window = std::make_unique<frmMain>(m_box->settings(), m_fso, *m_ui);
    QVERIFY(m_window->Form_Load());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFrmMain::cleanup()
{
    m_window.reset();
    m_ui.reset();
    m_box.reset();
}

QStringList TestFrmMain::shownEntries()
{
    auto *list = control<QComboBox>("cmbGsidList");
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

void TestFrmMain::controlsAsLaidOut_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry"); // pixels
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<bool>("visible");
    QTest::newRow("Label4") << "Label4"
                            << "GSID List :" << QRect(16, 19, 57, 17) << "" << true;
    QTest::newRow("cmbGsidList") << "cmbGsidList"
                                 << "" << QRect(72, 16, 83, 21)
                                 << "Drop a file here to add its contents to the GSID list."
                                 << true;
    QTest::newRow("btnGetInFile") << "btnGetInFile"
                                  << "Browse" << QRect(157, 17, 53, 19)
                                  << "Browse for a file here to add its contents to the GSID list."
                                  << true;
    QTest::newRow("lblCount") << "lblCount"
                              << "No Data Sheets Loaded" << QRect(224, 19, 165, 17) << "" << true;
    QTest::newRow("btnRemove")
        << "btnRemove"
        << "Remove Selected GSID" << QRect(16, 52, 137, 19)
        << "Highlight an entry on the GSID list and click here to remove it from the list." << true;
    QTest::newRow("txtAdd") << "txtAdd"
                            << "" << QRect(179, 52, 119, 19)
                            << "Type GSID numbers or paste them from the clipboard here." << true;
    QTest::newRow("btnPaste")
        << "btnPaste"
        << "Paste Clipboard" << QRect(301, 52, 89, 19)
        << "Add the contents of either the clipboard or the adjacent text box "
           "(if not blank) to the GSID List."
        << true;
    QTest::newRow("Label2") << "Label2"
                            << "Output File  (Must End With .PDF)" << QRect(16, 88, 169, 17) << ""
                            << true;
    QTest::newRow("btnEnglish") << "btnEnglish"
                                << "English" << QRect(200, 87, 57, 17) << "" << true;
    QTest::newRow("btnMetric") << "btnMetric"
                               << "Metric" << QRect(264, 87, 49, 17) << "" << true;
    QTest::newRow("txtOutFile") << "txtOutFile"
                                << "" << QRect(16, 104, 313, 19)
                                << "The output file must have a .pdf extension.  It will contain "
                                   "data sheets for all entered GSID's."
                                << true;
    QTest::newRow("btnGetOutFile") << "btnGetOutFile"
                                   << "Browse" << QRect(336, 104, 53, 19) << "" << true;
    QTest::newRow("btnAbout") << "btnAbout"
                              << "About" << QRect(31, 140, 53, 22) << "" << true;
    QTest::newRow("btnHelp") << "btnHelp"
                             << "Help" << QRect(100, 140, 53, 22) << "" << true;
    QTest::newRow("btnClear") << "btnClear"
                              << "Clear" << QRect(169, 140, 53, 22)
                              << "Clear all entered data and start over." << true;
    QTest::newRow("btnContinue") << "btnContinue"
                                 << "Continue" << QRect(239, 140, 53, 22) << "Build the PDF file."
                                 << true;
    QTest::newRow("btnExit") << "btnExit"
                             << "Exit" << QRect(308, 140, 53, 22) << "" << true;
    QTest::newRow("txtInFile") << "txtInFile"
                               << "" << QRect(179, 52, 119, 19)
                               << "Drop a file, browse to a file, or paste the clipboard contents."
                               << false;
    QTest::newRow("lblCopyCount") << "lblCopyCount"
                                  << "" << QRect(366, 162, 40, 14) << "" << false;
}

void TestFrmMain::controlsAsLaidOut()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(QString, tooltip);
    QFETCH(bool, visible);
    QWidget *w = m_window->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->toolTip(), tooltip);
    QCOMPARE(w->isVisible(), visible);
    QVERIFY(w->isEnabled());
    QVERIFY(!w->accessibleName().isEmpty() || name == QStringLiteral("lblCopyCount"));
    QString shown;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        shown = b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        shown = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        shown = e->text();
    QCOMPARE(shown, text);
    // No caption may be cut off.
    if (!shown.isEmpty())
        QVERIFY2(w->fontMetrics().horizontalAdvance(shown) <= w->width(), qPrintable(shown));
}

void TestFrmMain::windowFrameAndFocus()
{
    QCOMPARE(m_window->windowTitle(),
             QStringLiteral(" Get a List of Data Sheets and Combine into a Single PDF"));
    QCOMPARE(m_window->size(), QSize(408, 176));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!m_window->windowIcon().isNull());
    QVERIFY(control<QRadioButton>("btnEnglish")->isChecked());
    QVERIFY(!control<QRadioButton>("btnMetric")->isChecked());
    QVERIFY(!control<QComboBox>("cmbGsidList")->isEditable());
    QCOMPARE(m_window->focusWidget(), control<QPushButton>("btnExit"));
    QCOMPARE(control<QComboBox>("cmbGsidList")->accessibleName(), QStringLiteral("GSID List"));
    QCOMPARE(control<QLineEdit>("txtAdd")->accessibleName(), QStringLiteral("GSIDs to add"));
    QCOMPARE(control<QLineEdit>("txtOutFile")->accessibleName(), QStringLiteral("Output File"));
}

void TestFrmMain::tabOrder()
{
    const QStringList expected = {"btnExit",     "btnAbout",    "btnEnglish",   "txtOutFile",
                                  "btnContinue", "btnClear",    "btnGetInFile", "btnGetOutFile",
                                  "btnHelp",     "cmbGsidList", "txtAdd",       "btnRemove",
                                  "btnPaste",    "btnExit"};
    m_window->activateWindow();
    control<QPushButton>("btnExit")->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);
}

void TestFrmMain::typingAndPasting()
{
    auto *txtAdd = control<QLineEdit>("txtAdd");
    auto *btnPaste = control<QPushButton>("btnPaste");
    QTest::keyClicks(txtAdd, QStringLiteral("   "));
    QCOMPARE(btnPaste->text(), QStringLiteral("Paste Clipboard"));
    QTest::keyClicks(txtAdd, QStringLiteral("12345, 23456 GSID:345 12345"));
    QCOMPARE(btnPaste->text(), QStringLiteral("Add Text to List"));
    QTest::mouseClick(btnPaste, Qt::LeftButton);
    QCOMPARE(shownEntries(), (QStringList{"12345", "23456", "345"}));
    QCOMPARE(txtAdd->text(), QString());
    QCOMPARE(btnPaste->text(), QStringLiteral("Paste Clipboard"));
    QCOMPARE(control<QLabel>("lblCount")->text(), QStringLiteral("3 Data Sheets Loaded"));
    QCOMPARE(control<QComboBox>("cmbGsidList")->currentIndex(), 0);
}

void TestFrmMain::clipboardPaste()
{
    QGuiApplication::clipboard()->setText(QStringLiteral("200\r\n1000\r\n30\r\n1000\r\n"));
    auto *btnPaste = control<QPushButton>("btnPaste");
    QTest::mouseClick(btnPaste, Qt::LeftButton);
    QCOMPARE(shownEntries(), (QStringList{"1000", "200", "30"}));
    QTest::mouseClick(btnPaste, Qt::LeftButton); // the same clipboard again changes nothing
    QCOMPARE(shownEntries(), (QStringList{"1000", "200", "30"}));
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(btnPaste, Qt::LeftButton);
    QCOMPARE(control<QLabel>("lblCount")->text(), QStringLiteral("3 Data Sheets Loaded"));
}

void TestFrmMain::removeAndClear()
{
    auto *list = control<QComboBox>("cmbGsidList");
    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("1 2 3"));
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    control<QRadioButton>("btnMetric")->setChecked(true);
    list->setCurrentIndex(1);
    QTest::mouseClick(control<QPushButton>("btnRemove"), Qt::LeftButton);
    QCOMPARE(shownEntries(), (QStringList{"1", "3"}));
    QCOMPARE(list->currentIndex(), 0);
    QCOMPARE(control<QLabel>("lblCount")->text(), QStringLiteral("2 Data Sheets Loaded"));

    control<QLineEdit>("txtOutFile")->setText(QStringLiteral("/tmp/x.pdf"));
    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("typed"));
    QTest::mouseClick(control<QPushButton>("btnClear"), Qt::LeftButton);
    QVERIFY(shownEntries().isEmpty());
    QCOMPARE(control<QLineEdit>("txtOutFile")->text(), QString());
    QCOMPARE(control<QLineEdit>("txtAdd")->text(), QStringLiteral("typed"));
    QVERIFY(control<QRadioButton>("btnMetric")->isChecked());
    QCOMPARE(control<QLabel>("lblCount")->text(), QStringLiteral("No Data Sheets Loaded"));

    QTest::mouseClick(control<QPushButton>("btnRemove"), Qt::LeftButton); // nothing selected
    QVERIFY(shownEntries().isEmpty());
    QVERIFY(m_ui->messages.isEmpty());
}

void TestFrmMain::fullListTellsOnce()
{
    QString many;
    for (int i = 0; i < StationList::MaxEntries + 5; ++i)
        many += QString::number(100000 + i) + QLatin1Char(',');
    QGuiApplication::clipboard()->setText(many);
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    QCOMPARE(control<QComboBox>("cmbGsidList")->count(), StationList::MaxEntries);
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].text,
             QStringLiteral("The GSID list is full; it holds at most 32767 entries."));
}

void TestFrmMain::importByDialog()
{
    const QString file = m_box->dir.filePath(QStringLiteral("week 12.txt"));
    writeFile(file, "300\nStation 100\n");
    auto *browse = control<QPushButton>("btnGetInFile");
    m_ui->nextFile = file;
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(m_ui->dialogTitles.last(), QStringLiteral("Select the GSID Input File"));
    QCOMPARE(shownEntries(), (QStringList{"100", "300"}));
    QCOMPARE(control<QLineEdit>("txtOutFile")->text(),
             m_box->dir.filePath(QStringLiteral("week 12.pdf")));

    // The same file again reads nothing; the dialog starts from it.
    writeFile(file, "555\n");
    m_ui->nextFile = file;
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(m_ui->dialogStarts.last(), file);
    QCOMPARE(shownEntries(), (QStringList{"100", "300"}));

    // Cancel changes nothing; a second file adds to the list, the output path stays.
    QTest::mouseClick(browse, Qt::LeftButton);
    const QString other = m_box->dir.filePath(QStringLiteral("other.txt"));
    writeFile(other, "\xEF\xBB\xBF"
                     "200\n");
    m_ui->nextFile = other;
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(shownEntries(), (QStringList{"100", "200", "300"}));
    QCOMPARE(control<QLineEdit>("txtOutFile")->text(),
             m_box->dir.filePath(QStringLiteral("week 12.pdf")));

    // A folder cannot be read: told, and nothing changes.
    m_ui->nextFile = m_box->dir.path();
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].text,
             QStringLiteral("Unable to read the file ") + m_box->dir.path() + '.');
    QCOMPARE(shownEntries().size(), 3);
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

void TestFrmMain::importByDrop()
{
    const QString first = m_box->dir.filePath(QStringLiteral("a.txt"));
    const QString second = m_box->dir.filePath(QStringLiteral("b.txt"));
    writeFile(first, "11,22\r\n");
    writeFile(second, "99\n");
    auto *list = control<QComboBox>("cmbGsidList");
    drop(list, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QCOMPARE(shownEntries(), (QStringList{"11", "22"}));
    QCOMPARE(control<QLineEdit>("txtInFile")->text(), first);
    drop(list, {QUrl::fromLocalFile(first)}); // the same file read again: no change
    QCOMPARE(shownEntries(), (QStringList{"11", "22"}));
    drop(list, {}, QStringLiteral("33")); // no file list
    QCOMPARE(shownEntries(), (QStringList{"11", "22"}));
    QVERIFY(m_ui->messages.isEmpty());
}

void TestFrmMain::dropsElsewhere()
{
    const QString file = m_box->dir.filePath(QStringLiteral("x.txt"));
    const QString other = m_box->dir.filePath(QStringLiteral("y.pdf"));
    writeFile(file, "77\n");
    drop(control<QLineEdit>("txtAdd"), {QUrl::fromLocalFile(file)});
    QCOMPARE(control<QLineEdit>("txtAdd")->text(), QString());
    drop(control<QPushButton>("btnContinue"), {QUrl::fromLocalFile(file)});
    QVERIFY(shownEntries().isEmpty());
    auto *out = control<QLineEdit>("txtOutFile");
    out->setText(QStringLiteral("/old/path.pdf"));
    drop(out, {QUrl::fromLocalFile(other), QUrl::fromLocalFile(file)});
    QCOMPARE(out->text(), other);
}

void TestFrmMain::continueValidates_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("trimmed");
    QTest::addColumn<QString>("message");
    QTest::newRow("blanks only") << "   "
                                 << ""
                                 << "Must specify an output file name.";
    QTest::newRow("wrong ending") << " /tmp/a.pdf.txt "
                                  << "/tmp/a.pdf.txt"
                                  << "Output file name must end in .pdf.";
    QTest::newRow("in the workspace")
        << "@WS@out.pdf"
        << "@WS@out.pdf"
        << "The output file must not be in the workspace folder @WS@.";
}

void TestFrmMain::continueValidates()
{
    QFETCH(QString, output);
    QFETCH(QString, trimmed);
    QFETCH(QString, message);
    const QString ws = m_box->workspace();
    for (QString *s : {&output, &trimmed, &message})
        s->replace(QStringLiteral("@WS@"), ws);
    auto *btnContinue = control<QPushButton>("btnContinue");
    auto *txtOutFile = control<QLineEdit>("txtOutFile");
    txtOutFile->setText(output);
    QTest::mouseClick(btnContinue, Qt::LeftButton); // empty list: nothing at all
    QCOMPARE(txtOutFile->text(), output);
    QVERIFY(m_ui->messages.isEmpty());

    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("100"));
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    QTest::mouseClick(btnContinue, Qt::LeftButton);
    QCOMPARE(txtOutFile->text(), trimmed);
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].title, QStringLiteral("Error"));
    QCOMPARE(m_ui->messages[0].text, message);
    QCOMPARE(shownEntries(), QStringList{"100"});
}

void TestFrmMain::continueBuildsAndClears()
{
    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("300 100 200"));
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    const QString out = m_box->dir.filePath(QStringLiteral("sheets.pdf"));
    control<QLineEdit>("txtOutFile")->setText(QStringLiteral("  ") + out + QStringLiteral(" "));

    // Each time the run services events, note what the window shows.
    struct Seen {
        QString progress;
        bool busy;
    };
    QList<Seen> seen;
    QTimer spy;
    connect(&spy, &QTimer::timeout, this, [&] {
        auto *label = control<QLabel>("lblCopyCount");
        const bool allDisabled = !control<QPushButton>("btnClear")->isEnabled() &&
                                 !control<QPushButton>("btnContinue")->isEnabled() &&
                                 !control<QComboBox>("cmbGsidList")->isEnabled() &&
                                 !control<QLineEdit>("txtAdd")->isEnabled();
        const bool busy =
            allDisabled && label->isVisible() && m_window->cursor().shape() == Qt::WaitCursor;
        if (seen.isEmpty() || seen.last().progress != label->text())
            seen.append({label->text(), busy});
    });
    spy.start(0);
    QTest::mouseClick(control<QPushButton>("btnContinue"), Qt::LeftButton);
    spy.stop();

    QStringList progress;
    for (const Seen &s : seen) {
        if (s.busy)
            progress << s.progress;
    }
    QCOMPARE(progress, (QStringList{"1", "2", "3", "Writing"}));
    QCOMPARE(stationNamesOf(out), (QStringList{"ALPHA", "MIKE", "ZULU"}));
    QVERIFY(m_ui->messages.isEmpty());
    QVERIFY(shownEntries().isEmpty());
    QCOMPARE(control<QLineEdit>("txtOutFile")->text(), QString());
    QCOMPARE(control<QLabel>("lblCount")->text(), QStringLiteral("No Data Sheets Loaded"));
    QVERIFY(!control<QLabel>("lblCopyCount")->isVisible());
    QVERIFY(control<QPushButton>("btnContinue")->isEnabled());
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(QDir(m_box->workspace()).entryList(QDir::Files).isEmpty());
}

void TestFrmMain::continueWithMissingSheets()
{
    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("100 404 405"));
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    const QString out = m_box->dir.filePath(QStringLiteral("part.pdf"));
    control<QLineEdit>("txtOutFile")->setText(out);
    QTest::mouseClick(control<QPushButton>("btnContinue"), Qt::LeftButton);
    QCOMPARE(stationNamesOf(out), QStringList{"ZULU"});
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].text,
             QStringLiteral("No data sheet could be fetched for these GSIDs:\r\n404, 405"));
    QVERIFY(shownEntries().isEmpty());

    // Nothing at all fetched: told, and the list and paths are kept.
    QTest::keyClicks(control<QLineEdit>("txtAdd"), QStringLiteral("404"));
    QTest::mouseClick(control<QPushButton>("btnPaste"), Qt::LeftButton);
    control<QLineEdit>("txtOutFile")->setText(out);
    QTest::mouseClick(control<QPushButton>("btnContinue"), Qt::LeftButton);
    QCOMPARE(m_ui->messages.size(), 2);
    QCOMPARE(m_ui->messages[1].text,
             QStringLiteral("No data sheet could be fetched; no output file was written."));
    QCOMPARE(shownEntries(), QStringList{"404"});
    QCOMPARE(control<QLineEdit>("txtOutFile")->text(), out);
    QVERIFY(!control<QLabel>("lblCopyCount")->isVisible());
}

void TestFrmMain::continueFtpDirectoryMissingEndsProgram()
{
    // An FTP server without the edition directories, and no share.
    Sandbox box;
    FtpServer server(box.dir.path());
    QVERIFY(server.start());
    AppSettings settings = box.settings();
    settings.ftpHost = server.host();
    ScriptedInteraction ui;
    frmMain window(settings, m_fso, ui);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.sourceMode(), SourceMode::Ftp);
    window.findChild<QLineEdit *>(QStringLiteral("txtAdd"))->setText(QStringLiteral("100"));
    window.findChild<QPushButton *>(QStringLiteral("btnPaste"))->click();
    window.findChild<QLineEdit *>(QStringLiteral("txtOutFile"))
        ->setText(box.dir.filePath(QStringLiteral("o.pdf")));
    window.findChild<QPushButton *>(QStringLiteral("btnContinue"))->click();
    QVERIFY(ui.ended);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].text,
             QStringLiteral("Unable to locate either Network or FTP directories."));
    QVERIFY(!window.findChild<QLabel *>(QStringLiteral("lblCopyCount"))->isVisible());
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
