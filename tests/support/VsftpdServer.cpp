#include "VsftpdServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

#include <pwd.h>
#include <sys/stat.h>

static const char vsftpdPath[] = "/usr/sbin/vsftpd";

QString VsftpdServer::unavailableReason()
{
    if (!QFileInfo(vsftpdPath).isExecutable())
        return QStringLiteral("vsftpd is not installed (%1)").arg(vsftpdPath);
    if (::geteuid() != 0)
        return "vsftpd needs root: it chroots every session and will not start for another user";
    if (!::getpwnam("ftp") || !::getpwnam("nobody"))
        return "vsftpd runs its sessions as users ftp and nobody: one of them does not exist";
    return {};
}

bool VsftpdServer::start(quint16 port)
{
    m_error = unavailableReason();
    if (!m_error.isEmpty() || !prepareRoot())
        return false;
    const QString conf = m_dir.filePath("vsftpd.conf");
    const auto yesNo = [](bool on) { return on ? "YES" : "NO"; };
    const Options &o = m_options;
    // vsftpd writes its start-up failures ("500 OOPS: could not bind listening IPv4 socket")
    // to descriptor 0, where inetd would put the client: make that the output pipe.
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier([] { ::dup2(STDOUT_FILENO, STDIN_FILENO); });
    return onFreePort(port, "could not bind", [&] {
        // An empty jail of its own: the package's /run/vsftpd/empty is gone after a reboot
        // until its tmpfiles rule runs again.
        QString text =
            QStringLiteral("listen=YES\nbackground=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                           "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=NO\nanon_root=%2\n"
                           "secure_chroot_dir=%3/empty\nvsftpd_log_file=%3/vsftpd.log\n"
                           "xferlog_enable=YES\nlog_ftp_protocol=YES\nmax_per_ip=%4\n")
                .arg(QString::number(m_port), m_root, m_dir.path(), QString::number(o.maxPerIp));
        text += QStringLiteral("port_enable=%1\npasv_enable=%2\n")
                    .arg(yesNo(o.portEnabled), yesNo(o.pasvEnabled));
        if (!o.certificate.isEmpty())
            text += "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                    "force_anon_data_ssl=YES\nrsa_cert_file=" +
                    o.certificate + "\nrsa_private_key_file=" + o.key + '\n';
        QDir(m_dir.path()).mkpath("empty");
        writeFile(conf, QFile::encodeName(text));
        return launch(vsftpdPath, {conf}, [this] { return greets(); });
    });
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
    const passwd *ftp = ::getpwnam("ftp");
    if (::stat(root.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        m_error = "the FTP root " + m_root + " is not a folder";
    else if ((st.st_mode & S_IWOTH) || st.st_uid == ftp->pw_uid ||
             (st.st_gid == ftp->pw_gid && (st.st_mode & S_IWGRP)))
        m_error = "vsftpd refuses a root that user ftp may write to: " + m_root;
    else if (::chmod(root.constData(), (st.st_mode | S_IROTH | S_IXOTH) & 07777) != 0)
        m_error = "cannot let user ftp read " + m_root;
    return m_error.isEmpty();
}

// vsftpd says nothing when it listens: it is up once it greets a connection (another
// program's greeting, on a port taken before vsftpd bound it, is not its: vsftpd ends).
// From 127.0.0.2, so that the probe never counts against max_per_ip for 127.0.0.1: a
// connection closed a moment ago still counts, and the test's first one would be refused.
bool VsftpdServer::greets()
{
    QTcpSocket probe;
    probe.bind(QHostAddress(QStringLiteral("127.0.0.2")));
    probe.connectToHost(QHostAddress::LocalHost, m_port);
    if (!probe.waitForConnected(EventBound) || !probe.waitForReadyRead(EventBound))
        return false;
    const QByteArray greeting = probe.readLine().trimmed();
    if (!greeting.startsWith("220 "))
        m_error = "vsftpd answered: " + QString::fromLatin1(greeting);
    return greeting.startsWith("220 (vsFTPd") || !m_error.isEmpty();
}
