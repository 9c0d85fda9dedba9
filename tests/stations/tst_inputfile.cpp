#include "TestSupport.h"
#include "stations/InputFile.h"
#include "stations/LeadingValue.h"

#include <QStringEncoder>
#include <QTest>

class TestInputFile : public QObject {
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void binaryFileDoesNotHang();

private:
    QStringList accepted(const QString &path, QString *error = nullptr);
    QTemporaryDir m_dir;
    FileSystem m_fso;
};

QStringList TestInputFile::accepted(const QString &path, QString *error)
{
    QStringList out;
    const QString e = readTokensFromFile(m_fso, path, [&](QStringView token) {
        if (isStationNumber(token))
            out << token.toString();
        return true;
    });
    if (error)
        *error = e;
    return out;
}

void TestInputFile::tokens_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("entries");
    // clang-format off
    QTest::newRow("mixed separators") << QByteArray("12345, 23456 34567,,45678") << QStringList{"12345", "23456", "34567", "45678"};
    QTest::newRow("word before number") << QByteArray("Station 12345") << QStringList{"12345"};
    QTest::newRow("no stripping") << QByteArray("GSID:12345") << QStringList{};
    QTest::newRow("trailing letters kept") << QByteArray("12345ABC") << QStringList{"12345ABC"};
    QTest::newRow("tabs and no-break spaces") << QByteArray("12\t34\xC2\xA0" "56") << QStringList{"12", "34", "56"};
    QTest::newRow("CR only") << QByteArray("111\r222\r333") << QStringList{"111", "222", "333"};
    QTest::newRow("control characters end a GSID") << QByteArrayLiteral("101037\0y\n100000\0,200\x1b" "300\x7f") << QStringList{"101037", "100000", "200", "300"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    // clang-format on
    // The byte-order mark must not stick to the first GSID, or that GSID is lost.
    for (const auto encoding :
         {QStringConverter::Utf8, QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        QTest::newRow(QStringConverter::nameForEncoding(encoding))
            << QByteArray(encoder.encode(u"12345,23456\r\n34567"))
            << QStringList{"12345", "23456", "34567"};
    }
}

void TestInputFile::tokens()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);
    const QString path = m_dir.filePath("list.txt");
    writeFile(path, content);
    QCOMPARE(accepted(path), entries);
}

void TestInputFile::binaryFileDoesNotHang()
{
    QByteArray bytes(4 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7919) % 251);
    for (const char separator : {',', ' ', '\n', '\r', '\t', '\v', '\f'})
        bytes.replace(separator, 'x');
    bytes += "\n4242\n";
    const QString path = m_dir.filePath("blob.bin");
    writeFile(path, bytes);
    QString error;
    const QStringList got = accepted(path, &error);
    QVERIFY(error.isEmpty());
    QCOMPARE(got, QStringList{"4242"}); // the one overlong token is dropped
}

QTEST_GUILESS_MAIN(TestInputFile)
#include "tst_inputfile.moc"
