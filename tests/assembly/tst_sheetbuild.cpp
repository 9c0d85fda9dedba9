#include "NginxServer.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/WorkerThread.h"
#include "sources/ShareSource.h"
#include "sources/SourceProbe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTest>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>

// A share whose named sheets never arrive, as on a hung network mount: their copies wait
// until the test releases them, and the program can no more end that wait than the kernel's.
class BlockingFileSystem : public StubbornFileSystem {
public:
    ~BlockingFileSystem() override { release(); }

    QStringList blockedNames; // the sheets whose copies block
    std::atomic<bool> entered{false};

    FsResult copyFile(const QString &from, const QString &to, qint64 limit) override
    {
        if (blockedNames.contains(QFileInfo(from).fileName())) {
            entered = true;
            std::unique_lock lock(m_mutex);
            m_released.wait(lock, [this] { return m_open; });
        }
        return StubbornFileSystem::copyFile(from, to, limit);
    }
    // Lets every blocked copy go on, those that come later too, and waits until they have.
    void release()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_released.notify_all();
        QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, EventBound);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_open = false;
};

class TestSheetBuild : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sameOutputWhateverTheWay_data();
    void sameOutputWhateverTheWay();
    void toolsAndFilesMisbehave_data();
    void toolsAndFilesMisbehave();
    void ftpServerMisbehaves_data();
    void ftpServerMisbehaves();
    void shareCopiesStuckInTheKernel();
    void stopAtTheWorstMoment_data();
    void stopAtTheWorstMoment();

private:
    struct Run {
        BuildReport report;
        QStringList progress;
    };
    BuildConfig shareConfig(const QString &programDir = programFolder()) const;
    BuildConfig ftpConfig(const FtpServer &server, int connections = 4) const;
    Run run(BuildConfig config, const QStringList &gsids, Edition edition = Edition::English,
            FileSystem *fso = nullptr);
    QStringList writeManySheets(int count);

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

void TestSheetBuild::cleanup()
{
    // Whatever a build started has ended: its workers, its tools, its folder.
    QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QList<qint64>(), EventBound);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_box->workspace()).isEmpty(), EventBound);
}

BuildConfig TestSheetBuild::shareConfig(const QString &programDir) const
{
    BuildConfig c;
    c.settings = m_box->settings();
    c.mode = SourceMode::Share;
    c.settings.sources.shareDir = m_box->dir.filePath("Geod/");
    c.workspaceDir = m_box->workspace();
    c.settings.programDir = programDir;
    return c;
}

// The server holds the sandbox, and with it the share as "Geod".
BuildConfig TestSheetBuild::ftpConfig(const FtpServer &server, int connections) const
{
    BuildConfig c = shareConfig();
    c.mode = SourceMode::Ftp;
    c.settings.sources.ftpHost = server.host();
    c.settings.sources.ftpConnections = connections;
    c.settings.sources.stallSeconds = 2;
    return c;
}

TestSheetBuild::Run TestSheetBuild::run(BuildConfig config, const QStringList &gsids,
                                        Edition edition, FileSystem *fso)
{
    config.edition = edition;
    SheetBuild build(config, fso ? *fso : m_fso, m_ui);
    Run r;
    r.report = build.run(gsids, m_out, [&](const QString &text) { r.progress << text; });
    return r;
}

QStringList TestSheetBuild::writeManySheets(int count)
{
    const QList<DataSheet> many = longNamedStations(count);
    QStringList gsids;
    for (const DataSheet &sheet : many)
        gsids << sheet.gsid;
    writeSheets(m_box->dir.filePath("Geod"), many);
    return gsids;
}

void TestSheetBuild::sameOutputWhateverTheWay_data()
{
    // Fetching, text extraction and naming overlap and finish in any order, from any
    // source, merged in one run or in batches: the output must be what one sheet after
    // the other would give, with a bookmark at each sheet.
    QTest::addColumn<QString>("how");
    QTest::newRow("share") << "share";
    QTest::newRow("pyftpdlib, four connections, Metric") << "ftp";
    QTest::newRow("nginx, HTTP/2, Metric") << "web";
    QTest::newRow("share, merged in batches") << "batches";
    QTest::newRow("share, bookmarks turned off") << "off";
    QTest::newRow("share, a name pdftk could misread") << "odd name";
}

void TestSheetBuild::sameOutputWhateverTheWay()
{
    QFETCH(QString, how);
    // Twelve stations of one name (" (2)" … " (12)": numbered, and merged, in list order,
    // and 300 of two pages last), a sheet without the label, a missing, an empty and a
    // damaged sheet, a name in lower case (200), one with letters beyond ASCII and marks of
    // its own (800); on the share a pipe in a sheet's place, which must never be waited on.
    const bool share = how != "ftp" && how != "web";
    QList<DataSheet> stations;
    QStringList twins;
    for (int i = 0; i < 12; ++i) {
        stations << station(QString::number(610 + i), "CEDAR RIDGE", "Alpha, Beta");
        twins << stations.last().gsid;
    }
    stations << station("800", "ÉCOLE \"ØST\" & <CO> [2]", "Dörfli, Beta");
    writeSheets(m_box->dir.filePath("Geod"), stations);
    const QString folder = m_box->dir.filePath(share ? "Geod/PDF Single Sheet/GSID_"
                                                     : "Geod/PDF Metric Sheet/M_GSID_");
    QCOMPARE(QProcess::execute("pdftk", {folder + "500.pdf", folder + "500.pdf", "cat", "output",
                                         folder + "300.pdf"}),
             0);
    writeFile(folder + "700.pdf", pdfFromLines({"A sheet", "without label"}));
    writeFile(folder + "601.pdf", QByteArray());
    const QByteArray whole = pdfFromLines({"OXA Name: CUT", "County: A, B"});
    writeFile(folder + "603.pdf", whole.left(whole.size() / 3));
    if (share)
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "604.pdf").constData(), 0600), 0);
    const QStringList gsids = QStringList{"100", "999", "700", "601"} + twins +
                              QStringList{"603", "300", "../GSID_", "200", "800"} +
                              (share ? QStringList{"604"} : QStringList());
    writeFile(m_out, "an earlier output, replaced without a question");

    std::unique_ptr<FtpServer> server;
    QTemporaryDir certificates;
    std::unique_ptr<NginxServer> nginx;
    BuildConfig config = shareConfig();
    if (how == "web") {
        nginx = std::make_unique<NginxServer>(m_box->dir.filePath("Geod"),
                                              makeTestCertificates(certificates.path()));
        QVERIFY2(nginx->start(), qPrintable(nginx->error()));
        config.settings.sources = SourceSettings();
        config.settings.sources.webUrl = nginx->url();
        config.settings.sources.caFile = certificates.filePath("ca.pem");
        config.mode = discoverSource(config.settings.sources, m_fso, Settings().answerMs).mode;
        QCOMPARE(config.mode, SourceMode::Web);
    } else if (how == "ftp") {
        server = std::make_unique<FtpServer>(m_box->dir.path());
        QVERIFY(server->start());
        config = ftpConfig(*server);
    }
    config.fetchAhead = 3; // the naming must catch up with fetches held back
    config.settings.bookmarks = how != "off";
    if (how == "batches") {
        config.mergeBatchSize = 2;
        config.mergeArgumentBytes = 1;
    }
    // A generated sheet (Courier) cannot show them: "[2]" becomes a backslash, a no-break
    // space, a line separator and a tab as the text tool reads them, for pdftk to keep.
    const QString odd =
        QString("\\A%1B%2C\tD").arg(QChar(QChar::Nbsp), QChar(QChar::LineSeparator));
    QTemporaryDir tools;
    standInTools(tools.path(),
                 {{"pdftotext", programFolder().toUtf8() + "/pdftotext \"$@\" | sed 's/\\[2\\]/" +
                                    QString(odd).replace("\\", "\\\\").toUtf8() + "/'\n"}});
    if (how == "odd name")
        config.settings.programDir = tools.path();
    // Under a plain locale, as a cron job may run it: names beyond ASCII stay whole.
    qputenv("LANG", "C");
    qunsetenv("LC_ALL");
    const Run r = run(config, gsids, share ? Edition::English : Edition::Metric);
    qputenv("LANG", "C.UTF-8");
    QCOMPARE(r.report.outcome, BuildReport::Written);
    QCOMPARE(r.report.missingGsids(), QStringList({"999", "601", "603", "../GSID_"}) +
                                          (share ? QStringList{"604"} : QStringList()));
    // Every GSID counted in turn, then the merge.
    QStringList counted;
    for (int i = 1; i <= gsids.size(); ++i)
        counted << QString::number(i);
    QCOMPARE(r.progress, counted + QStringList{"Writing"});
    // alder; CEDAR RIDGE, (2) … (13), the last being 300, of two pages (500's twice);
    // GSID_700.pdf (no GSID printed); ZULU POINT; ÉCOLE.
    QCOMPARE(QProcess::execute("qpdf", {"--check", m_out}), 0);
    QCOMPARE(gsidsOf(m_out),
             QStringList{"200"} + twins + QStringList({"500", "500", "", "100", "800"}));
    using Bookmark = std::pair<QString, int>;
    QList<Bookmark> bookmarks{{"alder (GSID 200)", 1}};
    for (const QString &gsid : twins + QStringList{"300"})
        bookmarks.append({"CEDAR RIDGE (GSID " + gsid + ")", int(bookmarks.size()) + 1});
    const QString ecole =
        how == "odd name" ? "ÉCOLE \"ØST\" & <CO> \\A B C D" : "ÉCOLE \"ØST\" & <CO> [2]";
    bookmarks += {{"GSID 700", 16}, {"ZULU POINT (GSID 100)", 17}, {ecole + " (GSID 800)", 18}};
    QCOMPARE(bookmarksOf(m_out), how == "off" ? QList<Bookmark>() : bookmarks);
    QVERIFY(pdfPages(m_out).value(0).contains(share ? "(feet)" : "(meters)"));
    QVERIFY(m_ui.messages.isEmpty());
    if (!nginx)
        return;
    // Every sheet asked for once, over HTTP/2, all on one connection; start-up's look on
    // another.
    QSet<qint64> connections;
    QStringList asked;
    for (const NginxServer::Request &r : nginx->requests()) {
        QCOMPARE(r.protocol, "HTTP/2.0");
        connections << r.connection;
        if (r.request.startsWith("GET "))
            asked << r.request.section('_', -1);
    }
    QCOMPARE(connections.size(), 2);
    asked.sort();
    QStringList expected = QStringList(gsids).replaceInStrings(QRegularExpression("$"), ".pdf");
    expected.removeAll("../GSID_.pdf"); // names no sheet: never asked for
    expected.sort();
    QCOMPARE(asked, expected);
}

void TestSheetBuild::toolsAndFilesMisbehave_data()
{
    // What misbehaves: a tool ("pdftotext" or "pdftk", its stand-in's script after the
    // shebang; @REAL@: the real tool), or the file layer:
    // replacing the output fails ("output busy", "output full", "output read-only"), a
    // copy fails ("workspace full") or blocks in the kernel ("stuck copy", GSID 200).
    // Then the answers to Retry (true) or Cancel, and what the user is told, in turn:
    // every question asked, then the message at the end (@OUT@, @WS@).
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QStringList>("gsids");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("told");
    QTest::addColumn<QStringList>("names"); // the stations written
    const QString inUse =
        "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.";
    const QString replace = "The output file @OUT@ could not be replaced: %1.";
    const QString pdftk =
        "The program pdftk could not %1 (%2).\nThe output file @OUT@ was not changed.";
    const QString text = "The program pdftotext failed on every data sheet it was given (%1).";
    const QString written = "The output file @OUT@ was written with %1 data sheets.\n\n%2\n\nThey "
                            "were left in the list.";
    const QByteArray hang = "exec sleep 600\n";
    const QStringList two{"200", "100"};
    const QStringList three{"200", "100", "300"};
    const QList<bool> none;
    // clang-format off
    QTest::newRow("output in use, retried") << "output busy" << QByteArray() << QList<bool>{true, true} << two << int(BuildReport::Written) << QStringList{inUse, inUse} << QStringList{"alder", "ZULU POINT"};
    QTest::newRow("output in use, cancelled") << "output busy" << QByteArray() << QList<bool>{false} << two << int(BuildReport::Cancelled) << QStringList{inUse} << QStringList{};
    QTest::newRow("disk full at the output, cancelled") << "output full" << QByteArray() << QList<bool>{true, false} << two << int(BuildReport::Cancelled) << QStringList{replace.arg("the disk is full"), replace.arg("the disk is full")} << QStringList{};
    QTest::newRow("read-only output folder, cancelled") << "output read-only" << QByteArray() << QList<bool>{false} << two << int(BuildReport::Cancelled) << QStringList{replace.arg("the folder is read-only")} << QStringList{};
    QTest::newRow("workspace full") << "workspace full" << QByteArray() << none << two << int(BuildReport::WorkspaceFailed) << QStringList{"The workspace folder @WS@ is full; no output file was written."} << QStringList{};
    // As many copies as copiers: each fetch begins at once, whatever the machine's pace.
    QTest::newRow("a copy stuck in the kernel") << "stuck copy" << QByteArray() << none << QStringList{"100", "200", "400", "500"} << int(BuildReport::Written) << QStringList{written.arg("3 of 4", "Could not be fetched, the transfer failed: 200")} << QStringList{"A=B", "CEDAR RIDGE", "ZULU POINT"};
    // pdftk fails: whatever it did, every other file in the output's folder stays.
    QTest::newRow("pdftk crashes") << "pdftk" << QByteArray("kill -SEGV $$\n") << none << two << int(BuildReport::MergeFailed) << QStringList{pdftk.arg("write the output file", "it crashed")} << QStringList{};
    QTest::newRow("pdftk says why") << "pdftk" << QByteArray("echo 'Error: Failed to open output file: x' >&2\necho 'more' >&2\nexit 1\n") << none << two << int(BuildReport::MergeFailed) << QStringList{pdftk.arg("write the output file", "it said: Error: Failed to open output file: x")} << QStringList{};
    QTest::newRow("pdftk finds the disk full") << "pdftk" << QByteArray("echo 'java.io.IOException: No space left on device' >&2\nexit 1\n") << none << two << int(BuildReport::MergeFailed) << QStringList{pdftk.arg("write the output file", "the disk is full")} << QStringList{};
    QTest::newRow("pdftk writes half a file") << "pdftk" << QByteArray("printf '%%PDF-1.4\\n1 0 obj' > \"$(eval echo \\${$#})\"\n") << none << two << int(BuildReport::MergeFailed) << QStringList{pdftk.arg("write the output file", "it wrote an incomplete file")} << QStringList{};
    QTest::newRow("pdftk fails at the bookmarks") << "pdftk" << QByteArray("[ \"$2\" = update_info_utf8 ] && exit 1\nexec @REAL@ \"$@\"\n") << none << two << int(BuildReport::MergeFailed) << QStringList{pdftk.arg("add the bookmarks to the output file", "it ended with status 1")} << QStringList{};
    // pdftotext hangs on two sheets: they are unreadable, each after the time allowed;
    // on three in a row it is the tool that fails, and it is named.
    QTest::newRow("pdftotext hangs on two") << "pdftotext" << hang << none << two << int(BuildReport::NothingReadable) << QStringList{"None of the data sheets fetched could be read; no output file was written.\nCould not be read by pdftotext (it ran out of time): 200, 100"} << QStringList{};
    QTest::newRow("pdftotext hangs on three") << "pdftotext" << hang << none << three << int(BuildReport::TextToolFailed) << QStringList{text.arg("it stopped answering")} << QStringList{};
    QTest::newRow("pdftotext crashes") << "pdftotext" << QByteArray("kill -SEGV $$\n") << none << three << int(BuildReport::TextToolFailed) << QStringList{text.arg("it crashed")} << QStringList{};
    // Each GSID misses the output for a cause of its own, and is told under it: pdftotext
    // crashing, hanging or failing on it, not on the share, a pipe in its place, pdftk
    // refusing it (encrypted).
    QTest::newRow("every cause") << "pdftotext" << QByteArray("case \"$3\" in\n*/Temp-2.pdf) kill -SEGV $$ ;;\n*/Temp-3.pdf) exec sleep 600 ;;\n*/Temp-4.pdf) exit 1 ;;\nesac\nexec @REAL@ \"$@\"\n") << none << QStringList{"100", "200", "300", "400", "404", "604", "301"} << int(BuildReport::Written)
        << QStringList{written.arg("1 of 7", "Could not be fetched, not on the share: 404\nCould not be fetched, the transfer failed: 604\nCould not be read by pdftotext (it failed): 400\nCould not be read by pdftotext (it crashed): 200\nCould not be read by pdftotext (it ran out of time): 300\nRefused by pdftk: 301")} << QStringList{"ZULU POINT"};
    // The sheet's folder went before its text could be read: the workspace is named.
    QTest::newRow("pdftotext finds its folder gone") << "pdftotext" << QByteArray("rm -rf \"${3%/*}\"\nexec @REAL@ \"$@\"\n") << none << two << int(BuildReport::WorkspaceFailed) << QStringList{"The workspace folder @WS@ vanished during the build; no output file was written."} << QStringList{};
    // 20 MB of text before the label: what is kept is bounded, so the label is not seen
    // and the sheets keep their source names, which order them by GSID.
    QTest::newRow("pdftotext pours out text") << "pdftotext" << QByteArray("head -c 20000000 /dev/zero | tr '\\0' x\nprintf '\\nOXA Name: LATE\\nCounty: A, B\\n'\n") << none << two << int(BuildReport::Written) << QStringList{} << QStringList{"ZULU POINT", "alder"};
    // clang-format on
}

void TestSheetBuild::toolsAndFilesMisbehave()
{
    QFETCH(QString, what);
    QFETCH(QByteArray, script);
    QFETCH(QList<bool>, answers);
    QFETCH(QStringList, gsids);
    QFETCH(int, outcome);
    QFETCH(QStringList, told);
    QFETCH(QStringList, names);
    // A pipe in a sheet's place, and a sheet pdftk refuses.
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    QCOMPARE(::mkfifo(QFile::encodeName(english + "GSID_604.pdf").constData(), 0600), 0);
    QCOMPARE(QProcess::execute("qpdf", {"--encrypt", "", "owner", "256", "--",
                                        english + "GSID_500.pdf", english + "GSID_301.pdf"}),
             0);
    // An output name that is a pattern, in a folder of other files: it matches nothing else.
    const QString docs = m_box->dir.filePath("docs/");
    QDir().mkpath(docs);
    for (const char *other : {"a.pdf", "b.pdf", "c.txt"})
        writeFile(docs + other, "keep me");
    m_out = docs + "*.pdf";
    writeFile(m_out, "the old output");
    QTemporaryDir tools;
    QHash<QString, QByteArray> scripts;
    if (!script.isEmpty())
        scripts[what] = script.replace("@REAL@", (programFolder() + '/' + what).toUtf8());
    standInTools(tools.path(), scripts);
    BlockingFileSystem fso;
    const QHash<QString, int> errors{
        {"output busy", EBUSY}, {"output full", ENOSPC}, {"output read-only", EROFS}};
    fso.lockedPath = m_out;
    fso.failuresLeft = what.startsWith("output") ? 2 : 0;
    fso.errorCode = errors.value(what);
    fso.copyError = what == "workspace full" ? ENOSPC : 0;
    if (what == "stuck copy")
        fso.blockedNames << "GSID_200.pdf";
    m_ui.retryAnswers = answers;
    BuildConfig config = shareConfig(tools.path());
    config.settings.sources.stallSeconds = 2;
    config.textRuns = 1; // one after the other: "in a row" is the list's order
    config.textTimeOutMs = script.contains("sleep") ? 500 : config.textTimeOutMs;
    const Run r = run(config, gsids, Edition::English, &fso);
    QCOMPARE(int(r.report.outcome), outcome);
    QStringList said;
    for (const ScriptedInteraction::Message &m : std::as_const(m_ui.messages)) {
        QVERIFY(m.retryCancel);
        said << m.text;
    }
    if (const std::optional<UserMessage> message = r.report.message())
        said << message->text;
    QCOMPARE(said,
             told.replaceInStrings("@OUT@", m_out).replaceInStrings("@WS@", m_box->workspace()));
    if (what == "workspace full")
        QVERIFY(r.progress.isEmpty()); // the first copy ends the build
    if (outcome == BuildReport::Written)
        QCOMPARE(stationNamesOf(m_out), names);
    else
        QCOMPARE(readFile(m_out), QByteArray("the old output"));
    // No tool is left running, nor a draft beside the output (it goes off the window's
    // thread), nor a copy the kernel held and let go late.
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QList<qint64>(), EventBound);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(docs).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                              (QStringList{"*.pdf", "a.pdf", "b.pdf", "c.txt"}), EventBound);
    fso.release();
    QCOMPARE(ShareSource::stuckCopiers(), 0);
}

void TestSheetBuild::ftpServerMisbehaves_data()
{
    // 40 sheets over two connections, against pyftpdlib made to misbehave (the ways a
    // configured vsftpd refuses are tst_ftpservers'). Every sheet ends in the output or
    // among the missing, once; "lost": the build was told why the rest could not be fetched.
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("missing"); // "*": some, whichever they are
    QTest::addColumn<QString>("lost");
    const QString silent = "The FTP server stopped answering.";
    // clang-format off
    QTest::newRow("goes away after 3 sheets") << "end" << int(BuildReport::Written) << QStringList{"*"}
        << "Could not connect to the FTP server @HOST@: Connection refused.";
    QTest::newRow("never answers RETR") << "silent retr" << int(BuildReport::NothingFetched) << QStringList{"*"} << silent;
    QTest::newRow("loses data connections") << "lose" << int(BuildReport::Written) << QStringList{} << "";
    // A sheet it refuses to send is listed as refused, in its words, not as missing.
    QTest::newRow("cuts a sheet short, refuses another") << "cut" << int(BuildReport::Written) << QStringList{"@7", "@9"} << "";
    // The wait for it holds up the others: not theirs to count as silence.
    QTest::newRow("never says a sheet is done") << "no 226" << int(BuildReport::Written) << QStringList{} << "";
    // Behind a firewall: auto turns to passive; active mode says what happened.
    QTest::newRow("never opens the data connection") << "never connect" << int(BuildReport::Written) << QStringList{} << "";
    QTest::newRow("never opens the data connection, active asked for") << "never connect, active" << int(BuildReport::NothingFetched) << QStringList{"*"}
        << "The FTP server never opened the data connection of active mode (FtpMode=active); with FtpMode=auto the program would try passive mode.";
    // clang-format on
}

void TestSheetBuild::ftpServerMisbehaves()
{
    QFETCH(QString, how);
    QFETCH(int, outcome);
    QFETCH(QStringList, missing);
    QFETCH(QString, lost);
    QStringList gsids = writeManySheets(40);
    FtpServer::Options options;
    options.endAfter = how == "end" ? 3 : -1;
    options.silentRetr = how == "silent retr";
    options.loseDataConnections = how == "lose";
    options.neverConnect = how.startsWith("never connect");
    const QString seventh = gsids[7];
    const QString ninth = gsids[9];
    options.cutShort = how == "cut" ? "GSID_" + seventh + ".pdf" : "";
    options.refuseFile = how == "cut" ? "GSID_" + ninth + ".pdf" : "";
    options.withhold226 = how == "no 226" ? "GSID_" + seventh + ".pdf" : "";
    FtpServer server(m_box->dir.path(), options);
    QVERIFY(server.start());
    BuildConfig config = ftpConfig(server, how == "lose" || how == "no 226" ? 4 : 2);
    if (how == "lose")
        config.settings.sources.stallSeconds = 30; // a lost transfer must be found far sooner
    if (how.endsWith("active"))
        config.settings.sources.ftpMode = FtpMode::Active;
    const Run r = run(config, gsids);
    QCOMPARE(int(r.report.outcome), outcome);
    QCOMPARE(r.report.sourceLost ? r.report.sourceLost->sentence() : QString(),
             lost.replace("@HOST@", server.host()));
    // The GSIDs lost with the source are not counted; no "Writing" without a sheet.
    if (!lost.isEmpty())
        QVERIFY(r.progress.size() < gsids.size());
    QCOMPARE(r.progress.contains("Writing"), outcome == BuildReport::Written);
    if (r.report.outcome == BuildReport::Written) {
        QStringList accounted = gsidsOf(m_out) + r.report.missingGsids();
        accounted.sort();
        gsids.sort();
        QCOMPARE(accounted, gsids);
    }
    if (missing == QStringList{"*"})
        QVERIFY(!r.report.missing.isEmpty());
    else
        QCOMPARE(r.report.missingGsids(),
                 missing.replaceInStrings("@7", seventh).replaceInStrings("@9", ninth));
    if (how == "cut") {
        QCOMPARE(r.report.missing[1].cause, MissingCause::Refused);
        QCOMPARE(r.report.missing[1].detail, "550 GSID_" + ninth + ".pdf: Permission denied");
    }
    // In active mode a RETR never answered looks like a data connection that never came.
    QCOMPARE(bool(config.memory->passive), how == "never connect" || how == "silent retr");
}

void TestSheetBuild::shareCopiesStuckInTheKernel()
{
    // Three copies in a row that never return, as on a hung network mount: the share is
    // lost, and the build ends by itself. Build after build, the threads left stuck add
    // up to the cap: then the share counts as gone at once, and no further thread is left.
    BlockingFileSystem blocking;
    blocking.blockedNames = QStringList{"GSID_200.pdf", "GSID_300.pdf", "GSID_400.pdf"};
    BuildConfig config = shareConfig();
    config.settings.sources.stallSeconds = 2;
    config.textRuns = 1;
    const QStringList gsids{"100", "200", "300", "400"};
    const QString lost = "The share stopped answering.";
    for (int i = 0; i < 3; ++i) {
        const Run r = run(config, gsids, Edition::English, &blocking);
        QCOMPARE(r.report.outcome, BuildReport::Written);
        QCOMPARE(r.report.sourceLost ? r.report.sourceLost->sentence() : QString(), lost);
        QCOMPARE(r.report.missingGsids(), gsids.mid(1));
        QCOMPARE(r.report.missing.last().cause, MissingCause::SourceLost);
    }
    const int stuckThreads = workerThreadsStuck();
    QVERIFY(ShareSource::stuckCopiers() >= ShareSource::MaxStuckCopiers);
    const Run r = run(config, gsids, Edition::English, &blocking);
    QCOMPARE(r.report.outcome, BuildReport::SourceMissing);
    QCOMPARE(r.report.problem, lost);
    QCOMPARE(workerThreadsStuck(), stuckThreads);
    blocking.release(); // the copies the kernel held come in late: they must not stay
    QCOMPARE(ShareSource::stuckCopiers(), 0);
}

void TestSheetBuild::stopAtTheWorstMoment_data()
{
    QTest::addColumn<QString>("when");
    // clang-format off
    QTest::newRow("share, fetching") << "share";
    QTest::newRow("share, a copy blocked in the kernel") << "blocked copy";
    QTest::newRow("FTP, fetching") << "ftp";
    QTest::newRow("FTP, 32000 GSIDs never answered") << "silent retr, many";
    QTest::newRow("reading text") << "pdftotext";
    QTest::newRow("merging") << "pdftk";
    // clang-format on
}

void TestSheetBuild::stopAtTheWorstMoment()
{
    QFETCH(QString, when);
    QStringList gsids = writeManySheets(when.endsWith("many") ? 300 : 100);
    if (when.endsWith("many")) {
        for (int i = 0; gsids.size() < 32000; ++i)
            gsids << QString::number(500000 + i);
    }
    writeFile(m_out, "the old output");
    FtpServer::Options options;
    options.silentRetr = when.startsWith("silent retr");
    FtpServer server(m_box->dir.path(), options);
    QVERIFY(server.start());
    // Stand-ins that block until they are killed, and say when they run.
    QTemporaryDir tools;
    const QString pids = tools.filePath("pids");
    QHash<QString, QByteArray> scripts;
    const QByteArray hold = "echo $$ >> " + pids.toUtf8() + "\nexec sleep 600\n";
    if (when == "pdftotext" || when == "pdftk")
        scripts.insert(when, hold);
    // While fetching: the text of the first twenty sheets is read, then it holds, so
    // that however fast the machine, the build is under way when Stop comes.
    if (when == "share" || when == "ftp")
        scripts.insert("pdftotext", "n=${3##*/Temp-}\n[ \"${n%.pdf}\" -gt 20 ] || exec " +
                                        programFolder().toUtf8() + "/pdftotext \"$@\"\n" + hold);
    standInTools(tools.path(), scripts);
    BlockingFileSystem blocking;
    blocking.blockedNames = QStringList{"GSID_" + gsids[5] + ".pdf"};

    const bool ftp = when == "ftp" || when.startsWith("silent retr");
    BuildConfig config = ftp ? ftpConfig(server) : shareConfig(tools.path());
    config.settings.programDir = tools.path();
    SheetBuild build(config, when == "blocked copy" ? blocking : m_fso, m_ui);
    QList<BuildReport> reports;
    connect(&build, &SheetBuild::finished, this, [&](const BuildReport &r) { reports << r; });
    QStringList progress;
    connect(&build, &SheetBuild::progress, this, [&](const QString &text) { progress << text; });
    build.start(gsids, m_out);
    if (when == "share" || when == "ftp")
        QTRY_VERIFY_WITH_TIMEOUT(progress.size() >= 5, EventBound);
    else if (when == "blocked copy")
        QTRY_VERIFY_WITH_TIMEOUT(blocking.entered, EventBound);
    else if (when.startsWith("silent retr"))
        QTRY_VERIFY_WITH_TIMEOUT(!server.retrieved().isEmpty(), EventBound);
    else
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pids), EventBound);

    QElapsedTimer timer;
    timer.start();
    build.stop();
    // At once, whatever was under way: reported, and no wait on a worker or a tool.
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].outcome, BuildReport::Stopped);
    build.stop();
    QCOMPARE(reports.size(), 1);
    blocking.release(); // the copy the kernel held comes in late: it must not stay
    // Nothing the build started is left (a zombie neither) to work on the sandbox's files.
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), QList<qint64>{server.pid()}, EventBound);
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden),
                              QStringList{"out.pdf"}, EventBound);
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
