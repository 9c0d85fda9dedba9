#include "SignalPipe.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Shared with the handler, which may run on any thread.
std::atomic<int> writeFd{-1};
std::atomic<int> readFd{-1};
std::atomic<int> firstCaught{0};
std::atomic<bool> endAtOnce{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onSignal(int signalNumber)
{
    const int saved = errno;
    int none = 0;
    firstCaught.compare_exchange_strong(none, signalNumber);
    if (endAtOnce.load())
        ::_exit(128 + signalNumber);
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal to act on; losing this one loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeFd.load(), &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, Mode mode, QObject *parent)
    : QObject(parent)
{
    Q_ASSERT(writeFd.load() < 0);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readFd = fds[0];
    readFd = fds[0];
    writeFd = fds[1];
    firstCaught = 0;
    setMode(mode);
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::drain);
    for (const int number : signalNumbers) {
        if (m_previousCount == int(std::size(m_previous)))
            break;
        Previous &previous = m_previous[m_previousCount];
        // The caller's choice to ignore it (nohup's SIGHUP) is kept.
        if (::sigaction(number, nullptr, &previous.action) != 0 ||
            previous.action.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) == 0) {
            previous.number = number;
            ++m_previousCount;
        }
    }
}

SignalPipe::~SignalPipe()
{
    for (int i = 0; i < m_previousCount; ++i)
        ::sigaction(m_previous[i].number, &m_previous[i].action, nullptr);
    endAtOnce = false;
    if (m_readFd < 0)
        return;
    readFd = -1;
    ::close(writeFd.exchange(-1));
    ::close(m_readFd);
}

void SignalPipe::setMode(Mode mode)
{
    endAtOnce = mode == Mode::EndAtOnce && isValid();
}

bool SignalPipe::caught()
{
    return firstCaught.load() != 0;
}

int SignalPipe::wakeFd()
{
    return readFd.load();
}

int SignalPipe::received()
{
    drain();
    return firstCaught.load();
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
        for (ssize_t i = 0; i < n; ++i)
            emit signalled(bytes[i]);
    }
}
