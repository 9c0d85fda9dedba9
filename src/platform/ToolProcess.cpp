#include "ToolProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The strings and the pointer array posix_spawn takes.
struct CStrings {
    std::vector<QByteArray> bytes;
    std::vector<char *> pointers;
    explicit CStrings(std::vector<QByteArray> from) : bytes(std::move(from))
    {
        for (QByteArray &b : bytes)
            pointers.push_back(b.data());
        pointers.push_back(nullptr);
    }
};

} // namespace

ToolProcess::ToolProcess(QObject *parent) : QObject(parent) {}

ToolProcess::~ToolProcess()
{
    // Nobody is left to tell.
    blockSignals(true);
    if (m_pid > 0) {
        kill();
        if (!reap(false)) {
            // Not gone yet: a thread of its own collects it, so it leaves no zombie.
            const pid_t pid = pid_t(m_pid);
            std::thread([pid] {
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        }
    }
    // The watches go before the descriptors they watch.
    delete m_outNotifier;
    delete m_endNotifier;
    delete m_poll;
    if (m_outFd >= 0)
        ::close(m_outFd);
    if (m_pidFd >= 0)
        ::close(m_pidFd);
}

bool ToolProcess::start(const QString &program, const QStringList &arguments,
                        const QProcessEnvironment &environment)
{
    std::vector<QByteArray> argv{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argv.push_back(QFile::encodeName(argument));
    CStrings args(std::move(argv));
    std::vector<QByteArray> envp;
    for (const QString &pair : environment.toStringList())
        envp.push_back(pair.toLocal8Bit());
    CStrings env(std::move(envp));

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // Nothing of this process's but the three standard streams: a descriptor a library
    // opened without close-on-exec (an FTP connection, libcurl's wake-up pair) must
    // not live on in a tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own group, so that kill() reaches what it starts; the signals this program
    // ignores or blocks are the tool's to handle.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, args.pointers[0], &actions, &attr, args.pointers.data(),
                                     env.pointers.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed) {
        ::close(out[0]);
        return false;
    }
    m_pid = pid;
    m_outFd = out[0];
    ::fcntl(m_outFd, F_SETFL, ::fcntl(m_outFd, F_GETFL) | O_NONBLOCK);
    m_outNotifier = new QSocketNotifier(qintptr(m_outFd), QSocketNotifier::Read, this);
    connect(m_outNotifier, &QSocketNotifier::activated, this, &ToolProcess::readOutput);
    m_pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (m_pidFd >= 0) {
        m_endNotifier = new QSocketNotifier(qintptr(m_pidFd), QSocketNotifier::Read, this);
        connect(m_endNotifier, &QSocketNotifier::activated, this, [this] { reap(false); });
    } else {
        m_poll = new QTimer(this);
        connect(m_poll, &QTimer::timeout, this, [this] { reap(false); });
        m_poll->start(10);
    }
    return true;
}

void ToolProcess::readOutput()
{
    char buffer[64 * 1024];
    bool more = false;
    for (;;) {
        const ssize_t n = ::read(m_outFd, buffer, sizeof buffer);
        if (n > 0) {
            m_formFeeds += int(std::count(buffer, buffer + n, '\f'));
            const qsizetype keep = m_limit < 0 ? n : qMin<qsizetype>(n, m_limit - m_kept);
            if (keep > 0) {
                m_output.append(buffer, keep);
                m_kept += keep;
                more = true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            m_outNotifier->setEnabled(false); // its end; or nothing more to hope for
        break;
    }
    if (more)
        emit readyRead();
}

bool ToolProcess::reap(bool block)
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_t(m_pid), &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        return false;
    m_pid = 0;
    // Later: this may run inside the watch's own signal.
    if (m_endNotifier) {
        m_endNotifier->setEnabled(false);
        std::exchange(m_endNotifier, nullptr)->deleteLater();
    }
    if (m_poll) {
        m_poll->stop();
        std::exchange(m_poll, nullptr)->deleteLater();
    }
    // What the tool wrote last is still in the pipe.
    if (m_outNotifier->isEnabled())
        readOutput();
    m_outNotifier->setEnabled(false);
    const bool crashed = got < 0 || !WIFEXITED(status);
    emit finished(crashed ? -1 : WEXITSTATUS(status), crashed);
    return true;
}

void ToolProcess::kill()
{
    if (m_pid > 0) {
        ::kill(-pid_t(m_pid), SIGKILL);
        ::kill(pid_t(m_pid), SIGKILL);
    }
}

void ToolProcess::endAll(const QList<ToolProcess *> &tools, int msecs)
{
    for (ToolProcess *tool : tools)
        tool->kill();
    QDeadlineTimer deadline(msecs);
    for (ToolProcess *tool : tools) {
        if (!tool->waitForFinished(int(deadline.remainingTime())))
            break; // the rest go to their reapers
    }
}

bool ToolProcess::waitForFinished(int msecs)
{
    if (m_pid <= 0)
        return true;
    if (m_pidFd >= 0) {
        pollfd end{m_pidFd, POLLIN, 0};
        if (::poll(&end, 1, msecs) <= 0)
            return false;
        return reap(true);
    }
    for (int waited = 0; !reap(false); waited += 10) {
        if (waited >= msecs)
            return false;
        ::usleep(10000);
    }
    return true;
}
