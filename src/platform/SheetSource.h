#pragma once

#include "WorkerThread.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// How one fetch ended.
struct FetchResult {
    enum Kind {
        Fetched,         // the sheet is in its target file, whole
        NotOnSource,     // the source says it has no such sheet
        TransferFailed,  // every try to bring it failed
        SourceLost,      // the source stopped serving before its turn (lost() says why)
        WorkspaceFailed, // the target could not be written; code says why
    };
    Kind kind = Fetched;
    int code = 0;   // the system's error number, for WorkspaceFailed
    QString detail; // what the source said: its reply line, or the system's words

    bool ok() const { return kind == Fetched; }
};

// Where data sheets come from: a folder or a server that holds one edition. It fetches
// several sheets at once on worker threads of its own, so nothing it waits for can
// stall the window. Every report arrives posted, from the event loop, never from
// inside a call made to the source, so the receiver may stop the source from a
// report; a source is let go with deleteLater(), and stop() never waits.
class SheetSource : public QObject {
    Q_OBJECT

public:
    explicit SheetSource(QObject *parent = nullptr)
        : QObject(parent), m_mailbox(Mailbox::create(this))
    {
    }
    ~SheetSource() override { m_mailbox->close(); }

    // Checks that the edition's folder can be entered; opened() answers.
    virtual void open() = 0;
    // Fetches the sheet called name into target (a new file); fetched() answers each
    // once, unless the source is stopped first.
    virtual void fetch(int id, const QString &name, const QString &target) = 0;
    // Ends every fetch and forgets the queue; nothing is reported after it. A worker
    // blocked in the kernel is left to end alone: what it brings late is removed.
    virtual void stop() = 0;

signals:
    // detail: why the folder cannot be used, in the source's own words.
    void opened(bool ok, const QString &detail);
    void fetched(int id, const FetchResult &result);
    // The source cannot serve any more: every fetch not yet answered, and every later
    // one, is answered SourceLost. Told once.
    void lost(const QString &why);

protected:
    // For the workers: reports to the window's thread, dropped once stopped.
    std::shared_ptr<Mailbox> mailbox() const { return m_mailbox; }
    void closeMailbox() { m_mailbox->close(); }

private:
    std::shared_ptr<Mailbox> m_mailbox;
};
