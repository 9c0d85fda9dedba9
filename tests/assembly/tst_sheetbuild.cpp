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
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// A share whose one sheet blocks in the kernel, as on a hung network mount: its copy
// opens a pipe for reading, which waits for a writer until the test releases it.
class BlockingFileSystem : public FileSystem {
public:
    explicit BlockingFileSystem(QString fifo) : m_fifo(std::move(fifo))
    {
        ::mkfifo(QFile::encodeName(m_fifo).constData(), 0600);
    }
    ~BlockingFileSystem() override { release(); }

    QStringList blockedNames; // the sheets whose copies block
    std::atomic<bool> entered{false};

    FsResult copyFile(const QString &from, const QString &to, qint64 limit) override
    {
        if (blockedNames.contains(QFileInfo(from).fileName())) {
            entered = true;
            QFile fifo(m_fifo);
            fifo.open(QIODevice::ReadOnly); // blocks until release()
            fifo.readAll();
        }
        return FileSystem::copyFile(from, to, limit);
    }
    // Lets every blocked copy go on, those that reach the pipe later too, and waits
    // until they have.
    void release()
    {
        if (!entered)
            return;
        const auto openAndClose = [this] {
            const int fd =
                ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        };
        QTRY_VERIFY_WITH_TIMEOUT((openAndClose(), workerThreadsRunning() == 0), EventBound);
        entered = false;
    }

private:
    QString m_fifo;
};

// Why the source was lost, in the words the user reads.
static QString lostSentence(const BuildReport &report)
{
    return report.sourceLost ? report.sourceLost->sentence() : QString();
}

class TestSheetBuild : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sameResultWhateverTheOrderOfWork_data();
    void sameResultWhateverTheOrderOfWork();
    void bookmarksPointAtEachSheet_data();
    void bookmarksPointAtEachSheet();
    void replacingTheOutput_data();
    void replacingTheOutput();
    void failedMergeKeepsEveryOtherFile_data();
    void failedMergeKeepsEveryOtherFile();
    void everyCauseNamed();
    void workspaceFullStopsTheBuild();
    void misbehavingTextTool_data();
    void misbehavingTextTool();
    void nonAsciiNamesUnderPlainLocale();
    void ftpServerMisbehaves_data();
    void ftpServerMisbehaves();
    void ftpSocketsStayOutOfTheTools();
    void shareCopiesStuckInTheKernel_data();
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
    QStringList workspaceEntries() const
    {
        return QDir(m_box->workspace()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
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
    QTRY_COMPARE_WITH_TIMEOUT(workspaceEntries(), QStringList(), EventBound);
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

void TestSheetBuild::sameResultWhateverTheOrderOfWork_data()
{
    // Fetching, text extraction and naming overlap and finish in any order; the
    // output must be what one sheet after the other would give.
    QTest::addColumn<QString>("source"); // share, web, or ftp:<connections>
    QTest::addColumn<bool>("metric");
    // clang-format off
    QTest::newRow("share, English") << "share" << false;
    QTest::newRow("FTP, one connection") << "ftp:1" << false;
    QTest::newRow("FTP, four connections, Metric") << "ftp:4" << true;
    QTest::newRow("nginx, HTTP/2, English") << "web" << false;
    QTest::newRow("nginx, HTTP/2, Metric") << "web" << true;
    // clang-format on
}

void TestSheetBuild::sameResultWhateverTheOrderOfWork()
{
    QFETCH(QString, source);
    QFETCH(bool, metric);
    // Twelve stations of one name (" (2)" … " (12)": numbered, and merged, in list
    // order), a sheet without the label, a missing, an empty and a damaged sheet; on
    // the share a pipe in a sheet's place, which must never be waited on.
    const bool share = source == "share";
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
    if (share)
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "604.pdf").constData(), 0600), 0);
    gsids = QStringList{"100", "999", "700", "601"} + gsids +
            QStringList{"603", "300", "../GSID_"} + (share ? QStringList{"604"} : QStringList());
    writeFile(m_out, "an earlier output, replaced without a question");

    std::unique_ptr<FtpServer> server;
    QTemporaryDir certificates;
    std::unique_ptr<NginxServer> nginx;
    BuildConfig config = shareConfig();
    if (source == "web") {
        nginx = std::make_unique<NginxServer>(m_box->dir.filePath("Geod"),
                                              makeTestCertificates(certificates.path()));
        QVERIFY2(nginx->start(), qPrintable(nginx->error()));
        config.settings.sources = SourceSettings();
        config.settings.sources.webUrl = nginx->url();
        config.settings.sources.caFile = certificates.filePath("ca.pem");
        config.mode = discoverSource(config.settings.sources, m_fso, Settings().answerMs).mode;
        QCOMPARE(config.mode, SourceMode::Web);
    } else if (!share) {
        server = std::make_unique<FtpServer>(m_box->dir.path());
        QVERIFY(server->start());
        config = ftpConfig(*server, source.section(':', 1).toInt());
    }
    config.fetchAhead = 3; // the naming must catch up with fetches held back
    const Run r = run(config, gsids, metric ? Edition::Metric : Edition::English);
    QCOMPARE(r.report.outcome, BuildReport::Written);
    QCOMPARE(r.report.missingGsids(), QStringList({"999", "601", "603", "../GSID_"}) +
                                          (share ? QStringList{"604"} : QStringList()));
    // Every GSID counted in turn, then the merge.
    QStringList counted;
    for (int i = 1; i <= gsids.size(); ++i)
        counted << QString::number(i);
    QCOMPARE(r.progress, counted + QStringList{"Writing"});
    // CEDAR-RIDGE Alpha, (2) … (13), the last being 300; GSID_700.pdf (no GSID
    // printed); ZULU-POINT.
    const QStringList order = gsids.mid(4, 12) + QStringList{"300", "", "100"};
    QCOMPARE(gsidsOf(m_out), order);
    QVERIFY(pdfPages(m_out).value(0).contains(metric ? "(meters)" : "(feet)"));
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
    QStringList expected = gsids.replaceInStrings(QRegularExpression("$"), ".pdf");
    expected.removeAll("../GSID_.pdf"); // names no sheet: never asked for
    expected.sort();
    QCOMPARE(asked, expected);
}

void TestSheetBuild::bookmarksPointAtEachSheet_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("one run") << "one run";
    QTest::newRow("in batches") << "batches";
    QTest::newRow("turned off") << "off";
    QTest::newRow("the bookmark step fails") << "fails";
    QTest::newRow("a name pdftk could misread") << "tricky";
}

void TestSheetBuild::bookmarksPointAtEachSheet()
{
    // A sheet of two pages (300), twins of one name (300, 500), a sheet without the
    // label (700), a name with letters beyond ASCII and marks of its own (800).
    QFETCH(QString, how);
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    const QString twice = english + "GSID_300.pdf";
    QCOMPARE(QProcess::execute("pdftk", {english + "GSID_500.pdf", english + "GSID_500.pdf", "cat",
                                         "output", english + "GSID_two.pdf"}),
             0);
    QVERIFY(QFile::remove(twice) && QFile::rename(english + "GSID_two.pdf", twice));
    writeFile(english + "GSID_700.pdf", pdfFromLines({"A sheet", "without label"}));
    writeSheets(m_box->dir.filePath("Geod"),
                {station("800", "ÉCOLE \"ØST\" & <CO> [2]", "Dörfli, Beta")});
    writeFile(m_out, "the old output");
    // A generated sheet (Courier) cannot show them: "[2]" becomes a backslash, a no-break
    // space, a line separator and a tab as the text tool reads them, for pdftk to keep.
    const QString odd =
        QString("\\A%1B%2C\tD").arg(QChar(QChar::Nbsp), QChar(QChar::LineSeparator));
    QTemporaryDir tools;
    QHash<QString, QByteArray> scripts;
    if (how == "tricky")
        scripts["pdftotext"] = programFolder().toUtf8() + "/pdftotext \"$@\" | sed 's/\\[2\\]/" +
                               QString(odd).replace("\\", "\\\\").toUtf8() + "/'\n";
    else
        scripts["pdftk"] = "[ \"$2\" = update_info_utf8 ] && exit 1\nexec " +
                           programFolder().toUtf8() + "/pdftk \"$@\"\n";
    standInTools(tools.path(), scripts);
    BuildConfig config =
        shareConfig(how == "fails" || how == "tricky" ? tools.path() : programFolder());
    config.settings.bookmarks = how != "off";
    if (how == "batches") {
        config.mergeBatchSize = 2;
        config.mergeArgumentBytes = 1;
    }
    const Run r = run(config, {"100", "200", "300", "500", "700", "800"});
    if (how == "fails") {
        QCOMPARE(r.report.outcome, BuildReport::MergeFailed);
        QCOMPARE(r.report.problem, "The program pdftk could not add the bookmarks to the output "
                                   "file (it ended with status 1).");
        QCOMPARE(readFile(m_out), QByteArray("the old output"));
        return;
    }
    QCOMPARE(r.report.outcome, BuildReport::Written);
    QCOMPARE(QProcess::execute("qpdf", {"--check", m_out}), 0);
    // alder, CEDAR RIDGE (two pages), CEDAR RIDGE, GSID_700, ZULU POINT, ÉCOLE
    QCOMPARE(gsidsOf(m_out), (QStringList{"200", "500", "500", "500", "", "100", "800"}));
    QList<std::pair<QString, int>> expected = {
        {"alder (GSID 200)", 1},       {"CEDAR RIDGE (GSID 300)", 2},
        {"CEDAR RIDGE (GSID 500)", 4}, {"GSID 700", 5},
        {"ZULU POINT (GSID 100)", 6},  {"ÉCOLE \"ØST\" & <CO> [2] (GSID 800)", 7}};
    if (how == "tricky")
        expected.last().first = "ÉCOLE \"ØST\" & <CO> \\A B C D (GSID 800)";
    QCOMPARE(bookmarksOf(m_out), how == "off" ? decltype(expected)() : expected);
}

void TestSheetBuild::replacingTheOutput_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QList<bool>>("answers"); // Retry (true) or Cancel, in turn
    QTest::addColumn<QString>("message");
    const QString inUse =
        "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.";
    const QString full = "The output file @OUT@ could not be replaced: the disk is full.";
    // clang-format off
    QTest::newRow("in use, retried") << EBUSY << QList<bool>{true, true} << inUse;
    QTest::newRow("in use, cancelled") << EBUSY << QList<bool>{false} << inUse;
    QTest::newRow("disk full, cancelled") << ENOSPC << QList<bool>{true, false} << full;
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
             retried ? BuildReport::Written : BuildReport::Cancelled);
    QCOMPARE(m_ui.messages.size(), answers.size());
    QCOMPARE(m_ui.messages[0].text, message.replace("@OUT@", m_out));
    QVERIFY(m_ui.messages[0].retryCancel);
    if (retried)
        QCOMPARE(stationNamesOf(m_out).size(), 2);
    else
        QCOMPARE(readFile(m_out), QByteArray("the old output"));
    // No draft is left beside the output, whatever happened (it goes off the window's thread).
    QTRY_COMPARE_WITH_TIMEOUT(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden),
                              QStringList{"out.pdf"}, EventBound);
}

void TestSheetBuild::failedMergeKeepsEveryOtherFile_data()
{
    // pdftk's stand-in, after the shebang; @OUT@: the file it is to write.
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("why");
    // clang-format off
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$\n") << "it crashed";
    QTest::newRow("says why") << QByteArray("echo 'Error: Failed to open output file: x' >&2\n"
                                            "echo 'more' >&2\nexit 1\n")
                              << "it said: Error: Failed to open output file: x";
    QTest::newRow("disk full") << QByteArray("echo 'java.io.IOException: No space left on device' >&2\n"
                                             "exit 1\n") << "the disk is full";
    QTest::newRow("writes half a file") << QByteArray("printf '%%PDF-1.4\\n1 0 obj' > \"$(eval echo \\${$#})\"\n")
                                        << "it wrote an incomplete file";
    // clang-format on
}

void TestSheetBuild::failedMergeKeepsEveryOtherFile()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, why);
    const QString name = "*.pdf"; // an output name that is a pattern matches nothing else
    const QString docs = m_box->dir.filePath("docs/");
    QDir().mkpath(docs);
    for (const char *other : {"a.pdf", "b.pdf", "c.txt"})
        writeFile(docs + other, "keep me");
    writeFile(docs + name, "the old output");
    m_out = docs + name;
    QTemporaryDir tools;
    standInTools(tools.path(), {{"pdftk", script}});
    const Run r = run(shareConfig(tools.path()), {"100"});
    QCOMPARE(r.report.outcome, BuildReport::MergeFailed);
    QCOMPARE(r.report.problem, "The program pdftk could not write the output file (" + why + ").");
    QCOMPARE(r.report.message()->text,
             r.report.problem + "\nThe output file " + m_out + " was not changed.");
    QTRY_COMPARE_WITH_TIMEOUT(QDir(docs).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                              (QStringList{name, "a.pdf", "b.pdf", "c.txt"}), EventBound);
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
}

void TestSheetBuild::everyCauseNamed()
{
    // Each GSID of the list misses the output for a cause of its own, and is told
    // under it: not on the share, a pipe in its place, pdftotext crashing, hanging or
    // failing on it, pdftk refusing it.
    const QString english = m_box->dir.filePath("Geod/PDF Single Sheet/");
    QCOMPARE(::mkfifo(QFile::encodeName(english + "GSID_604.pdf").constData(), 0600), 0);
    QCOMPARE(QProcess::execute("qpdf", {"--encrypt", "", "owner", "256", "--",
                                        english + "GSID_500.pdf", english + "GSID_301.pdf"}),
             0);
    QTemporaryDir tools;
    standInTools(tools.path(),
                 {{"pdftotext", "case \"$3\" in\n"
                                "*/Temp-2.pdf) kill -SEGV $$ ;;\n"
                                "*/Temp-3.pdf) exec sleep 600 ;;\n"
                                "*/Temp-4.pdf) exit 1 ;;\n"
                                "esac\nexec " +
                                    programFolder().toUtf8() + "/pdftotext \"$@\"\n"}});
    BuildConfig config = shareConfig(tools.path());
    config.textTimeOutMs = 500;
    config.textRuns = 1;
    const QStringList gsids = {"100", "200", "300", "400", "404", "604", "301"};
    const Run r = run(config, gsids);
    QCOMPARE(r.report.outcome, BuildReport::Written);
    QCOMPARE(stationNamesOf(m_out), QStringList{"ZULU POINT"});
    const QList<MissingCause> causes = {MissingCause::TextCrashed,    MissingCause::TextTimedOut,
                                        MissingCause::TextFailed,     MissingCause::NotOnSource,
                                        MissingCause::TransferFailed, MissingCause::MergeRefused};
    QCOMPARE(r.report.missingGsids(), gsids.mid(1));
    for (int i = 0; i < causes.size(); ++i)
        QCOMPARE(r.report.missing[i].cause, causes[i]);
    QCOMPARE(r.report.message()->text.section('\n', 0, 0),
             "The output file " + m_out + " was written with 1 of 7 data sheets.");
}

void TestSheetBuild::workspaceFullStopsTheBuild()
{
    writeFile(m_out, "the old output");
    StubbornFileSystem fso;
    fso.copyError = ENOSPC;
    const Run r = run(shareConfig(), {"100", "200"}, Edition::English, &fso);
    QCOMPARE(r.report.outcome, BuildReport::WorkspaceFailed);
    QCOMPARE(r.report.problem, "The workspace folder " + m_box->workspace() +
                                   " is full; no output file was written.");
    QVERIFY(r.progress.isEmpty());
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
}

void TestSheetBuild::misbehavingTextTool_data()
{
    // pdftotext's stand-in, after the shebang; @PID@: where it notes its pid.
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("gsids");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("problem");
    const QStringList two{"200", "100"};
    const QStringList three{"200", "100", "300"};
    // clang-format off
    // It hangs on two sheets: they are unreadable, each after the time allowed.
    QTest::newRow("hangs on two") << QByteArray("echo $$ >> @PID@\nexec sleep 600\n") << two
        << int(BuildReport::NothingReadable) << "";
    // On three in a row it is the tool that fails, and it is named.
    QTest::newRow("hangs on three") << QByteArray("echo $$ >> @PID@\nexec sleep 600\n") << three
        << int(BuildReport::TextToolFailed)
        << "The program pdftotext failed on every data sheet it was given (it stopped answering).";
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$\n") << three
        << int(BuildReport::TextToolFailed)
        << "The program pdftotext failed on every data sheet it was given (it crashed).";
    // The sheet's folder went before its text could be read: the workspace is named.
    QTest::newRow("finds its folder gone") << QByteArray("rm -rf \"${3%/*}\"\nexec @REAL@ \"$@\"\n") << two
        << int(BuildReport::WorkspaceFailed)
        << "The workspace folder @WS@ vanished during the build; no output file was written.";
    // 20 MB of text before the label: what is kept is bounded, so the label is not
    // seen and the sheets keep their source names, which order them by GSID.
    QTest::newRow("pours out text") << QByteArray("head -c 20000000 /dev/zero | tr '\\0' x\n"
                                                  "printf '\\nOXA Name: LATE\\nCounty: A, B\\n'\n")
        << two << int(BuildReport::Written) << "";
    // clang-format on
}

void TestSheetBuild::misbehavingTextTool()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, gsids);
    QFETCH(int, outcome);
    QFETCH(QString, problem);
    QTemporaryDir tools;
    const QString pids = tools.filePath("pids");
    standInTools(tools.path(),
                 {{"pdftotext", script.replace("@PID@", pids.toUtf8())
                                    .replace("@REAL@", programFolder().toUtf8() + "/pdftotext")}});
    problem.replace("@WS@", m_box->workspace());
    BuildConfig config = shareConfig(tools.path());
    if (script.contains("sleep"))
        config.textTimeOutMs = 300;
    config.textRuns = 1; // one after the other: "in a row" is the list's order
    writeFile(m_out, "the old output");
    const Run r = run(config, gsids);
    QCOMPARE(int(r.report.outcome), outcome);
    QCOMPARE(r.report.problem, problem);
    if (outcome == BuildReport::Written) {
        QCOMPARE(stationNamesOf(m_out), (QStringList{"ZULU POINT", "alder"}));
        return;
    }
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
    // No tool is left running.
    for (const QByteArray &pid : readFile(pids).split('\n')) {
        if (!pid.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + pid), EventBound);
    }
}

void TestSheetBuild::nonAsciiNamesUnderPlainLocale()
{
    writeSheets(m_box->dir.filePath("Geod"), {station("800", "ÉCOLE NORMALE", "Dörfli, Beta")});
    qputenv("LANG", "C");
    qunsetenv("LC_ALL");
    const Run r = run(shareConfig(), {"800", "100"});
    qputenv("LANG", "C.UTF-8");
    QCOMPARE(r.report.outcome, BuildReport::Written);
    QCOMPARE(stationNamesOf(m_out), (QStringList{"ZULU POINT", "ÉCOLE NORMALE"}));
}

void TestSheetBuild::ftpServerMisbehaves_data()
{
    // 40 sheets over two connections, against a server that misbehaves. Every sheet
    // ends in the output or among the missing, once; "lost": the build was told why
    // the rest could not be fetched.
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
    QTest::newRow("cuts a sheet short") << "cut" << int(BuildReport::Written) << QStringList{"@7"} << "";
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
    options.cutShort = how == "cut" ? "GSID_" + seventh + ".pdf" : "";
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
    QCOMPARE(lostSentence(r.report), lost.replace("@HOST@", server.host()));
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
        QCOMPARE(r.report.missingGsids(), missing.replaceInStrings("@7", seventh));
    // In active mode a RETR never answered looks like a data connection that never came.
    QCOMPARE(bool(config.memory->passive), how == "never connect" || how == "silent retr");
}

void TestSheetBuild::ftpSocketsStayOutOfTheTools()
{
    // Every text run lists what it was handed; an FTP connection must not be among
    // it. And every network socket of the program is closed on exec in the first place.
    QTemporaryDir tools;
    const QString fds = tools.filePath("fds");
    standInTools(tools.path(),
                 {{"pdftotext", "ls -l /proc/$$/fd >> " + fds.toUtf8() + "\nexec " +
                                    programFolder().toUtf8() + "/pdftotext \"$@\"\n"}});
    FtpServer server(m_box->dir.path());
    QVERIFY(server.start());
    const QStringList gsids = writeManySheets(30);
    BuildConfig config = ftpConfig(server); // four connections
    config.settings.programDir = tools.path();
    SheetBuild build(config, m_fso, m_ui);
    // Network sockets without close-on-exec. An accepted data connection gets the flag
    // a moment after it is made: only one seen without it at two looks counts.
    QSet<QString> suspects;
    QStringList inherited;
    int looked = 0;
    const BuildReport report = build.run(gsids, m_out, [&](const QString &) {
        QSet<QString> seen;
        const QStringList open = QDir("/proc/self/fd").entryList(QDir::System);
        for (const QString &name : open) {
            const int fd = name.toInt();
            int domain = 0;
            socklen_t size = sizeof domain;
            if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 ||
                (domain != AF_INET && domain != AF_INET6))
                continue;
            ++looked;
            const QString socket = QFile::symLinkTarget("/proc/self/fd/" + name);
            if (!(::fcntl(fd, F_GETFD) & FD_CLOEXEC)) {
                seen << socket;
                if (suspects.contains(socket))
                    inherited << socket;
            }
        }
        suspects = seen;
    });
    QCOMPARE(report.outcome, BuildReport::Written);
    QVERIFY(report.missing.isEmpty());
    QVERIFY(looked > 0);
    QCOMPARE(inherited, QStringList());
    const QByteArray listed = readFile(fds);
    QCOMPARE(listed.count("total "), 30); // every run listed its descriptors
    QVERIFY2(!listed.contains("socket:"), listed.right(3000).constData());
}

void TestSheetBuild::shareCopiesStuckInTheKernel_data()
{
    // Copies that never return, as on a hung network mount: the build ends by itself.
    // Build after build, the threads left stuck add up to the cap: then the share counts
    // as gone at once, and no further thread is left behind.
    QTest::addColumn<QStringList>("stuck");
    QTest::addColumn<QString>("lost");
    QTest::addColumn<int>("builds");
    QTest::newRow("one") << QStringList{"200"} << "" << 1;
    QTest::newRow("three in a row")
        << QStringList{"200", "300", "400"} << "The share stopped answering." << 1;
    QTest::newRow("again and again")
        << QStringList{"200", "300", "400"} << "The share stopped answering." << 3;
}

void TestSheetBuild::shareCopiesStuckInTheKernel()
{
    QFETCH(QStringList, stuck);
    QFETCH(QString, lost);
    QFETCH(int, builds);
    QTemporaryDir fifo;
    BlockingFileSystem blocking(fifo.filePath("fifo"));
    for (const QString &gsid : stuck)
        blocking.blockedNames << "GSID_" + gsid + ".pdf";
    BuildConfig config = shareConfig();
    config.settings.sources.stallSeconds = 2;
    config.textRuns = 1;
    // As many copies as copiers: each fetch begins at once, whatever the machine's pace.
    const QStringList gsids =
        QStringList{"100"} + stuck + QStringList{"400", "500"}.mid(stuck.size() - 1);
    for (int i = 0; i < builds; ++i) {
        const Run r = run(config, gsids, Edition::English, &blocking);
        QCOMPARE(r.report.outcome, BuildReport::Written);
        QCOMPARE(lostSentence(r.report), lost);
        QCOMPARE(r.report.missingGsids(), stuck);
        QCOMPARE(r.report.missing.last().cause,
                 lost.isEmpty() ? MissingCause::TransferFailed : MissingCause::SourceLost);
    }
    if (builds > 1) {
        const int stuckThreads = workerThreadsStuck();
        QVERIFY(ShareSource::stuckCopiers() >= ShareSource::MaxStuckCopiers);
        const Run r = run(config, gsids, Edition::English, &blocking);
        QCOMPARE(r.report.outcome, BuildReport::SourceMissing);
        QCOMPARE(r.report.problem, lost);
        QCOMPARE(workerThreadsStuck(), stuckThreads);
    }
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
    QTest::newRow("FTP, a RETR never answered") << "silent retr";
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
    BlockingFileSystem blocking(tools.filePath("fifo"));
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
    // Nothing the build started still works on the sandbox's files (nor is left a
    // zombie: cleanup() looks).
    for (const QByteArray &pid : readFile(pids).split('\n')) {
        if (!pid.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + pid), EventBound);
    }
    QCOMPARE(readFile(m_out), QByteArray("the old output"));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(m_box->dir.path()).entryList(QDir::Files | QDir::Hidden),
                              QStringList{"out.pdf"}, EventBound);
}

QTEST_GUILESS_MAIN(TestSheetBuild)
#include "tst_sheetbuild.moc"
