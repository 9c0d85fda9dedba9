#include "TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

// Runs openssl; its complaint, or an empty text.
QString openssl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("openssl %1: %2")
            .arg(arguments.value(0), QString::fromLocal8Bit(process.readAll()).trimmed());
    return QString();
}

} // namespace

TestCertificates makeTestCertificates(const QString &folder)
{
    const QDir dir(folder);
    TestCertificates made;
    made.ca = dir.filePath(QStringLiteral("ca.pem"));
    made.certificate = dir.filePath(QStringLiteral("server.pem"));
    made.key = dir.filePath(QStringLiteral("server.key"));
    const QString caKey = dir.filePath(QStringLiteral("ca.key"));
    const QString request = dir.filePath(QStringLiteral("server.csr"));
    const QString extensions = dir.filePath(QStringLiteral("server.ext"));
    QFile ext(extensions);
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                  "basicConstraints=critical,CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n") < 0) {
        made.error = QStringLiteral("cannot write %1").arg(extensions);
        return made;
    }
    ext.close();
    const QStringList steps[] = {
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", caKey, "-out", made.ca,
         "-days", "2", "-subj", "/CN=Brindlewick test authority", "-addext",
         "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", made.key, "-out", request, "-subj",
         "/CN=127.0.0.1"},
        {"x509", "-req", "-in", request, "-CA", made.ca, "-CAkey", caKey, "-CAcreateserial", "-out",
         made.certificate, "-days", "2", "-extfile", extensions},
    };
    for (const QStringList &step : steps) {
        made.error = openssl(step);
        if (!made.ok())
            return made;
    }
    return made;
}
