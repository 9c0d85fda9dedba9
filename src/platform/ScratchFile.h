#pragma once

#include <QString>

// A sheet written into the private workspace: it is there whole once committed, or
// not at all, so a failed write never leaves a partial file behind. It is written in
// place, without a temporary name and a rename, and without a sync to disk, since the
// workspace only holds scratch copies. Whatever stood under its name goes first. It
// keeps the system's error number, so that a full disk can be told from a missing
// file.
class ScratchFile {
public:
    explicit ScratchFile(QString path);
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    bool open();
    bool write(const char *data, qint64 size);
    // Closes the file; false (and the file removed) on failure.
    bool commit();
    QString errorString() const;
    int errorCode() const { return m_errno; }

private:
    bool fail();

    QByteArray m_path;
    int m_fd = -1;
    int m_errno = 0;
};
