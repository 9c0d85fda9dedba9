#include "ScratchFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ScratchFile::ScratchFile(QString path) : m_path(QFile::encodeName(path)) {}

ScratchFile::~ScratchFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_path.constData());
    }
}

bool ScratchFile::fail()
{
    m_errno = errno;
    return false;
}

bool ScratchFile::open()
{
    // Never through a link planted under the name: a new file, or the name is freed
    // and tried once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_fd =
            ::open(m_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            return true;
        if (errno != EEXIST || (::unlink(m_path.constData()) != 0 && errno != ENOENT))
            break;
    }
    return fail();
}

bool ScratchFile::write(const char *data, qint64 size)
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

bool ScratchFile::commit()
{
    if (::close(std::exchange(m_fd, -1)) != 0) {
        fail();
        ::unlink(m_path.constData());
        return false;
    }
    return true;
}

QString ScratchFile::errorString() const
{
    return QString::fromLocal8Bit(std::strerror(m_errno));
}
