#include "TestSupport.h"
#include "platform/FtpConnection.h"

#include <QFile>
#include <QTest>

class TestFtpConnection : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void directories_data();
    void directories();
    void getFileIsByteForByte();
    void missingFileLeavesTargetAlone();
    void serverRestartedWhileIdle();
    void serverGone();

private:
    QTemporaryDir m_root;
    std::unique_ptr<FtpServer> m_server;
};

void TestFtpConnection::initTestCase()
{
    writeSheets(m_root.filePath(QStringLiteral("Geod")),
                {station(QStringLiteral("101"), QStringLiteral("ONE"), QStringLiteral("A, B"))});
    m_server = std::make_unique<FtpServer>(m_root.path());
    QVERIFY(m_server->start());
}

void TestFtpConnection::directories_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<bool>("exists");
    QTest::newRow("english") << "/Geod/PDF Single Sheet/" << true;
    QTest::newRow("metric") << "/Geod/PDF Metric Sheet/" << true;
    QTest::newRow("missing") << "/Geod/PDF Other Sheet/" << false;
    QTest::newRow("a file is no directory") << "/Geod/PDF Single Sheet/GSID_101.pdf/" << false;
}

void TestFtpConnection::directories()
{
    QFETCH(QString, directory);
    QFETCH(bool, exists);
    FtpConnection ftp(m_server->host());
    QVERIFY(ftp.connect());
    QCOMPARE(ftp.setCurrentDirectory(directory), exists);
}

void TestFtpConnection::getFileIsByteForByte()
{
    FtpConnection ftp(m_server->host());
    QVERIFY(ftp.connect());
    QVERIFY(ftp.setCurrentDirectory(QStringLiteral("/Geod/PDF Single Sheet/")));
    QTemporaryDir local;
    const QString target = local.filePath(QStringLiteral("Temp.pdf"));
    QCOMPARE(ftp.getFile(QStringLiteral("GSID_101.pdf"), target), QString());
    QFile got(target),
        original(m_root.filePath(QStringLiteral("Geod/PDF Single Sheet/GSID_101.pdf")));
    QVERIFY(got.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), original.readAll());
}

void TestFtpConnection::missingFileLeavesTargetAlone()
{
    FtpConnection ftp(m_server->host());
    QVERIFY(ftp.connect());
    QVERIFY(ftp.setCurrentDirectory(QStringLiteral("/Geod/PDF Single Sheet/")));
    QTemporaryDir local;
    const QString target = local.filePath(QStringLiteral("Temp.pdf"));
    writeFile(target, "previous");
    QVERIFY(!ftp.getFile(QStringLiteral("GSID_999.pdf"), target).isEmpty());
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("previous"));
}

void TestFtpConnection::serverRestartedWhileIdle()
{
    QTemporaryDir root;
    writeSheets(root.filePath(QStringLiteral("Geod")),
                {station(QStringLiteral("7"), QStringLiteral("SEVEN"), QStringLiteral("A, B"))});
    FtpServer server(root.path());
    QVERIFY(server.start());
    FtpConnection ftp(server.host());
    QVERIFY(ftp.connect());
    server.stop();
    QVERIFY(server.start(server.port()));
    // The kept connection is dead; the layer must reconnect rather than give up.
    QVERIFY(ftp.setCurrentDirectory(QStringLiteral("/Geod/PDF Metric Sheet/")));
    QTemporaryDir local;
    QCOMPARE(ftp.getFile(QStringLiteral("M_GSID_7.pdf"), local.filePath(QStringLiteral("t.pdf"))),
             QString());
}

void TestFtpConnection::serverGone()
{
    FtpConnection ftp(QStringLiteral("127.0.0.1:%1").arg(unusedPort()));
    QVERIFY(!ftp.connect());
    QVERIFY(!ftp.setCurrentDirectory(QStringLiteral("/Geod/PDF Single Sheet/")));
}

QTEST_GUILESS_MAIN(TestFtpConnection)
#include "tst_ftpconnection.moc"
