#include "Version.h"
#include "platform/FileSystem.h"
#include "startup/AppSettings.h"
#include "startup/SourceSettings.h"
#include "startup/Workspace.h"
#include "ui/AppIcon.h"
#include "ui/DesktopInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlewick"));
    QApplication::setApplicationVersion(QStringLiteral(BRINDLEWICK_VERSION_INFO));

    QApplication::setDesktopFileName(QStringLiteral("org.example.oxlade.brindlewick"));
    QApplication::setWindowIcon(appIcon());

    AppSettings settings;
    settings.programDir = QCoreApplication::applicationDirPath();
    // The build's settings are the defaults; the settings files and the environment
    // point an installed program at an office's own share and server.
    SourceSettings defaults;
    const QString share = QStringLiteral(BRINDLEWICK_SHARE_DIR);
    defaults.shareDir =
        share.isEmpty() ? settings.programDir + QStringLiteral("/demo/geod/") : share;
    defaults.ftpHost = QStringLiteral(BRINDLEWICK_FTP_HOST);
    DesktopInteraction ui;
    const SourceSettings::Loaded sources =
        SourceSettings::load(QProcessEnvironment::systemEnvironment(), defaults);
    if (!sources) {
        ui.showError(sources.error);
        return 1;
    }
    settings.shareDir = sources.value.shareDir;
    settings.ftpHost = sources.value.ftpHost;
    settings.ftpConnections = sources.value.ftpConnections;
    settings.tempRoot = Workspace::defaultTempRoot();
    settings.arguments = app.arguments().mid(1);

    FileSystem fso;
    frmMain window(settings, fso, ui);
    ui.setParentWindow(&window);
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
