#pragma once

#include "platform/FileSystem.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class BoundedCall;

// What stands in the output's way, as a value; BuildReport has the words for it.
struct OutputProblem {
    enum Kind {
        None,
        InWorkspace,   // its folder is the workspace or inside it (where: the workspace)
        IsListFile,    // it is the list file (where: the list file)
        FolderMissing, // the folder its draft goes to does not exist (where: that folder)
        NotAFolder,    // something else stands in that folder's place
        CannotWrite,   // no draft can be made there; failure says why
        NoAnswer,      // the folder gave no answer within seconds (a hung network mount)
        GaveUp,        // the user answered Cancel to the question whether to retry
    };
    Kind kind = None;
    QString where;
    FsResult failure;
    int seconds = 0;

    bool ok() const { return kind == None; }
};

// The user's output file, replaced only by a complete new one: the new file is written
// as a draft beside it and renamed over it at the end, so no failure can cost the user
// the file they had. The output's folder may lie on a network mount whose server is
// gone, so every step that touches it runs on a worker thread with a deadline, and
// answers through its callback on the window's thread, from the event loop. A step that
// fails with the file in use (or, at the end, for any reason) is put to the user, who
// may retry it as often as they like or give up.
class OutputFile : public QObject {
public:
    // askRetry puts the question and answers true for Retry; answerMs is each step's
    // deadline. fso must outlive every step, stuck ones included.
    OutputFile(QString path, FileSystem &fso, std::function<bool(const QString &)> askRetry,
               int answerMs, QObject *parent = nullptr);
    ~OutputFile() override;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    QString path() const { return m_path; }
    QString draft() const { return m_draft; }

    // Before anything is fetched: the output is neither in the workspace nor the list
    // file, its folder answers, and a draft can be made there, which is kept for the
    // merge to write.
    void prepare(const QString &listFile, const QString &workspaceDir,
                 std::function<void(const OutputProblem &)> done);

    // After the merge: whether the draft is a whole PDF, and which disk filled up.
    struct DraftCheck {
        bool whole = false;
        bool outputDiskFull = false;
        bool workspaceDiskFull = false;
    };
    // None when the output's folder gave no answer.
    void checkDraft(const QString &workspaceFolder,
                    std::function<void(const std::optional<DraftCheck> &)> done);
    // Renames the draft over the output.
    void replace(std::function<void(const OutputProblem &)> done);
    // Ends the step under way (its answer never comes) and removes the draft, if any,
    // off the window's thread.
    void discard();

    // The question put when a step failed.
    static QString question(const QString &path, const FsResult &failure);
    // Whether the output may go where it is named: not into the workspace, not over the
    // list file. Looks at the file system.
    static OutputProblem placeProblem(const QString &path, const QString &listFile,
                                      const QString &workspaceDir);

    // The output name offered for a list file: beside it, after its name (x.txt: x.pdf);
    // in the user's documents folder instead when the list lies where the user cannot
    // write, or among the program's installed data (the package's sample list), so that
    // the program never writes into its own folders. Empty where that would be the list
    // itself. Looks at the file system.
    static QString proposedPath(const QString &listPath, const QString &programDir,
                                const QProcessEnvironment &env);

private:
    OutputProblem noAnswer() const;
    // Puts the failure to the user: true for Retry. After the question this object may
    // be gone, or discarded: gone is then set, and nothing more may be done.
    bool askAgain(const FsResult &failure, bool *gone);

    QString m_path;
    FileSystem &m_fso;
    std::function<bool(const QString &)> m_askRetry;
    int m_answerMs;
    QString m_draft;
    std::shared_ptr<BoundedCall> m_call; // the step under way
    bool m_discarded = false;
};
