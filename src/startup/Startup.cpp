#include "Startup.h"

#include "AppSettings.h"
#include "platform/FileSystem.h"
#include "platform/FtpConnection.h"

SourceChoice discoverSource(const AppSettings &settings, FileSystem &fso)
{
    SourceChoice choice;
    if (fso.folderExists(settings.shareDir)) {
        choice.mode = SourceMode::Share;
        return choice;
    }
    auto ftp = std::make_unique<FtpConnection>(settings.ftpHost);
    if (!settings.ftpHost.isEmpty() && ftp->connect()) {
        choice.mode = SourceMode::Ftp;
        choice.ftp = std::move(ftp);
    }
    return choice;
}

ShellCommand pdfToTextCommand(const QString &programDir)
{
    return {programDir + QStringLiteral("/pdftotext"),
            {QStringLiteral("-q"), QStringLiteral("-layout")}};
}

QString sourceFailureMessage()
{
    return QStringLiteral("Unable to locate either Network or FTP directories.");
}
