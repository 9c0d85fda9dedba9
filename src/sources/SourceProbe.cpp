#include "SourceProbe.h"

#include "FtpConnection.h"
#include "WebSource.h"
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
            choice.tried.append({SourceMode::Share, settings.shareDir, true, {}});
            return choice;
        }
        tried << QStringLiteral("The share folder ") + settings.shareDir +
                     (seen ? QStringLiteral(" cannot be seen.")
                           : QStringLiteral(" did not answer within %1 seconds.")
                                 .arg((answerMs + 999) / 1000));
        choice.tried.append({SourceMode::Share, settings.shareDir, false, tried.last()});
    }
    if (!settings.webUrl.isEmpty()) {
        const std::optional<SourceLoss> loss = probeWebServer(settings);
        if (!loss) {
            choice.mode = SourceMode::Web;
            choice.tried.append({SourceMode::Web, settings.webUrl, true, {}});
            return choice;
        }
        tried << QStringLiteral("The web server ") + settings.webUrl +
                     QStringLiteral(" could not be used. ") + loss->sentence();
        choice.tried.append({SourceMode::Web, settings.webUrl, false, tried.last()});
    }
    if (!settings.ftpHost.isEmpty()) {
        FtpConnection ftp(settings);
        if (ftp.connect()) {
            choice.mode = SourceMode::Ftp;
            choice.tried.append({SourceMode::Ftp, settings.ftpHost, true, {}});
            return choice;
        }
        // What happened, in the words a build would use; "did not let us in" only for
        // a log-in the server refused.
        const SourceLoss why = ftp.loss();
        if (why.kind == SourceLoss::LoginRefused)
            tried << QStringLiteral("The FTP server ") + settings.ftpHost +
                         QStringLiteral(" did not let us in: ") + why.said +
                         (why.said.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."));
        else
            tried << why.sentence();
        choice.tried.append({SourceMode::Ftp, settings.ftpHost, false, tried.last()});
    }
    choice.detail = tried.join(QLatin1Char('\n'));
    return choice;
}
