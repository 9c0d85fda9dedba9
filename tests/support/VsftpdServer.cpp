#include "VsftpdServer.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static const char vsftpdPath[] = "/usr/sbin/vsftpd";

QString VsftpdServer::unavailableReason()
{
    if (!QFileInfo(QString::fromLatin1(vsftpdPath)).isExecutable())
        return QStringLiteral("vsftpd is not installed (%1)").arg(QString::fromLatin1(vsftpdPath));
    if (::geteuid() != 0)
        return QStringLiteral("vsftpd needs root: it chroots every session and will not start "
                              "for another user");
    for (const char *user : {"ftp", "nobody"}) {
        if (!::getpwnam(user))
            return QStringLiteral("vsftpd runs its sessions as user %1, which does not exist")
                .arg(QString::fromLatin1(user));
    }
    return {};
}

static quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The process ids below pid, each before its parent.
static QList<pid_t> descendants(qint64 pid)
{
    QList<pid_t> found;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList tids = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        QFile file(tasks + QLatin1Char('/') + tid + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : file.readAll().split(' ')) {
            if (child.trimmed().isEmpty())
                continue;
            const pid_t id = pid_t(child.trimmed().toLongLong());
            found << descendants(id) << id;
        }
    }
    return found;
}

bool VsftpdServer::start(quint16 port)
{
    m_error = unavailableReason();
    if (!m_error.isEmpty() || !prepareRoot())
        return false;
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("empty"))) {
        m_error = QStringLiteral("no private folder for the configuration");
        return false;
    }
    // A free port may be taken by a test running beside us before vsftpd binds it; it then
    // ends with "could not bind", and a fresh port is tried.
    for (int attempt = 0; attempt < (port ? 1 : 5); ++attempt) {
        m_port = port ? port : freeLoopbackPort();
        if (!writeConfig()) {
            m_error = QStringLiteral("cannot write %1")
                          .arg(m_dir.filePath(QStringLiteral("vsftpd.conf")));
            return false;
        }
        switch (launch()) {
        case Launch::Ready:
            return true;
        case Launch::PortTaken:
            continue;
        case Launch::Failed:
            return false;
        }
    }
    return false;
}

// vsftpd chroots the anonymous session into the root and then reads it as user ftp, so the
// root itself must be searchable and readable by others; QTemporaryDir makes it 0700. Only
// read and search are added, to the root alone: its contents are served as the test made them
// (files readable by others, as umask 022 makes them; a test may take that away to see a 550),
// and a root the session could write to makes vsftpd refuse every login.
bool VsftpdServer::prepareRoot()
{
    struct stat st;
    const QByteArray root = QFile::encodeName(m_root);
    if (::stat(root.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        m_error = QStringLiteral("the FTP root %1 is not a folder").arg(m_root);
        return false;
    }
    const passwd *ftp = ::getpwnam("ftp");
    if ((st.st_mode & S_IWOTH) || st.st_uid == ftp->pw_uid ||
        (st.st_gid == ftp->pw_gid && (st.st_mode & S_IWGRP))) {
        m_error =
            QStringLiteral("vsftpd refuses a root that user ftp may write to: %1").arg(m_root);
        return false;
    }
    const mode_t wanted = st.st_mode | S_IROTH | S_IXOTH;
    if (wanted != st.st_mode && ::chmod(root.constData(), wanted & 07777) != 0) {
        m_error = QStringLiteral("cannot let user ftp read %1").arg(m_root);
        return false;
    }
    return true;
}

bool VsftpdServer::writeConfig() const
{
    if (m_root.contains(QLatin1Char('\n')))
        return false;
    const auto yesNo = [](bool on) { return on ? "YES" : "NO"; };
    QByteArray conf;
    conf += "listen=YES\n"
            "background=NO\n"
            "listen_address=127.0.0.1\n";
    conf += "listen_port=" + QByteArray::number(m_port) + '\n';
    conf += "anonymous_enable=YES\n"
            "local_enable=NO\n"
            "write_enable=NO\n";
    conf += "anon_root=" + QFile::encodeName(m_root) + '\n';
    // An empty jail of its own: the package's /run/vsftpd/empty is gone after a reboot until
    // its tmpfiles rule runs again.
    conf +=
        "secure_chroot_dir=" + QFile::encodeName(m_dir.filePath(QStringLiteral("empty"))) + '\n';
    conf += "xferlog_enable=YES\n"
            "log_ftp_protocol=YES\n";
    conf +=
        "vsftpd_log_file=" + QFile::encodeName(m_dir.filePath(QStringLiteral("vsftpd.log"))) + '\n';
    conf += "max_per_ip=" + QByteArray::number(m_options.maxPerIp) + '\n';
    conf += QByteArray("port_enable=") + yesNo(m_options.portEnabled) + '\n';
    conf += QByteArray("pasv_enable=") + yesNo(m_options.pasvEnabled) + '\n';
    if (!m_options.certificate.isEmpty()) {
        conf += "ssl_enable=YES\n"
                "allow_anon_ssl=YES\n"
                "force_anon_logins_ssl=YES\n"
                "force_anon_data_ssl=YES\n";
        conf += "rsa_cert_file=" + QFile::encodeName(m_options.certificate) + '\n';
        conf += "rsa_private_key_file=" + QFile::encodeName(m_options.key) + '\n';
    }
    if (m_options.idleSessionTimeout > 0)
        conf += "idle_session_timeout=" + QByteArray::number(m_options.idleSessionTimeout) + '\n';
    QFile file(m_dir.filePath(QStringLiteral("vsftpd.conf")));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(conf) == conf.size();
}

// Starts vsftpd and waits, by its events alone, until an anonymous log-in succeeds, or vsftpd
// ends, or 10 s pass (a bound for a broken machine, not a wait anyone relies on). vsftpd says
// nothing when it listens, so connection attempts follow one another until one is accepted:
// a refused attempt on loopback fails at once, and vsftpd listens within some 15 ms.
VsftpdServer::Launch VsftpdServer::launch()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // vsftpd writes its start-up failures ("500 OOPS: could not bind listening IPv4 socket")
    // to descriptor 0, where inetd would put the client: make that the output pipe.
    m_process.setChildProcessModifier([] { ::dup2(STDOUT_FILENO, STDIN_FILENO); });
    m_process.start(QString::fromLatin1(vsftpdPath),
                    {m_dir.filePath(QStringLiteral("vsftpd.conf"))});
    if (!m_process.waitForStarted(-1)) {
        m_error = m_process.errorString();
        return Launch::Failed;
    }

    QEventLoop loop;
    Launch result = Launch::Failed;
    bool done = false;
    const auto finish = [&](Launch outcome, const QString &why) {
        if (done)
            return;
        done = true;
        result = outcome;
        m_error = why;
        loop.quit();
    };

    QTcpSocket probe;
    const auto attempt = [&] {
        if (done)
            return;
        probe.abort();
        // From a second loopback address, so that the probe never counts against max_per_ip
        // for 127.0.0.1: a connection closed a moment ago still counts, and the test's first
        // one would be refused. (Where 127.0.0.2 cannot be bound, it comes from 127.0.0.1.)
        probe.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        probe.connectToHost(QHostAddress::LocalHost, m_port);
    };
    QObject::connect(&probe, &QAbstractSocket::errorOccurred, &loop,
                     [&](QAbstractSocket::SocketError error) {
                         if (error == QAbstractSocket::ConnectionRefusedError)
                             QMetaObject::invokeMethod(&loop, attempt, Qt::QueuedConnection);
                     });
    bool loggedIn = false;
    QObject::connect(&probe, &QIODevice::readyRead, &loop, [&] {
        while (probe.canReadLine()) {
            const QByteArray line = probe.readLine().trimmed();
            if (line.startsWith("220 (vsFTPd")) {
                probe.write("USER anonymous\r\n");
            } else if (line.startsWith("331 ")) {
                probe.write("PASS \r\n");
            } else if (line.startsWith("230 ") ||
                       (!m_options.certificate.isEmpty() && line.startsWith("530 "))) {
                // Over TLS, the plain log-in refused is as good a sign it is up.
                loggedIn = true;
                probe.write("QUIT\r\n");
            } else if (line.startsWith("221 ")) {
                // Ready once the server has closed; the probe's session is over then.
            } else if (line.startsWith("220 ")) {
                // Another program holds the port; vsftpd will end for it.
                probe.abort();
            } else {
                finish(Launch::Failed,
                       QStringLiteral("vsftpd answered: %1").arg(QString::fromLatin1(line)));
            }
        }
    });
    QObject::connect(&probe, &QAbstractSocket::disconnected, &loop, [&] {
        if (loggedIn)
            finish(Launch::Ready, QString());
    });
    const auto onEnded = [&] {
        const QString output = QString::fromLocal8Bit(m_process.readAll()).trimmed();
        finish(output.contains(QStringLiteral("could not bind")) ? Launch::PortTaken
                                                                 : Launch::Failed,
               QStringLiteral("vsftpd ended: %1").arg(output));
    };
    const auto ended = QObject::connect(&m_process, &QProcess::finished, &loop, onEnded);
    QTimer::singleShot(10000, &loop, [&] {
        finish(Launch::Failed, QStringLiteral("vsftpd did not accept a log-in within 10 s"));
    });
    attempt();
    if (m_process.state() == QProcess::NotRunning)
        onEnded();
    else
        loop.exec();
    QObject::disconnect(ended);
    if (result != Launch::Ready)
        stop();
    return result;
}

void VsftpdServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Every session is two processes of their own that would live on with their client after
    // the listener: end them first.
    for (const pid_t pid : descendants(m_process.processId()))
        ::kill(pid, SIGKILL);
    m_process.kill();
    m_process.waitForFinished(-1);
}

QByteArray VsftpdServer::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("vsftpd.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
