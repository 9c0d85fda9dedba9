#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

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

AppSettings Sandbox::settings() const
{
    AppSettings s;
    s.shareDir = share();
    s.ftpHost = QString("127.0.0.1:%1").arg(unusedPort());
    s.tempRoot = dir.path();
    s.programDir = programFolder();
    return s;
}

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool FtpServer::start(quint16 port)
{
    // A free port may be taken by a test running beside us before the server binds
    // it; a fresh one is tried then.
    for (int attempt = 0; attempt < (port ? 1 : 3); ++attempt) {
        m_port = port ? port : unusedPort();
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        QStringList args{FTP_SERVER_SCRIPT, m_root, QString::number(m_port)};
        args << "--max-cons-per-ip" << QString::number(m_options.maxConsPerIp) << "--delay-ms"
             << QString::number(m_options.delayMs) << "--stall-after"
             << QString::number(m_options.stallAfter) << "--cut-short" << m_options.cutShort;
        if (m_options.loseDataConnections)
            args << "--lose-data-connections";
        m_process.start("/usr/bin/python3", args);
        if (!m_process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 200 && m_process.state() == QProcess::Running; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        stop();
    }
    return false;
}

void FtpServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
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

FsResult StubbornFileSystem::copyFile(const QString &from, const QString &to)
{
    return copyError ? FsResult::fromErrno(copyError) : FileSystem::copyFile(from, to);
}
