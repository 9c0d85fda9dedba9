#include "ScriptedInteraction.h"
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

private:
    std::unique_ptr<Sandbox> m_box;
    FileSystem m_fso;
    ScriptedInteraction m_ui;
};

namespace {

// One server or the other, started with the same limits.
struct Server {
    std::unique_ptr<FtpServer> py;
    std::unique_ptr<VsftpdServer> vs;

    bool start(const QString &kind, const QString &root, int maxPerIp, bool refusePort)
    {
        if (kind == "pyftpdlib") {
            FtpServer::Options options;
            options.maxConsPerIp = maxPerIp;
            options.refusePort = refusePort;
            py = std::make_unique<FtpServer>(root, options);
            return py->start();
        }
        VsftpdServer::Options options;
        options.maxPerIp = maxPerIp;
        options.portEnabled = !refusePort;
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
    QTest::addColumn<int>("maxPerIp");
    QTest::addColumn<bool>("refusePort");
    QTest::addColumn<QString>("mode"); // auto, active
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("refusal"); // the start of the message, when it refuses
    for (const char *server : {"pyftpdlib", "vsftpd"}) {
        const auto row = [&](const char *name) { return &QTest::addRow("%s, %s", server, name); };
        // clang-format off
        *row("English") << server << 0 << false << "auto" << false << "";
        *row("Metric") << server << 0 << false << "auto" << true << "";
        *row("one connection per address, four asked") << server << 1 << false << "auto" << false << "";
        *row("two per address, four asked") << server << 2 << false << "auto" << false << "";
        *row("active mode refused") << server << 0 << true << "auto" << false << "";
        *row("active mode refused, and asked for") << server << 0 << true << "active" << false
            << "The FTP server refused the data connection: ";
        *row("greeting refused") << server << 1 << false << "auto" << false
            << "The FTP server refused the connection: 421 ";
        // clang-format on
    }
}

void TestFtpServers::buildAgainst()
{
    QFETCH(QString, server);
    QFETCH(int, maxPerIp);
    QFETCH(bool, refusePort);
    QFETCH(QString, mode);
    QFETCH(bool, metric);
    QFETCH(QString, refusal);
    if (server == "vsftpd" && !VsftpdServer::available())
        QSKIP(qPrintable(VsftpdServer::unavailableReason()));

    // Twins numbered in list order, a missing sheet, many sheets over few connections.
    QList<DataSheet> stations = longNamedStations(24);
    stations << station("300", "CEDAR RIDGE", "Alpha, Beta")
             << station("500", "CEDAR RIDGE", "Alpha, Other");
    writeSheets(m_box->dir.filePath("Geod"), stations);
    QStringList gsids{"999"};
    for (const DataSheet &s : std::as_const(stations))
        gsids << s.gsid;
    Server ftp;
    QVERIFY(ftp.start(server, m_box->dir.path(), maxPerIp, refusePort));

    // Another client takes the one connection allowed.
    QTcpSocket other;
    if (refusal.contains("421")) {
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
    if (refusal.isEmpty())
        QCOMPARE(discoverSource(sources, m_fso, Settings().answerMs).mode, SourceMode::Ftp);
    config.mode = SourceMode::Ftp;
    config.edition = metric ? Edition::Metric : Edition::English;
    sources.ftpConnections = 4;
    sources.stallSeconds = 2;
    sources.ftpMode = mode == "active" ? FtpMode::Active : FtpMode::Auto;
    config.workspaceDir = m_box->workspace();
    const QString out = m_box->dir.filePath("out.pdf");
    for (int build = 0; build < 2; ++build) {
        SheetBuild sheets(config, m_fso, m_ui);
        const BuildReport report = sheets.run(gsids, out);
        if (!refusal.isEmpty()) {
            QVERIFY2(report.message() && report.message()->text.startsWith(refusal),
                     qPrintable(report.message() ? report.message()->text : "no message"));
            QVERIFY(report.outcome != BuildReport::Written);
            return;
        }
        QCOMPARE(report.outcome, BuildReport::Written);
        QCOMPARE(report.missingGsids(), QStringList{"999"});
        QCOMPARE(report.missing[0].cause, MissingCause::NotOnSource);
        const QStringList names = stationNamesOf(out);
        QCOMPARE(names.size(), stations.size());
        const QStringList order = gsidsOf(out);
        QCOMPARE(order.mid(order.indexOf("300"), 2), (QStringList{"300", "500"}));
        QVERIFY(pdfPages(out).value(0).contains(metric ? "(meters)" : "(feet)"));
        QCOMPARE(bool(config.memory->passive), refusePort);
        QFile::remove(out);
    }
}

QTEST_GUILESS_MAIN(TestFtpServers)
#include "tst_ftpservers.moc"
