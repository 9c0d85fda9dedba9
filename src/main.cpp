#include "Version.h"
#include "cli/CommandLineBuild.h"
#include "cli/CommandLineOptions.h"
#include "cli/CommandLineSources.h"
#include "platform/FileSystem.h"
#include "platform/ToolProcess.h"
#include "platform/WorkerThread.h"
#include "startup/Settings.h"
#include "startup/Workspace.h"
#include "ui/AppIcon.h"
#include "ui/DesktopInteraction.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void writeTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// Without the window: a build, the help, the version or what was wrong with the
// command. Only Qt Core is started, so no display is needed.
int runWithoutWindow(int &argc, char *argv[], const CommandLineOptions &options, Settings defaults)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindlewick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRINDLEWICK_VERSION_INFO));
    switch (options.action) {
    case CommandLineOptions::ShowHelp:
        writeTo(stdout, CommandLineOptions::helpText(QProcessEnvironment::systemEnvironment()));
        return 0;
    case CommandLineOptions::ShowVersion:
        writeTo(stdout, CommandLineOptions::versionText());
        return 0;
    case CommandLineOptions::Refuse:
        writeTo(stderr, QStringLiteral("brindlewick: ") + options.error + QLatin1Char('\n'));
        return 2;
    case CommandLineOptions::ShowSources:
        return runCommandLineSources(defaults);
    case CommandLineOptions::Build:
    case CommandLineOptions::OpenWindow:
        break;
    }
    defaults.programDir = QCoreApplication::applicationDirPath();
    return runCommandLineBuild(options, defaults);
}

// Without a display Qt ends the program with SIGABRT as its window is made: it is
// said instead, with the way to build without one.
QString noDisplayMessage(const CommandLineOptions &options, const QString &why)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/+:,=@%-]+$"));
    QString listFile = options.listFiles.value(0, QStringLiteral("LIST-FILE"));
    if (!plain.match(listFile).hasMatch())
        listFile = QLatin1Char('\'') +
                   listFile.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    if (listFile.startsWith(QLatin1Char('-')))
        listFile.prepend(QStringLiteral("-- "));
    return QStringLiteral("brindlewick: The window cannot be opened: ") + why +
           QStringLiteral(".\nTo build without a window or a display, name the output with "
                          "--output:  brindlewick --output OUT.pdf ") +
           listFile + QLatin1Char('\n');
}

const CommandLineOptions *startingWindow = nullptr; // while Qt looks for the display
QtMessageHandler qtMessages = nullptr;

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg || !startingWindow) {
        qtMessages(type, context, text);
        return;
    }
    QStringList set;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            set << QLatin1String(name) + QLatin1Char('=') + qEnvironmentVariable(name);
    }
    writeTo(stderr, noDisplayMessage(*startingWindow, QStringLiteral("no display could be used (") +
                                                          set.join(QStringLiteral(", ")) +
                                                          QLatin1Char(')')));
    std::fflush(stderr);
    ::_exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    const CommandLineOptions options = CommandLineOptions::parse(arguments);
    // The command line is ours alone: Qt is shown only the program's name, so that no
    // list file is ever taken for one of its options.
    int qtArgc = 1;

    // The build's settings are the defaults; the settings files and the environment
    // point an installed program at an office's own share and server.
    Settings defaults;
    defaults.sources.shareDir = QStringLiteral(BRINDLEWICK_SHARE_DIR);
    defaults.sources.ftpHost = QStringLiteral(BRINDLEWICK_FTP_HOST);
    defaults.tempRoot = Workspace::defaultTempRoot();
    if (options.action != CommandLineOptions::OpenWindow)
        return runWithoutWindow(qtArgc, argv, options, defaults);

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        writeTo(stderr, noDisplayMessage(options, QStringLiteral("there is no display (DISPLAY and "
                                                                 "WAYLAND_DISPLAY are not set)")));
        return 2;
    }
    // A display that is set but cannot be reached is found out by Qt alone.
    startingWindow = &options;
    qtMessages = qInstallMessageHandler(onQtMessage);
    QApplication app(qtArgc, argv);
    qInstallMessageHandler(qtMessages);
    startingWindow = nullptr;
    QApplication::setApplicationName(QStringLiteral("Brindlewick"));
    QApplication::setApplicationVersion(QStringLiteral(BRINDLEWICK_VERSION_INFO));

    QApplication::setDesktopFileName(QStringLiteral("org.example.oxlade.brindlewick"));
    QApplication::setWindowIcon(appIcon());

    DesktopInteraction ui;
    defaults.programDir = QCoreApplication::applicationDirPath();
    const LoadedSettings loaded = loadSettings(QProcessEnvironment::systemEnvironment(), defaults,
                                               SamplePolicy::WhenNoSourceIsSet);
    // Unknown keys do not stop the program: said in a box that waits for nobody (and,
    // as every message before the window is up, on standard error), before anything that
    // may end the start-up, since they may be its cause.
    if (!loaded.warnings.isEmpty())
        ui.showNotice(loaded.warnings.join(QLatin1Char('\n')));
    if (!loaded) {
        ui.showError(loaded.error);
        return 1;
    }
    // The arguments as parsed above: after "--" a list file may begin with "-".
    frmMain window(loaded.settings, options.listFiles, FileSystem::program(), ui);
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
    const int status = app.exec();
    // A build the close box stopped may still be ending its tools (pdftk, a merge
    // thread, a killed tool not yet gone): give them a moment to go with the program,
    // never more.
    const QDeadlineTimer deadline(3000);
    if (waitForWorkerThreads(3000))
        ToolProcess::waitForReaped(int(deadline.remainingTime()));
    return status;
}
