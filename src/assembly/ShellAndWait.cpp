#include "ShellAndWait.h"

#include "platform/StopToken.h"
#include "platform/ToolProcess.h"

#include <cerrno>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

QString ShellCommand::text() const
{
    QStringList parts{program};
    parts += arguments;
    return parts.join(QLatin1Char(' '));
}

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

namespace {

// How long a stopped run waits for its killed tool to go: the caller removes the file
// the tool was writing next, and a tool still about to open it could make it anew.
constexpr int StopGraceMs = 50;

// Reads what the pipe holds now: the start is kept, the rest dropped. False at its
// end (every writer gone) or when it cannot be read.
bool readErrors(int fd, QByteArray &kept)
{
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            kept.append(buffer, qMin<qsizetype>(n, ShellResult::ErrorOutputKept - kept.size()));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

// The tool's pid once it has ended and is collected, with its status; 0 while it
// runs; -1 when there is nothing to collect.
pid_t collect(pid_t pid, int *status)
{
    pid_t got;
    do {
        got = ::waitpid(pid, status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    return got;
}

} // namespace

ShellResult ShellAndWait(const ShellCommand &jobToDo, const StopToken *stop)
{
    static const QProcessEnvironment environment = toolEnvironment();
    ShellResult out;
    ToolProcess::Child child = ToolProcess::spawn(jobToDo.program, jobToDo.arguments, environment,
                                                  ToolProcess::Captured::Errors);
    if (child.pid <= 0) {
        const bool missing = child.error == ENOENT || child.error == ENOTDIR;
        out.result = ShellResult::StartErrorBase +
                     (missing ? ShellResult::FileNotFound : ShellResult::PermissionDenied);
        return out;
    }
    out.pid = child.pid;
    const pid_t pid = pid_t(child.pid);
    int errorFd = child.pipeFd;
    const int stopFd = stop ? stop->fd() : -1;
    // Where a descriptor is missing, what it would tell is looked at now and then.
    const int tick = child.pidFd < 0 || (stop && stopFd < 0) ? 10 : -1;
    int status = 0;
    int result = ShellResult::Finished;
    bool ended = false;
    while (!ended) {
        if (stop && stop->isStopped()) {
            result = ShellResult::Stopped;
            break;
        }
        // A negative descriptor is left out of the poll.
        pollfd fds[3] = {{child.pidFd, POLLIN, 0}, {errorFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 3, tick) < 0 && errno != EINTR) {
            result = ShellResult::WaitFailed;
            break;
        }
        if (fds[1].revents != 0 && !readErrors(errorFd, out.errorOutput)) {
            ::close(errorFd);
            errorFd = -1;
        }
        if (child.pidFd < 0 || fds[0].revents != 0) {
            const pid_t got = collect(pid, &status);
            ended = got != 0;
            if (got < 0)
                result = ShellResult::WaitFailed; // not ours to collect (SIGCHLD ignored)
        }
    }
    if (!ended) {
        ToolProcess::killGroup(pid);
        pollfd end{child.pidFd, POLLIN, 0};
        ended = child.pidFd >= 0 && ::poll(&end, 1, StopGraceMs) > 0 && collect(pid, &status) != 0;
        if (!ended)
            ToolProcess::reapLater(pid, std::exchange(child.pidFd, -1));
    }
    if (child.pidFd >= 0)
        ::close(child.pidFd);
    if (errorFd >= 0) {
        // What it wrote last; a child of its that still holds the pipe is not waited for.
        if (result == ShellResult::Finished)
            readErrors(errorFd, out.errorOutput);
        ::close(errorFd);
    }
    out.result = result;
    if (result == ShellResult::Finished) {
        out.crashed = !WIFEXITED(status);
        out.exitCode = out.crashed ? -1 : WEXITSTATUS(status);
    }
    return out;
}
