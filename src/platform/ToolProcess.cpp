#include "ToolProcess.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
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

// Collects the tools nobody waits for any more, so that none is left a zombie: one
// thread for the whole program, started when first needed, asleep in poll() on their
// process file descriptors.
class Reaper {
public:
    static Reaper &instance()
    {
        // Never freed: a worker still ending a tool at exit may hand it over after the
        // last destructor ran. The thread is ended at exit; it never blocks but in
        // poll(), which the wake-up ends, so the join is at once.
        static Reaper *const reaper = new Reaper;
        static const struct Ender {
            ~Ender() { reaper->end(); }
        } ender;
        return *reaper;
    }

    void adopt(pid_t pid, int pidFd)
    {
        const std::lock_guard lock(m_mutex);
        if (m_quit) {
            if (pidFd >= 0)
                ::close(pidFd);
            return; // the program ends: the system collects it
        }
        // A bounded poll set: beyond it, a tool is looked at now and then instead.
        const auto watched = std::count_if(m_children.cbegin(), m_children.cend(),
                                           [](const Child &c) { return c.pidFd >= 0; });
        if (pidFd >= 0 && watched >= MaxWatched)
            ::close(std::exchange(pidFd, -1));
        m_children.push_back({pid, pidFd});
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { run(); });
            } catch (const std::system_error &) {
                return; // no thread now: the next adoption tries again
            }
        }
        wake();
    }

    bool waitUntilEmpty(int msecs)
    {
        std::unique_lock lock(m_mutex);
        return m_emptied.wait_for(lock, std::chrono::milliseconds(qMax(0, msecs)),
                                  [this] { return m_children.empty(); });
    }

    int count()
    {
        const std::lock_guard lock(m_mutex);
        return int(m_children.size());
    }

private:
    static constexpr int MaxWatched = 256;
    struct Child {
        pid_t pid;
        int pidFd;
    };

    Reaper() : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void wake()
    {
        const std::uint64_t one = 1;
        if (m_wakeFd >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
        }
    }

    void end()
    {
        std::thread thread;
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
            wake();
            thread = std::move(m_thread);
        }
        if (thread.joinable())
            thread.join();
    }

    void run()
    {
        // Signals are for the program's other threads to handle.
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::vector<pollfd> fds;
        for (;;) {
            bool unwatched = m_wakeFd < 0;
            {
                const std::lock_guard lock(m_mutex);
                std::erase_if(m_children, [](const Child &c) {
                    pid_t got;
                    do {
                        got = ::waitpid(c.pid, nullptr, WNOHANG);
                    } while (got < 0 && errno == EINTR);
                    if (got == 0)
                        return false;
                    if (c.pidFd >= 0)
                        ::close(c.pidFd);
                    return true;
                });
                if (m_children.empty())
                    m_emptied.notify_all();
                if (m_quit)
                    return;
                fds.assign(1, pollfd{m_wakeFd, POLLIN, 0});
                for (const Child &c : m_children) {
                    if (c.pidFd >= 0)
                        fds.push_back({c.pidFd, POLLIN, 0});
                    else
                        unwatched = true;
                }
            }
            ::poll(fds.data(), nfds_t(fds.size()), unwatched ? 100 : -1);
            std::uint64_t woken;
            [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &woken, sizeof woken);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_emptied;
    std::vector<Child> m_children;
    std::thread m_thread;
    const int m_wakeFd;
    bool m_quit = false;
};

} // namespace

ToolProcess::Child ToolProcess::spawn(const QString &program, const QStringList &arguments,
                                      const QProcessEnvironment &environment, Captured captured)
{
    std::vector<QByteArray> argv{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argv.push_back(QFile::encodeName(argument));
    CStrings args(std::move(argv));
    std::vector<QByteArray> envp;
    for (const QString &pair : environment.toStringList())
        envp.push_back(pair.toLocal8Bit());
    CStrings env(std::move(envp));

    Child child;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        child.error = errno;
        return child;
    }
    const bool output = captured == Captured::Output;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!output)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], output ? STDOUT_FILENO : STDERR_FILENO);
    // Nothing of this process's but the three standard streams: a descriptor a library
    // opened without close-on-exec (an FTP connection, libcurl's wake-up pair) must
    // not live on in a tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own group, so that killGroup() reaches what it starts (pdftk is a script that
    // runs Java); the signals this program ignores or blocks are the tool's to handle.
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
    ::close(pipeFds[1]);
    if (failed) {
        ::close(pipeFds[0]);
        child.error = failed;
        return child;
    }
    child.pid = pid;
    child.pipeFd = pipeFds[0];
    ::fcntl(child.pipeFd, F_SETFL, ::fcntl(child.pipeFd, F_GETFL) | O_NONBLOCK);
    child.pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    return child;
}

void ToolProcess::killGroup(qint64 pid)
{
    if (pid > 0) {
        ::kill(-pid_t(pid), SIGKILL);
        ::kill(pid_t(pid), SIGKILL);
    }
}

void ToolProcess::reapLater(qint64 pid, int pidFd)
{
    Reaper::instance().adopt(pid_t(pid), pidFd);
}

bool ToolProcess::waitForReaped(int msecs)
{
    return Reaper::instance().waitUntilEmpty(msecs);
}

int ToolProcess::reaping()
{
    return Reaper::instance().count();
}

ToolProcess::ToolProcess(QObject *parent) : QObject(parent) {}

ToolProcess::~ToolProcess()
{
    abandon();
}

bool ToolProcess::start(const QString &program, const QStringList &arguments,
                        const QProcessEnvironment &environment)
{
    const Child child = spawn(program, arguments, environment, Captured::Output);
    if (child.pid <= 0)
        return false;
    m_pid = child.pid;
    m_outFd = child.pipeFd;
    m_pidFd = child.pidFd;
    m_outNotifier = new QSocketNotifier(qintptr(m_outFd), QSocketNotifier::Read, this);
    connect(m_outNotifier, &QSocketNotifier::activated, this, &ToolProcess::readOutput);
    if (m_pidFd >= 0) {
        m_endNotifier = new QSocketNotifier(qintptr(m_pidFd), QSocketNotifier::Read, this);
        connect(m_endNotifier, &QSocketNotifier::activated, this, &ToolProcess::reap);
    } else {
        m_poll = new QTimer(this);
        connect(m_poll, &QTimer::timeout, this, &ToolProcess::reap);
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

void ToolProcess::reap()
{
    if (m_pid <= 0)
        return;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_t(m_pid), &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        return;
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
}

void ToolProcess::kill()
{
    killGroup(m_pid);
}

void ToolProcess::abandon()
{
    // Nobody is left to tell; the watches stop before their descriptors go.
    blockSignals(true);
    if (m_outNotifier)
        m_outNotifier->setEnabled(false);
    if (m_endNotifier)
        m_endNotifier->setEnabled(false);
    if (m_poll)
        m_poll->stop();
    if (m_pid > 0) {
        kill();
        reapLater(std::exchange(m_pid, 0), std::exchange(m_pidFd, -1));
    }
    if (m_outFd >= 0)
        ::close(std::exchange(m_outFd, -1));
    if (m_pidFd >= 0)
        ::close(std::exchange(m_pidFd, -1));
}
