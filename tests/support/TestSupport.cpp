#include "TestSupport.h"

#include "PdftkInfo.h"
#include "platform/WorkerThread.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

QString programFolder()
{
    return QStringLiteral(BRINDLEWICK_PROGRAM_DIR);
}

DataSheet station(const QString &gsid, const QString &name, const QString &county)
{
    DataSheet s;
    s.gsid = gsid;
    s.stationName = name;
    s.county = county;
    s.latitude = 39.1;
    s.longitude = -76.9;
    s.elevationMetres = 31.5;
    s.description = {"Test mark."};
    return s;
}

void writeSheets(const QString &root, const QList<DataSheet> &stations)
{
    QVERIFY(writeSheetTree(root, stations));
}

QStringList pdfPages(const QString &pdf)
{
    QProcess p;
    p.start("pdftotext", {"-q", "-layout", pdf, "-"});
    p.waitForFinished(-1);
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// What each page prints after the label, up to the end of its line.
static QStringList printedAfter(const QString &pdf, const QString &label)
{
    QStringList values;
    const QStringList pages = pdfPages(pdf);
    for (const QString &page : pages) {
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
    QProcess p;
    p.start("pdftk", {pdf, "dump_data_utf8"});
    p.waitForFinished(-1);
    return PdftkInfo::read(p.readAllStandardOutput()).bookmarks();
}

QList<qint64> childProcesses()
{
    QList<qint64> children;
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile file("/proc/self/task/" + task + "/children");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &pid : file.readAll().split(' ')) {
            if (!pid.trimmed().isEmpty())
                children << pid.trimmed().toLongLong();
        }
    }
    return children;
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

QString Sandbox::workspace() const
{
    return dir.filePath(QStringLiteral("DS~Temp-%1/").arg(::geteuid()));
}

Settings Sandbox::settings() const
{
    Settings s;
    s.sources.shareDir = share();
    s.sources.ftpHost = deadHost();
    s.tempRoot = dir.path();
    s.programDir = programFolder();
    return s;
}

QString deadHost()
{
    return QStringLiteral("127.0.0.1:1");
}

bool FtpServer::start()
{
    m_process.setStandardErrorFile(QProcess::nullDevice());
    QStringList args{FTP_SERVER_SCRIPT, m_root};
    args << "--max-cons-per-ip" << QString::number(m_options.maxConsPerIp) << "--delay-ms"
         << QString::number(m_options.delayMs) << "--stall-after"
         << QString::number(m_options.stallAfter) << "--end-after"
         << QString::number(m_options.endAfter) << "--cut-short" << m_options.cutShort
         << "--withhold-226" << m_options.withhold226 << "--refuse-file" << m_options.refuseFile
         << "--log-retr";
    if (m_options.silentRetr)
        args << "--silent-retr";
    if (m_options.refusePort)
        args << "--refuse-port";
    if (m_options.refusePasv)
        args << "--refuse-pasv";
    if (m_options.neverConnect)
        args << "--never-connect";
    if (m_options.loseDataConnections)
        args << "--lose-data-connections";
    if (m_options.chaosSeed >= 0)
        args << "--chaos" << QString::number(m_options.chaosSeed);
    m_process.start("/usr/bin/python3", args);
    // It says which port it listens on once it does.
    while (m_process.waitForReadyRead(30000)) {
        if (!m_process.canReadLine())
            continue;
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("port ")) {
            m_port = quint16(line.mid(5).toUInt());
            return m_port != 0;
        }
    }
    stop();
    return false;
}

QStringList FtpServer::retrieved()
{
    while (m_process.canReadLine()) {
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("RETR "))
            m_retrieved << QString::fromUtf8(line.mid(5));
    }
    return m_retrieved;
}

void FtpServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool WebServer::start()
{
    m_process.setStandardErrorFile(QProcess::nullDevice());
    QStringList args{WEB_SERVER_SCRIPT, m_root, "--fault", m_fault};
    if (!m_tls.certificate.isEmpty())
        args << "--tls" << m_tls.certificate << m_tls.key;
    m_process.start("/usr/bin/python3", args);
    while (m_process.waitForReadyRead(30000)) {
        if (!m_process.canReadLine())
            continue;
        const QByteArray line = m_process.readLine().trimmed();
        m_port = line.startsWith("port ") ? quint16(line.mid(5).toUInt()) : 0;
        return m_port != 0;
    }
    stop();
    return false;
}

void WebServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString WebServer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2/geod/")
        .arg(m_tls.certificate.isEmpty() ? "http" : "https")
        .arg(m_port);
}

QStringList WebServer::requests()
{
    while (m_process.canReadLine())
        m_requests << QString::fromUtf8(m_process.readLine().trimmed());
    return m_requests;
}

void standInTools(const QString &folder, const QHash<QString, QByteArray> &scripts)
{
    for (const char *tool : {"pdftotext", "pdftk"}) {
        const QString path = folder + '/' + tool;
        if (!scripts.contains(tool)) {
            QVERIFY(QFile::link(programFolder() + '/' + tool, path));
            continue;
        }
        writeFile(path, "#!/bin/sh\n" + scripts.value(tool));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
}

StubbornFileSystem::~StubbornFileSystem()
{
    if (!waitForWorkerThreads(EventBound))
        qWarning("worker threads still use a file layer that goes away");
}

FsResult StubbornFileSystem::replaceFile(const QString &from, const QString &to)
{
    if (to == lockedPath) {
        ++attempts;
        if (failuresLeft > 0) {
            --failuresLeft;
            return FsResult::fromErrno(errorCode);
        }
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

bool HungMount::command(const QByteArray &command, const QByteArray &answer)
{
    return m_process.write(command + '\n') > 0 && waitForLine(answer);
}

bool HungMount::hang()
{
    return command("hang", "hung");
}

bool HungMount::waitForBlockedCall()
{
    return waitForLine("blocked ");
}

bool HungMount::release()
{
    return command("release", "released");
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

ClosedFolder::ClosedFolder(QString path) : m_path(std::move(path))
{
    QDir().mkpath(m_path);
    const QByteArray native = QFile::encodeName(m_path);
    if (::geteuid() != 0) {
        if (::chmod(native.constData(), 0555) != 0)
            m_error = "chmod failed";
        return;
    }
    // The administrator may write anywhere but where the folder is immutable.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ||
        (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0))
        m_error = "this file system cannot make a folder immutable";
    if (fd >= 0)
        ::close(fd);
}

ClosedFolder::~ClosedFolder()
{
    const QByteArray native = QFile::encodeName(m_path);
    if (::geteuid() != 0) {
        ::chmod(native.constData(), 0755);
        return;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);
}
