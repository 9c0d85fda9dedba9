#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

class TestSheetBuild : public QObject {
    Q_OBJECT

private slots:
    void init();
    void outputNames_data();
    void outputNames();
    void shareRunMergesInNameOrder();
    void mergesInOrderedBatches_data();
    void mergesInOrderedBatches();
    void editionsChooseFolderAndPrefix_data();
    void editionsChooseFolderAndPrefix();
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
    // A build over FTP from a server on the sandbox, which holds the share as "Geod".
    std::unique_ptr<SheetBuild> ftpBuild(FtpServer &server, FtpConnection &ftp, Edition edition);
    Run run(SheetBuild &build, const QStringList &gsids,
            const std::function<void(const QString &)> &also = {});
    QStringList workspaceFiles() const { return QDir(m_box->workspace()).entryList(QDir::Files); }

    std::unique_ptr<Sandbox> m_box;
    QString m_out;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
};

void TestSheetBuild::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(m_box->dir.filePath("Geod"),
                {station("300", "CEDAR RIDGE", "Alpha, Beta"),
                 station("100", "ZULU POINT", "Carver, Beta"),
                 station("200", "alder", "Delmont, Gamma"), station("400", "A=B", "Easton, Gamma"),
                 station("500", "CEDAR RIDGE", "Alpha, Other")});
    QVERIFY(prepareWorkspace(m_fso, m_box->workspace()));
    m_out = m_box->dir.filePath("out.pdf");
    m_ui = ScriptedInteraction();
}

BuildConfig TestSheetBuild::shareConfig(const QString &programDir) const
{
    BuildConfig c;
    c.mode = SourceMode::Share;
    c.shareDir = m_box->dir.filePath("Geod/");
    c.workspaceDir = m_box->workspace();
    c.programDir = programDir;
    c.pdfToTextCmd = pdfToTextCommand(programFolder(), m_box->workspace());
    return c;
}

std::unique_ptr<SheetBuild> TestSheetBuild::ftpBuild(FtpServer &server, FtpConnection &ftp,
                                                     Edition edition)
{
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftp = &ftp;
    auto build = std::make_unique<SheetBuild>(c, m_fso, m_ui);
    if (!ftp.connect() || !build->selectEdition(edition))
        qWarning("cannot enter the edition directory on %s", qPrintable(server.host()));
    return build;
}

TestSheetBuild::Run TestSheetBuild::run(SheetBuild &build, const QStringList &gsids,
                                        const std::function<void(const QString &)> &also)
{
    Run r;
    r.report = build.fetchAndMerge(gsids, m_out, [&](const QString &text) {
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
    const QString refused = "The output file must not be in the workspace folder @WS@.";
    // clang-format off
    QTest::newRow("empty") << "" << "Must specify an output file name.";
    QTest::newRow("plain") << "/tmp/out.pdf" << "";
    QTest::newRow("capitals") << "/tmp/OUT.PDF" << "";
    QTest::newRow("only the ending") << ".pdf" << "";
    QTest::newRow("txt after pdf") << "/tmp/out.pdf.txt" << "Output file name must end in .pdf.";
    QTest::newRow("short") << "pdf" << "Output file name must end in .pdf.";
    QTest::newRow("in the workspace") << "@WS@out.pdf" << refused;
    QTest::newRow("below the workspace") << "@WS@sub/out.pdf" << refused;
    QTest::newRow("beside the workspace") << "@WS@../out.pdf" << "";
    // clang-format on
}

void TestSheetBuild::outputNames()
{
    QFETCH(QString, name);
    QFETCH(QString, error);
    const QString ws = m_box->workspace();
    QCOMPARE(SheetBuild::outputNameError(name.replace("@WS@", ws), ws), error.replace("@WS@", ws));
}

void TestSheetBuild::shareRunMergesInNameOrder()
{
    writeFile(m_out, "an earlier output, replaced without a question");
    SheetBuild build(shareConfig(), m_fso, m_ui);
    QVERIFY(build.selectEdition(Edition::English));
    const Run r = run(build, {"100", "200", "300", "400", "500"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QVERIFY(r.report.missing.isEmpty());
    QCOMPARE(r.progress, (QStringList{"1", "2", "3", "4", "5", "Writing"}));
    // Sheets follow their file names, case-insensitively; twin names both arrive.
    QCOMPARE(stationNamesOf(m_out),
             (QStringList{"A=B", "alder", "CEDAR RIDGE", "CEDAR RIDGE", "ZULU POINT"}));
    QVERIFY(m_ui.messages.isEmpty());
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::mergesInOrderedBatches_data()
{
    QTest::addColumn<int>("batchSize");
    QTest::addColumn<qsizetype>("argumentBytes");
    QTest::addColumn<int>("parts");
    QTest::newRow("fits one run") << 2 << qsizetype(1 << 20) << 0;
    QTest::newRow("pairs, then pairs of parts") << 2 << qsizetype(1) << 3;
    QTest::newRow("threes, then the parts") << 3 << qsizetype(-1) << 2; // -1: all but fit
    QTest::newRow("the system's limit") << 1000 << qsizetype(0) << 0;
}

void TestSheetBuild::mergesInOrderedBatches()
{
    QFETCH(int, batchSize);
    QFETCH(qsizetype, argumentBytes);
    QFETCH(int, parts);
    struct DeletionLog : FileSystem {
        QStringList deleted;
        FsResult deleteFile(const QString &spec, bool force) override
        {
            deleted << spec;
            return FileSystem::deleteFile(spec, force);
        }
    } fso;
    const QStringList gsids = {"100", "200", "300", "400", "500"};
    BuildConfig config = shareConfig();
    if (argumentBytes < 0) {
        // One byte short of what a single run of these very sheets takes.
        SheetBuild once(config, m_fso, m_ui);
        QVERIFY(once.selectEdition(Edition::English));
        once.fetchAndMerge(gsids, m_out, [](const QString &) {});
        argumentBytes =
            SheetBuild::argumentBytes(once.mergeCommand(once.workspaceSheets(), m_out)) - 1;
        once.cleanUp();
    }
    config.mergeBatchSize = batchSize;
    config.mergeArgumentBytes = argumentBytes;
    SheetBuild build(config, fso, m_ui);
    QVERIFY(build.selectEdition(Edition::English));
    const auto report = build.fetchAndMerge(gsids, m_out, [](const QString &) {});
    QCOMPARE(report.outcome, SheetBuild::Report::Written);
    // The order a single run gives, each sheet once; no intermediate file is left.
    QCOMPARE(stationNamesOf(m_out),
             (QStringList{"A=B", "alder", "CEDAR RIDGE", "CEDAR RIDGE", "ZULU POINT"}));
    QCOMPARE(workspaceFiles().size(), 5);
    QCOMPARE(fso.deleted.filter(".part").size(), parts);
}

void TestSheetBuild::editionsChooseFolderAndPrefix_data()
{
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("unit");
    // clang-format off
    QTest::newRow("English") << false << "PDF Single Sheet/GSID_" << "(feet)";
    QTest::newRow("Metric") << true << "PDF Metric Sheet/M_GSID_" << "(meters)";
    // clang-format on
}

void TestSheetBuild::editionsChooseFolderAndPrefix()
{
    QFETCH(bool, metric);
    QFETCH(QString, folder);
    QFETCH(QString, unit);
    SheetBuild build(shareConfig(), m_fso, m_ui);
    QVERIFY(build.selectEdition(metric ? Edition::Metric : Edition::English));
    QCOMPARE(build.sheetPrefix(), m_box->dir.filePath("Geod/") + folder);
    QCOMPARE(run(build, {"300"}).report.outcome, SheetBuild::Report::Written);
    QVERIFY(pdfPages(m_out).value(0).contains(unit));
}

void TestSheetBuild::outputInUseRetryThenSucceeds()
{
    writeFile(m_out, "held open");
    StubbornFileSystem fso;
    fso.lockedPath = m_out;
    fso.failuresLeft = 2;
    m_ui.retryAnswers = {true, true};
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100", "300"}).report.outcome, SheetBuild::Report::Written);
    QCOMPARE(m_ui.messages.size(), 2);
    QCOMPARE(m_ui.messages[0].text,
             "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.");
    QVERIFY(m_ui.messages[0].retryCancel);
    QCOMPARE(fso.deleteAttempts, 3);
    QCOMPARE(stationNamesOf(m_out).size(), 2);
}

void TestSheetBuild::outputInUseCancelKeepsOldFile()
{
    writeFile(m_out, "held open");
    StubbornFileSystem fso;
    fso.lockedPath = m_out;
    fso.failuresLeft = 100;
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100"}).report.outcome, SheetBuild::Report::Cancelled);
    QCOMPARE(m_ui.messages.size(), 1);
    QFile f(m_out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("held open"));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::missingAndBrokenSheetsReported()
{
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    writeFile(english + "GSID_601.pdf", QByteArray());
    writeFile(english + "GSID_602.pdf", "not a pdf at all");
    const QByteArray whole = pdfFromLines({"OXA Name: CUT", "County: A, B"});
    writeFile(english + "GSID_603.pdf", whole.left(whole.size() / 3));
    writeFile(m_box->dir.filePath("Geod/GSID_..pdf"), whole); // outside the edition folder
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const Run r = run(build, {"100", "999", "601", "602", "603", "../GSID_", ".", "300"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"999", "601", "602", "603", "../GSID_", "."}));
    // A failed fetch never hands the previous sheet on a second time.
    QCOMPARE(stationNamesOf(m_out), (QStringList{"CEDAR RIDGE", "ZULU POINT"}));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::nothingFetched()
{
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::Metric);
    const Run r = run(build, {"7", "8"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::NothingFetched);
    QCOMPARE(r.report.missing, (QStringList{"7", "8"}));
    QCOMPARE(r.progress.last(), "Writing");
    QVERIFY(!QFile::exists(m_out));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::sheetWithoutLabelKeepsItsSourceName()
{
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    writeFile(english + "GSID_700.pdf", pdfFromLines({"A sheet", "without label"}));
    writeFile(english + "GSID_701.pdf", pdfFromLines({"Another one"}));
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"700", "701", "100"}).report.outcome, SheetBuild::Report::Written);
    const QStringList pages = pdfPages(m_out);
    QCOMPARE(pages.size(), 3);
    QVERIFY(pages[0].contains("A sheet"));
    QVERIFY(pages[1].contains("Another one"));
}

void TestSheetBuild::mergeFailure()
{
    QTemporaryDir noTools; // a program folder without pdftk
    SheetBuild build(shareConfig(noTools.path()), m_fso, m_ui);
    build.selectEdition(Edition::English);
    QCOMPARE(run(build, {"100"}).report.outcome, SheetBuild::Report::MergeFailed);
    QVERIFY(!QFile::exists(m_out));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::ftpRun()
{
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    for (const Edition edition : {Edition::Metric, Edition::English}) {
        const auto build = ftpBuild(server, ftp, edition);
        const bool metric = edition == Edition::Metric;
        QCOMPARE(build->ftpDir(), metric ? "/Geod/PDF Metric Sheet/" : "/Geod/PDF Single Sheet/");
        QCOMPARE(build->sheetPrefix(), metric ? "M_GSID_" : "GSID_");
        const Run r = run(*build, {"300", "200", "123", "100"});
        QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
        QCOMPARE(r.report.missing, QStringList{"123"});
        QCOMPARE(r.progress, (QStringList{"1", "2", "3", "4", "Writing"}));
        QCOMPARE(stationNamesOf(m_out), (QStringList{"alder", "CEDAR RIDGE", "ZULU POINT"}));
        QVERIFY(pdfPages(m_out).value(0).contains(metric ? "(meters)" : "(feet)"));
    }
}

void TestSheetBuild::ftpDirectoryMissing()
{
    FtpServer server(m_box->dir.filePath("Geod")); // no Geod folder at its root
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
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    server.stop();
    QVERIFY(server.start(server.port()));
    // The kept connection is dead; the layer must reconnect rather than give up.
    const auto build = ftpBuild(server, ftp, Edition::English);
    QCOMPARE(run(*build, {"100", "300"}).report.outcome, SheetBuild::Report::Written);
    QCOMPARE(stationNamesOf(m_out).size(), 2);
}

void TestSheetBuild::ftpServerStoppedDuringRun()
{
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    const auto build = ftpBuild(server, ftp, Edition::English);
    QElapsedTimer timer;
    timer.start();
    const Run r = run(*build, {"100", "200", "300", "400"}, [&](const QString &text) {
        if (text == "3")
            server.stop();
    });
    QVERIFY(timer.elapsed() < 60000);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"300", "400"}));
    QCOMPARE(stationNamesOf(m_out), (QStringList{"alder", "ZULU POINT"}));
}

void TestSheetBuild::missingMessage()
{
    QCOMPARE(SheetBuild::missingMessage({"1", "2"}),
             "No data sheet could be fetched for these GSIDs:\r\n1, 2");
    QStringList many;
    for (int i = 1; i <= 23; ++i)
        many << QString::number(i);
    QVERIFY(SheetBuild::missingMessage(many).endsWith(", 19, 20, and 3 more"));
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
