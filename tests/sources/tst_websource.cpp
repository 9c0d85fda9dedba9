#include "TestSupport.h"
#include "platform/WorkerThread.h"
#include "sources/WebSource.h"

#include <QTcpServer>
#include <QTest>

// The web source against a real server of the tests' own (webserver.py, HTTP/1.1 over TLS
// with an authority of the tests' own), misbehaving as web servers do.
class TestWebSource : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { QTRY_COMPARE_WITH_TIMEOUT(workerThreadsRunning(), 0, EventBound); }
    void answers_data();
    void answers();

private:
    QTemporaryDir m_dir;
    TestCertificates m_tls;
};

void TestWebSource::initTestCase()
{
    m_tls = makeTestCertificates(m_dir.path());
    QVERIFY2(m_tls, qPrintable(m_tls.error));
    writeSheets(m_dir.filePath("root"), {station("1", "ONE", "A, B"), station("2", "TWO", "A, B"),
                                         station("3", "THREE", "A, B")});
}

void TestWebSource::answers_data()
{
    // Three sheets fetched at once; each must come back as told. @SIZE@: the sheet's size,
    // @SHEET@: its address, @HOST@: the server's host and port.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("lost"); // the source's loss, in words
    const QString larger = "more than the 64 MiB a data sheet may have; not taken";
    // clang-format off
    QTest::newRow("slow, plain http") << "slow" << "http" << int(FetchResult::Fetched) << "" << "";
    QTest::newRow("silent") << "silent" << "https" << int(FetchResult::TransferFailed) << "no answer within 2 seconds" << "";
    QTest::newRow("404") << "404" << "https" << int(FetchResult::NotOnSource) << "404 Not Found" << "";
    QTest::newRow("403") << "403" << "https" << int(FetchResult::Refused) << "403 Forbidden" << "";
    QTest::newRow("429 once, Retry-After") << "429" << "https" << int(FetchResult::Fetched) << "" << "";
    QTest::newRow("503 always, Retry-After a date") << "503" << "https" << int(FetchResult::SourceLost) << "" << "The web server @HOST@ answered with an error: 503 Service Unavailable.";
    QTest::newRow("500 once") << "500" << "https" << int(FetchResult::Fetched) << "" << "";
    QTest::newRow("500 always") << "500-always" << "https" << int(FetchResult::TransferFailed) << "500 Internal Server Error" << "";
    QTest::newRow("soft 404") << "soft-404" << "https" << int(FetchResult::NotAPdf) << "text/html; charset=utf-8" << "";
    QTest::newRow("cut short") << "cut" << "https" << int(FetchResult::TransferFailed) << "cut short: @SIZE-10@ of @SIZE@ bytes" << "";
    QTest::newRow("redirect loop") << "loop" << "https" << int(FetchResult::TransferFailed) << "sent on more than 5 times" << "";
    QTest::newRow("redirect to http") << "to-http" << "https" << int(FetchResult::TransferFailed) << "sent on to http://@SHEET@, which is not followed from https" << "";
    QTest::newRow("100 MiB announced") << "large" << "https" << int(FetchResult::TransferFailed) << "100.0 MiB, " + larger << "";
    QTest::newRow("a body without end") << "endless" << "http" << int(FetchResult::TransferFailed) << larger << "";
    QTest::newRow("certificate of no known authority") << "" << "untrusted" << int(FetchResult::SourceLost) << "" << "The certificate of the web server @HOST@ could not be verified: SSL certificate problem: unable to get local issuer certificate.";
    QTest::newRow("not a word, TLS neither") << "" << "mute" << int(FetchResult::SourceLost) << "" << "The web server @HOST@ did not answer within 2 seconds.";
    // clang-format on
}

void TestWebSource::answers()
{
    QFETCH(QString, fault);
    QFETCH(QString, scheme);
    QFETCH(int, kind);
    QFETCH(QString, detail);
    QFETCH(QString, lost);
    WebServer server(m_dir.filePath("root"), fault, scheme == "http" ? TestCertificates() : m_tls);
    QTcpServer mute; // takes connections and never says a word
    SourceSettings settings;
    if (scheme == "mute") {
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        settings.webUrl = QString("https://127.0.0.1:%1/geod/").arg(mute.serverPort());
    } else {
        QVERIFY(server.start());
        settings.webUrl = server.url();
    }
    settings.caFile = scheme == "untrusted" ? QString() : m_tls.ca;
    settings.stallSeconds = 2;
    WebSource source(settings, settings.webUrl + "PDF Single Sheet/");
    QList<FetchResult> results(3);
    int answered = 0;
    QString lostSaid;
    connect(&source, &SheetSource::fetched, this, [&](int id, const FetchResult &r) {
        results[id] = r;
        ++answered;
    });
    connect(&source, &SheetSource::lost, this,
            [&](const SourceLoss &why) { lostSaid = why.sentence(); });
    source.open();
    for (int id = 0; id < 3; ++id)
        source.fetch(id, QString("GSID_%1.pdf").arg(id + 1),
                     m_dir.filePath(QString("t%1").arg(id)));
    QTRY_COMPARE_WITH_TIMEOUT(answered, 3, EventBound);
    const QString host = QUrl(settings.webUrl).authority();
    QCOMPARE(lostSaid, lost.replace("@HOST@", host));
    // Start-up's look at the folder (it answers 403, as a server that lists none) finds
    // the server lost as the build does.
    const std::optional<SourceLoss> looked = probeWebServer(settings);
    QCOMPARE(looked ? looked->sentence() : QString(), lostSaid);
    for (int id = 0; id < 3; ++id) {
        const QString sheet =
            m_dir.filePath(QString("root/PDF Single Sheet/GSID_%1.pdf").arg(id + 1));
        const qint64 size = QFileInfo(sheet).size();
        QCOMPARE(int(results[id].kind), kind);
        QCOMPARE(
            results[id].detail,
            QString(detail)
                .replace("@SIZE-10@", QString::number(size - 10))
                .replace("@SIZE@", QString::number(size))
                .replace("@SHEET@",
                         host + QString("/geod/PDF%20Single%20Sheet/GSID_%1.pdf").arg(id + 1)));
        // A sheet is there whole, or nothing is.
        QCOMPARE(readFile(m_dir.filePath(QString("t%1").arg(id))),
                 kind == FetchResult::Fetched ? readFile(sheet) : QByteArray());
    }
}

QTEST_GUILESS_MAIN(TestWebSource)
#include "tst_websource.moc"
