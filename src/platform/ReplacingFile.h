#pragma once

#include <QString>
#include <QTemporaryFile>

// Writes a file under a temporary name beside its destination and renames it over
// the destination on commit, so a failed write never leaves a partial file behind.
// Unlike QSaveFile it does not sync to disk: it serves the workspace's scratch
// copies, where a sync per sheet would only cost time.
class ReplacingFile {
public:
    explicit ReplacingFile(QString path);

    bool open();
    bool write(const char *data, qint64 size);
    // Renames the written file into place; false (and nothing replaced) on failure.
    bool commit();
    QString errorString() const { return m_error; }

private:
    QString m_path;
    QTemporaryFile m_file; // removes itself unless committed
    QString m_error;
};
