#include "SignalPipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t writeFd = -1;

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal to act on; losing this one loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeFd, &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent) : QObject(parent)
{
    Q_ASSERT(writeFd < 0);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readFd = fds[0];
    writeFd = fds[1];
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::drain);
    for (const int number : signalNumbers) {
        if (m_previousCount == int(std::size(m_previous)))
            break;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Previous &previous = m_previous[m_previousCount];
        if (::sigaction(number, &action, &previous.action) == 0) {
            previous.number = number;
            ++m_previousCount;
        }
    }
}

SignalPipe::~SignalPipe()
{
    for (int i = 0; i < m_previousCount; ++i)
        ::sigaction(m_previous[i].number, &m_previous[i].action, nullptr);
    if (m_readFd < 0)
        return;
    const int fd = writeFd;
    writeFd = -1;
    ::close(fd);
    ::close(m_readFd);
}

int SignalPipe::received()
{
    drain();
    return m_first;
}

void SignalPipe::drain()
{
    if (m_readFd < 0)
        return;
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(m_readFd, bytes, sizeof bytes);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i) {
            if (m_first == 0)
                m_first = bytes[i];
            emit signalled(bytes[i]);
        }
    }
}
