#include "SheetSource.h"

namespace {

// "…: 530 Login incorrect." — a reply that ends with a full stop gets no second one.
QString withReply(const QString &sentence, const QString &said)
{
    if (said.isEmpty())
        return sentence + QLatin1Char('.');
    return sentence + QStringLiteral(": ") + said +
           (said.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."));
}

} // namespace

QString SourceLoss::sourceName(SourceMode source)
{
    switch (source) {
    case SourceMode::Ftp:
        return QStringLiteral("the FTP server");
    case SourceMode::Web:
        return QStringLiteral("the web server");
    case SourceMode::Share:
    case SourceMode::Undecided:
        break;
    }
    return QStringLiteral("the share");
}

QString SourceLoss::sentence() const
{
    QString who = sourceName(source) + (where.isEmpty() ? QString() : QLatin1Char(' ') + where);
    who[0] = who[0].toUpper();
    switch (kind) {
    case StoppedAnswering:
        return who + QStringLiteral(" stopped answering.");
    case ConnectionRefused:
        return withReply(who + QStringLiteral(" refused the connection"), said);
    case FurtherConnectionsRefused:
        return withReply(who + QStringLiteral(" refused further connections"), said);
    case LoginRefused:
        return withReply(who + QStringLiteral(" refused the log-in"), said);
    case DataConnectionRefused:
        return withReply(who + QStringLiteral(" refused the data connection"), said);
    case CouldNotConnect:
        return withReply(QStringLiteral("Could not connect to ") + sourceName(source) +
                             QLatin1Char(' ') + where,
                         said);
    case HostNotFound:
        return QStringLiteral("The host name of ") + sourceName(source) + QLatin1Char(' ') + where +
               QStringLiteral(" was not found.");
    case NoAnswer:
        return who + QStringLiteral(" did not answer within %1 seconds.").arg(seconds);
    case CertificateNotVerified:
        return withReply(QStringLiteral("The certificate of ") + sourceName(source) +
                             QLatin1Char(' ') + where + QStringLiteral(" could not be verified"),
                         said);
    case TlsNotOffered:
        return withReply(
            who + QStringLiteral(" would not begin TLS, which FtpTls=required asks for"), said);
    case DataConnectionNeverCame:
        return who +
               QStringLiteral(" never opened the data connection of active mode (FtpMode=active); "
                              "with FtpMode=auto the program would try passive mode.");
    case ServerError:
        return withReply(who + QStringLiteral(" answered with an error"), said);
    }
    return QString();
}
