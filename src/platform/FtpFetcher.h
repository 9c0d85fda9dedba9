#pragma once

#include "SheetFetcher.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <deque>
#include <memory>

class QSocketNotifier;
class ScratchFile;

// Fetches sheets from one directory of the FTP server over up to a given number of
// connections at once, each fetching one sheet at a time and kept from one sheet to
// the next (libcurl's multi interface, driven by the event loop). Anonymous log-in,
// active mode.
//
// A server that refuses a further connection is served with the connections that
// work. A transfer that moves nothing for stallSeconds fails, and is tried once more
// on a fresh connection; after three failed transfers in a row with no success
// between them the server counts as gone, and every sheet not yet fetched fails.
class FtpFetcher : public SheetFetcher {
    Q_OBJECT

public:
    static constexpr int FailuresToGiveUp = 3;

    FtpFetcher(QString host, QString directory, int connections, int stallSeconds = 30,
               QObject *parent = nullptr);
    ~FtpFetcher() override;

    // Tests that the directory can be entered; answers with probed().
    void probe();
    void fetch(int id, const QString &source, const QString &target) override;
    void stop() override;

    bool serverStoppedAnswering() const { return m_gaveUp; }

signals:
    void probed(bool ok);

private:
    struct Job {
        int id = -1; // -1: the directory probe
        QString source;
        QString target;
        bool retried = false;
        bool fresh = false; // on a new connection
        int rescues = 0;    // moved off a connection that fell silent
    };
    static constexpr int MaxRescues = 3;
    struct Transfer;
    struct Socket;

    static int onSocket(void *easy, int fd, int what, void *self, void *socketData);
    static int onTimer(void *multi, long timeoutMs, void *self);
    static size_t onData(char *data, size_t size, size_t count, void *transfer);
    static size_t onReply(char *line, size_t size, size_t count, void *transfer);
    void rescueSilentTransfers();
    void watch(int fd, int what);
    void act(int fd, int flags);
    void collect();
    void pump();
    void start(Job job);
    void finish(Transfer *transfer, int code);
    void giveUp();
    void report(int id, const FsResult &result);

    QString m_host;
    QString m_directory;
    int m_capacity;
    int m_stallSeconds;
    void *m_multi = nullptr;
    QTimer m_timer; // when libcurl wants to be called
    QTimer m_watchdog;
    QList<qint64> m_durations; // of the last transfers, in ms
    QHash<int, Socket *> m_sockets;
    std::deque<Job> m_queue;
    QList<Transfer *> m_active;
    QList<void *> m_idleHandles; // one easy handle per connection
    int m_failuresInARow = 0;
    bool m_anySuccess = false;
    bool m_gaveUp = false;
    bool m_collecting = false;
};
