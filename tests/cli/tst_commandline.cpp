#include "TestSupport.h"
#include "Version.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <unistd.h>

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
    void standardInputIsTheList();
    void progressOnALog();
    void progressOnATerminal();
    void signalStopsTheBuild_data();
    void signalStopsTheBuild();
    void helpVersionAndMistakes_data();
    void helpVersionAndMistakes();
    void windowWithoutOutputOption();

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
    QString expand(QString text) const;
    // A copy of the program in a folder of its own, beside stand-ins for its tools.
    QString programWith(const QHash<QString, QByteArray> &tools);
    void start(QProcess &p, const QStringList &arguments, const QString &program = QString());
    Result run(const QStringList &arguments, const QByteArray &input = QByteArray(),
               const QString &program = QString());
    // Nothing of a build is left: no draft beside the output, no workspace.
    void nothingLeftBehind();

    std::unique_ptr<Sandbox> m_box;
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
    writeFile(box("config/brindlewick/brindlewick.conf"),
              "[Sources]\nShareDir=" + box("Geod").toUtf8() + "\n");
    writeFile(box("out.pdf"), OldOutput);

    m_env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "BRINDLEWICK_SHARE_DIR",
          "BRINDLEWICK_FTP_HOST", "BRINDLEWICK_FTP_CONNECTIONS", "BRINDLEWICK_FTP_MODE"})
        m_env.remove(name);
    m_env.insert("XDG_CONFIG_HOME", box("config"));
    m_env.insert("XDG_CONFIG_DIRS", box("no-system"));
    m_env.insert("TMPDIR", box());
}

void TestCommandLine::cleanup()
{
    // A tool a failed test left running must not outlive it.
    if (m_stray > 0)
        ::kill(pid_t(m_stray), SIGKILL);
    m_stray = 0;
    m_box.reset();
}

QString TestCommandLine::expand(QString text) const
{
    return text.replace("@WS@", m_box->workspace()).replace("@BOX@", box());
}

QString TestCommandLine::programWith(const QHash<QString, QByteArray> &tools)
{
    const QString folder = box("program");
    if (!QDir().mkpath(folder))
        return QString();
    const QString program = folder + "/brindlewick";
    // A hard link where it can be had: the program is large.
    if (::link(QFile::encodeName(programFolder() + "/brindlewick").constData(),
               QFile::encodeName(program).constData()) != 0 &&
        !QFile::copy(programFolder() + "/brindlewick", program))
        return QString();
    standInTools(folder, tools);
    return program;
}

void TestCommandLine::start(QProcess &p, const QStringList &arguments, const QString &program)
{
    p.setProcessEnvironment(m_env);
    p.setWorkingDirectory(box());
    p.start(program.isEmpty() ? programFolder() + "/brindlewick" : program, arguments);
}

TestCommandLine::Result TestCommandLine::run(const QStringList &arguments, const QByteArray &input,
                                             const QString &program)
{
    QProcess p;
    start(p, arguments, program);
    p.write(input);
    p.closeWriteChannel();
    Result r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    if (p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void TestCommandLine::nothingLeftBehind()
{
    const QStringList hidden =
        QDir(box()).entryList(QStringList{".*"}, QDir::Files | QDir::Hidden | QDir::System);
    QVERIFY2(hidden.isEmpty(), qPrintable(hidden.join(", "))); // drafts are hidden
    QVERIFY(!QFileInfo::exists(m_box->workspace()));
}

void TestCommandLine::exitStatus_data()
{
    QTest::addColumn<QByteArray>("list");       // list.txt; a null array: none
    QTest::addColumn<QStringList>("arguments"); // @BOX@: the sandbox, @WS@: the workspace
    QTest::addColumn<QStringList>("variables"); // NAME=value; @FTP@: a server of the share;
                                                // @CLOSED@=folder: one no file can be made in
    QTest::addColumn<QByteArray>("pdftk");      // a stand-in's script; "-": not runnable
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("told");       // a line of standard error
    QTest::addColumn<QByteArray>("missing"); // standard output
    QTest::addColumn<QStringList>("names");  // the output's stations; none: the old output

    const QStringList build{"-o", "@BOX@/out.pdf", "@BOX@/list.txt"};
    const QStringList all{"ALDER FLAT", "CEDAR RIDGE", "ZULU POINT"};
    const QStringList noShare{"BRINDLEWICK_SHARE_DIR=@BOX@/nowhere"};
    const QStringList ftp = noShare + QStringList{"BRINDLEWICK_FTP_HOST=@FTP@"};
    const QString written =
        "brindlewick: The output file @BOX@/out.pdf was written with %1 of %2 data sheets.";
    // clang-format off
    QTest::newRow("every sheet") << QByteArray("100 200,300") << build << QStringList{} << QByteArray() << 0 << "" << QByteArray() << all;
    QTest::newRow("some missing") << QByteArray("300 900 100 800") << build << QStringList{} << QByteArray() << 1 << written.arg(2).arg(4) << QByteArray("800\n900\n") << QStringList{"CEDAR RIDGE", "ZULU POINT"};
    QTest::newRow("Metric") << QByteArray("100 200 300") << QStringList{"--metric", "-o", "@BOX@/out.pdf", "@BOX@/list.txt"} << QStringList{} << QByteArray() << 1 << written.arg(2).arg(3) << QByteArray("200\n") << QStringList{"CEDAR RIDGE", "ZULU POINT"};
    QTest::newRow("long forms, relative paths") << QByteArray("100 200 300") << QStringList{"--output=out.pdf", "--", "list.txt"} << QStringList{} << QByteArray() << 0 << "" << QByteArray() << all;
    QTest::newRow("from the FTP server") << QByteArray("100 200 300") << build << ftp << QByteArray() << 0 << "" << QByteArray() << all;
    QTest::newRow("unknown setting told") << QByteArray("100 200 300") << build << QStringList{"@CONF@=[Source]\nShareDir=/mnt/geod\n"} << QByteArray() << 0 << "brindlewick: The setting [Source] ShareDir in @BOX@/config/brindlewick/brindlewick.conf is unknown and was ignored." << QByteArray() << all;
    QTest::newRow("empty list") << QByteArray("GSID:100 none\n") << build << QStringList{} << QByteArray() << 2 << "brindlewick: No GSID was found in @BOX@/list.txt; no output file was written." << QByteArray() << QStringList{};
    QTest::newRow("unreadable list") << QByteArray() << build << QStringList{} << QByteArray() << 2 << "brindlewick: Unable to read the file @BOX@/list.txt." << QByteArray() << QStringList{};
    QTest::newRow("nothing fetched") << QByteArray("800 900") << build << QStringList{} << QByteArray() << 2 << "brindlewick: No data sheet could be fetched; no output file was written." << QByteArray("800\n900\n") << QStringList{};
    QTest::newRow("no source set: never the samples") << QByteArray("100") << build << QStringList{"BRINDLEWICK_SHARE_DIR="} << QByteArray() << 2 << "brindlewick: No data-sheet source is set; no output file was written." << QByteArray() << QStringList{};
    QTest::newRow("output folder missing") << QByteArray("100") << QStringList{"-o", "@BOX@/nowhere/out.pdf", "@BOX@/list.txt"} << ftp << QByteArray() << 2 << "brindlewick: The output folder @BOX@/nowhere does not exist." << QByteArray() << QStringList{};
    QTest::newRow("output folder closed") << QByteArray("100") << QStringList{"-o", "@BOX@/closed/out.pdf", "@BOX@/list.txt"} << (ftp + QStringList{"@CLOSED@=closed"}) << QByteArray() << 2 << "brindlewick: The output folder @BOX@/closed cannot be written: permission was denied." << QByteArray() << QStringList{};
    QTest::newRow("no source") << QByteArray("100") << build << (noShare + QStringList{"BRINDLEWICK_FTP_HOST=127.0.0.1:1"}) << QByteArray() << 2 << "brindlewick: Unable to locate either Network or FTP directories." << QByteArray() << QStringList{};
    QTest::newRow("merge tool cannot run") << QByteArray("100") << build << QStringList{} << QByteArray("-") << 2 << "brindlewick: The program pdftk could not be run from @BOX@/program." << QByteArray() << QStringList{};
    QTest::newRow("merge fails") << QByteArray("100 200") << build << QStringList{} << QByteArray("echo broken >&2\nexit 3\n") << 2 << "brindlewick: The program pdftk could not write the output file (it said: broken)." << QByteArray() << QStringList{};
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

    if (!list.isNull())
        writeFile(box("list.txt"), list);
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<ClosedFolder> closed;
    for (const QString &pair : std::as_const(variables)) {
        const QString name = pair.section('=', 0, 0);
        QString value = expand(pair.section('=', 1));
        if (name == "@CONF@") {
            writeFile(box("config/brindlewick/brindlewick.conf"),
                      "[Sources]\nShareDir=" + box("Geod").toUtf8() + "\n" + value.toUtf8());
        } else if (name == "@LISTPDF@") {
            writeFile(box("list.txt.pdf"), value.toUtf8());
        } else if (name == "@CLOSED@") {
            closed = std::make_unique<ClosedFolder>(box(value));
            if (!closed->error().isEmpty())
                QSKIP(qPrintable(closed->error()));
        } else if (name == "@MKDIR@") {
            QVERIFY(QDir(box()).mkpath(value + "/inside"));
        } else {
            if (value == "@FTP@") {
                server = std::make_unique<FtpServer>(box());
                QVERIFY(server->start());
                value = server->host();
            }
            m_env.insert(name, value);
        }
    }
    QString program;
    if (!pdftk.isEmpty()) {
        program = programWith({{"pdftk", pdftk == "-" ? QByteArray() : pdftk}});
        QVERIFY(!program.isEmpty());
        if (pdftk == "-") // there, but not a program that can be run
            QVERIFY(QFile::setPermissions(box("program/pdftk"), QFileDevice::ReadOwner));
    }
    for (QString &argument : arguments)
        argument = expand(argument);

    const Result r = run(arguments, QByteArray(), program);
    const QStringList said = QString::fromLocal8Bit(r.err).split('\n');
    QVERIFY2(r.status == status, r.err.constData());
    QCOMPARE(r.out, missing);
    if (!told.isEmpty()) {
        told = expand(told);
        // A cause in the system's own words is left to the system.
        const bool whole = !told.endsWith(": ");
        QVERIFY2(whole ? said.contains(told)
                       : std::any_of(said.cbegin(), said.cend(),
                                     [&](const QString &line) { return line.startsWith(told); }),
                 r.err.constData());
    }
    if (names.isEmpty())
        QCOMPARE(readFile(box("out.pdf")), OldOutput);
    else
        QCOMPARE(stationNamesOf(box("out.pdf")), names);
    if (server && names.isEmpty()) // refused before anything was fetched
        QCOMPARE(server->retrieved(), QStringList());
    nothingLeftBehind();
}

void TestCommandLine::standardInputIsTheList()
{
    // The import's rules: a byte-order mark, commas and white space of any kind,
    // repeats weeded, no letters stripped ("GSID:400" is no GSID, "Station" neither).
    const QByteArray input = "\xEF\xBB\xBF"
                             "300\r\n100,,100 Station 200\tGSID:400\n900";
    const Result r = run({"-o", box("out.pdf"), "-"}, input);
    QVERIFY2(r.status == 1, r.err.constData());
    QCOMPARE(r.out, QByteArray("900\n"));
    QCOMPARE(stationNamesOf(box("out.pdf")),
             (QStringList{"ALDER FLAT", "CEDAR RIDGE", "ZULU POINT"}));
    nothingLeftBehind();

    // Nothing on standard input: nothing to build.
    const Result empty = run({"-o", box("out.pdf"), "-"});
    QCOMPARE(empty.status, 2);
    QVERIFY2(empty.err.contains("No GSID was found in standard input"), empty.err.constData());
}

void TestCommandLine::progressOnALog()
{
    // Twenty stations: a line at every tenth of the way, then the merge.
    QList<DataSheet> stations;
    QByteArray list;
    for (int i = 1; i <= 20; ++i) {
        stations << station(QString::number(1000 + i), QString("STATION %1").arg(i), "Alpha");
        list += QByteArray::number(1000 + i) + '\n';
    }
    writeSheets(box("Geod"), stations);
    writeFile(box("list.txt"), list);
    const Result r = run({"-o", box("out.pdf"), box("list.txt")});
    QCOMPARE(r.status, 0);
    QStringList expected;
    for (int i = 2; i <= 20; i += 2)
        expected << QString("%1/20").arg(i);
    expected << "Writing"
             << "";
    QCOMPARE(QString::fromLocal8Bit(r.err).split('\n'), expected);
}

void TestCommandLine::progressOnATerminal()
{
    // script(1) gives the program a terminal: one line, rewritten in place.
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        QSKIP("script(1) is not installed");
    writeFile(box("list.txt"), "100 200 300");
    QProcess p;
    p.setProcessEnvironment(m_env);
    p.setWorkingDirectory(box());
    const QString command =
        QString("'%1/brindlewick' -o out.pdf list.txt 2>&1").arg(programFolder());
    p.start(script, {"-qec", command, "/dev/null"});
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray shown = p.readAllStandardOutput().replace("\r\n", "\n");
    QCOMPARE(shown, QByteArray("\r1/3\r2/3\r3/3\rWriting\n"));
}

void TestCommandLine::signalStopsTheBuild_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
}

void TestCommandLine::signalStopsTheBuild()
{
    QFETCH(int, signalNumber);
    QFETCH(int, status);
    // A merge that never ends by itself: it says who it is, and waits to be killed.
    const QString pidFile = box("pdftk.pid");
    const QString program =
        programWith({{"pdftk", "echo $$ > " + pidFile.toUtf8() + ".new\nmv " + pidFile.toUtf8() +
                                   ".new " + pidFile.toUtf8() + "\nexec sleep 600\n"}});
    QVERIFY(!program.isEmpty());
    writeFile(box("list.txt"), "100 200 300");

    QProcess p;
    start(p, {"-o", box("out.pdf"), box("list.txt")}, program);
    p.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 60000);
    const QByteArray pdftk = readFile(pidFile).trimmed();
    m_stray = pdftk.toLongLong();
    QVERIFY(QFileInfo::exists("/proc/" + pdftk));
    QCOMPARE(::kill(pid_t(p.processId()), signalNumber), 0);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == status, err.constData());
    QVERIFY2(err.endsWith("\nbrindlewick: The build was stopped; no output file was written.\n"),
             err.constData());
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QCOMPARE(readFile(box("out.pdf")), OldOutput);
    nothingLeftBehind();
    // The merge tool went with the program; it was ended, not left to finish.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists("/proc/" + pdftk) ||
                                 readFile("/proc/" + pdftk + "/stat").contains(") Z "),
                             EventBound);
    m_stray = 0;
}

void TestCommandLine::helpVersionAndMistakes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("out"); // lines standard output holds
    QTest::addColumn<QString>("err");     // standard error, whole
    const QString version = QString("brindlewick %1.%2.%3")
                                .arg(BRINDLEWICK_VERSION_MAJOR)
                                .arg(BRINDLEWICK_VERSION_MINOR)
                                .arg(BRINDLEWICK_VERSION_PATCH);
    const QStringList help{"Usage: brindlewick [LIST-FILE]",
                           "       brindlewick --output OUT.pdf [--metric] [--] LIST-FILE",
                           "  @BOX@/config/brindlewick/brindlewick.conf",
                           "  @BOX@/no-system/brindlewick/brindlewick.conf",
                           "  130  stopped by SIGINT, 143 by SIGTERM, 129 by SIGHUP; an old "
                           "output is kept"};
    const QString see = "; see brindlewick --help\n";
    // clang-format off
    QTest::newRow("help") << QStringList{"--help"} << 0 << help << "";
    QTest::newRow("help, short, before a mistake") << QStringList{"-h", "--bogus"} << 0 << help << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << QStringList{version, ""} << "";
    QTest::newRow("unknown option") << QStringList{"--bogus", "-o", "out.pdf", "list.txt"} << 2 << QStringList{""} << "brindlewick: unknown option '--bogus'" + see;
    QTest::newRow("unknown short option") << QStringList{"-x"} << 2 << QStringList{""} << "brindlewick: unknown option '-x'" + see;
    QTest::newRow("output without a name") << QStringList{"list.txt", "-o"} << 2 << QStringList{""} << "brindlewick: the option -o needs the output file's name" + see;
    QTest::newRow("no list file") << QStringList{"-o", "out.pdf"} << 2 << QStringList{""} << "brindlewick: no list file given (- reads the list from standard input)" + see;
    QTest::newRow("two list files") << QStringList{"-o", "out.pdf", "a.txt", "b.txt"} << 2 << QStringList{""} << "brindlewick: one list file only, not 2" + see;
    QTest::newRow("two outputs") << QStringList{"-o", "a.pdf", "--output", "b.pdf", "list.txt"} << 2 << QStringList{""} << "brindlewick: the output file is named more than once" + see;
    QTest::newRow("Metric without output") << QStringList{"--metric", "list.txt"} << 2 << QStringList{""} << "brindlewick: --metric is for a build with --output" + see;
    // clang-format on
}

void TestCommandLine::helpVersionAndMistakes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    const Result r = run(arguments);
    QCOMPARE(r.status, status);
    QCOMPARE(QString::fromLocal8Bit(r.err), err);
    const QStringList lines = QString::fromLocal8Bit(r.out).split('\n');
    for (const QString &line : std::as_const(out))
        QVERIFY2(lines.contains(expand(line)), qPrintable(expand(line)));
    QVERIFY(!QFileInfo::exists(m_box->workspace()));
}

void TestCommandLine::windowWithoutOutputOption()
{
    // No option: the window, as before; "--" lets a list file begin with "-".
    writeFile(box("-list.txt"), "100");
    m_env.insert("QT_QPA_PLATFORM", "offscreen");
    m_env.insert("BRINDLEWICK_EXIT_WHEN_SHOWN", "1");
    const Result r = run({"--", "-list.txt"});
    QVERIFY2(r.status == 0, r.err.constData());
    QCOMPARE(r.out, QByteArray("shown\n"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
