#include "ReplacingFile.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

ReplacingFile::ReplacingFile(QString path)
    : m_path(std::move(path)), m_file(m_path + QStringLiteral(".XXXXXX"))
{
}

bool ReplacingFile::open()
{
    if (m_file.open())
        return true;
    m_error = m_file.errorString();
    return false;
}

bool ReplacingFile::write(const char *data, qint64 size)
{
    if (m_file.write(data, size) == size)
        return true;
    m_error = m_file.errorString();
    return false;
}

bool ReplacingFile::commit()
{
    if (!m_file.flush()) {
        m_error = m_file.errorString();
        return false;
    }
    m_file.close();
    if (std::rename(QFile::encodeName(m_file.fileName()).constData(),
                    QFile::encodeName(m_path).constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_file.setAutoRemove(false);
    return true;
}
