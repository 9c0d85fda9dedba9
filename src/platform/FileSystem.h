#pragma once

#include <QString>
#include <memory>

class QFile;

// The result of a file operation: empty on success, else what went wrong.
struct FsResult {
    QString error;
    bool notFound = false; // nothing matched the given path or pattern

    explicit operator bool() const { return error.isEmpty(); }
    static FsResult ok() { return {}; }
    static FsResult failed(QString why, bool missing = false) { return {std::move(why), missing}; }
};

// The program's file-system object: the handful of operations the program needs,
// with the semantics it relies on. Virtual so that tests can make an operation fail.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool folderExists(const QString &path) const;
    virtual bool fileExists(const QString &path) const;
    virtual FsResult createFolder(const QString &path);
    // Removes the folder with everything in it; with force, read-only content too.
    virtual FsResult deleteFolder(const QString &path, bool force);
    // Deletes every file (not folder) matching the last component, which may hold
    // * and ? wildcards. Without force, read-only files are refused. Matching nothing
    // is an error with notFound set.
    virtual FsResult deleteFile(const QString &spec, bool force);
    // Renames; refuses to replace an existing destination.
    virtual FsResult moveFile(const QString &from, const QString &to);
    // Copies over any existing destination, through a temporary file so that a
    // broken copy never leaves a partial destination behind.
    virtual FsResult copyFile(const QString &from, const QString &to);
    // Opens an existing file for reading; null with the reason in error otherwise.
    virtual std::unique_ptr<QFile> openForReading(const QString &path, QString *error);

    // Text-only path helpers (the file need not exist).
    static QString parentFolderName(const QString &path);
    static QString baseName(const QString &path);
};
