#include "assembly/BuildReport.h"

#include <QTest>

class TestBuildReport : public QObject {
    Q_OBJECT

private slots:
    void partialBuildSaysWhatItMade_data();
    void partialBuildSaysWhatItMade();
};

void TestBuildReport::partialBuildSaysWhatItMade_data()
{
    // Missing GSIDs as "gsid:cause" (n: not on the source, f: refused by it, t: the
    // transfer failed, l: the source was lost, p: not a PDF, r/c/o: pdftotext
    // failed/crashed/ran out of time, m: pdftk refused) and the source's words after a
    // second ":"; why the source was lost ("silent", or the reply that refused further
    // connections); then the message text after its first line, and the details.
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("lost");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("details");
    QStringList many;
    for (int i = 0; i < 25; ++i)
        many << QString("%1:%2").arg(1000 + i).arg(i < 18 ? 'n' : 'c');
    // clang-format off
    QTest::newRow("two causes, the server's words in the details")
        << QStringList{"404:n:550 Failed to open file.", "405:n", "9:f"} << ""
        << "Could not be fetched, not on the FTP server: 404, 405\n"
           "Could not be fetched, refused by the FTP server: 9"
        << "Could not be fetched, not on the FTP server:\n404 (550 Failed to open file.)\n405\n\n"
           "Could not be fetched, refused by the FTP server:\n9";
    // The details are grouped by the grouping the text uses: their order is not repeated.
    QTest::newRow("every cause, in the order they arise")
        << QStringList{"7:m", "1:o", "2:c", "3:r", "8:p", "4:l", "5:t", "9:f", "6:n"}
        << "silent"
        << "The FTP server stopped answering.\n\n"
           "Could not be fetched, not on the FTP server: 6\n"
           "Could not be fetched, refused by the FTP server: 9\n"
           "Could not be fetched, the transfer failed: 5\n"
           "Could not be fetched, the FTP server stopped answering: 4\n"
           "Could not be fetched, the FTP server sent something else than a PDF: 8\n"
           "Could not be read by pdftotext (it failed): 3\n"
           "Could not be read by pdftotext (it crashed): 2\n"
           "Could not be read by pdftotext (it ran out of time): 1\n"
           "Refused by pdftk: 7"
        << "";
    QTest::newRow("the first 20 in the text")
        << many << ""
        << "Could not be fetched, not on the FTP server: 1000, 1001, 1002, 1003, 1004, 1005, "
           "1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017\n"
           "Could not be read by pdftotext (it crashed): 1018, 1019, and 5 more"
        << "";
    QTest::newRow("a refusal, named with its reply") << QStringList{"9:l"}
        << "421 Too many."
        << "The FTP server refused further connections: 421 Too many.\n\n"
           "Could not be fetched, the FTP server refused further connections: 421 Too many: 9"
        << "";
    // clang-format on
}

void TestBuildReport::partialBuildSaysWhatItMade()
{
    QFETCH(QStringList, missing);
    QFETCH(QString, lost);
    QFETCH(QString, text);
    QFETCH(QString, details);
    const QHash<QChar, MissingCause> causes = {
        {'n', MissingCause::NotOnSource},    {'f', MissingCause::Refused},
        {'t', MissingCause::TransferFailed}, {'l', MissingCause::SourceLost},
        {'p', MissingCause::NotAPdf},        {'r', MissingCause::TextFailed},
        {'c', MissingCause::TextCrashed},    {'o', MissingCause::TextTimedOut},
        {'m', MissingCause::MergeRefused}};
    BuildReport report;
    report.output = "/home/surveyor/sheets.pdf";
    report.source = SourceMode::Ftp;
    report.total = 300;
    if (!lost.isEmpty())
        report.sourceLost =
            lost == "silent"
                ? SourceLoss{SourceLoss::StoppedAnswering, SourceMode::Ftp, {}}
                : SourceLoss{SourceLoss::FurtherConnectionsRefused, SourceMode::Ftp, lost};
    // In the list's order; grouped by cause in the message whatever the order.
    std::sort(missing.begin(), missing.end());
    for (const QString &m : std::as_const(missing))
        report.missing.append(
            {m.section(':', 0, 0), causes.value(m.section(':', 1).at(0)), m.section(':', 2)});
    const std::optional<UserMessage> message = report.message();
    QVERIFY(message);
    QCOMPARE(message->title, "Brindlewick");
    QCOMPARE(message->icon, UserMessage::Warning);
    const QString said = QString("The output file /home/surveyor/sheets.pdf was written with "
                                 "%1 of 300 data sheets.\n")
                             .arg(300 - missing.size()) +
                         (lost.isEmpty() ? "\n" : "") + text;
    QCOMPARE(message->text, said + "\n\nThey were left in the list.");
    // The command line lists them on standard output, their words in its report file.
    const std::optional<UserMessage> console = report.message(BuildReport::Audience::Console);
    QCOMPARE(console->text, said + "\n\nThey are listed on standard output.");
    QVERIFY(console->details.isEmpty());
    if (!details.isEmpty())
        QCOMPARE(message->details, details);
    // Every GSID in the details, once.
    QStringList listed = message->details.split('\n', Qt::SkipEmptyParts);
    listed.removeIf([](const QString &line) { return line.endsWith(':'); });
    for (QString &line : listed)
        line = line.section(' ', 0, 0);
    QStringList gsids;
    for (const BuildReport::Missing &m : std::as_const(report.missing))
        gsids << m.gsid;
    listed.sort();
    QCOMPARE(listed, gsids);
}

QTEST_GUILESS_MAIN(TestBuildReport)
#include "tst_buildreport.moc"
