#include "NginxServer.h"

#include <QFile>

bool NginxServer::start()
{
    m_error = m_certificates.error;
    if (!m_certificates)
        return false;
    const QString dir = m_dir.path();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    return onFreePort(0, "Address already in use", [&] {
        const QString conf =
            QStringLiteral(
                "daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;\n"
                "events { worker_connections 512; }\n"
                "http { log_format sheets '$connection $server_protocol $status \"$request_method "
                "$request_uri\"'; access_log %1/access.log sheets;\n"
                "  client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n"
                "  fastcgi_temp_path %1/fcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
                "  server { listen 127.0.0.1:%2 ssl http2; ssl_certificate %3;\n"
                "    ssl_certificate_key %4; location /geod/ { alias %5/; } } }\n")
                .arg(dir, QString::number(m_port), m_certificates.certificate, m_certificates.key,
                     m_root);
        for (const char *left : {"/nginx.pid", "/error.log"}) // as a killed nginx leaves them
            QFile::remove(dir + left);
        writeFile(dir + "/nginx.conf", QFile::encodeName(conf));
        if (launch("/usr/sbin/nginx",
                   {"-e", dir + "/error.log", "-p", dir, "-c", dir + "/nginx.conf"},
                   [&] { return QFile::exists(dir + "/nginx.pid"); }))
            return true;
        m_error += QString::fromLocal8Bit(readFile(dir + "/error.log"));
        return false;
    });
}

QList<NginxServer::Request> NginxServer::requests() const
{
    QList<Request> requests;
    for (const QByteArray &line : readFile(m_dir.filePath("access.log")).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() >= 5)
            requests.append({parts[0].toLongLong(), QString::fromLatin1(parts[1]), parts[2].toInt(),
                             QString::fromUtf8(line.mid(line.indexOf('"') + 1)).chopped(1)});
    }
    return requests;
}
