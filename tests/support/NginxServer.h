#pragma once

#include "TestSupport.h"

// A real nginx on 127.0.0.1 serving root at https://127.0.0.1:<port>/geod/ over TLS and
// HTTP/2, with the given certificates, as an administrator would (README's location). It
// runs without root and without its master process, from a configuration, log and temporary
// folder of its own; the system's service is never touched. Its access log tells each
// request's connection and protocol.
class NginxServer : public ServerProcess {
public:
    NginxServer(QString root, TestCertificates certificates)
        : m_root(std::move(root)), m_certificates(std::move(certificates))
    {
    }
    ~NginxServer() { stop(); }

    // Returns once nginx listens (it writes its pid file then); false, with error(), when not.
    bool start();
    // "https://127.0.0.1:<port>/geod/"
    QString url() const { return QStringLiteral("https://127.0.0.1:%1/geod/").arg(port()); }

    struct Request {
        qint64 connection = 0; // nginx's serial number of the connection
        QString protocol;      // "HTTP/2.0"
        int status = 0;
        QString request; // "GET /geod/PDF%20Single%20Sheet/GSID_100.pdf"
    };
    // Every request answered so far, in order.
    QList<Request> requests() const;

private:
    QString m_root;
    TestCertificates m_certificates;
    QTemporaryDir m_dir;
};
