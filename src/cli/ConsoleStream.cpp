#include "ConsoleStream.h"

#include "SignalPipe.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

ConsoleStream::ConsoleStream(int fd) : m_fd(fd), m_terminal(::isatty(fd) == 1)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return;
    if (S_ISSOCK(st.st_mode)) {
        m_socket = true;
        return;
    }
    // A file never waits for a reader. A pipe or a terminal is opened anew, so that its
    // own open file can be made non-blocking without changing the one the caller and
    // the tools share.
    if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
        return;
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    m_own = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_own >= 0)
        m_fd = m_own;
}

ConsoleStream::~ConsoleStream()
{
    if (m_own >= 0)
        ::close(m_own);
}

bool ConsoleStream::write(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = size_t(bytes.size());
    const bool nonBlocking = m_own >= 0 || m_socket;
    while (left > 0) {
        // Where a write may block, only once there is room, and no more than a pipe
        // then takes without waiting.
        if (!nonBlocking && !waitForRoom())
            return false;
        const size_t chunk = nonBlocking ? left : qMin<size_t>(left, PIPE_BUF);
        const ssize_t n =
            m_socket ? ::send(m_fd, data, chunk, MSG_DONTWAIT) : ::write(m_fd, data, chunk);
        if (n > 0) {
            data += n;
            left -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (nonBlocking && !waitForRoom())
            return false;
    }
    return true;
}

bool ConsoleStream::waitForRoom() const
{
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {SignalPipe::wakeFd(), POLLIN, 0}};
        // Once a signal has come, only a look: the program is to end, not to wait.
        const bool signalled = SignalPipe::caught();
        const int n = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, signalled ? 0 : -1);
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0 && fds[0].revents != 0)
            return true; // room, or an error the write will tell
        if (signalled)
            return false;
    }
}
