#pragma once

#include <QString>

#include <functional>

class FileSystem;
struct FsResult;

// The user's output file, replaced only by a complete new one: the new file is
// written as a draft beside it and renamed over it at the end, so no failure can cost
// the user the file they had. A step that fails is put to the user, who may retry it
// as often as they like or give up.
class OutputFile {
public:
    // askRetry puts the question and answers true for Retry.
    OutputFile(QString path, FileSystem &fso, std::function<bool(const QString &)> askRetry);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    QString path() const { return m_path; }
    QString draft() const { return m_draft; }

    // Makes the empty draft; false when the user gave up.
    bool createDraft();
    // Renames the draft over the output; false when the user gave up (the draft is
    // removed then).
    bool replace();
    // Removes the draft, if any.
    void discard();

    // The question put when a step failed.
    static QString question(const QString &path, const FsResult &failure);

private:
    QString m_path;
    FileSystem &m_fso;
    std::function<bool(const QString &)> m_askRetry;
    QString m_draft;
};
