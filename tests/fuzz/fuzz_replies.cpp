// A server's replies as the sources read them: an FTP reply code is 0 or the line's own
// three digits; an announced size is -1 or the number the line gives in "(n bytes)"; an
// HTTP status is 0 or 100-999; a Content-Length is -1 or the number a header gives; the
// status words that reach messages and report files are one printable line, not empty.
#include "FuzzCheck.h"
#include "sources/Replies.h"

#include <QList>
#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString all = shown(QString::fromLatin1(input));
    const int code = Replies::ftpCode(input);
    FUZZ_CHECK(code == 0 ||
                   (code >= 100 && code < 600 && input.startsWith(QByteArray::number(code))),
               all);
    const qint64 announced = Replies::ftpAnnouncedSize(input);
    bool given = false; // "(n bytes)" with that n, leading zeros or not, in the line
    static const QRegularExpression bytes(QStringLiteral("\\(([0-9]+) bytes\\)"));
    for (const auto &m : bytes.globalMatch(QString::fromLatin1(input)))
        given = given || m.captured(1).toLongLong() == announced;
    FUZZ_CHECK(announced == -1 || (announced >= 0 && (code == 150 || code == 125) && given), all);
    Replies::HttpHead head;
    bool lengthGiven = false;
    for (const QByteArray &line : input.split('\n')) {
        Replies::readHttpHeader(head, line);
        if (line.startsWith("HTTP/"))
            lengthGiven = false;
        const QByteArray value = line.mid(15).trimmed();
        if (line.toLower().startsWith("content-length:") && !value.isEmpty() &&
            std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; }))
            lengthGiven = value.toLongLong() == head.length;
    }
    FUZZ_CHECK(head.status == 0 || (head.status >= 100 && head.status <= 999), all);
    FUZZ_CHECK(head.length == -1 || (head.length >= 0 && lengthGiven), all);
    const QString words = Replies::httpStatusText(head.statusLine, head.status);
    FUZZ_CHECK(!words.isEmpty() && words.size() <= 230 &&
                   std::all_of(words.cbegin(), words.cend(), [](QChar c) { return c.isPrint(); }),
               shown(words));
    return 0;
}
