#include "OutputFile.h"

#include "platform/BoundedCall.h"
#include "platform/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

QString canonicalFolder(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
}

// Both name one file: the same path, or the same file reached another way.
bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath())
        return true;
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// pdftk ends every file it writes with the end-of-file marker; a file cut short by a
// tool that failed half-way has none.
bool isWholePdf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return false;
    file.seek(qMax<qint64>(0, file.size() - 1024));
    return file.read(1024).contains("%%EOF");
}

bool diskFull(const QString &path)
{
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &fs) == 0 &&
           fs.f_bavail == 0;
}

bool inUse(const FsResult &failure)
{
    return failure.code == EBUSY || failure.code == ETXTBSY;
}

struct Prepared {
    OutputProblem problem;
    QString draft;
};

Prepared prepareDraft(FileSystem &fso, const QString &path, const QString &listFile,
                      const QString &workspaceDir)
{
    Prepared prepared;
    prepared.problem = OutputFile::placeProblem(path, listFile, workspaceDir);
    if (!prepared.problem.ok())
        return prepared;
    const FsResult made = fso.createDraft(path, &prepared.draft);
    if (made)
        return prepared;
    prepared.draft.clear();
    OutputProblem &problem = prepared.problem;
    problem.where = FileSystem::draftFolder(path);
    problem.failure = made;
    problem.kind = made.code == ENOENT    ? OutputProblem::FolderMissing
                   : made.code == ENOTDIR ? OutputProblem::NotAFolder
                                          : OutputProblem::CannotWrite;
    return prepared;
}

// Where the package puts what the program folder links to (its sample list, among
// others): <prefix>/share/brindlewick. Empty for a build folder, whose demo is its own.
QString installedDataFolder(const QString &programDir)
{
    const QFileInfo demo(programDir + QStringLiteral("/demo"));
    if (!demo.isSymLink())
        return QString();
    const QString real = demo.canonicalFilePath();
    return real.isEmpty() ? QString() : QFileInfo(real).absolutePath();
}

} // namespace

QString OutputFile::proposedPath(const QString &listPath, const QString &programDir,
                                 const QProcessEnvironment &env)
{
    QString folder = FileSystem::parentFolderName(listPath);
    const QString data = installedDataFolder(programDir);
    const QString real = QFileInfo(folder).canonicalFilePath();
    const bool installed =
        !data.isEmpty() && (real == data || real.startsWith(data + QLatin1Char('/')));
    if (installed || ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        folder = documentsFolder(env);
    const QString proposal = (folder == QStringLiteral("/") ? QString() : folder) +
                             QLatin1Char('/') + FileSystem::baseName(listPath) +
                             QStringLiteral(".pdf");
    // A list named x.pdf would be proposed as its own output.
    return proposal == listPath ? QString() : proposal;
}

OutputFile::OutputFile(QString path, FileSystem &fso, std::function<bool(const QString &)> askRetry,
                       int answerMs, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_fso(fso), m_askRetry(std::move(askRetry)),
      m_answerMs(answerMs)
{
}

OutputFile::~OutputFile()
{
    discard();
}

OutputProblem OutputFile::placeProblem(const QString &path, const QString &listFile,
                                       const QString &workspaceDir)
{
    OutputProblem problem;
    // The clean-up empties the workspace, so an output there would not outlive its run.
    const QString folder = canonicalFolder(QFileInfo(path).absolutePath());
    const QString workspace = canonicalFolder(workspaceDir);
    if (folder == workspace || folder.startsWith(workspace + QLatin1Char('/')))
        problem = {OutputProblem::InWorkspace, workspaceDir, {}, 0};
    else if (sameFile(path, listFile))
        problem = {OutputProblem::IsListFile, listFile, {}, 0};
    return problem;
}

OutputProblem OutputFile::noAnswer() const
{
    return {OutputProblem::NoAnswer,
            FileSystem::parentFolderName(m_path),
            {},
            (m_answerMs + 999) / 1000};
}

bool OutputFile::askAgain(const FsResult &failure, bool *gone)
{
    // The question keeps the window's loop running: the build may be stopped meanwhile.
    const QPointer<OutputFile> self(this);
    const bool retry = m_askRetry(question(m_path, failure));
    *gone = !self || m_discarded;
    return retry;
}

void OutputFile::prepare(const QString &listFile, const QString &workspaceDir,
                         std::function<void(const OutputProblem &)> done)
{
    FileSystem *fso = &m_fso;
    m_call = BoundedCall::start<Prepared>(
        this, m_answerMs,
        [fso, path = m_path, listFile, workspaceDir] {
            return prepareDraft(*fso, path, listFile, workspaceDir);
        },
        [this, listFile, workspaceDir, done](Prepared prepared) {
            m_draft = prepared.draft;
            if (!inUse(prepared.problem.failure)) {
                done(prepared.problem);
                return;
            }
            bool gone = false;
            const bool retry = askAgain(prepared.problem.failure, &gone);
            if (gone)
                return;
            if (retry)
                prepare(listFile, workspaceDir, done);
            else
                done({OutputProblem::GaveUp, m_path, prepared.problem.failure, 0});
        },
        [this, done] { done(noAnswer()); },
        // Made after all, once nobody waited: it must not stay.
        [fso](Prepared &late) {
            if (!late.draft.isEmpty())
                fso->deleteFile(late.draft, true);
        });
}

void OutputFile::checkDraft(const QString &workspaceFolder,
                            std::function<void(const std::optional<DraftCheck> &)> done)
{
    m_call = BoundedCall::start<DraftCheck>(
        this, m_answerMs,
        [draft = m_draft, workspaceFolder] {
            // The merge is made in the workspace first: its disk may be the full one.
            return DraftCheck{isWholePdf(draft), diskFull(draft), diskFull(workspaceFolder)};
        },
        [done](const DraftCheck &check) { done(check); }, [done] { done(std::nullopt); });
}

void OutputFile::replace(std::function<void(const OutputProblem &)> done)
{
    FileSystem *fso = &m_fso;
    m_call = BoundedCall::start<FsResult>(
        this, m_answerMs,
        [fso, draft = m_draft, path = m_path] { return fso->replaceFile(draft, path); },
        [this, done](const FsResult &replaced) {
            if (replaced) {
                m_draft.clear();
                done({});
                return;
            }
            bool gone = false;
            const bool retry = askAgain(replaced, &gone);
            if (gone)
                return;
            if (retry) {
                replace(done);
                return;
            }
            discard();
            done({OutputProblem::GaveUp, m_path, replaced, 0});
        },
        [this, done] { done(noAnswer()); });
}

void OutputFile::discard()
{
    m_discarded = true;
    if (m_call)
        std::exchange(m_call, nullptr)->cancel();
    if (m_draft.isEmpty())
        return;
    // Its folder may be the one that stopped answering: nobody waits for this.
    startWorkerThread([fso = &m_fso, draft = std::exchange(m_draft, QString())] {
        fso->deleteFile(draft, true);
    });
}

QString OutputFile::question(const QString &path, const FsResult &failure)
{
    if (inUse(failure))
        return QStringLiteral(
            "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.");
    return QStringLiteral("The output file ") + path + QStringLiteral(" could not be replaced: ") +
           FileSystem::causeText(failure) + QLatin1Char('.');
}
