#pragma once

#include "CurlSource.h"
#include "platform/ScratchFile.h"

#include <QList>

#include <curl/curl.h>

class CurlWorker;

// One try of a fetch on a connection.
struct CurlTransfer {
    CurlWorker *worker = nullptr;
    CurlJob job;
    CURL *easy = nullptr;
    std::unique_ptr<ScratchFile> file; // none for the probe
    CurlClock::time_point started;
    CurlClock::time_point heard; // the last reply, header or data
    qint64 received = 0;
    qint64 announced = -1;   // the size the server gave as the transfer began
    QByteArray head;         // the body's first bytes, for a look at what came
    bool tooLarge = false;   // cut off at the largest size a sheet may have
    bool silenced = false;   // ended by the watchdog
    bool passive = false;    // FTP: started in passive mode
    int lastCode = 0;        // the server's last reply code (FTP) or status (HTTP)
    QByteArray lastReply;    // its line
    qint64 slowestReply = 0; // the longest wait for a reply, in ms: the server's pace
    qint64 frozen = 0;       // ms the worker spent blocked while it was under way
};

// The worker of a network source: it runs libcurl's multi interface on its own thread,
// starts up to the capacity of transfers from its queue, hears their replies and data,
// and bounds every wait: a transfer that hears nothing, neither reply nor data, for the
// stall limit is ended, and one that falls silent for far longer than transfers take is
// moved to a fresh connection early. What a transfer's end means is the protocol's: each
// source derives its own and answers through answer(), again() and giveUp().
class CurlWorker {
public:
    CurlWorker(std::shared_ptr<CurlQueue> queue, std::shared_ptr<Mailbox> mailbox,
               SheetSource *source, int capacity, int stallSeconds);
    virtual ~CurlWorker() = default;
    CurlWorker(const CurlWorker &) = delete;
    CurlWorker &operator=(const CurlWorker &) = delete;

    void run();

protected:
    // The protocol's options for a try, on t.easy (the URL, the buffers and the common
    // options are set already).
    virtual void configure(CurlTransfer &t) = 0;
    // A reply or header line arrived, trimmed.
    virtual void heard(CurlTransfer &t, const QByteArray &line) = 0;
    // The try ended with code: answer the fetch, try again or give up. t is deleted after.
    virtual void finished(CurlTransfer &t, CURLcode code) = 0;

    // Puts the sheet in its place; false when it could not be written (localError()).
    bool commit(CurlTransfer &t);
    void answer(int id, const FetchResult &result);
    void answerProbe(const FetchResult &result);
    // The job goes to the front of the queue, for another try.
    void again(CurlJob job) { m_queue.push_front(std::move(job)); }
    // A try the server did not answer: three in a row end the fetching.
    void strike(SourceMode source);
    // Answers every job, active or queued, as lost. A job that makes the source give up is
    // put back in the queue first, so that it is answered with the others.
    void giveUp(const SourceLoss &why);
    void setCapacity(int capacity);
    // No transfer starts before then: the server asked for a pause.
    void holdUntil(CurlClock::time_point until) { m_holdUntil = qMax(m_holdUntil, until); }
    int capacity() const { return m_capacity; }
    qsizetype activeCount() const { return m_active.size(); }
    int stallSeconds() const { return m_stallMs / 1000; }
    bool isLost() const { return m_lost; }

    int m_strikes = 0;
    bool m_anyWorked = false; // some connection answered

private:
    bool takeIncoming();
    void startJobs();
    void start(CurlJob job);
    void collect();
    void watchdog();
    void end(CurlTransfer *t, CURLcode code);
    void detach(CurlTransfer *t);
    void shutDown();

    static size_t onData(char *data, size_t size, size_t count, void *transfer);
    static size_t onHeader(char *line, size_t size, size_t count, void *transfer);

    std::shared_ptr<CurlQueue> m_shared;
    std::shared_ptr<Mailbox> m_mailbox;
    SheetSource *m_source;
    CURLM *m_multi;
    int m_capacity;
    int m_stallMs;
    std::deque<CurlJob> m_queue;
    QList<CurlTransfer *> m_active;
    QList<CURL *> m_idle;      // easy handles kept for their connections and DNS cache
    QList<qint64> m_durations; // of the last transfers, in ms
    qint64 m_slowestReply = 0; // the longest the server took to answer, in ms
    CurlClock::time_point m_holdUntil{};
    bool m_lost = false;
};
