#include "TestCertificates.h"

#include <QFile>
#include <QProcess>

namespace {

QString openssl(const QString &folder, const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("openssl %1: %2")
            .arg(arguments.value(0), QString::fromLocal8Bit(p.readAll()) + p.errorString());
    return QString();
}

} // namespace

TestCertificates makeTestCertificates(const QString &folder)
{
    TestCertificates made{folder + QStringLiteral("/ca.pem"),
                          folder + QStringLiteral("/server.pem"),
                          folder + QStringLiteral("/server.key"), QString()};
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QFile extensions(folder + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                         "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n") < 0) {
        made.error = QStringLiteral("cannot write ") + extensions.fileName();
        return made;
    }
    extensions.close();
    for (const QStringList &step :
         {QStringList{"req", "-x509"} + ec +
              QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                          "/CN=Brindlewick test authority", "-addext",
                          "basicConstraints=critical,CA:TRUE", "-addext",
                          "keyUsage=critical,keyCertSign,cRLSign"},
          QStringList{"req"} + ec +
              QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"},
          QStringList{"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                      "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile",
                      "server.ext"}}) {
        made.error = openssl(folder, step);
        if (!made.error.isEmpty())
            break;
    }
    return made;
}
