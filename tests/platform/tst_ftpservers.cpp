#include "ScriptedInteraction.h"
#include "TestCertificates.h"
#include "TestSupport.h"
#include "VsftpdServer.h"
#include "assembly/SheetBuild.h"
#include "platform/WorkerThread.h"
#include "sources/SourceProbe.h"
#include "startup/Settings.h"

#include <QDir>
#include <QTcpSocket>
#include <QTest>

// vsftpd as an administrator configures it: every sheet it holds reaches the output,
// whatever it allows, and when it refuses, its reply is named. (The ways a server
// misbehaves that no configuration of vsftpd shows are tst_sheetbuild's, on pyftpdlib.)
class TestFtpServers : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, 30000); }
    void buildAgainst_data();
    void buildAgainst();

private:
    FileSystem m_fso;
};

void TestFtpServers::buildAgainst_data()
{
    QTest::addColumn<QString>("how");     // what the server refuses, and the program's settings
    QTest::addColumn<QString>("refusal"); // what the message says, when it refuses (@HOST@)
    // clang-format off
    QTest::newRow("one connection per address, four asked") << "one per address" << "";
    QTest::newRow("active mode refused") << "no port" << "";
    // The first refused data command ends the fetching, named; in auto mode once
    // passive mode is refused too.
    QTest::newRow("passive mode refused, and asked for") << "no pasv, passive" << "The FTP server refused the data connection: 550 ";
    QTest::newRow("both modes refused") << "no port, no pasv" << "The FTP server refused the data connection: 550 ";
    QTest::newRow("greeting refused") << "one per address, taken" << "refused the connection: 421 ";
    QTest::newRow("TLS required") << "tls, tls required" << "";
    QTest::newRow("TLS required, its authority unknown") << "tls, tls required, no ca"
        << "The certificate of the FTP server @HOST@ could not be verified: SSL certificate problem: ";
    QTest::newRow("TLS off, the server forces it") << "tls" << "530 Anonymous sessions must use encryption.";
    // Killed mid-build and back on its port a moment later: within the stall limit, that
    // costs no sheet.
    QTest::newRow("restarted mid-build") << "restart" << "";
    // clang-format on
}

void TestFtpServers::buildAgainst()
{
    QFETCH(QString, how);
    QFETCH(QString, refusal);
    if (!VsftpdServer::available())
        QSKIP(qPrintable(VsftpdServer::unavailableReason()));
    const QStringList settings = how.split(", ");
    Sandbox box;
    QVERIFY(QDir().mkpath(box.workspace()));

    // A missing sheet, many sheets over few connections. (Twins are numbered in list
    // order whatever the server: tst_sheetbuild.)
    const QList<DataSheet> stations = longNamedStations(26);
    writeSheets(box.dir.filePath("Geod"), stations);
    QStringList gsids{"999"};
    for (const DataSheet &s : std::as_const(stations))
        gsids << s.gsid;
    VsftpdServer::Options options;
    options.maxPerIp = settings.contains("one per address") ? 1 : 0;
    options.portEnabled = !settings.contains("no port");
    options.pasvEnabled = !settings.contains("no pasv");
    QTemporaryDir certificatesDir;
    TestCertificates certificates;
    if (settings.contains("tls")) {
        certificates = makeTestCertificates(certificatesDir.path());
        QVERIFY2(certificates.ok(), qPrintable(certificates.error));
        options.certificate = certificates.certificate;
        options.key = certificates.key;
    }
    VsftpdServer vsftpd(box.dir.path(), options);
    QVERIFY2(vsftpd.start(), qPrintable(vsftpd.error()));
    refusal.replace("@HOST@", vsftpd.host());

    // Another client takes the one connection allowed.
    QTcpSocket other;
    if (settings.contains("taken")) {
        other.connectToHost(QHostAddress::LocalHost, vsftpd.port());
        QVERIFY(other.waitForReadyRead(10000));
        QVERIFY(other.readLine().startsWith("220"));
    }

    // As the window does: the log-in of start-up, then builds one after the other,
    // each connecting anew.
    BuildConfig config;
    config.settings = box.settings();
    SourceSettings &sources = config.settings.sources;
    QDir(sources.shareDir).removeRecursively();
    sources.ftpHost = vsftpd.host();
    sources.ftpMode = settings.contains("passive") ? FtpMode::Passive : FtpMode::Auto;
    sources.ftpTls = settings.contains("tls required") ? FtpTls::Required : FtpTls::Off;
    if (!settings.contains("no ca"))
        sources.caFile = certificates.ca;
    sources.stallSeconds = how == "restart" ? 10 : 2;
    const SourceChoice choice = discoverSource(sources, m_fso, Settings().answerMs);
    if (choice.mode != SourceMode::Ftp) {
        QVERIFY2(!refusal.isEmpty() && choice.detail.contains(refusal), qPrintable(choice.detail));
        QVERIFY(!choice.detail.contains(".."));
    }
    config.mode = SourceMode::Ftp;
    sources.ftpConnections = 4;
    config.workspaceDir = box.workspace();
    if (how == "restart")
        config.fetchAhead = 4; // most sheets are still to fetch when the server goes
    const QString out = box.dir.filePath("out.pdf");
    for (int build = 0; build < 2; ++build) {
        ScriptedInteraction ui;
        SheetBuild sheets(config, m_fso, ui);
        const BuildReport report = sheets.run(gsids, out, [&](const QString &named) {
            if (how == "restart" && build == 0 && named == "8") {
                const quint16 port = vsftpd.port();
                vsftpd.stop();
                QVERIFY2(vsftpd.start(port), qPrintable(vsftpd.error()));
            }
        });
        if (!refusal.isEmpty()) {
            QVERIFY2(report.message() && report.message()->text.contains(refusal),
                     qPrintable(report.message() ? report.message()->text : "no message"));
            QVERIFY(report.outcome != BuildReport::Written);
            // Ended at the first refusal: besides the server's own start-up check and
            // ours, a log-in for each of the four connections at most.
            QVERIFY(vsftpd.log().count("OK LOGIN") <= 2 + 4);
            return;
        }
        QCOMPARE(report.outcome, BuildReport::Written);
        // vsftpd's "550 Failed to open file." for a sheet it does not hold.
        QCOMPARE(report.missingGsids(), QStringList{"999"});
        QCOMPARE(report.missing[0].cause, MissingCause::NotOnSource);
        QCOMPARE(report.missing[0].detail, "550 Failed to open file.");
        QCOMPARE(stationNamesOf(out).size(), stations.size());
        QCOMPARE(bool(config.memory->passive), !options.portEnabled);
        if (settings.contains("tls"))
            QVERIFY(vsftpd.log().contains("AUTH TLS"));
        QFile::remove(out);
    }
}

QTEST_GUILESS_MAIN(TestFtpServers)
#include "tst_ftpservers.moc"
