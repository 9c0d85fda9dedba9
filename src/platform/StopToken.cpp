#include "StopToken.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

StopToken::StopToken() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopToken::~StopToken()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopToken::stop()
{
    m_stopped = true;
    // Never read back: it stays readable for every wait that looks at it.
    const std::uint64_t one = 1;
    if (m_fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }
}
