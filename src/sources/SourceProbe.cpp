#include "SourceProbe.h"

#include "FtpConnection.h"
#include "platform/FileSystem.h"

#include <QStringList>

SourceChoice discoverSource(const SourceSettings &settings, FileSystem &fso)
{
    SourceChoice choice;
    if (fso.folderExists(settings.shareDir)) {
        choice.mode = SourceMode::Share;
        choice.tried.append({SourceMode::Share, settings.shareDir, true, {}});
        return choice;
    }
    QStringList tried;
    if (!settings.shareDir.isEmpty()) {
        tried << QStringLiteral("The share folder ") + settings.shareDir +
                     QStringLiteral(" cannot be seen.");
        choice.tried.append({SourceMode::Share, settings.shareDir, false, tried.last()});
    }
    if (!settings.ftpHost.isEmpty()) {
        FtpConnection ftp(settings.ftpHost);
        if (ftp.connect()) {
            choice.mode = SourceMode::Ftp;
            choice.tried.append({SourceMode::Ftp, settings.ftpHost, true, {}});
            return choice;
        }
        tried << QStringLiteral("The FTP server ") + settings.ftpHost +
                     QStringLiteral(" did not let us in: ") + ftp.lastReply();
        choice.tried.append({SourceMode::Ftp, settings.ftpHost, false, tried.last()});
    }
    choice.detail = tried.join(QLatin1Char('\n'));
    return choice;
}
