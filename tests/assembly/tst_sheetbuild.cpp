#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>

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
    void replacingTheOutput_data();
    void replacingTheOutput();
    void failedMergeKeepsEveryOtherFile_data();
    void failedMergeKeepsEveryOtherFile();
    void unmergeableSheetsLeftOut();
    void missingAndBrokenSheetsReported();
    void nothingFetched();
    void sheetWithoutLabelKeepsItsSourceName();
    void workspaceFullStopsTheBuild();
    void hungTextToolIsEnded();
    void nonAsciiNamesUnderPlainLocale();
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
    QVERIFY(QDir().mkpath(m_box->workspace()));
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
        QStringList sheets;
        for (const QString &name : workspaceFiles())
            sheets << m_box->workspace() + name;
        argumentBytes = SheetBuild::argumentBytes(once.mergeCommand(sheets, m_out)) - 1;
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

void TestSheetBuild::replacingTheOutput_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QList<bool>>("answers"); // Retry (true) or Cancel, in turn
    QTest::addColumn<QString>("message");
    const QString inUse =
        "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.";
    const QString full = "The output file @OUT@ could not be replaced: the disk is full.";
    const QString readOnly =
        "The output file @OUT@ could not be replaced: the folder is read-only.";
    // clang-format off
    QTest::newRow("in use, retried") << EBUSY << QList<bool>{true, true} << inUse;
    QTest::newRow("in use, cancelled") << EBUSY << QList<bool>{false} << inUse;
    QTest::newRow("disk full, cancelled") << ENOSPC << QList<bool>{true, false} << full;
    QTest::newRow("read-only, retried") << EROFS << QList<bool>{true, true} << readOnly;
    // clang-format on
}

void TestSheetBuild::replacingTheOutput()
{
    QFETCH(int, error);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, message);
    writeFile(m_out, "the old output");
    StubbornFileSystem fso;
    fso.lockedPath = m_out;
    fso.errorCode = error;
    fso.failuresLeft = 2;
    m_ui.retryAnswers = answers;
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    const bool retried = answers.size() == 2 && answers[1];
    QCOMPARE(run(build, {"100", "300"}).report.outcome,
             retried ? SheetBuild::Report::Written : SheetBuild::Report::Cancelled);
    QCOMPARE(m_ui.messages.size(), answers.size());
    QCOMPARE(m_ui.messages[0].text, message.replace("@OUT@", m_out));
    QVERIFY(m_ui.messages[0].retryCancel);
    if (retried) {
        QCOMPARE(stationNamesOf(m_out).size(), 2);
    } else {
        QFile f(m_out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("the old output"));
    }
    // No draft is left beside the output, whatever happened.
    QCOMPARE(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.pdf"});
}

void TestSheetBuild::failedMergeKeepsEveryOtherFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("star") << "*.pdf";
    QTest::newRow("question mark") << "?.pdf";
    QTest::newRow("brackets") << "[ab].pdf";
}

void TestSheetBuild::failedMergeKeepsEveryOtherFile()
{
    QFETCH(QString, name);
    const QString docs = m_box->dir.filePath("docs/");
    QDir().mkpath(docs);
    for (const char *other : {"a.pdf", "b.pdf", "c.txt"})
        writeFile(docs + other, "keep me");
    writeFile(docs + name, "the old output");
    m_out = docs + name;
    QTemporaryDir noTools; // a program folder without pdftk: the merge fails
    SheetBuild build(shareConfig(noTools.path()), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const Run r = run(build, {"100"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::MergeFailed);
    QCOMPARE(r.report.problem, "The output file " + m_out + " could not be written.");
    QCOMPARE(QDir(docs).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{name, "a.pdf", "b.pdf", "c.txt"}));
    QFile f(m_out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("the old output"));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::unmergeableSheetsLeftOut()
{
    // Sheets the text tool reads but the merge tool refuses: an owner password.
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    for (const auto &[from, to] : {std::pair{"300", "301"}, std::pair{"500", "302"}}) {
        QCOMPARE(QProcess::execute("qpdf", {"--encrypt", "", "owner", "256", "--",
                                            english + "GSID_" + from + ".pdf",
                                            english + "GSID_" + to + ".pdf"}),
                 0);
    }
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const Run r = run(build, {"100", "301", "200", "302", "400"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"301", "302"}));
    QCOMPARE(stationNamesOf(m_out), (QStringList{"A=B", "alder", "ZULU POINT"}));
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

void TestSheetBuild::workspaceFullStopsTheBuild()
{
    writeFile(m_out, "the old output");
    StubbornFileSystem fso;
    fso.copyError = ENOSPC;
    SheetBuild build(shareConfig(), fso, m_ui);
    build.selectEdition(Edition::English);
    const Run r = run(build, {"100", "200"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::WorkspaceFailed);
    QCOMPARE(r.report.problem, "The workspace folder " + m_box->workspace() +
                                   " is full; no output file was written.");
    QCOMPARE(r.progress, (QStringList{"1"})); // the second sheet is not tried
    QVERIFY(QFile::exists(m_out));
}

void TestSheetBuild::hungTextToolIsEnded()
{
    QTemporaryDir tools;
    const QString hung = tools.filePath("pdftotext");
    writeFile(hung, "#!/bin/sh\necho $$ > " + tools.filePath("pid").toUtf8() + "\nexec sleep 60\n");
    QFile::setPermissions(hung, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    BuildConfig config = shareConfig();
    config.pdfToTextCmd = pdfToTextCommand(tools.path(), m_box->workspace());
    config.textTimeOutMs = 300;
    SheetBuild build(config, m_fso, m_ui);
    build.selectEdition(Edition::English);
    QElapsedTimer timer;
    timer.start();
    const Run r = run(build, {"100"});
    QVERIFY(timer.elapsed() < 10000);
    QCOMPARE(r.report.outcome, SheetBuild::Report::NothingReadable);
    QFile pidFile(tools.filePath("pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const QString pid = pidFile.readAll().trimmed();
    QVERIFY(!pid.isEmpty());
    QTRY_VERIFY(!QFileInfo::exists("/proc/" + pid));
}

void TestSheetBuild::nonAsciiNamesUnderPlainLocale()
{
    writeSheets(m_box->dir.filePath("Geod"), {station("800", "ÉCOLE NORMALE", "Dörfli, Beta")});
    qputenv("LANG", "C");
    qunsetenv("LC_ALL");
    SheetBuild build(shareConfig(), m_fso, m_ui);
    build.selectEdition(Edition::English);
    const Run r = run(build, {"800", "100"});
    qputenv("LANG", "C.UTF-8");
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(stationNamesOf(m_out), (QStringList{"ZULU POINT", "ÉCOLE NORMALE"}));
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
             "No data sheet could be fetched for these GSIDs:\r\n1, 2\r\n"
             "They were left in the list.");
    QStringList many;
    for (int i = 1; i <= 23; ++i)
        many << QString::number(i);
    QVERIFY(SheetBuild::missingMessage(many).contains(", 19, 20, and 3 more\r\n"));
    QCOMPARE(SheetBuild::missingDetails(many).split('\n'), many);
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
