#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>

bool NginxServer::start()
{
    if (!m_certificates) {
        m_error = m_certificates.error;
        return false;
    }
    const QByteArray dir = QFile::encodeName(m_dir.path());
    // A free port may be taken by another test before nginx binds it: then another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        QByteArray conf = "daemon off;\nmaster_process off;\npid " + dir +
                          "/nginx.pid;\n"
                          "error_log " +
                          dir +
                          "/error.log;\nevents { worker_connections 512; }\n"
                          "http {\n";
        for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += QByteArray("    ") + temp + "_temp_path " + dir + "/" + temp + ";\n";
        conf += "    log_format sheets '$connection $server_protocol $status \"$request_method "
                "$request_uri\"';\n    access_log " +
                dir +
                "/access.log sheets;\n"
                "    server {\n        listen 127.0.0.1:" +
                QByteArray::number(m_port) + " ssl http2;\n        ssl_certificate " +
                QFile::encodeName(m_certificates.certificate) + ";\n        ssl_certificate_key " +
                QFile::encodeName(m_certificates.key) + ";\n        location /geod/ { alias " +
                QFile::encodeName(m_root) +
                "/; }\n"
                "    }\n}\n";
        QFile file(m_dir.filePath("nginx.conf"));
        if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size()) {
            m_error = "cannot write " + file.fileName();
            return false;
        }
        file.close();
        QFile::remove(m_dir.filePath("nginx.pid")); // a killed nginx leaves it
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("/usr/sbin/nginx", {"-e", m_dir.filePath("error.log"), "-p", m_dir.path(),
                                            "-c", file.fileName()});
        if (!m_process.waitForStarted(-1)) {
            m_error = m_process.errorString();
            return false;
        }
        // The pid file is written once the port is bound and listened on.
        const QDeadlineTimer bound(10000);
        while (!bound.hasExpired() && !QFile::exists(m_dir.filePath("nginx.pid")) &&
               !m_process.waitForFinished(10)) {
        }
        if (QFile::exists(m_dir.filePath("nginx.pid")) && m_process.state() == QProcess::Running)
            return true;
        stop();
        QFile log(m_dir.filePath("error.log"));
        m_error = log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll())
                                                : QStringLiteral("nginx did not start");
        if (!m_error.contains("Address already in use"))
            return false;
    }
    return false;
}

void NginxServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(-1);
}

QString NginxServer::url() const
{
    return QStringLiteral("https://127.0.0.1:%1/geod/").arg(m_port);
}

QList<NginxServer::Request> NginxServer::requests() const
{
    QList<Request> requests;
    QFile log(m_dir.filePath("access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() >= 5)
            requests.append({parts[0].toLongLong(), QString::fromLatin1(parts[1]), parts[2].toInt(),
                             QString::fromUtf8(line.mid(line.indexOf('"') + 1)).chopped(1)});
    }
    return requests;
}
