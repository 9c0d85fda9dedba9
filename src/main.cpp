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
    // point an installed program at an office's own share and server. The sample
    // sheets beside the program stand in only when no source is set anywhere.
    SourceSettings defaults;
    defaults.shareDir = QStringLiteral(BRINDLEWICK_SHARE_DIR);
    defaults.ftpHost = QStringLiteral(BRINDLEWICK_FTP_HOST);
    DesktopInteraction ui;
    const SourceSettings::Loaded sources =
        SourceSettings::load(QProcessEnvironment::systemEnvironment(), defaults,
                             settings.programDir + QStringLiteral("/demo/geod/"));
    // Unknown keys do not stop the program: said on standard error for scripts and
    // logs, and in a box that waits for nobody.
    for (const QString &warning : sources.warnings)
        std::fprintf(stderr, "brindlewick: %s\n", qPrintable(warning));
    if (!sources) {
        ui.showError(sources.error);
        return 1;
    }
    settings.shareDir = sources.value.shareDir;
    settings.ftpHost = sources.value.ftpHost;
    settings.ftpConnections = sources.value.ftpConnections;
    settings.ftpMode = sources.value.ftpMode;
    settings.sampleSheets = sources.value.sampleSheets;
    settings.bookmarks = sources.value.bookmarks;
    settings.tempRoot = Workspace::defaultTempRoot();
    settings.arguments = app.arguments().mid(1);

    FileSystem fso;
    frmMain window(settings, fso, ui);
    ui.setParentWindow(&window);
    // Before the load step, so that a fatal message there comes with its likely cause.
    if (!sources.warnings.isEmpty())
        ui.showNotice(sources.warnings.join(QLatin1Char('\n')));
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
