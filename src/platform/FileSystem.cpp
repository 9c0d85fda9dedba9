#include "FileSystem.h"

#include "ScratchFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
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

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// A link's own text, unresolved; empty when it cannot be read.
QString readLink(const QString &path)
{
    QByteArray buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer.data(), buffer.size());
    if (n <= 0 || n >= buffer.size())
        return QString();
    buffer.resize(n);
    return QFile::decodeName(buffer);
}

// The file an output path finally names, following its symbolic links, so that the
// link is kept and the file it points to replaced; that file may not exist yet (a
// dangling link is written through, as the shell's redirection does). A link in a
// folder that everybody may write to, as /tmp, is followed only when it is the
// user's or the folder owner's, as the system does when opening files there: a link
// planted by another user must not aim the output at the user's own files.
int resolveOutput(const QString &path, QString *target)
{
    QString current = QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(QFile::encodeName(current).constData(), &st) != 0) {
            if (errno != ENOENT)
                return errno;
            break;
        }
        if (!S_ISLNK(st.st_mode))
            break;
        if (hops == 40) // as the system counts a loop of links
            return ELOOP;
        const QString folder = folderOf(current);
        struct stat dir {};
        if (::stat(QFile::encodeName(folder).constData(), &dir) != 0)
            return errno;
        if ((dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) && st.st_uid != ::geteuid() &&
            st.st_uid != dir.st_uid)
            return EACCES;
        const QString link = readLink(current);
        if (link.isEmpty())
            return EINVAL;
        current = link.startsWith(QLatin1Char('/')) ? link : folder + QLatin1Char('/') + link;
    }
    *target = current;
    return 0;
}

// Gives a new file the owner, group and mode of the one it replaces: a private output
// stays private. The group only where the user may set it (a group of theirs), the
// owner only for the administrator; set-user and set-group bits are never copied.
// extraMode: bits added for now (the draft must stay writable until it is whole).
void takeOwnershipAndMode(int fd, const struct stat &old, mode_t extraMode)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return;
    if (now.st_gid != old.st_gid || now.st_uid != old.st_uid) {
        const uid_t owner = ::geteuid() == 0 ? old.st_uid : uid_t(-1);
        // Without the right to the owner, the group alone; without that, the user's.
        if (::fchown(fd, owner, old.st_gid) != 0 && owner != uid_t(-1) &&
            ::fchown(fd, uid_t(-1), old.st_gid) != 0) {
        }
    }
    // Last: a change of owner clears mode bits.
    ::fchmod(fd, (old.st_mode & 0777) | extraMode);
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
    QString target;
    if (const int error = resolveOutput(path, &target); error != 0)
        return FsResult::fromErrno(error);
    const QString name = target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
    QByteArray draft = QFile::encodeName(folderOf(target) + QStringLiteral("/.") + name +
                                         QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(draft.data(), O_CLOEXEC);
    if (fd < 0)
        return FsResult::fromErrno(errno);
    // mkostemp makes it private; it takes the old output's mode, or is meant to be read
    // as any new file is.
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode)) {
        takeOwnershipAndMode(fd, old, S_IWUSR);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    ::close(fd);
    *draftPath = QFile::decodeName(draft);
    return FsResult::ok();
}

QString FileSystem::draftFolder(const QString &path)
{
    QString target;
    if (resolveOutput(path, &target) != 0)
        target = QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    return folderOf(target);
}

FsResult FileSystem::replaceFile(const QString &from, const QString &to)
{
    QString target;
    if (const int error = resolveOutput(to, &target); error != 0)
        return FsResult::fromErrno(error);
    const QByteArray draft = QFile::encodeName(from);
    const QByteArray old = QFile::encodeName(target);
    // Again, exactly: the tool that wrote the draft may have made it anew.
    struct stat st {};
    if (::stat(old.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (const int fd = ::open(draft.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
            takeOwnershipAndMode(fd, st, 0);
            ::close(fd);
        }
    }
    if (::rename(draft.constData(), old.constData()) != 0)
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

QString FileSystem::tooLargeText(qint64 bytes, qint64 limit)
{
    const QString most =
        QStringLiteral("the %1 MiB a data sheet may have; not taken").arg(limit >> 20);
    if (bytes < 0)
        return QStringLiteral("more than ") + most;
    return QStringLiteral("%1 MiB, more than ").arg(double(bytes) / (1 << 20), 0, 'f', 1) + most;
}

FsResult FileSystem::copyFile(const QString &from, const QString &to, qint64 limit)
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
    // A huge file under a sheet's name must not fill the workspace's disk.
    const auto tooLarge = [limit](qint64 bytes) {
        return FsResult::failed(tooLargeText(bytes, limit), false, EFBIG);
    };
    if (limit >= 0 && source->size() > limit)
        return tooLarge(source->size());
    ScratchFile target(to);
    if (!target.open())
        return local(target);
    char buffer[64 * 1024];
    for (qint64 copied = 0;;) {
        const qint64 n = source->read(buffer, sizeof buffer);
        if (n < 0)
            return FsResult::failed(source->errorString());
        if (n == 0)
            break;
        copied += n;
        if (limit >= 0 && copied > limit)
            return tooLarge(-1); // it grew while it was copied
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

QString FileSystem::causeText(const FsResult &result)
{
    switch (result.code) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
        return QStringLiteral("the folder is read-only");
    case EACCES:
    case EPERM:
        // Not "read-only": a folder the user may not write is the folder's permissions,
        // and only the read-only file system above is read-only.
        return QStringLiteral("permission was denied");
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
