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

// The FTP servers people run, as an administrator configures them: vsftpd, and
// pyftpdlib beside it. The same cases against both: every sheet the server holds
// reaches the output, whatever it allows, and when it refuses, its reply is named.
class TestFtpServers : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void buildAgainst_data();
    void buildAgainst();
    void serverRestartedMidBuild();

private:
    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
};

namespace {

// How the administrator set the server up.
struct Setup {
    int maxPerIp = 0;
    bool refusePort = false;
    bool refusePasv = false;
    bool tls = false;   // vsftpd: TLS forced for anonymous log-ins and data
    QString refuseFile; // pyftpdlib: "550 <file>: Permission denied" for it
};

// One server or the other, started with the same limits.
struct Server {
    std::unique_ptr<FtpServer> py;
    std::unique_ptr<VsftpdServer> vs;

    bool start(const QString &kind, const QString &root, const Setup &setup,
               const TestCertificates &certificates)
    {
        if (kind == "pyftpdlib") {
            FtpServer::Options options;
            options.maxConsPerIp = setup.maxPerIp;
            options.refusePort = setup.refusePort;
            options.refusePasv = setup.refusePasv;
            options.refuseFile = setup.refuseFile;
            py = std::make_unique<FtpServer>(root, options);
            return py->start();
        }
        VsftpdServer::Options options;
        options.maxPerIp = setup.maxPerIp;
        options.portEnabled = !setup.refusePort;
        options.pasvEnabled = !setup.refusePasv;
        if (setup.tls) {
            options.certificate = certificates.certificate;
            options.key = certificates.key;
        }
        vs = std::make_unique<VsftpdServer>(root, options);
        if (!vs->start())
            qWarning("vsftpd: %s", qPrintable(vs->error()));
        return vs->port() != 0 && vs->error().isEmpty();
    }
    QString host() const { return py ? py->host() : vs->host(); }
};

} // namespace

void TestFtpServers::init()
{
    m_box = std::make_unique<Sandbox>();
    m_ui = ScriptedInteraction();
    QVERIFY(QDir().mkpath(m_box->workspace()));
}

void TestFtpServers::cleanup()
{
    QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, 30000);
}

void TestFtpServers::buildAgainst_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("how"); // what the server refuses, and the program's settings
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("refusal"); // what the message says, when it refuses (@HOST@)
    for (const char *server : {"pyftpdlib", "vsftpd"}) {
        const auto row = [&](const char *name) { return &QTest::addRow("%s, %s", server, name); };
        // clang-format off
        *row("English") << server << "" << false << "";
        *row("Metric") << server << "" << true << "";
        *row("one connection per address, four asked") << server << "one per address" << false << "";
        *row("active mode refused") << server << "no port" << false << "";
        // The first refused data command ends the fetching, named; in auto mode once
        // passive mode is refused too.
        *row("passive mode refused, and asked for") << server << "no pasv, passive" << false
            << "The FTP server refused the data connection: 550 ";
        *row("both modes refused") << server << "no port, no pasv" << false
            << "The FTP server refused the data connection: 550 ";
        *row("greeting refused") << server << "one per address, taken" << false
            << "refused the connection: 421 ";
        // clang-format on
    }
    // clang-format off
    QTest::newRow("vsftpd, TLS required") << "vsftpd" << "tls, tls required" << false << "";
    QTest::newRow("vsftpd, TLS required, its authority unknown") << "vsftpd" << "tls, tls required, no ca" << false
        << "The certificate of the FTP server @HOST@ could not be verified: SSL certificate problem: ";
    QTest::newRow("vsftpd, TLS off, the server forces it") << "vsftpd" << "tls" << false
        << "530 Anonymous sessions must use encryption.";
    // clang-format on
}

void TestFtpServers::buildAgainst()
{
    QFETCH(QString, server);
    QFETCH(QString, how);
    QFETCH(bool, metric);
    QFETCH(QString, refusal);
    if (server == "vsftpd" && !VsftpdServer::available())
        QSKIP(qPrintable(VsftpdServer::unavailableReason()));
    const QStringList settings = how.split(", ");

    // Twins numbered in list order, a missing sheet, a sheet the server will not give,
    // many sheets over few connections.
    QList<DataSheet> stations = longNamedStations(24);
    stations << station("300", "CEDAR RIDGE", "Alpha, Beta")
             << station("500", "CEDAR RIDGE", "Alpha, Other") << station("600", "KEPT", "A, B");
    writeSheets(m_box->dir.filePath("Geod"), stations);
    QStringList gsids{"999"};
    for (const DataSheet &s : std::as_const(stations))
        gsids << s.gsid;
    const QString kept = (metric ? "M_GSID_600.pdf" : "GSID_600.pdf");
    // vsftpd reads as user ftp, who may not read a file only root may.
    for (const char *edition : {"PDF Single Sheet/GSID_600.pdf", "PDF Metric Sheet/M_GSID_600.pdf"})
        QVERIFY(QFile::setPermissions(m_box->dir.filePath("Geod/") + edition,
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    Setup setup;
    setup.maxPerIp = settings.contains("one per address") ? 1 : 0;
    setup.refusePort = settings.contains("no port");
    setup.refusePasv = settings.contains("no pasv");
    setup.tls = settings.contains("tls");
    setup.refuseFile = kept;
    QTemporaryDir certificatesDir;
    TestCertificates certificates;
    if (setup.tls) {
        certificates = makeTestCertificates(certificatesDir.path());
        QVERIFY2(certificates.ok(), qPrintable(certificates.error));
    }
    Server ftp;
    QVERIFY(ftp.start(server, m_box->dir.path(), setup, certificates));
    refusal.replace("@HOST@", ftp.host());

    // Another client takes the one connection allowed.
    QTcpSocket other;
    if (settings.contains("taken")) {
        other.connectToHost(QHostAddress::LocalHost, quint16(ftp.host().section(':', 1).toUInt()));
        QVERIFY(other.waitForReadyRead(10000));
        QVERIFY(other.readLine().startsWith("220"));
    }

    // As the window does: the log-in of start-up, then builds one after the other,
    // each connecting anew.
    BuildConfig config;
    config.settings = m_box->settings();
    SourceSettings &sources = config.settings.sources;
    QDir(sources.shareDir).removeRecursively();
    sources.ftpHost = ftp.host();
    sources.ftpMode = settings.contains("passive") ? FtpMode::Passive : FtpMode::Auto;
    sources.ftpTls = settings.contains("tls required") ? FtpTls::Required : FtpTls::Off;
    if (!settings.contains("no ca"))
        sources.caFile = certificates.ca;
    sources.stallSeconds = 2;
    const SourceChoice choice = discoverSource(sources, m_fso, Settings().answerMs);
    if (choice.mode != SourceMode::Ftp) {
        QVERIFY2(!refusal.isEmpty() && choice.detail.contains(refusal), qPrintable(choice.detail));
        QVERIFY(!choice.detail.contains(".."));
    }
    config.mode = SourceMode::Ftp;
    config.edition = metric ? Edition::Metric : Edition::English;
    sources.ftpConnections = 4;
    config.workspaceDir = m_box->workspace();
    const QString out = m_box->dir.filePath("out.pdf");
    for (int build = 0; build < 2; ++build) {
        SheetBuild sheets(config, m_fso, m_ui);
        const BuildReport report = sheets.run(gsids, out);
        if (!refusal.isEmpty()) {
            QVERIFY2(report.message() && report.message()->text.contains(refusal),
                     qPrintable(report.message() ? report.message()->text : "no message"));
            QVERIFY(report.outcome != BuildReport::Written);
            // Ended at the first refusal: besides the server's own start-up check and
            // ours, a log-in for each of the four connections at most.
            if (ftp.vs)
                QVERIFY(ftp.vs->log().count("OK LOGIN") <= 2 + 4);
            return;
        }
        QCOMPARE(report.outcome, BuildReport::Written);
        // A file the server will not give is refused when the server says so; vsftpd's
        // "550 Failed to open file." cannot be told from a missing file.
        QCOMPARE(report.missingGsids(), (QStringList{"999", "600"}));
        const QString absent =
            ftp.py ? "550 No such file or directory." : "550 Failed to open file.";
        QCOMPARE(report.missing[0].cause, MissingCause::NotOnSource);
        QCOMPARE(report.missing[0].detail, absent);
        QCOMPARE(report.missing[1].cause,
                 ftp.py ? MissingCause::Refused : MissingCause::NotOnSource);
        QCOMPARE(report.missing[1].detail, ftp.py ? "550 " + kept + ": Permission denied" : absent);
        QCOMPARE(stationNamesOf(out).size(), stations.size() - 1);
        const QStringList order = gsidsOf(out);
        QCOMPARE(order.mid(order.indexOf("300"), 2), (QStringList{"300", "500"}));
        QVERIFY(pdfPages(out).value(0).contains(metric ? "(meters)" : "(feet)"));
        QCOMPARE(bool(config.memory->passive), setup.refusePort);
        if (setup.tls)
            QVERIFY(ftp.vs->log().contains("AUTH TLS"));
        QFile::remove(out);
    }
}

void TestFtpServers::serverRestartedMidBuild()
{
    // vsftpd killed mid-build and back on its port a moment later: within the stall limit,
    // that costs no sheet.
    if (!VsftpdServer::available())
        QSKIP(qPrintable(VsftpdServer::unavailableReason()));
    const QList<DataSheet> stations = longNamedStations(150);
    writeSheets(m_box->dir.filePath("Geod"), stations);
    QStringList gsids;
    for (const DataSheet &s : stations)
        gsids << s.gsid;
    VsftpdServer vsftpd(m_box->dir.path());
    QVERIFY2(vsftpd.start(), qPrintable(vsftpd.error()));
    BuildConfig config;
    config.settings = m_box->settings();
    config.settings.sources.ftpHost = vsftpd.host();
    config.settings.sources.stallSeconds = 10;
    config.mode = SourceMode::Ftp;
    config.workspaceDir = m_box->workspace();
    config.fetchAhead = 4; // most sheets are still to fetch when the server goes
    SheetBuild build(config, m_fso, m_ui);
    std::optional<BuildReport> report;
    connect(&build, &SheetBuild::finished, this, [&](const BuildReport &r) { report = r; });
    int named = 0;
    connect(&build, &SheetBuild::progress, this,
            [&](const QString &text) { named = text.toInt(); });
    const QString out = m_box->dir.filePath("out.pdf");
    build.start(gsids, out);
    QTRY_VERIFY_WITH_TIMEOUT(named >= 30 || report, EventBound);
    QVERIFY(!report);
    const quint16 port = vsftpd.port();
    vsftpd.stop();
    QVERIFY2(vsftpd.start(port), qPrintable(vsftpd.error()));
    QTRY_VERIFY_WITH_TIMEOUT(report, EventBound);
    QVERIFY2(report->missing.isEmpty(), qPrintable(report->missingText()));
    QCOMPARE(report->outcome, BuildReport::Written);
    QCOMPARE(stationNamesOf(out).size(), stations.size());
}

QTEST_GUILESS_MAIN(TestFtpServers)
#include "tst_ftpservers.moc"
