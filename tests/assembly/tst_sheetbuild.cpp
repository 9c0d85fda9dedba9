#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

namespace {

const QList<DataSheet> Stations = {
    station(QStringLiteral("300"), QStringLiteral("CEDAR RIDGE"), QStringLiteral("Alpha, Beta")),
    station(QStringLiteral("100"), QStringLiteral("ZULU POINT"), QStringLiteral("Carver, Beta")),
    station(QStringLiteral("200"), QStringLiteral("alder"), QStringLiteral("Delmont, Gamma")),
    station(QStringLiteral("400"), QStringLiteral("A=B"), QStringLiteral("Easton, Gamma")),
    station(QStringLiteral("500"), QStringLiteral("CEDAR RIDGE"), QStringLiteral("Alpha, Other")),
};

} // namespace

class TestSheetBuild : public QObject {
    Q_OBJECT

private slots:
    void init();
    void outputNames_data();
    void outputNames();
    void shareRunMergesInNameOrder();
    void editionsChooseFolderAndPrefix_data();
    void editionsChooseFolderAndPrefix();
    void existingOutputReplacedSilently();
    void outputInUseRetryThenSucceeds();
    void outputInUseCancelKeepsOldFile();
    void missingAndBrokenSheetsReported();
    void nothingFetched();
    void sheetWithoutLabelKeepsItsSourceName();
    void mergeFailure();
    void ftpRun();
    void ftpDirectoryMissing();
    void ftpServerRestartedBeforeRun();
    void ftpServerStoppedDuringRun();
    void missingMessage();

private:
    struct Run {
        SheetBuild::Report report;
        QStringList progress;
    };
    BuildConfig shareConfig(const QString &programDir = programFolder()) const;
    Run run(SheetBuild &build, const QStringList &gsids, const QString &out,
            const std::function<void(const QString &)> &also = {});
    QStringList workspaceFiles() const { return QDir(m_box->workspace()).entryList(QDir::Files); }

    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
};

void TestSheetBuild::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(m_box->share(), Stations);
    QVERIFY(prepareWorkspace(m_fso, m_box->workspace()));
    m_ui = ScriptedInteraction();
}

BuildConfig TestSheetBuild::shareConfig(const QString &programDir) const
{
    BuildConfig c;
    c.mode = SourceMode::Share;
    c.shareDir = m_box->share();
    c.workspaceDir = m_box->workspace();
    c.programDir = programDir;
    c.pdfToTextCmd = pdfToTextCommand(programFolder(), m_box->workspace());
    return c;
}

TestSheetBuild::Run TestSheetBuild::run(SheetBuild &build, const QStringList &gsids,
                                        const QString &out,
                                        const std::function<void(const QString &)> &also)
{
    Run r;
    r.report = build.fetchAndMerge(gsids, out, [&](const QString &text) {
        r.progress << text;
        if (also)
            also(text);
    });
    build.cleanUp();
    return r;
}

void TestSheetBuild::outputNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << ""
                           << "Must specify an output file name.";
    QTest::newRow("plain") << "/tmp/out.pdf"
                           << "";
    QTest::newRow("capitals") << "/tmp/OUT.PDF"
                              << "";
    QTest::newRow("only the ending") << ".pdf"
                                     << "";
    QTest::newRow("txt after pdf") << "/tmp/out.pdf.txt"
                                   << "Output file name must end in .pdf.";
    QTest::newRow("no extension") << "/tmp/out"
                                  << "Output file name must end in .pdf.";
    QTest::newRow("short") << "pdf"
                           << "Output file name must end in .pdf.";
    QTest::newRow("in the workspace")
        << "@WS@out.pdf"
        << "The output file must not be in the workspace folder @WS@.";
    QTest::newRow("below the workspace")
        << "@WS@sub/out.pdf"
        << "The output file must not be in the workspace folder @WS@.";
    QTest::newRow("beside the workspace") << "@WS@../out.pdf"
                                          << "";
}

void TestSheetBuild::outputNames()
{
    QFETCH(QString, name);
    QFETCH(QString, error);
    const QString ws = m_box->workspace();
    name.replace(QStringLiteral("@WS@"), ws);
    error.replace(QStringLiteral("@WS@"), ws);
    QCOMPARE(SheetBuild::outputNameError(name, ws), error);
}

void TestSheetBuild::shareRunMergesInNameOrder()
{
    SheetBuild build(shareConfig(), m_fso, m_ui);
    QVERIFY(build.selectEdition(Edition::English));
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    const Run r = run(build, {"100", "200", "300", "400", "500"}, out);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QVERIFY(r.report.missing.isEmpty());
    QCOMPARE(r.progress, (QStringList{"1", "2", "3", "4", "5", "Writing"}));
    // Sheets follow their file names, case-insensitively; twin names both arrive.
    QCOMPARE(stationNamesOf(out),
             (QStringList{"A=B", "alder", "CEDAR RIDGE", "CEDAR RIDGE", "ZULU POINT"}));
    QVERIFY(m_ui.messages.isEmpty());
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::editionsChooseFolderAndPrefix_data()
{
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("unit");
    QTest::newRow("English") << false << "PDF Single Sheet/GSID_"
                             << "(feet)";
    QTest::newRow("Metric") << true << "PDF Metric Sheet/M_GSID_"
                            << "(meters)";
}

void TestSheetBuild::editionsChooseFolderAndPrefix()
{
    QFETCH(bool, metric);
    QFETCH(QString, folder);
    QFETCH(QString, unit);
    SheetBuild build(shareConfig(), m_fso, m_ui);
    QVERIFY(build.selectEdition(metric ? Edition::Metric : Edition::English));
    QCOMPARE(build.sheetPrefix(), m_box->share() + folder);
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    QCOMPARE(run(build, {"300"}, out).report.outcome, SheetBuild::Report::Written);
    QVERIFY(pdfPages(out).value(0).contains(unit));
}

void TestSheetBuild::existingOutputReplacedSilently()
{
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    writeFile(out, "old output");
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100"}, out).report.outcome, SheetBuild::Report::Written);
    QCOMPARE(stationNamesOf(out), QStringList{"ZULU POINT"});
    QVERIFY(m_ui.messages.isEmpty());
}

void TestSheetBuild::outputInUseRetryThenSucceeds()
{
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    writeFile(out, "held open");
    StubbornFileSystem fso;
    fso.lockedPath = out;
    fso.failuresLeft = 2;
    m_ui.retryAnswers = {true, true};
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100", "300"}, out).report.outcome, SheetBuild::Report::Written);
    QCOMPARE(m_ui.messages.size(), 2);
    QCOMPARE(m_ui.messages[0].text,
             QStringLiteral(
                 "The output file is in use.  Close it\r\nand click Retry or Cancel to quit."));
    QVERIFY(m_ui.messages[0].retryCancel);
    QCOMPARE(fso.deleteAttempts, 3);
    QCOMPARE(stationNamesOf(out).size(), 2);
}

void TestSheetBuild::outputInUseCancelKeepsOldFile()
{
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    writeFile(out, "held open");
    StubbornFileSystem fso;
    fso.lockedPath = out;
    fso.failuresLeft = 100;
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100"}, out).report.outcome, SheetBuild::Report::Cancelled);
    QCOMPARE(m_ui.messages.size(), 1);
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("held open"));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::missingAndBrokenSheetsReported()
{
    const QString english = m_box->share() + QStringLiteral("PDF Single Sheet/");
    writeFile(english + QStringLiteral("GSID_601.pdf"), QByteArray());
    writeFile(english + QStringLiteral("GSID_602.pdf"), "not a pdf at all");
    const QByteArray whole = pdfFromLines({"OXA Name: CUT", "County: A, B"});
    writeFile(english + QStringLiteral("GSID_603.pdf"), whole.left(whole.size() / 3));
    // A GSID must not reach outside its edition folder.
    writeFile(m_box->share() + QStringLiteral("GSID_..pdf"), whole);
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    const Run r = run(build, {"100", "999", "601", "602", "603", "../GSID_", ".", "300"}, out);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"999", "601", "602", "603", "../GSID_", "."}));
    // A failed fetch never hands the previous sheet on a second time.
    QCOMPARE(stationNamesOf(out), (QStringList{"CEDAR RIDGE", "ZULU POINT"}));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::nothingFetched()
{
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::Metric);
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    const Run r = run(build, {"7", "8"}, out);
    QCOMPARE(r.report.outcome, SheetBuild::Report::NothingFetched);
    QCOMPARE(r.report.missing, (QStringList{"7", "8"}));
    QCOMPARE(r.progress.last(), QStringLiteral("Writing"));
    QVERIFY(!QFile::exists(out));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::sheetWithoutLabelKeepsItsSourceName()
{
    const QString english = m_box->share() + QStringLiteral("PDF Single Sheet/");
    writeFile(english + QStringLiteral("GSID_700.pdf"), pdfFromLines({"A sheet", "without label"}));
    writeFile(english + QStringLiteral("GSID_701.pdf"), pdfFromLines({"Another one"}));
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    const Run r = run(build, {"700", "701", "100"}, out);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    const QStringList pages = pdfPages(out);
    QCOMPARE(pages.size(), 3);
    QVERIFY(pages[0].contains(QStringLiteral("A sheet")));
    QVERIFY(pages[1].contains(QStringLiteral("Another one")));
}

void TestSheetBuild::mergeFailure()
{
    // A program folder without pdftk: the merge cannot start.
    QTemporaryDir empty;
    SheetBuild build(shareConfig(empty.path()), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    QCOMPARE(run(build, {"100"}, out).report.outcome, SheetBuild::Report::MergeFailed);
    QVERIFY(!QFile::exists(out));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::ftpRun()
{
    FtpServer server(m_box->dir.path());
    QDir(m_box->dir.path()).rename(QStringLiteral("geod"), QStringLiteral("Geod"));
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftp = &ftp;
    for (const Edition edition : {Edition::Metric, Edition::English}) {
        SheetBuild build(c, m_fso, m_ui);
        QVERIFY(build.selectEdition(edition));
        const bool metric = edition == Edition::Metric;
        QCOMPARE(build.ftpDir(), metric ? QStringLiteral("/Geod/PDF Metric Sheet/")
                                        : QStringLiteral("/Geod/PDF Single Sheet/"));
        QCOMPARE(build.sheetPrefix(), metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_"));
        const QString out = m_box->dir.filePath(QStringLiteral("ftp.pdf"));
        const Run r = run(build, {"300", "200", "123", "100"}, out);
        QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
        QCOMPARE(r.report.missing, QStringList{"123"});
        QCOMPARE(r.progress, (QStringList{"1", "2", "3", "4", "Writing"}));
        QCOMPARE(stationNamesOf(out), (QStringList{"alder", "CEDAR RIDGE", "ZULU POINT"}));
        QVERIFY(pdfPages(out).value(0).contains(metric ? QStringLiteral("(meters)")
                                                       : QStringLiteral("(feet)")));
    }
}

void TestSheetBuild::ftpDirectoryMissing()
{
    FtpServer server(m_box->share()); // no Geod folder at its root
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftp = &ftp;
    SheetBuild build(c, m_fso, m_ui);
    QVERIFY(!build.selectEdition(Edition::English));
}

void TestSheetBuild::ftpServerRestartedBeforeRun()
{
    QDir(m_box->dir.path()).rename(QStringLiteral("geod"), QStringLiteral("Geod"));
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    server.stop();
    QVERIFY(server.start(server.port()));
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftp = &ftp;
    SheetBuild build(c, m_fso, m_ui);
    QVERIFY(build.selectEdition(Edition::English));
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    const Run r = run(build, {"100", "300"}, out);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(stationNamesOf(out).size(), 2);
}

void TestSheetBuild::ftpServerStoppedDuringRun()
{
    QDir(m_box->dir.path()).rename(QStringLiteral("geod"), QStringLiteral("Geod"));
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftp = &ftp;
    SheetBuild build(c, m_fso, m_ui);
    QVERIFY(build.selectEdition(Edition::English));
    const QString out = m_box->dir.filePath(QStringLiteral("out.pdf"));
    QElapsedTimer timer;
    timer.start();
    const Run r = run(build, {"100", "200", "300", "400"}, out, [&](const QString &text) {
        if (text == QStringLiteral("3"))
            server.stop();
    });
    QVERIFY(timer.elapsed() < 60000);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"300", "400"}));
    QCOMPARE(stationNamesOf(out), (QStringList{"alder", "ZULU POINT"}));
}

void TestSheetBuild::missingMessage()
{
    QCOMPARE(SheetBuild::missingMessage({"1", "2"}),
             QStringLiteral("No data sheet could be fetched for these GSIDs:\r\n1, 2"));
    QStringList many;
    for (int i = 1; i <= 23; ++i)
        many << QString::number(i);
    const QString text = SheetBuild::missingMessage(many);
    QVERIFY(text.endsWith(QStringLiteral("19, 20, and 3 more")));
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
