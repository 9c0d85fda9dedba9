#pragma once

#include <QString>

// The folder a running window fetches its sheets into: private to the user and to
// that window. Temporary folders are shared by every user of the machine, so the
// folder is taken only when it is a real directory of ours that nobody else may
// write, and a lock held for the window's life keeps a second window out of it.
class Workspace {
public:
    // How many names a user's windows may take: DS~Temp-<uid>, -2, … -MaxNames.
    static constexpr int MaxNames = 100;

    Workspace() = default;
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;
    Workspace(Workspace &&other) noexcept;
    Workspace &operator=(Workspace &&other) noexcept;

    // Takes the first usable folder below tempRoot whose lock is free, creating it
    // when absent; when all are taken, a new one of a random name. On failure the
    // workspace stays invalid and error() says why.
    static Workspace acquire(const QString &tempRoot);
    // $TMPDIR, or /tmp.
    static QString defaultTempRoot();

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return m_path; } // ends with "/"
    QString error() const { return m_error; }

    // The folder at the path is still the one taken at start-up, still ours and
    // private; otherwise why not, naming the folder.
    QString verify() const;
    // Removes every file found in it, whatever its name, and what builds left in
    // folders of their own; other sub-folders stay.
    bool empty() const;
    // Removes the folder with everything in it and lets it go; errors are ignored.
    void remove();

private:
    void release();
    QString take(const QString &path);
    static QString tempRootProblem(const QString &root);

    int m_fd = -1;
    QString m_path;
    QString m_error;
    unsigned long long m_device = 0;
    unsigned long long m_inode = 0;
};
