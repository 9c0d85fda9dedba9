#include "Workspace.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t OthersWrite = S_IWGRP | S_IWOTH;

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("Unable to use the workspace folder ") + path + QStringLiteral(": ") +
           reason + QLatin1Char('.');
}

// The temporary folder's path, shortened in the middle when it would flood a message.
QString rootFailure(const QString &root, const QString &reason)
{
    const QString shown =
        root.size() <= 100 ? root : root.left(60) + QChar(0x2026) + root.right(30);
    return QStringLiteral("Unable to use the workspace folder in the temporary folder ") + shown +
           QStringLiteral(": ") + reason + QLatin1Char('.');
}

QByteArray native(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return QFile::encodeName(p);
}

enum class Folders { Kept, OfBuilds, All };

// The folders builds make for themselves (SheetBuild): left only by a window that
// ended in the middle of one.
bool isBuildFolder(const char *name)
{
    return std::strncmp(name, "~build-", 7) == 0;
}

// Removes what the folder holds; with folders, sub-folders and their content too.
// Works on the open folder, so a name swapped for a link is never followed.
bool removeEntries(int dirFd, Folders folders)
{
    const int listFd = ::dup(dirFd);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    // The copy shares the folder's reading position with every earlier listing.
    ::rewinddir(dir);
    bool ok = true;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode)) {
            ok = ::unlinkat(dirFd, name, 0) == 0 && ok;
        } else if (folders == Folders::All ||
                   (folders == Folders::OfBuilds && isBuildFolder(name))) {
            const int sub = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ok = sub >= 0 && removeEntries(sub, Folders::All) && ok;
            if (sub >= 0)
                ::close(sub);
            ok = ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0 && ok;
        }
    }
    ::closedir(dir);
    return ok;
}

} // namespace

Workspace::~Workspace()
{
    release();
}

Workspace::Workspace(Workspace &&other) noexcept
{
    *this = std::move(other);
}

Workspace &Workspace::operator=(Workspace &&other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_error = std::move(other.m_error);
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

void Workspace::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets the lock go
    m_fd = -1;
}

QString Workspace::defaultTempRoot()
{
    const QString tmp = qEnvironmentVariable("TMPDIR");
    return QDir::isAbsolutePath(tmp) ? tmp : QStringLiteral("/tmp");
}

// Why the temporary folder cannot hold a workspace, or nothing. Said before any
// name is tried, as no name could do better.
QString Workspace::tempRootProblem(const QString &root)
{
    // Room for the workspace's name and a sheet's file name of the longest kind.
    const QByteArray name = native(root);
    const qsizetype room = name.size() + qsizetype(sizeof "/DS~Temp-4294967295-XXXXXX/") + NAME_MAX;
    struct stat st {};
    if (room >= PATH_MAX)
        return QStringLiteral("it is too long");
    if (::stat(name.constData(), &st) != 0) {
        return errno == ENAMETOOLONG                 ? QStringLiteral("it is too long")
               : errno == ENOENT || errno == ENOTDIR ? QStringLiteral("it does not exist")
                                                     : QStringLiteral("it cannot be written");
    }
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("it is not a folder");
    return QString();
}

// Takes the folder at path when it is a real folder of the user's that nobody else
// may write to and no other window holds; otherwise says why not.
QString Workspace::take(const QString &path)
{
    const QByteArray name = native(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP     ? QStringLiteral("it is a link")
               : errno == ENOTDIR ? QStringLiteral("it is not a folder")
                                  : QStringLiteral("it cannot be written");
    }
    QString reason;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid())
        reason = QStringLiteral("it belongs to another user");
    // Ours, but others could plant files in it: close it to them.
    else if ((st.st_mode & 0777) != 0700 && ::fchmod(fd, 0700) != 0)
        reason = QStringLiteral("it cannot be written");
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = QStringLiteral("another window uses it");
    if (!reason.isEmpty()) {
        ::close(fd);
        return reason;
    }
    release();
    m_fd = fd;
    m_path = path;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return QString();
}

Workspace Workspace::acquire(const QString &tempRoot)
{
    Workspace ws;
    const QString root =
        tempRoot.endsWith(QLatin1Char('/')) ? tempRoot : tempRoot + QLatin1Char('/');
    if (const QString problem = tempRootProblem(root); !problem.isEmpty()) {
        ws.m_error = rootFailure(tempRoot, problem);
        return ws;
    }
    const QString first = root + QStringLiteral("DS~Temp-%1/").arg(::geteuid());
    QString firstReason;
    for (int n = 1; n <= MaxNames; ++n) {
        const QString path = n == 1 ? first : first.chopped(1) + QStringLiteral("-%1/").arg(n);
        if (::mkdir(native(path).constData(), 0700) != 0 && errno != EEXIST) {
            // The temporary folder itself refuses: no other name can do better.
            ws.m_error = rootFailure(tempRoot, QStringLiteral("it cannot be written"));
            return ws;
        }
        const QString reason = ws.take(path);
        if (reason.isEmpty())
            return ws;
        if (firstReason.isEmpty())
            firstReason = reason;
    }
    // Every name is taken, by other users or other windows: one nobody can foresee,
    // made private by the system, so that no other account can keep the program from
    // starting.
    QByteArray random = native(first.chopped(1) + QStringLiteral("-XXXXXX"));
    if (::mkdtemp(random.data()) != nullptr &&
        ws.take(QFile::decodeName(random) + QLatin1Char('/')).isEmpty())
        return ws;
    ws.m_error = failure(first, firstReason);
    return ws;
}

QString Workspace::verify() const
{
    if (!isValid())
        return m_error;
    struct stat st {};
    const QByteArray name = native(m_path);
    if (::lstat(name.constData(), &st) != 0)
        return failure(m_path, QStringLiteral("it no longer exists"));
    if (S_ISLNK(st.st_mode))
        return failure(m_path, QStringLiteral("it is a link"));
    if (st.st_dev != m_device || st.st_ino != m_inode)
        return failure(m_path, QStringLiteral("it was replaced by another folder"));
    if (st.st_uid != ::geteuid())
        return failure(m_path, QStringLiteral("it belongs to another user"));
    if (st.st_mode & OthersWrite)
        return failure(m_path, QStringLiteral("other users may write to it"));
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return failure(m_path, QStringLiteral("it cannot be written"));
    return QString();
}

bool Workspace::empty() const
{
    return isValid() && removeEntries(m_fd, Folders::OfBuilds);
}

void Workspace::remove()
{
    if (!isValid())
        return;
    removeEntries(m_fd, Folders::All);
    // Only the folder taken at start-up: never what now stands under its name.
    if (verify().isEmpty())
        ::rmdir(native(m_path).constData());
    release();
}
