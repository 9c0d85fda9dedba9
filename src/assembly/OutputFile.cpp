#include "OutputFile.h"

#include "platform/FileSystem.h"

#include <QFileInfo>

#include <cerrno>

OutputFile::OutputFile(QString path, FileSystem &fso, std::function<bool(const QString &)> askRetry)
    : m_path(std::move(path)), m_fso(fso), m_askRetry(std::move(askRetry))
{
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::createDraft()
{
    for (;;) {
        const FsResult made = m_fso.createDraft(m_path, &m_draft);
        if (made)
            return true;
        if (!m_askRetry(question(m_path, made)))
            return false;
    }
}

bool OutputFile::replace()
{
    for (;;) {
        const FsResult replaced = m_fso.replaceFile(m_draft, m_path);
        if (replaced) {
            m_draft.clear();
            return true;
        }
        if (!m_askRetry(question(m_path, replaced))) {
            discard();
            return false;
        }
    }
}

void OutputFile::discard()
{
    if (!m_draft.isEmpty())
        m_fso.deleteFile(std::exchange(m_draft, QString()), true);
}

QString OutputFile::question(const QString &path, const FsResult &failure)
{
    if (failure.code == EBUSY || failure.code == ETXTBSY)
        return QStringLiteral(
            "The output file is in use.  Close it\r\nand click Retry or Cancel to quit.");
    return QStringLiteral("The output file ") + path + QStringLiteral(" could not be replaced: ") +
           FileSystem::causeText(failure) + QLatin1Char('.');
}
