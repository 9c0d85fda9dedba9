#include "TestCertificates.h"

#include <QDir>
#include <QProcess>

TestCertificates makeTestCertificates(const QString &folder)
{
    const QDir dir(folder);
    TestCertificates made{
        dir.filePath("ca.pem"), dir.filePath("server.pem"), dir.filePath("server.key"), {}};
    const QString caKey = dir.filePath("ca.key");
    const QStringList steps[] = {
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", caKey, "-out", made.ca,
         "-days", "2", "-subj", "/CN=Brindlewick test authority", "-addext",
         "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        QStringList{"req", "-newkey", "rsa:2048", "-nodes", "-keyout", made.key, "-out",
                    made.certificate, "-CA", made.ca, "-CAkey", caKey, "-days", "2", "-subj",
                    "/CN=127.0.0.1"} +
            QStringList{"-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-addext",
                        "basicConstraints=critical,CA:FALSE", "-addext",
                        "keyUsage=critical,digitalSignature,keyEncipherment", "-addext",
                        "extendedKeyUsage=serverAuth"},
    };
    for (const QStringList &step : steps) {
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start("openssl", step);
        if (!openssl.waitForFinished(-1) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0) {
            made.error = "openssl: " + QString::fromLocal8Bit(openssl.readAll()).trimmed();
            break;
        }
    }
    return made;
}
