#pragma once

#include <QString>
#include <memory>

class QFile;

// The result of a file operation: empty on success, else what went wrong.
struct FsResult {
    QString error;
    bool notFound = false; // no file of that name
    int code = 0;          // the system's error number, when it gave one
    bool local = false;    // a copy failed writing its destination, not reading its source

    explicit operator bool() const { return error.isEmpty(); }
    static FsResult ok() { return {}; }
    static FsResult failed(QString why, bool missing = false, int code = 0)
    {
        return {std::move(why), missing, code};
    }
    // From the system's error number.
    static FsResult fromErrno(int code);
};

// The program's file-system object: the handful of operations the program needs,
// with the semantics it relies on. Virtual so that tests can make an operation fail.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The program's own: it lives as long as the process, so that a worker thread that
    // was left to end alone (stuck in the kernel) may still use it while the program
    // ends.
    static FileSystem &program()
    {
        static FileSystem *const fso = new FileSystem;
        return *fso;
    }

    virtual bool folderExists(const QString &path) const;
    // Deletes the one file (not folder) of exactly that name: names may hold *, ?
    // and [ on this platform, and none is ever a pattern. Without force, read-only
    // files are refused. A missing file is an error with notFound set.
    virtual FsResult deleteFile(const QString &path, bool force);
    // Creates an empty, hidden file under a name of its own beside the file that path
    // names, to be written and then put in its place with replaceFile. Where path is a
    // symbolic link, beside the file it finally points to (which need not exist yet;
    // another user's link in a folder everybody may write to is refused). The draft
    // has the old file's mode and group, or else is readable as the user's new files are.
    virtual FsResult createDraft(const QString &path, QString *draftPath);
    // The folder createDraft makes the draft of path in: that of the file path finally
    // names. It looks at the links, so it may block as any file-system call may.
    static QString draftFolder(const QString &path);
    // Renames from over to, replacing it in one step. The new file takes the old one's
    // mode and group (and owner, for the administrator); a symbolic link at to stays,
    // and the file it points to is replaced. A hard link cannot be kept: the other
    // names go on naming the old file.
    virtual FsResult replaceFile(const QString &from, const QString &to);
    // Renames; refuses to replace an existing destination.
    virtual FsResult moveFile(const QString &from, const QString &to);
    // Copies into the workspace, in place of whatever stands at the destination; a
    // broken copy leaves no partial destination behind. The source must be a regular
    // file: a pipe or a device standing in its place is refused, never read. A source
    // larger than limit bytes (when given) is not copied: EFBIG, its size in the words.
    virtual FsResult copyFile(const QString &from, const QString &to, qint64 limit = -1);
    // Opens an existing regular file for reading; null with the reason in error
    // otherwise. A pipe, a device or a folder is refused without being opened for
    // reading, so it can never block the program.
    virtual std::unique_ptr<QFile> openForReading(const QString &path, QString *error,
                                                  int *errorCode = nullptr);

    // Text-only path helpers (the file need not exist).
    static QString parentFolderName(const QString &path);
    static QString baseName(const QString &path);
    // A failure's cause in plain words, for a message: "the disk is full".
    static QString causeText(const FsResult &result);
    // "80.0 MiB, more than the 64 MiB a data sheet may have; not taken"; bytes < 0: the
    // size is not known, only that it is more.
    static QString tooLargeText(qint64 bytes, qint64 limit);
};
