#include "Startup.h"

#include "AppSettings.h"
#include "platform/FileSystem.h"
#include "platform/FtpConnection.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

bool workspaceIsSafe(const QString &workspaceDir)
{
    QString path = workspaceDir;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool prepareWorkspace(FileSystem &fso, const QString &workspaceDir)
{
    if (!fso.folderExists(workspaceDir))
        return bool(fso.createFolder(workspaceDir));
    const FsResult emptied = fso.deleteFile(workspaceDir + QLatin1Char('*'), true);
    return emptied || emptied.notFound;
}

void removeWorkspace(FileSystem &fso, const QString &workspaceDir)
{
    if (workspaceIsSafe(workspaceDir))
        fso.deleteFolder(workspaceDir.chopped(1), true);
}

ShellCommand pdfToTextCommand(const QString &programDir, const QString &workspaceDir)
{
    return {programDir + QStringLiteral("/pdftotext"),
            {QStringLiteral("-q"), QStringLiteral("-layout"),
             workspaceDir + QStringLiteral("Temp.pdf"), workspaceDir + QStringLiteral("Text.txt")}};
}

QString sourceFailureMessage()
{
    return QStringLiteral("Unable to locate either Network or FTP directories.");
}

QString workspaceFailureMessage(const QString &workspaceDir)
{
    return QStringLiteral("Unable to use the workspace folder ") + workspaceDir + QLatin1Char('.');
}
