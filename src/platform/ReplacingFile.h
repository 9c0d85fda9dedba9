#pragma once

#include <QString>

// Writes a file under a temporary name beside its destination and renames it over
// the destination on commit, so a failed write never leaves a partial file behind.
// Unlike QSaveFile it does not sync to disk: it serves the workspace's scratch
// copies, where a sync per sheet would only cost time. It keeps the system's error
// number, so that a full disk can be told from a missing file.
class ReplacingFile {
public:
    explicit ReplacingFile(QString path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    bool open();
    bool write(const char *data, qint64 size);
    // Renames the written file into place; false (and nothing replaced) on failure.
    bool commit();
    QString errorString() const;
    int errorCode() const { return m_errno; }

private:
    bool fail();

    QString m_path;
    QByteArray m_temp;
    int m_fd = -1;
    int m_errno = 0;
};
