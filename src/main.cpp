#include "Version.h"
#include "platform/DesktopInteraction.h"
#include "platform/FileSystem.h"
#include "startup/AppSettings.h"
#include "startup/Workspace.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlewick"));
    QApplication::setApplicationVersion(QStringLiteral(BRINDLEWICK_VERSION_INFO));

    AppSettings settings;
    settings.programDir = QCoreApplication::applicationDirPath();
    const QString share = QStringLiteral(BRINDLEWICK_SHARE_DIR);
    settings.shareDir =
        share.isEmpty() ? settings.programDir + QStringLiteral("/demo/geod/") : share;
    settings.ftpHost = QStringLiteral(BRINDLEWICK_FTP_HOST);
    settings.tempRoot = Workspace::defaultTempRoot();
    settings.arguments = app.arguments().mid(1);

    FileSystem fso;
    DesktopInteraction ui;
    frmMain window(settings, fso, ui);
    if (!window.Form_Load())
        return 1;
    window.show();
    // For smoke tests and the start-up benchmark: say so once the window is up, and leave.
    if (qEnvironmentVariableIsSet("BRINDLEWICK_EXIT_WHEN_SHOWN")) {
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    }
    return app.exec();
}
