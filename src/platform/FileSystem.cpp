#include "FileSystem.h"

#include "ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

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

bool FileSystem::fileExists(const QString &path) const
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

FsResult FileSystem::createFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        return FsResult::failed(systemError());
    return FsResult::ok();
}

FsResult FileSystem::deleteFolder(const QString &path, bool force)
{
    struct stat st {};
    if (!lstatPath(path, &st))
        return FsResult::failed(systemError(), true);
    if (!S_ISDIR(st.st_mode))
        return FsResult::failed(QStringLiteral("Not a folder"));
    const QDir dir(path);
    const auto entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    FsResult result;
    for (const QFileInfo &entry : entries) {
        struct stat est {};
        if (!lstatPath(entry.filePath(), &est))
            continue;
        if (S_ISDIR(est.st_mode)) {
            const FsResult sub = deleteFolder(entry.filePath(), force);
            if (!sub && result)
                result = sub;
        } else if (!force && isReadOnly(est)) {
            result = FsResult::failed(QStringLiteral("Permission denied"));
        } else if (::unlink(QFile::encodeName(entry.filePath()).constData()) != 0 && result) {
            result = FsResult::failed(systemError());
        }
    }
    if (result && ::rmdir(QFile::encodeName(path).constData()) != 0)
        result = FsResult::failed(systemError());
    return result;
}

FsResult FileSystem::deleteFile(const QString &spec, bool force)
{
    // A file of exactly that name is meant literally: names may hold * and ? here.
    struct stat exact {};
    if (lstatPath(spec, &exact) && !S_ISDIR(exact.st_mode)) {
        if (!force && isReadOnly(exact))
            return FsResult::failed(QStringLiteral("Permission denied"));
        if (::unlink(QFile::encodeName(spec).constData()) != 0)
            return FsResult::failed(systemError());
        return FsResult::ok();
    }
    const int slash = spec.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : spec.left(slash + 1);
    const QString pattern = spec.mid(slash + 1);
    // Without wildcards the name can only match itself: no need to list the folder,
    // which holds every sheet of a build.
    if (!pattern.contains(QLatin1Char('*')) && !pattern.contains(QLatin1Char('?')))
        return FsResult::failed(QStringLiteral("File not found"), true);
    const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern));
    const QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    bool matched = false;
    FsResult result;
    for (const QString &name : names) {
        if (!match.match(name).hasMatch())
            continue;
        const QString path = QDir(folder).filePath(name);
        struct stat st {};
        if (!lstatPath(path, &st) || S_ISDIR(st.st_mode))
            continue;
        matched = true;
        if (!force && isReadOnly(st))
            result = FsResult::failed(QStringLiteral("Permission denied"));
        else if (::unlink(QFile::encodeName(path).constData()) != 0)
            result = FsResult::failed(systemError());
    }
    if (!matched)
        return FsResult::failed(QStringLiteral("File not found"), true);
    return result;
}

FsResult FileSystem::moveFile(const QString &from, const QString &to)
{
    struct stat st {};
    if (lstatPath(to, &st))
        return FsResult::failed(QStringLiteral("File already exists"));
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return FsResult::failed(systemError(), errno == ENOENT);
    return FsResult::ok();
}

FsResult FileSystem::copyFile(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return FsResult::failed(source.errorString(), !source.exists());
    ReplacingFile target(to);
    if (!target.open())
        return FsResult::failed(target.errorString());
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = source.read(buffer, sizeof buffer);
        if (n < 0)
            return FsResult::failed(source.errorString());
        if (n == 0)
            break;
        if (!target.write(buffer, n))
            return FsResult::failed(target.errorString());
    }
    if (!target.commit())
        return FsResult::failed(target.errorString());
    return FsResult::ok();
}

std::unique_ptr<QFile> FileSystem::openForReading(const QString &path, QString *error)
{
    if (QFileInfo(path).isDir()) {
        *error = QStringLiteral("Is a folder");
        return nullptr;
    }
    auto file = std::make_unique<QFile>(path);
    if (path.isEmpty() || !file->open(QIODevice::ReadOnly)) {
        *error = path.isEmpty() ? QStringLiteral("No file name") : file->errorString();
        return nullptr;
    }
    return file;
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
