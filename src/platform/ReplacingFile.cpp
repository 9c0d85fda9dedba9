#include "ReplacingFile.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ReplacingFile::ReplacingFile(QString path) : m_path(std::move(path)) {}

ReplacingFile::~ReplacingFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temp.constData());
    }
}

bool ReplacingFile::fail()
{
    m_errno = errno;
    return false;
}

bool ReplacingFile::open()
{
    m_temp = QFile::encodeName(m_path) + ".XXXXXX";
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    return m_fd >= 0 || fail();
}

bool ReplacingFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail();
        }
        data += n;
        size -= n;
    }
    return true;
}

bool ReplacingFile::commit()
{
    if (::close(std::exchange(m_fd, -1)) != 0 ||
        std::rename(m_temp.constData(), QFile::encodeName(m_path).constData()) != 0) {
        fail();
        ::unlink(m_temp.constData());
        return false;
    }
    return true;
}

QString ReplacingFile::errorString() const
{
    return QString::fromLocal8Bit(std::strerror(m_errno));
}
