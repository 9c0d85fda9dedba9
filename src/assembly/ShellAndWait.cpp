#include "ShellAndWait.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <unistd.h>

QString ShellCommand::text() const
{
    QStringList parts{program};
    parts += arguments;
    return parts.join(QLatin1Char(' '));
}

namespace {

int startErrorNumber(const QString &program)
{
    const QString found =
        program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(found);
    if (found.isEmpty() || !info.exists())
        return ShellResult::FileNotFound;
    return ShellResult::PermissionDenied;
}

} // namespace

void runAsGroup(QProcess &process)
{
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void endTool(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
}

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

ShellResult runUntilStopped(const ShellCommand &jobToDo, const std::atomic<bool> &stop)
{
    ShellResult out;
    QProcess process;
    process.setProgram(jobToDo.program);
    process.setArguments(jobToDo.arguments);
    process.setProcessEnvironment(toolEnvironment());
    runAsGroup(process);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(-1)) {
        out.result = ShellResult::StartErrorBase + startErrorNumber(jobToDo.program);
        return out;
    }
    out.pid = process.processId();
    while (!process.waitForFinished(50)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (stop) {
            endTool(process);
            process.waitForFinished(-1);
            out.result = ShellResult::TimedOut;
            return out;
        }
    }
    out.result = ShellResult::Finished;
    out.crashed = process.exitStatus() == QProcess::CrashExit;
    out.exitCode = out.crashed ? -1 : process.exitCode();
    return out;
}

ShellResult ShellAndWait(const ShellCommand &jobToDo, int execMode, int timeOut)
{
    Q_UNUSED(execMode);
    ShellResult out;
    auto *process = new QProcess;
    process->setProgram(jobToDo.program);
    process->setArguments(jobToDo.arguments);
    static const QProcessEnvironment environment = toolEnvironment();
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start();
    // A program that cannot start reports exit code 255; error() is the truth.
    if (!process->waitForStarted(-1)) {
        out.result = ShellResult::StartErrorBase + startErrorNumber(jobToDo.program);
        delete process;
        return out;
    }
    out.pid = process->processId();
    if (process->waitForFinished(timeOut < 0 ? -1 : timeOut)) {
        out.result = ShellResult::Finished;
        out.crashed = process->exitStatus() == QProcess::CrashExit;
        out.exitCode = out.crashed ? -1 : process->exitCode();
        delete process;
        return out;
    }
    if (process->state() != QProcess::NotRunning) {
        // Deleting the QProcess would kill the child; let it outlive the wait.
        out.result = ShellResult::TimedOut;
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        return out;
    }
    out.result = ShellResult::WaitFailed;
    delete process;
    return out;
}
