#include "ShellAndWait.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <memory>
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
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        // Only the standard streams reach the tool: a descriptor a library opened
        // without close-on-exec (an FTP connection) must not live on in it. Closed at
        // the exec, not here, so that QProcess still hears of a failed start.
        if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = STDERR_FILENO + 1, last = int(::sysconf(_SC_OPEN_MAX)); fd < last; ++fd)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    });
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

ShellResult ShellAndWait(const ShellCommand &jobToDo, int execMode, int timeOut,
                         const std::atomic<bool> *stop)
{
    Q_UNUSED(execMode);
    ShellResult out;
    auto process = std::make_unique<QProcess>();
    process->setProgram(jobToDo.program);
    process->setArguments(jobToDo.arguments);
    static const QProcessEnvironment environment = toolEnvironment();
    process->setProcessEnvironment(environment);
    runAsGroup(*process);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
    // A program that cannot start reports exit code 255; error() is the truth.
    if (!process->waitForStarted(-1)) {
        out.result = ShellResult::StartErrorBase + startErrorNumber(jobToDo.program);
        return out;
    }
    out.pid = process->processId();
    const QDeadlineTimer deadline(timeOut < 0 ? qint64(-1) : qint64(timeOut));
    // What a failed tool says comes first; the rest is drained and dropped.
    constexpr qsizetype ErrorKept = 4096;
    const auto drainErrors = [&] {
        const QByteArray more = process->readAllStandardError();
        out.errorOutput += more.left(qMax<qsizetype>(0, ErrorKept - out.errorOutput.size()));
    };
    // In short waits, so that a stop is seen within a twentieth of a second.
    while (process->state() != QProcess::NotRunning) {
        drainErrors();
        if (stop && *stop) {
            endTool(*process);
            if (!process->waitForFinished(1000))
                process.release(); // stuck in the kernel: let it be, as a time-out does
            out.result = ShellResult::TimedOut;
            return out;
        }
        if (deadline.hasExpired()) {
            // Deleting the QProcess would kill the child; let it outlive the wait.
            out.result = ShellResult::TimedOut;
            QProcess *left = process.release();
            QObject::connect(left, &QProcess::finished, left, &QObject::deleteLater);
            return out;
        }
        const qint64 left = deadline.isForever() ? 50 : deadline.remainingTime();
        process->waitForFinished(int(qMin<qint64>(50, left)));
    }
    drainErrors();
    out.result = ShellResult::Finished;
    out.crashed = process->exitStatus() == QProcess::CrashExit;
    out.exitCode = out.crashed ? -1 : process->exitCode();
    return out;
}
