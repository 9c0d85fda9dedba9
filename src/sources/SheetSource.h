#pragma once

#include "SourceSettings.h"
#include "platform/WorkerThread.h"

#include <QObject>
#include <QString>

#include <memory>

// How one fetch ended, or how the edition's folder answered open().
struct FetchResult {
    enum Kind {
        Fetched,         // the sheet is in its target file, whole (open: the folder is there)
        NotOnSource,     // the source says it has no such sheet (open: no such folder)
        Refused,         // the source has it but will not give it (permission denied)
        TransferFailed,  // every try to bring it failed
        SourceLost,      // the source stopped serving before its turn (lost() says why)
        NotAPdf,         // what came is no PDF (a server's page in the sheet's place)
        WorkspaceFailed, // the target could not be written; code says why
    };
    // No data sheet is this large (they are well under a megabyte): a source that sends
    // more, a server streaming without end or a huge file under a sheet's name, is cut
    // off there, so that it can neither fill the disk nor run for ever.
    static constexpr qint64 MaxSheetBytes = 64 * 1024 * 1024;

    Kind kind = Fetched;
    int code = 0;   // the system's error number, for WorkspaceFailed
    QString detail; // the source's own words: its reply line, or the system's

    bool ok() const { return kind == Fetched; }
};

// Why a source stopped serving, as a value; sentence() gives the words for it.
struct SourceLoss {
    enum Kind {
        StoppedAnswering,          // nothing heard for the stall limit, again and again
        ConnectionRefused,         // a server that would not take a connection
        FurtherConnectionsRefused, // ... after some had worked
        LoginRefused,              // the log-in was refused
        DataConnectionRefused,     // the data connection's command was refused
        CouldNotConnect,           // nothing listens at the address
        HostNotFound,              // the host name does not resolve
        NoAnswer,                  // no answer within the time allowed (seconds)
        CertificateNotVerified,    // TLS: the server's certificate could not be verified
        TlsNotOffered,             // TLS is required and the server would not begin it
        DataConnectionNeverCame,   // active FTP: the server's data connections never arrived
        ServerError,               // a web server answered with an error status, again and again
    };
    Kind kind = StoppedAnswering;
    SourceMode source = SourceMode::Share;
    QString said{};  // the server's own words (or the library's), when there are some
    QString where{}; // the host or address: named in every sentence when given
    int seconds = 0;

    // "The FTP server refused the log-in: 530 Login incorrect."
    QString sentence() const;
    // The source as named in a sentence: "the share", "the FTP server", "the web server".
    static QString sourceName(SourceMode source);
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
    // Fetched: the folder is there; NotOnSource: it is not; SourceLost: the source did
    // not let us ask (lost() told why first).
    void opened(const FetchResult &result);
    void fetched(int id, const FetchResult &result);
    // The source cannot serve any more: every fetch not yet answered, and every later
    // one, is answered SourceLost. Told once.
    void lost(const SourceLoss &why);

protected:
    // For the workers: reports to the window's thread, dropped once stopped.
    std::shared_ptr<Mailbox> mailbox() const { return m_mailbox; }
    void closeMailbox() { m_mailbox->close(); }

private:
    std::shared_ptr<Mailbox> m_mailbox;
};
