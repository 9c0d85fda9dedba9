#include "TestSupport.h"
#include "Version.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>

// The program itself, run as a script runs it: no window, no display in its
// environment at all, its settings pointing at a sandbox share, its workspace in the
// sandbox. What it says is read from its standard error, the missing GSIDs from its
// standard output, the outcome from its exit status and the files it leaves.
class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitStatus_data();
    void exitStatus();
    void progress_data();
    void progress();
    void signalStopsTheBuild_data();
    void signalStopsTheBuild();
    void withoutABuild_data();
    void withoutABuild();

private:
    struct Result {
        int status = -1; // -1: it crashed
        QByteArray out;
        QByteArray err;
    };
    QString box(const QString &name = QString()) const
    {
        return name.isEmpty() ? m_box->dir.path() : m_box->dir.filePath(name);
    }
    // @BOX@: the sandbox, @PROG@: the build folder, @FTP@: the FTP server.
    QString expand(QString text) const
    {
        return text.replace("@BOX@", box())
            .replace("@PROG@", programFolder())
            .replace("@FTP@", m_ftp ? m_ftp->host() : QString());
    }
    // NAME=value in the environment; @CONF@=text: the settings file's end; @FTP@:
    // pyftpdlib serving the share, started.
    void setUp(const QStringList &variables)
    {
        for (const QString &pair : variables) {
            const QString name = pair.section('=', 0, 0);
            const QString value = pair.section('=', 1);
            if (value == "@FTP@" && !m_ftp) {
                m_ftp = std::make_unique<FtpServer>(box());
                QVERIFY(m_ftp->start());
            }
            if (name == "@CONF@")
                writeFile(box("config/brindlewick/brindlewick.conf"),
                          "[Sources]\nShareDir=" + box("Geod").toUtf8() + "\n" + value.toUtf8());
            else
                m_env.insert(name, expand(value));
        }
    }
    // A copy of the program in a folder of its own, beside a stand-in for pdftk.
    QString programWith(const QByteArray &pdftk)
    {
        const QString real = programFolder() + "/brindlewick";
        const QString program = box("program/brindlewick");
        QDir().mkpath(box("program"));
        // A hard link where it can be had: the program is large.
        if (::link(QFile::encodeName(real).constData(), QFile::encodeName(program).constData()))
            QFile::copy(real, program);
        standInTools(box("program"), {{"pdftk", pdftk}});
        return program;
    }
    // modify: run in the child before the program (a signal ignored, a stream replaced).
    void start(QProcess &p, const QStringList &arguments, const QString &program = QString(),
               const std::function<void()> &modify = {})
    {
        p.setChildProcessModifier([modify] {
            ::signal(SIGPIPE, SIG_DFL); // as a shell starts it, whatever the test runner does
            if (modify)
                modify();
        });
        p.setProcessEnvironment(m_env);
        p.setWorkingDirectory(box());
        p.start(program.isEmpty() ? programFolder() + "/brindlewick" : program, arguments);
    }
    Result run(const QStringList &arguments, const QByteArray &input = QByteArray(),
               const QString &program = QString())
    {
        QProcess p;
        start(p, arguments, program);
        p.write(input);
        p.closeWriteChannel();
        const bool ended = p.waitForFinished(EventBound);
        p.kill();
        p.waitForFinished();
        return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardOutput(), p.readAllStandardError()};
    }
    // Nothing of a build is left: no draft beside the output, no workspace.
    void nothingLeftBehind()
    {
        const QStringList hidden =
            QDir(box()).entryList(QStringList{".*"}, QDir::Files | QDir::Hidden | QDir::System);
        QVERIFY2(hidden.isEmpty(), qPrintable(hidden.join(", "))); // drafts are hidden
        QVERIFY(!QFileInfo::exists(m_box->workspace()));
    }

    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<FtpServer> m_ftp;
    QProcessEnvironment m_env;
    qint64 m_stray = 0; // a tool that should be gone by the end of the test
};

static const QByteArray OldOutput = "the output of an earlier build\n";

void TestCommandLine::init()
{
    m_box = std::make_unique<Sandbox>();
    writeSheets(box("Geod"), {station("100", "ZULU POINT", "Carver, Beta"),
                              station("200", "ALDER FLAT", "Delmont, Gamma"),
                              station("300", "CEDAR RIDGE", "Alpha, Beta")});
    // The Metric edition lacks one sheet, so that the edition shows in the outcome.
    QVERIFY(QFile::remove(box("Geod/PDF Metric Sheet/M_GSID_200.pdf")));
    QVERIFY(QDir().mkpath(box("config/brindlewick")));
    setUp({"@CONF@="});
    writeFile(box("out.pdf"), OldOutput);

    m_env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : m_env.keys()) {
        if (name.startsWith("BRINDLEWICK_") || name.endsWith("DISPLAY") ||
            name == "QT_QPA_PLATFORM")
            m_env.remove(name);
    }
    m_env.insert("XDG_CONFIG_HOME", box("config"));
    m_env.insert("XDG_CONFIG_DIRS", box("no-system"));
    m_env.insert("TMPDIR", box());
}

void TestCommandLine::cleanup()
{
    // A tool a failed test left running must not outlive it.
    if (m_stray > 0)
        ::kill(pid_t(std::exchange(m_stray, 0)), SIGKILL);
    m_ftp.reset();
    m_box.reset();
}

// The line is among them; one that ends in ": " (a cause in another's words) begins one.
static bool saysLine(const QStringList &said, const QString &line)
{
    return line.endsWith(": ") ? std::any_of(said.cbegin(), said.cend(),
                                             [&](const QString &l) { return l.startsWith(line); })
                               : said.contains(line);
}

void TestCommandLine::exitStatus_data()
{
    QTest::addColumn<QByteArray>("list");       // list.txt, or standard input; null: none
    QTest::addColumn<QStringList>("arguments"); // @BOX@: the sandbox
    QTest::addColumn<QStringList>("variables"); // setUp()
    QTest::addColumn<QByteArray>("pdftk");      // a stand-in's script
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("told");       // a line of standard error
    QTest::addColumn<QByteArray>("missing"); // standard output
    QTest::addColumn<QStringList>("names");  // the output's stations; none: the old output
    QTest::addColumn<int>("requested");      // in the report file and the closing line

    const QStringList build{"--report", "@BOX@/report.json", "-o", "@BOX@/out.pdf",
                            "@BOX@/list.txt"};
    const QStringList all{"ALDER FLAT", "CEDAR RIDGE", "ZULU POINT"};
    const QStringList none;
    const QString written =
        "brindlewick: The output file @BOX@/out.pdf was written with %1 of %2 data sheets.";
    // clang-format off
    // A setting the program does not know is told, and stops nothing.
    QTest::newRow("every sheet, an unknown setting told") << QByteArray("100 200,300") << build << QStringList{"@CONF@=[Source]\nShareDir=/mnt/geod\n"} << QByteArray() << 0 << "brindlewick: The setting [Source] ShareDir in @BOX@/config/brindlewick/brindlewick.conf is unknown and was ignored." << QByteArray() << all << 3;
    QTest::newRow("some missing: Metric, long forms, relative paths") << QByteArray("300 900 100 200") << QStringList{"--metric", "--report=report.json", "--output=out.pdf", "--", "list.txt"} << none << QByteArray() << 1 << written.arg(2).arg(4) << QByteArray("200\n900\n") << QStringList{"CEDAR RIDGE", "ZULU POINT"} << 4;
    // From standard input by the import's rules: a byte-order mark, commas and white space
    // of any kind, repeats weeded, no letters stripped ("GSID:400" is no GSID).
    QTest::newRow("standard input") << QByteArray("\xEF\xBB\xBF" "300\r\n100,,100 Station 200\tGSID:400\n900") << QStringList{"--report", "@BOX@/report.json", "-o", "@BOX@/out.pdf", "-"} << none << QByteArray() << 1 << written.arg(3).arg(4) << QByteArray("900\n") << all << 4;
    QTest::newRow("unreadable list") << QByteArray() << build << none << QByteArray() << 2 << "brindlewick: Unable to read the file @BOX@/list.txt." << QByteArray() << none << 0;
    QTest::newRow("nothing fetched") << QByteArray("800 900") << build << none << QByteArray() << 2 << "brindlewick: No data sheet could be fetched; no output file was written." << QByteArray("800\n900\n") << none << 2;
    QTest::newRow("no source set: never the samples") << QByteArray("100") << build << QStringList{"BRINDLEWICK_SHARE_DIR="} << QByteArray() << 2 << "brindlewick: No data-sheet source is set; no output file was written." << QByteArray() << none << 0;
    // The message's details are told too.
    QTest::newRow("no source answers") << QByteArray("100") << build << QStringList{"BRINDLEWICK_SHARE_DIR=@BOX@/nowhere", "BRINDLEWICK_FTP_HOST=127.0.0.1:1"} << QByteArray() << 2 << "Could not connect to the FTP server 127.0.0.1:1: Connection refused." << QByteArray() << none << 1;
    QTest::newRow("output not a PDF") << QByteArray("100") << QStringList{"--report", "@BOX@/report.json", "-o", "@BOX@/out.pdf.txt", "@BOX@/list.txt"} << none << QByteArray() << 2 << "brindlewick: Output file name must end in .pdf." << QByteArray() << none << 1;
    // Refused before a sheet is fetched (the FTP server's log has none).
    QTest::newRow("output folder missing") << QByteArray("100") << QStringList{"--report", "@BOX@/report.json", "-o", "@BOX@/nowhere/out.pdf", "@BOX@/list.txt"} << QStringList{"BRINDLEWICK_SHARE_DIR=@BOX@/nowhere", "BRINDLEWICK_FTP_HOST=@FTP@"} << QByteArray() << 2 << "brindlewick: The output folder @BOX@/nowhere does not exist." << QByteArray() << none << 1;
    QTest::newRow("report folder missing: no build") << QByteArray("100") << QStringList{"--report", "@BOX@/nowhere/r.json", "-o", "@BOX@/out.pdf", "@BOX@/list.txt"} << none << QByteArray() << 2 << "brindlewick: The report file @BOX@/nowhere/r.json cannot be written (the folder does not exist); no output file was written." << QByteArray() << none << 0;
    QTest::newRow("report gone by the end") << QByteArray("100") << QStringList{"--report", "@BOX@/config/r.json", "-o", "@BOX@/out.pdf", "@BOX@/list.txt"} << none << QByteArray("rm -rf '@BOX@/config'\nexec '@PROG@/pdftk' \"$@\"\n") << 3 << "brindlewick: The report file @BOX@/config/r.json could not be written: the folder does not exist." << QByteArray() << QStringList{"ZULU POINT"} << 1;
    // clang-format on
}

void TestCommandLine::exitStatus()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, variables);
    QFETCH(QByteArray, pdftk);
    QFETCH(int, status);
    QFETCH(QString, told);
    QFETCH(QByteArray, missing);
    QFETCH(QStringList, names);
    QFETCH(int, requested);
    if (!list.isNull())
        writeFile(box("list.txt"), list);
    setUp(variables);
    const QString program = pdftk.isEmpty() ? QString() : programWith(expand(pdftk).toUtf8());
    const Result r = run(arguments.replaceInStrings("@BOX@", box()),
                         arguments.contains("-") ? list : QByteArray(), program);
    const QStringList said = QString::fromLocal8Bit(r.err).split('\n');
    QVERIFY2(r.status == status, r.err.constData());
    QCOMPARE(r.out, missing);
    QVERIFY2(told.isEmpty() || saysLine(said, expand(told)), r.err.constData());
    if (names.isEmpty())
        QCOMPARE(readFile(box("out.pdf")), OldOutput);
    else
        QCOMPARE(stationNamesOf(box("out.pdf")), names);
    if (m_ftp && names.isEmpty()) // refused before anything was fetched
        QCOMPARE(m_ftp->retrieved(), QStringList());
    nothingLeftBehind();

    // The closing line, and the report file where there is one, tell the same.
    const QRegularExpressionMatch last =
        QRegularExpression(QString("^%1 (/.*): %2 of %3 data sheets \\([0-9.]+ m?s\\)\\.$")
                               .arg(names.isEmpty() ? "Did not write" : "Wrote")
                               .arg(names.size())
                               .arg(requested))
            .match(said.value(said.size() - 2));
    QVERIFY2(last.hasMatch(), r.err.constData());
    const QJsonObject report = QJsonDocument::fromJson(readFile(box("report.json"))).object();
    QCOMPARE(report.isEmpty(), told.startsWith("brindlewick: The report file"));
    if (report.isEmpty())
        return;
    QCOMPARE(report.value("output").toString(), last.captured(1));
    QCOMPARE(report.value("requested").toInt(-1), requested);
    QCOMPARE(report.value("written").toInt(-1), names.size());
    QByteArray gsids;
    for (const QJsonValue &m : report.value("missing").toArray()) {
        gsids += m["gsid"].toString().toUtf8() + '\n';
        // The share lacks them; what the system said of each is its own.
        QVERIFY(m["cause"] == "not-on-source" && m["detail"].isString());
    }
    QCOMPARE(gsids, missing);
}

void TestCommandLine::progress_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("a log: a line every tenth of the way") << false;
    QTest::newRow("a terminal: one line, rewritten in place") << true;
}

void TestCommandLine::progress()
{
    QFETCH(bool, terminal);
    QList<DataSheet> stations;
    QByteArray list;
    QString expected;
    for (int i = 1; i <= 20; ++i) {
        stations << station(QString::number(1000 + i), QString("STATION %1").arg(i), "Alpha");
        list += QByteArray::number(1000 + i) + '\n';
        expected += terminal ? QString("\r%1/20 (%2 %)").arg(i).arg(i * 5)
                    : i % 2  ? QString()
                             : QString("%1/20\n").arg(i);
    }
    writeSheets(box("Geod"), stations);
    writeFile(box("list.txt"), list);
    // script(1) (Debian's essential bsdutils) gives the program a terminal.
    const QString command = "'" + programFolder() + "/brindlewick' -o out.pdf list.txt 2>&1";
    const Result r = terminal ? run({"-qec", command, "/dev/null"}, QByteArray(), "script")
                              : run({"-o", "out.pdf", "list.txt"});
    QCOMPARE(r.status, 0);
    // The time left is told once the pace is known, which a slow machine may reach.
    QString shown = QString::fromLocal8Bit(terminal ? r.out : r.err).replace("\r\n", "\n");
    shown.remove(QRegularExpression(", about [0-9a-z ]+ left| +(?=\r|\n)"));
    QVERIFY2(shown.startsWith(expected + (terminal ? "\rWriting\nWrote " : "Writing\nWrote ")),
             qPrintable(shown));
}

void TestCommandLine::signalStopsTheBuild_data()
{
    // stream 0: the build waits on a merge that never ends; 1 or 2: that stream is a pipe
    // of 4096 bytes that nobody reads (standard error's full from the start), or with its
    // reading end closed.
    QTest::addColumn<int>("stream");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("ignored"); // set to be ignored by the caller, and sent first
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("status");
    // clang-format off
    QTest::newRow("SIGHUP") << 0 << true << 0 << int(SIGHUP) << 129;
    QTest::newRow("SIGHUP under nohup, then SIGTERM") << 0 << true << int(SIGHUP) << int(SIGTERM) << 143;
    QTest::newRow("standard output full, the output written: SIGTERM") << 1 << true << 0 << int(SIGTERM) << 143;
    QTest::newRow("standard error full, the build running: SIGINT") << 2 << true << 0 << int(SIGINT) << 130;
    QTest::newRow("standard error's reader gone: SIGPIPE") << 2 << false << 0 << 0 << 141;
    // clang-format on
}

void TestCommandLine::signalStopsTheBuild()
{
    QFETCH(int, stream);
    QFETCH(bool, open);
    QFETCH(int, ignored);
    QFETCH(int, signalNumber);
    QFETCH(int, status);
    // A merge that never ends by itself: it says who it is, and waits to be killed.
    const QByteArray pidFile = QFile::encodeName(box("pdftk.pid"));
    const QString program = programWith("echo $$ > " + pidFile + ".new\nmv " + pidFile + ".new " +
                                        pidFile + "\nexec sleep 600\n");
    // A thousand GSIDs the share lacks fill the pipe several times over.
    QByteArray list = "100 200 300\n";
    for (int i = 0; stream == 1 && i < 1000; ++i)
        list += QByteArray::number(500000 + i) + '\n';
    writeFile(box("list.txt"), list);
    int fds[2] = {-1, -1};
    if (stream != 0) {
        QVERIFY(::pipe2(fds, O_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETPIPE_SZ, 4096) == 4096);
        if (stream == 2 && open) // full: the first word the program says waits
            QCOMPARE(::write(fds[1], QByteArray(4096, 'x').constData(), 4096), 4096);
        if (!open)
            ::close(std::exchange(fds[0], -1));
    }
    QProcess p;
    start(p, {"-o", box("out.pdf"), box("list.txt")}, stream == 1 ? QString() : program, [=] {
        if (ignored != 0)
            ::signal(ignored, SIG_IGN);
        if (stream != 0)
            ::dup2(fds[1], stream);
    });
    ::close(fds[1]);
    // Signalled while it waits: on the merge, for room to tell its progress, or for room
    // for the missing GSIDs once the output is written.
    int pending = 0;
    QTRY_VERIFY_WITH_TIMEOUT(stream == 0 ? QFile::exists(pidFile)
                             : stream == 2
                                 ? !open || QFileInfo::exists(m_box->workspace())
                                 : ::ioctl(fds[0], FIONREAD, &pending) == 0 && pending == 4096,
                             EventBound);
    const QByteArray merger = readFile(pidFile).trimmed();
    m_stray = merger.toLongLong();
    // The caller's choice to ignore one stands (no handler over it): the next one decides.
    const QByteArray told = readFile("/proc/" + QByteArray::number(p.processId()) + "/status");
    QVERIFY(ignored == 0 ||
            (told.mid(told.indexOf("SigIgn:") + 7, 17).toULongLong(nullptr, 16) >> (ignored - 1)) &
                1);
    for (const int number : {ignored, signalNumber})
        QVERIFY(number == 0 || ::kill(pid_t(p.processId()), number) == 0);
    QVERIFY(p.waitForFinished(EventBound));
    ::close(fds[0]);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == status, err.constData());
    nothingLeftBehind();
    if (stream != 0)
        return;
    QVERIFY2(err.contains("\nbrindlewick: The build was stopped; no output file was written.\n"
                          "Did not write " +
                          QFile::encodeName(box("out.pdf")) + ": 0 of 3 data sheets ("),
             err.constData());
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QCOMPARE(readFile(box("out.pdf")), OldOutput);
    // The merge tool went with the program; it was ended, not left to finish.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + merger) ||
                                 readFile("/proc/" + merger + "/stat").contains(") Z "),
                             EventBound);
    m_stray = 0;
}

void TestCommandLine::withoutABuild_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("variables"); // setUp()
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("out"); // lines standard output holds (saysLine)
    QTest::addColumn<QString>("err");     // standard error, whole; null: not looked at
    const QString version = QString("brindlewick %1.%2.%3")
                                .arg(BRINDLEWICK_VERSION_MAJOR)
                                .arg(BRINDLEWICK_VERSION_MINOR)
                                .arg(BRINDLEWICK_VERSION_PATCH);
    const QStringList help{
        "Usage: brindlewick [LIST-FILE]",
        "       brindlewick --output OUT.pdf [--metric] [--report FILE] [--] LIST-FILE",
        "  @BOX@/config/brindlewick/brindlewick.conf",
        "  @BOX@/no-system/brindlewick/brindlewick.conf",
        "  BRINDLEWICK_FTP_TLS         off or required", // every variable read
        "  3    the output was written, but the --report file could not be"};
    const QString see = "; see brindlewick --help\n";
    const QStringList none;
    const QStringList sources{"--sources"};
    const QString passed = "  the share @BOX@/nowhere: passed over: The share folder "
                           "@BOX@/nowhere cannot be seen.";
    // clang-format off
    QTest::newRow("help") << QStringList{"--help"} << none << 0 << help << "";
    QTest::newRow("help, short, before a mistake") << QStringList{"-h", "--bogus"} << none << 0 << help << "";
    QTest::newRow("version") << QStringList{"--version"} << none << 0 << QStringList{version, ""} << "";
    QTest::newRow("unknown option") << QStringList{"--bogus", "-o", "out.pdf", "list.txt"} << none << 2 << QStringList{""} << "brindlewick: unknown option '--bogus'" + see;
    QTest::newRow("output without a name") << QStringList{"list.txt", "-o"} << none << 2 << QStringList{""} << "brindlewick: the option -o needs the output file's name" + see;
    QTest::newRow("no list file") << QStringList{"-o", "out.pdf"} << none << 2 << QStringList{""} << "brindlewick: no list file given (- reads the list from standard input)" + see;
    QTest::newRow("two list files") << QStringList{"-o", "out.pdf", "a.txt", "b.txt"} << none << 2 << QStringList{""} << "brindlewick: one list file only, not 2" + see;
    QTest::newRow("two outputs") << QStringList{"-o", "a.pdf", "--output", "b.pdf", "list.txt"} << none << 2 << QStringList{""} << "brindlewick: the output file is named more than once" + see;
    QTest::newRow("report without output") << QStringList{"--report", "r.json", "list.txt"} << none << 2 << QStringList{""} << "brindlewick: --report is for a build with --output" + see;
    QTest::newRow("sources: the share, before the FTP server") << sources << QStringList{"BRINDLEWICK_FTP_HOST=@FTP@"} << 0 << QStringList{"  [Sources] ShareDir = @BOX@/Geod, from @BOX@/config/brindlewick/brindlewick.conf, line 2", "  [Sources] WebUrl: not set", "  the share @BOX@/Geod: answers", "  the FTP server @FTP@: not tried: a build takes the first that answers", "A build would take its sheets from the share @BOX@/Geod."} << "";
    QTest::newRow("sources: the FTP server, the share passed over") << sources << QStringList{"BRINDLEWICK_SHARE_DIR=@BOX@/nowhere", "BRINDLEWICK_FTP_HOST=@FTP@"} << 0 << QStringList{"  [Sources] FtpHost = @FTP@, from the environment (BRINDLEWICK_FTP_HOST)", passed, "  the FTP server @FTP@: answers", "A build would take its sheets from the FTP server @FTP@."} << "";
    QTest::newRow("sources: none answers") << sources << QStringList{"BRINDLEWICK_SHARE_DIR=@BOX@/nowhere", "BRINDLEWICK_FTP_HOST=127.0.0.1:1"} << 2 << QStringList{passed, "  the FTP server 127.0.0.1:1: passed over: ", "No source answers: a build would end with \"Unable to locate either Network or FTP directories.\""} << "";
    // No option: the window; "--" lets a list file begin with "-".
    QTest::newRow("window") << QStringList{"--", "-list.txt"} << QStringList{"QT_QPA_PLATFORM=offscreen", "BRINDLEWICK_EXIT_WHEN_SHOWN=1"} << 0 << QStringList{"shown"} << QString();
    QTest::newRow("window without a display") << QStringList{"list.txt"} << none << 2 << QStringList{""} << "brindlewick: The window cannot be opened: there is no display (DISPLAY and WAYLAND_DISPLAY are not set).\nTo build without a window or a display, name the output with --output:  brindlewick --output OUT.pdf list.txt\n";
    // clang-format on
}

void TestCommandLine::withoutABuild()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, variables);
    QFETCH(int, status);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    writeFile(box("-list.txt"), "100");
    setUp(variables);
    const Result r = run(arguments);
    QVERIFY2(r.status == status, r.err.constData());
    QVERIFY(err.isNull() || QString::fromLocal8Bit(r.err) == err);
    const QStringList said = QString::fromLocal8Bit(r.out).split('\n');
    for (const QString &line : std::as_const(out))
        QVERIFY2(saysLine(said, expand(line)), qPrintable(expand(line) + "\n" + r.out));
    QVERIFY(err.isNull() || !QFileInfo::exists(m_box->workspace())); // the window keeps its own
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
