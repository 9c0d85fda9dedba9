#include "TestSupport.h"

#include "PdftkInfo.h"
#include "platform/WorkerThread.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <csignal>

QString programFolder()
{
    return QStringLiteral(BRINDLEWICK_PROGRAM_DIR);
}

DataSheet station(const QString &gsid, const QString &name, const QString &county)
{
    return {gsid, name, county, 39.1, -76.9, 31.5, {"Test mark."}};
}

void writeSheets(const QString &root, const QList<DataSheet> &stations)
{
    QVERIFY(writeSheetTree(root, stations));
}

static QByteArray outputOf(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

QStringList pdfPages(const QString &pdf)
{
    QStringList pages = QString::fromUtf8(outputOf("pdftotext", {"-q", "-layout", pdf, "-"}))
                            .split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// What each page prints after the label, up to the end of its line.
static QStringList printedAfter(const QString &pdf, const QString &label)
{
    QStringList values;
    for (const QString &page : pdfPages(pdf)) {
        const qsizetype at = page.indexOf(label);
        values << (at < 0 ? QString() : page.mid(at + label.size()).section('\n', 0, 0).trimmed());
    }
    return values;
}

QStringList stationNamesOf(const QString &pdf)
{
    return printedAfter(pdf, QStringLiteral("OXA Name:"));
}

QStringList gsidsOf(const QString &pdf)
{
    return printedAfter(pdf, QStringLiteral("GSID:"));
}

QList<std::pair<QString, int>> bookmarksOf(const QString &pdf)
{
    return PdftkInfo::read(outputOf("pdftk", {pdf, "dump_data_utf8"})).bookmarks();
}

// The children of the process whose /proc folder is given.
static QList<qint64> childrenIn(const QString &proc)
{
    QList<qint64> children;
    for (const QString &task : QDir(proc + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QByteArray &pid : readFile(proc + "/task/" + task + "/children").split(' ')) {
            if (!pid.trimmed().isEmpty())
                children << pid.trimmed().toLongLong();
        }
    }
    return children;
}

QList<qint64> childProcesses()
{
    return childrenIn("/proc/self");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Settings Sandbox::settings() const
{
    Settings s;
    s.sources.shareDir = share();
    s.sources.ftpHost = DeadHost;
    s.tempRoot = dir.path();
    s.programDir = programFolder();
    return s;
}

// Each child before its parent: a server's sessions would outlive it with their clients.
static void killTree(qint64 pid)
{
    for (const qint64 child : childrenIn(QStringLiteral("/proc/%1").arg(pid)))
        killTree(child);
    ::kill(pid_t(pid), SIGKILL);
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    killTree(m_process.processId());
    m_process.waitForFinished(-1);
}

bool ServerProcess::launch(const QString &program, const QStringList &arguments,
                           const std::function<bool()> &ready)
{
    m_error.clear();
    m_process.start(program, arguments);
    const auto ended = [this] { return m_process.state() == QProcess::NotRunning; };
    if (QTest::qWaitFor([&] { return ended() || ready(); }, EventBound) && !ended() &&
        m_error.isEmpty())
        return true;
    if (m_error.isEmpty())
        m_error = program + " did not come up: " + QString::fromLocal8Bit(m_process.readAll());
    stop();
    return false;
}

bool ServerProcess::onFreePort(quint16 port, const QString &taken,
                               const std::function<bool()> &launchThere)
{
    for (int attempt = 0; attempt < (port ? 1 : 5); ++attempt) {
        QTcpServer probe;
        m_port = port || !probe.listen(QHostAddress::LocalHost) ? port : probe.serverPort();
        probe.close();
        if (launchThere() || !m_error.contains(taken))
            return m_error.isEmpty();
    }
    return false;
}

bool ServerProcess::startScript(const QStringList &arguments)
{
    m_process.setStandardErrorFile(QProcess::nullDevice());
    if (!launch("/usr/bin/python3", arguments, [this] { return m_process.canReadLine(); }))
        return false;
    const QByteArray line = m_process.readLine().trimmed();
    m_port = line.startsWith("port ") ? quint16(line.mid(5).toUInt()) : 0;
    return m_port != 0;
}

QStringList ServerProcess::said()
{
    while (m_process.canReadLine())
        m_said << QString::fromUtf8(m_process.readLine().trimmed());
    return m_said;
}

bool FtpServer::start()
{
    const Options &o = m_options;
    const auto n = [](int value) { return QString::number(value); };
    QStringList args;
    args << FTP_SERVER_SCRIPT << m_root << "--log-retr"
         << "--max-cons-per-ip" << n(o.maxConsPerIp) << "--end-after" << n(o.endAfter) << "--chaos"
         << n(o.chaosSeed) << "--silent-retr" << n(o.silentRetr) << "--never-connect"
         << n(o.neverConnect) << "--lose-data-connections" << n(o.loseDataConnections)
         << "--cut-short" << o.cutShort << "--withhold-226" << o.withhold226 << "--refuse-file"
         << o.refuseFile;
    return startScript(args);
}

bool WebServer::start()
{
    return startScript({WEB_SERVER_SCRIPT, m_root, m_fault, m_tls.certificate, m_tls.key});
}

void standInTools(const QString &folder, const QHash<QString, QByteArray> &scripts)
{
    for (const char *tool : {"pdftotext", "pdftk"}) {
        const QString path = folder + '/' + tool;
        if (scripts.contains(tool))
            writeFile(path, "#!/bin/sh\n" + scripts.value(tool));
        QVERIFY(scripts.contains(tool)
                    ? QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner)
                    : QFile::link(programFolder() + '/' + tool, path));
    }
}

StubbornFileSystem::~StubbornFileSystem()
{
    if (!waitForWorkerThreads(EventBound))
        qWarning("worker threads still use a file layer that goes away");
}

FsResult StubbornFileSystem::replaceFile(const QString &from, const QString &to)
{
    if (to == lockedPath && failuresLeft > 0) {
        --failuresLeft;
        return FsResult::fromErrno(errorCode);
    }
    return FileSystem::replaceFile(from, to);
}

FsResult StubbornFileSystem::copyFile(const QString &from, const QString &to, qint64 limit)
{
    if (!copyError)
        return FileSystem::copyFile(from, to, limit);
    FsResult failure = FsResult::fromErrno(copyError);
    failure.local = true; // as when writing the copy fails
    return failure;
}

QString HungMount::start()
{
    if (!QFileInfo::exists("/dev/fuse"))
        return "FUSE is unavailable here: there is no /dev/fuse";
    if (QStandardPaths::findExecutable("fusermount3").isEmpty())
        return "fusermount3 is not installed (Debian's fuse3)";
    if (QProcess::execute("/usr/bin/python3", {"-c", "import fusepy"}) != 0)
        return "fusepy is not installed (Debian's python3-fusepy)";
    QDir().mkpath(m_backing);
    QDir().mkpath(m_mountPoint);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start("/usr/bin/python3", {HUNG_FS_SCRIPT, m_backing, m_mountPoint});
    if (!waitForLine("ready")) {
        const QString said = QString::fromLocal8Bit(m_process.readAll()).trimmed();
        m_process.kill();
        m_process.waitForFinished(5000);
        return "the FUSE folder could not be mounted: " + said;
    }
    m_mounted = true;
    return QString();
}

bool HungMount::waitForLine(const QByteArray &prefix)
{
    for (;;) {
        while (m_process.canReadLine()) {
            if (m_process.readLine().startsWith(prefix))
                return true;
        }
        if (!m_process.waitForReadyRead(EventBound))
            return false;
    }
}

HungMount::~HungMount()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The calls that waited come back first, so that none is left stuck in the kernel.
    release();
    if (!QTest::qWaitFor([] { return workerThreadsRunning() == 0; }, EventBound))
        qWarning("calls into the FUSE folder did not come back");
    if (m_mounted)
        QProcess::execute("fusermount3", {"-u", "-z", m_mountPoint});
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill(); // its connection closes with it: whatever still waits fails
        m_process.waitForFinished(10000);
    }
}

// The administrator may write anywhere but where the folder is immutable (chattr +i).
ClosedFolder::ClosedFolder(QString path) : m_path(std::move(path))
{
    QDir().mkpath(m_path);
    if (::geteuid() == 0 ? QProcess::execute("chattr", {"+i", m_path}) != 0
                         : !QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner))
        m_error = "the folder could not be closed (chattr +i, or chmod)";
}

ClosedFolder::~ClosedFolder()
{
    if (::geteuid() == 0)
        QProcess::execute("chattr", {"-i", m_path});
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
