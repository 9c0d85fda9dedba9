#pragma once

#include <QByteArray>
#include <QString>

// What the program reads in a server's replies, as plain functions of the text: the
// lines of an FTP control connection and the header lines of an HTTP answer. The text
// is the server's, and may be anything.
namespace Replies {

// The code of an FTP reply line: its three leading digits, or 0 for a line without.
int ftpCode(QByteArrayView line);
// The size "150 Opening BINARY mode data connection for x.pdf (1234 bytes)." announces;
// -1 when the line announces none.
qint64 ftpAnnouncedSize(QByteArrayView line);
// "550 GSID_100185.pdf: Permission denied": the server has the sheet and will not give
// it. A reply that cannot be told from a missing file ("550 Failed to open file.") is no
// refusal.
bool ftpDeniesPermission(QStringView reply);

// What the header lines of one HTTP answer said. A redirect's answers each begin with a
// status line of their own, which starts the head anew: the last answer counts.
struct HttpHead {
    int status = 0;        // 100 to 999; 0 when no status line was read
    QByteArray statusLine; // "HTTP/1.1 404 Not Found"
    qint64 length = -1;    // Content-Length; -1 when none, or not a number
    QByteArray location;   // where a redirect sends it
};
void readHttpHeader(HttpHead &head, QByteArrayView line);
// "404 Not Found" from "HTTP/1.1 404 Not Found", or from "HTTP/2 404": one line of
// printable text, of a length a message can hold.
QString httpStatusText(QByteArrayView statusLine, int status);

} // namespace Replies
