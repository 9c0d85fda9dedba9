#include "SourceProbe.h"

#include "FtpConnection.h"
#include "platform/BoundedCall.h"
#include "platform/FileSystem.h"

#include <QStringList>

SourceChoice discoverSource(const SourceSettings &settings, FileSystem &fso, int answerMs)
{
    SourceChoice choice;
    QStringList tried;
    if (!settings.shareDir.isEmpty()) {
        // A hard-mounted share whose server is gone would hold a plain look for ever.
        const std::optional<bool> seen = callWithin<bool>(
            answerMs, [fso = &fso, dir = settings.shareDir] { return fso->folderExists(dir); });
        if (seen.value_or(false)) {
            choice.mode = SourceMode::Share;
            return choice;
        }
        tried << QStringLiteral("The share folder ") + settings.shareDir +
                     (seen ? QStringLiteral(" cannot be seen.")
                           : QStringLiteral(" did not answer within %1 seconds.")
                                 .arg((answerMs + 999) / 1000));
    }
    if (!settings.ftpHost.isEmpty()) {
        FtpConnection ftp(settings.ftpHost);
        if (ftp.connect()) {
            choice.mode = SourceMode::Ftp;
            return choice;
        }
        tried << QStringLiteral("The FTP server ") + settings.ftpHost +
                     QStringLiteral(" did not let us in: ") + ftp.lastReply();
    }
    choice.detail = tried.join(QLatin1Char('\n'));
    return choice;
}
