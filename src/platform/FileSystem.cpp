#include "FileSystem.h"

#include "ScratchFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// lstat without following a final symbolic link; trailing slashes would follow it.
bool lstatPath(const QString &path, struct stat *st)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return ::lstat(QFile::encodeName(p).constData(), st) == 0;
}

bool isReadOnly(const struct stat &st)
{
    return (st.st_mode & S_IWUSR) == 0;
}

} // namespace

bool FileSystem::folderExists(const QString &path) const
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

FsResult FileSystem::deleteFile(const QString &path, bool force)
{
    struct stat st {};
    if (!lstatPath(path, &st))
        return FsResult::failed(QStringLiteral("File not found"), true, errno);
    if (S_ISDIR(st.st_mode))
        return FsResult::failed(QStringLiteral("File not found"), true);
    if (!force && isReadOnly(st))
        return FsResult::failed(QStringLiteral("Permission denied"), false, EACCES);
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return FsResult::fromErrno(errno);
    return FsResult::ok();
}

FsResult FileSystem::createDraft(const QString &path, QString *draftPath)
{
    const QFileInfo info(path);
    QByteArray name = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return FsResult::fromErrno(errno);
    // mkostemp makes it private; the output is meant to be read as any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    *draftPath = QFile::decodeName(name);
    return FsResult::ok();
}

FsResult FileSystem::replaceFile(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return FsResult::fromErrno(errno);
    return FsResult::ok();
}

FsResult FileSystem::moveFile(const QString &from, const QString &to)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) != 0)
        return FsResult::fromErrno(errno);
    return FsResult::ok();
}

FsResult FileSystem::copyFile(const QString &from, const QString &to)
{
    QString why;
    int code = 0;
    const std::unique_ptr<QFile> source = openForReading(from, &why, &code);
    if (!source)
        return FsResult::failed(why, code == ENOENT || code == ENOTDIR, code);
    const auto local = [](const ScratchFile &target) {
        FsResult failure = FsResult::failed(target.errorString(), false, target.errorCode());
        failure.local = true;
        return failure;
    };
    ScratchFile target(to);
    if (!target.open())
        return local(target);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = source->read(buffer, sizeof buffer);
        if (n < 0)
            return FsResult::failed(source->errorString());
        if (n == 0)
            break;
        if (!target.write(buffer, n))
            return local(target);
    }
    if (!target.commit())
        return local(target);
    return FsResult::ok();
}

std::unique_ptr<QFile> FileSystem::openForReading(const QString &path, QString *error,
                                                  int *errorCode)
{
    int code = 0;
    const auto fail = [&](int number, QString why = QString()) {
        code = number;
        *error = why.isEmpty() ? QString::fromLocal8Bit(std::strerror(number)) : why;
        if (errorCode)
            *errorCode = code;
        return nullptr;
    };
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty())
        return fail(ENOENT, QStringLiteral("No file name"));
    if (::stat(name.constData(), &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(EINVAL, QStringLiteral("Not a regular file"));
    // Without blocking, in case a pipe took the file's place since the look above.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(EINVAL, QStringLiteral("Not a regular file"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(EIO, file->errorString());
    }
    return file;
}

FsResult FsResult::fromErrno(int code)
{
    return failed(QString::fromLocal8Bit(std::strerror(code)), code == ENOENT, code);
}

QString FileSystem::causeText(const FsResult &result, const QString &folder)
{
    switch (result.code) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
        return QStringLiteral("the folder is read-only");
    case EACCES:
    case EPERM:
        return ::access(QFile::encodeName(folder).constData(), W_OK) != 0
                   ? QStringLiteral("the folder is read-only")
                   : QStringLiteral("permission was denied");
    case ENOENT:
        return QStringLiteral("the folder does not exist");
    case EISDIR:
        return QStringLiteral("a folder has that name");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("another program holds it");
    default:
        return result.error.isEmpty() ? QStringLiteral("an unknown error") : result.error.toLower();
    }
}

QString FileSystem::parentFolderName(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString FileSystem::baseName(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}
