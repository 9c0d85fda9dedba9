#include "Replies.h"

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A whole decimal number, no sign; -1 when it is none or too large.
qint64 decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

QString reasonOf(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("Bad Request");
    case 401:
        return QStringLiteral("Unauthorized");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 410:
        return QStringLiteral("Gone");
    case 429:
        return QStringLiteral("Too Many Requests");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 502:
        return QStringLiteral("Bad Gateway");
    case 503:
        return QStringLiteral("Service Unavailable");
    case 504:
        return QStringLiteral("Gateway Timeout");
    default:
        return QString();
    }
}

} // namespace

int Replies::ftpCode(QByteArrayView line)
{
    // 1xx to 5xx, as the protocol has them.
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !isDigit(line[1]) ||
        !isDigit(line[2]) || (line.size() > 3 && isDigit(line[3])))
        return 0;
    return int(decimal(line.first(3)));
}

qint64 Replies::ftpAnnouncedSize(QByteArrayView line)
{
    const int code = ftpCode(line);
    if (code != 150 && code != 125)
        return -1;
    const qsizetype end = line.lastIndexOf(QByteArrayView(" bytes)"));
    const qsizetype open = end < 0 ? -1 : line.first(end).lastIndexOf('(');
    return open < 0 ? -1 : decimal(line.sliced(open + 1, end - open - 1));
}

bool Replies::ftpDeniesPermission(QStringView reply)
{
    for (const char *words : {"permission denied", "access denied", "access is denied"}) {
        if (reply.contains(QLatin1String(words), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void Replies::readHttpHeader(HttpHead &head, QByteArrayView line)
{
    if (line.startsWith("HTTP/")) {
        head = HttpHead();
        head.statusLine = line.toByteArray();
        const qsizetype space = line.indexOf(' ');
        const QByteArrayView rest = space < 0 ? QByteArrayView() : line.sliced(space + 1);
        const bool whole = rest.size() >= 3 && (rest.size() == 3 || rest[3] == ' ');
        const qint64 status = whole ? decimal(rest.first(3)) : -1;
        head.status = status >= 100 ? int(status) : 0;
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray name = line.first(colon).toByteArray().toLower();
    const QByteArrayView value = line.sliced(colon + 1).trimmed();
    if (name == "content-length")
        head.length = decimal(value);
    else if (name == "location")
        head.location = value.toByteArray();
}

QString Replies::httpStatusText(QByteArrayView statusLine, int status)
{
    const qsizetype space = statusLine.indexOf(' ');
    QString text = space < 0 ? QString() : QString::fromUtf8(statusLine.sliced(space + 1));
    // The server's words go into messages and report files: one line, printable, short.
    for (QChar &c : text) {
        if (!c.isPrint())
            c = QLatin1Char(' ');
    }
    text = text.simplified().left(200);
    if (text.isEmpty())
        text = QString::number(status);
    if (!text.contains(QLatin1Char(' ')) && !reasonOf(status).isEmpty())
        text += QLatin1Char(' ') + reasonOf(status);
    return text;
}
