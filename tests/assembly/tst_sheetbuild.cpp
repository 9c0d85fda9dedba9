#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/ScriptedInteraction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <cerrno>

class TestSheetBuild : public QObject {
    Q_OBJECT

private slots:
    void init();
    void outputNames_data();
    void outputNames();
    void sameResultWhateverTheOrderOfWork_data();
    void sameResultWhateverTheOrderOfWork();
    void mergesInOrderedBatches_data();
    void mergesInOrderedBatches();
    void replacingTheOutput_data();
    void replacingTheOutput();
    void failedMergeKeepsEveryOtherFile();
    void unmergeableSheetsLeftOut();
    void workspaceFullStopsTheBuild();
    void misbehavingTextTool_data();
    void misbehavingTextTool();
    void nonAsciiNamesUnderPlainLocale();
    void ftpServerMisbehaves_data();
    void ftpServerMisbehaves();
    void stopInTheMiddle_data();
    void stopInTheMiddle();

private:
    struct Run {
        SheetBuild::Report report;
        QStringList progress;
    };
    BuildConfig shareConfig(const QString &programDir = programFolder()) const;
    BuildConfig ftpConfig(const FtpServer &server, int connections = 4) const;
    Run run(const BuildConfig &config, const QStringList &gsids, Edition edition = Edition::English,
            FileSystem *fso = nullptr);
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
    return c;
}

// The server holds the sandbox, and with it the share as "Geod".
BuildConfig TestSheetBuild::ftpConfig(const FtpServer &server, int connections) const
{
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.ftpHost = server.host();
    c.ftpConnections = connections;
    c.ftpStallSeconds = 2;
    return c;
}

TestSheetBuild::Run TestSheetBuild::run(const BuildConfig &config, const QStringList &gsids,
                                        Edition edition, FileSystem *fso)
{
    SheetBuild build(config, fso ? *fso : m_fso, m_ui);
    build.selectEdition(edition);
    Run r;
    r.report = build.fetchAndMerge(gsids, m_out, [&](const QString &text) { r.progress << text; });
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
    QTest::newRow("txt after pdf") << "/tmp/out.pdf.txt" << "Output file name must end in .pdf.";
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

void TestSheetBuild::sameResultWhateverTheOrderOfWork_data()
{
    // Fetching, text extraction and naming overlap and finish in any order; the
    // output must be what one sheet after the other would give.
    QTest::addColumn<QString>("source"); // share, or ftp:<connections>:<limit per address>
    QTest::addColumn<bool>("metric");
    // clang-format off
    QTest::newRow("share, English") << "share" << false;
    QTest::newRow("share, Metric") << "share" << true;
    QTest::newRow("FTP, one connection") << "ftp:1:0" << false;
    QTest::newRow("FTP, four connections, Metric") << "ftp:4:0" << true;
    QTest::newRow("FTP, four asked, two allowed") << "ftp:4:2" << false;
    // clang-format on
}

void TestSheetBuild::sameResultWhateverTheOrderOfWork()
{
    QFETCH(QString, source);
    QFETCH(bool, metric);
    // Twelve stations of one name (" (2)" … " (12)": numbered, and merged, in list
    // order), a sheet without the label, a missing, an empty and a damaged sheet.
    QList<DataSheet> twins;
    QStringList gsids;
    for (int i = 0; i < 12; ++i) {
        twins << station(QString::number(610 + i), "CEDAR RIDGE", "Alpha, Beta");
        gsids << twins.last().gsid;
    }
    writeSheets(m_box->dir.filePath("Geod"), twins);
    const QString folder = m_box->dir.filePath(metric ? "Geod/PDF Metric Sheet/M_GSID_"
                                                      : "Geod/PDF Single Sheet/GSID_");
    writeFile(folder + "700.pdf", pdfFromLines({"A sheet", "without label"}));
    writeFile(folder + "601.pdf", QByteArray());
    const QByteArray whole = pdfFromLines({"OXA Name: CUT", "County: A, B"});
    writeFile(folder + "603.pdf", whole.left(whole.size() / 3));
    gsids = QStringList{"100", "999", "700", "601"} + gsids + QStringList{"603", "300", "../GSID_"};
    writeFile(m_out, "an earlier output, replaced without a question");

    std::unique_ptr<FtpServer> server;
    BuildConfig config = shareConfig();
    if (source.startsWith("ftp")) {
        FtpServer::Options options;
        options.maxConsPerIp = source.section(':', 2).toInt();
        server = std::make_unique<FtpServer>(m_box->dir.path(), options);
        QVERIFY(server->start());
        config = ftpConfig(*server, source.section(':', 1, 1).toInt());
    }
    config.fetchAhead = 3; // the naming must catch up with fetches held back
    const Run r = run(config, gsids, metric ? Edition::Metric : Edition::English);
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"999", "601", "603", "../GSID_"}));
    QCOMPARE(r.progress.size(), gsids.size() + 1);
    QCOMPARE(r.progress.first(), "1");
    QCOMPARE(r.progress.last(), "Writing");
    // CEDAR-RIDGE Alpha, (2) … (13), the last being 300; GSID_700.pdf (no GSID
    // printed); ZULU-POINT.
    const QStringList order = gsids.mid(4, 12) + QStringList{"300", "", "100"};
    QCOMPARE(gsidsOf(m_out), order);
    QVERIFY(pdfPages(m_out).value(0).contains(metric ? "(meters)" : "(feet)"));
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
    struct FileLog : FileSystem {
        QStringList deleted;
        QStringList sheets;
        FsResult deleteFile(const QString &spec, bool force) override
        {
            deleted << spec;
            return FileSystem::deleteFile(spec, force);
        }
        FsResult moveFile(const QString &from, const QString &to) override
        {
            sheets << to;
            return FileSystem::moveFile(from, to);
        }
    } fso;
    const QStringList gsids = {"100", "200", "300", "400", "500"};
    BuildConfig config = shareConfig();
    if (argumentBytes < 0) {
        // One byte short of what a single run of these very sheets takes.
        run(config, gsids, Edition::English, &fso);
        SheetBuild once(config, m_fso, m_ui);
        argumentBytes = SheetBuild::argumentBytes(once.mergeCommand(fso.sheets, m_out)) - 1;
        fso.deleted.clear();
    }
    config.mergeBatchSize = batchSize;
    config.mergeArgumentBytes = argumentBytes;
    QCOMPARE(run(config, gsids, Edition::English, &fso).report.outcome,
             SheetBuild::Report::Written);
    // The order a single run gives, each sheet once; no intermediate file is left.
    QCOMPARE(stationNamesOf(m_out),
             (QStringList{"A=B", "alder", "CEDAR RIDGE", "CEDAR RIDGE", "ZULU POINT"}));
    QCOMPARE(fso.deleted.filter(".part").size(), parts);
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
    const bool retried = answers.size() == 2 && answers[1];
    QCOMPARE(run(shareConfig(), {"100", "300"}, Edition::English, &fso).report.outcome,
             retried ? SheetBuild::Report::Written : SheetBuild::Report::Cancelled);
    QCOMPARE(m_ui.messages.size(), answers.size());
    QCOMPARE(m_ui.messages[0].text, message.replace("@OUT@", m_out));
    QVERIFY(m_ui.messages[0].retryCancel);
    if (retried) {
        QCOMPARE(stationNamesOf(m_out).size(), 2);
    } else {
        QCOMPARE(readFile(m_out), QByteArray("the old output"));
    }
    // No draft is left beside the output, whatever happened.
    QCOMPARE(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.pdf"});
}

void TestSheetBuild::failedMergeKeepsEveryOtherFile()
{
    const QString name = "*.pdf"; // an output name that is a pattern matches nothing else
    const QString docs = m_box->dir.filePath("docs/");
    QDir().mkpath(docs);
    for (const char *other : {"a.pdf", "b.pdf", "c.txt"})
        writeFile(docs + other, "keep me");
    writeFile(docs + name, "the old output");
    m_out = docs + name;
    QTemporaryDir noMerge; // a program folder without pdftk: the merge fails
    QVERIFY(QFile::link(programFolder() + "/pdftotext", noMerge.filePath("pdftotext")));
    const Run r = run(shareConfig(noMerge.path()), {"100"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::MergeFailed);
    QCOMPARE(r.report.problem, "The output file " + m_out + " could not be written.");
    QCOMPARE(QDir(docs).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{name, "a.pdf", "b.pdf", "c.txt"}));
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
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
    const Run r = run(shareConfig(), {"100", "301", "200", "302", "400"});
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(r.report.missing, (QStringList{"301", "302"}));
    QCOMPARE(stationNamesOf(m_out), (QStringList{"A=B", "alder", "ZULU POINT"}));
    QVERIFY(workspaceFiles().isEmpty());
}

void TestSheetBuild::workspaceFullStopsTheBuild()
{
    writeFile(m_out, "the old output");
    StubbornFileSystem fso;
    fso.copyError = ENOSPC;
    const Run r = run(shareConfig(), {"100", "200"}, Edition::English, &fso);
    QCOMPARE(r.report.outcome, SheetBuild::Report::WorkspaceFailed);
    QCOMPARE(r.report.problem, "The workspace folder " + m_box->workspace() +
                                   " is full; no output file was written.");
    QVERIFY(r.progress.isEmpty());
    QVERIFY(QFile::exists(m_out));
}

void TestSheetBuild::misbehavingTextTool_data()
{
    QTest::addColumn<QByteArray>("script"); // after the shebang; @PID@: where it notes its pid
    QTest::addColumn<int>("outcome");
    QTest::newRow("hangs") << QByteArray("echo $$ > @PID@\nexec sleep 60\n")
                           << int(SheetBuild::Report::NothingReadable);
    // Gone, or unable to run, after the build began.
    QTest::newRow("cannot be started") << QByteArray() << int(SheetBuild::Report::NothingReadable);
    // 20 MB of text before the label: what is kept is bounded, so the label is not
    // seen and the sheets keep their source names, which order them by GSID.
    QTest::newRow("pours out text") << QByteArray("head -c 20000000 /dev/zero | tr '\\0' x\n"
                                                  "printf '\\nOXA Name: LATE\\nCounty: A, B\\n'\n")
                                    << int(SheetBuild::Report::Written);
}

void TestSheetBuild::misbehavingTextTool()
{
    QFETCH(QByteArray, script);
    QFETCH(int, outcome);
    QTemporaryDir tools;
    QVERIFY(QFile::link(programFolder() + "/pdftk", tools.filePath("pdftk")));
    writeFile(tools.filePath("pdftotext"),
              "#!/bin/sh\n" + script.replace("@PID@", tools.filePath("pid").toUtf8()));
    QFile::setPermissions(tools.filePath("pdftotext"),
                          QFileDevice::ReadOwner |
                              (script.isEmpty() ? QFileDevice::ReadOwner : QFileDevice::ExeOwner));
    BuildConfig config = shareConfig(tools.path());
    if (outcome != SheetBuild::Report::Written)
        config.textTimeOutMs = 300;
    QElapsedTimer timer;
    timer.start();
    const Run r = run(config, {"200", "100"});
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(int(r.report.outcome), outcome);
    if (outcome == SheetBuild::Report::Written) {
        QCOMPARE(stationNamesOf(m_out), (QStringList{"ZULU POINT", "alder"}));
        return;
    }
    QVERIFY(workspaceFiles().isEmpty());
    if (script.isEmpty())
        return;
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
    const Run r = run(shareConfig(), {"800", "100"});
    qputenv("LANG", "C.UTF-8");
    QCOMPARE(r.report.outcome, SheetBuild::Report::Written);
    QCOMPARE(stationNamesOf(m_out), (QStringList{"ZULU POINT", "ÉCOLE NORMALE"}));
}

void TestSheetBuild::ftpServerMisbehaves_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("cutShort"); // sent short of its end, its size announced
    QTest::newRow("stops answering") << "stalls"
                                     << "";
    QTest::newRow("ended") << "ended"
                           << "";
    QTest::newRow("loses data connections") << "loses"
                                            << "";
    QTest::newRow("cuts a sheet short") << ""
                                        << "GSID_1007.pdf";
}

void TestSheetBuild::ftpServerMisbehaves()
{
    QFETCH(QString, how);
    QFETCH(QString, cutShort);
    QStringList gsids;
    QList<DataSheet> many;
    for (int i = 0; i < 40; ++i) {
        many << station(QString::number(1000 + i), "POINT " + QString::number(1000 + i), "A, B");
        gsids << many.last().gsid;
    }
    writeSheets(m_box->dir.filePath("Geod"), many);
    FtpServer::Options options;
    options.stallAfter = how == "stalls" ? 3 : -1;
    options.loseDataConnections = how == "loses";
    options.cutShort = cutShort;
    FtpServer server(m_box->dir.path(), options);
    QVERIFY(server.start());
    BuildConfig config = ftpConfig(server, how == "loses" ? 4 : 2);
    if (how == "loses")
        config.ftpStallSeconds = 30; // a lost transfer must be found far sooner
    SheetBuild build(config, m_fso, m_ui);
    connect(&build, &SheetBuild::progress, this, [&](const QString &text) {
        if (text == "3" && how == "ended")
            server.stop();
    });
    QElapsedTimer timer;
    timer.start();
    const SheetBuild::Report report = build.fetchAndMerge(gsids, m_out, [](const QString &) {});
    // Seconds, not a stall limit per sheet.
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(report.outcome, SheetBuild::Report::Written);
    // Every sheet either in the output or reported, once.
    QStringList accounted = gsidsOf(m_out) + report.missing;
    accounted.sort();
    QCOMPARE(accounted, gsids);
    QCOMPARE(report.serverStoppedAnswering, how == "stalls" || how == "ended");
    if (report.serverStoppedAnswering)
        QVERIFY(report.missing.size() <= gsids.size() - 3); // the first files are in
    else
        QCOMPARE(report.missing, cutShort.isEmpty() ? QStringList() : QStringList{"1007"});
}

void TestSheetBuild::stopInTheMiddle_data()
{
    QTest::addColumn<bool>("ftp");
    QTest::addColumn<QString>("when"); // the progress text at which Stop is pressed
    QTest::newRow("share, fetching") << false << "5";
    QTest::newRow("FTP, fetching") << true << "5";
    QTest::newRow("share, merging") << false << "Writing";
}

void TestSheetBuild::stopInTheMiddle()
{
    QFETCH(bool, ftp);
    QFETCH(QString, when);
    QList<DataSheet> many = longNamedStations(300);
    QStringList gsids;
    for (const DataSheet &sheet : std::as_const(many))
        gsids << sheet.gsid;
    writeSheets(m_box->dir.filePath("Geod"), many);
    writeFile(m_out, "the old output");
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    SheetBuild build(ftp ? ftpConfig(server) : shareConfig(), m_fso, m_ui);
    QList<qint64> running;
    connect(&build, &SheetBuild::progress, this, [&](const QString &text) {
        if (text != when)
            return;
        // Let the tools get going, then stop.
        QTimer::singleShot(when == "Writing" ? 300 : 0, &build, [&] {
            QElapsedTimer timer;
            timer.start();
            build.stop();
            QVERIFY(timer.elapsed() < 1000);
            running = childProcesses();
            running.removeAll(server.pid());
            // Nor what a tool started itself (pdftk runs Java): nothing works on
            // the sandbox's files any more.
            const QStringList pids = QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs);
            for (const QString &pid : pids) {
                QFile cmdline("/proc/" + pid + "/cmdline");
                if (cmdline.open(QIODevice::ReadOnly) &&
                    cmdline.readAll().contains(m_box->dir.path().toUtf8()) &&
                    pid.toLongLong() != server.pid())
                    running << pid.toLongLong();
            }
        });
    });
    const SheetBuild::Report report = build.fetchAndMerge(gsids, m_out, [](const QString &) {});
    QCOMPARE(report.outcome, SheetBuild::Report::Stopped);
    QCOMPARE(running, QList<qint64>()); // no tool left behind
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
    QVERIFY(workspaceFiles().isEmpty());
    QCOMPARE(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.pdf"});
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
