#include "SourceProbe.h"

#include "FtpConnection.h"
#include "WebSource.h"
#include "platform/FileSystem.h"

#include <QStringList>

SourceChoice discoverSource(const SourceSettings &settings, FileSystem &fso)
{
    SourceChoice choice;
    if (fso.folderExists(settings.shareDir)) {
        choice.mode = SourceMode::Share;
        return choice;
    }
    QStringList tried;
    if (!settings.shareDir.isEmpty())
        tried << QStringLiteral("The share folder ") + settings.shareDir +
                     QStringLiteral(" cannot be seen.");
    if (!settings.webUrl.isEmpty()) {
        const std::optional<SourceLoss> loss = probeWebServer(settings);
        if (!loss) {
            choice.mode = SourceMode::Web;
            return choice;
        }
        tried << QStringLiteral("The web server ") + settings.webUrl +
                     QStringLiteral(" could not be used. ") + loss->sentence();
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
