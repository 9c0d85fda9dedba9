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
    qint64 announced = -1;            // the size the server gave as the transfer began
    QByteArray head;                  // the body's first bytes, for a look at what came
    bool tooLarge = false;            // cut off at the largest size a sheet may have
    bool silenced = false;            // ended by the watchdog
    bool passive = false;             // FTP: started in passive mode
    int lastCode = 0;                 // the server's last reply code (FTP) or status (HTTP)
    QByteArray lastReply;             // its line
    qint64 frozen = 0;                // ms the worker spent blocked while it was under way
    bool accepted = false;            // active FTP: the server's data connection arrived
    char error[CURL_ERROR_SIZE] = {}; // libcurl's words for how it failed
};

// The worker of a network source: it runs libcurl's multi interface on its own thread,
// starts up to the capacity of transfers from its queue, hears their replies and data,
// and bounds every wait: a transfer that hears nothing, neither reply nor data, for the
// stall limit is ended, and one that falls silent for far longer than the server takes to
// answer is moved to another connection at once. Tries that fail for want of the server
// (outage()) are tried again after a growing pause, for as long as the stall limit
// allows. What a transfer's end means is the protocol's: each source derives its own
// and answers through answer(), again(), outage() and giveUp().
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
    // A transfer silent for far longer than the server's pace: Move it to another
    // connection, Wait for it (up to the stall limit), or Fail it now as silenced.
    enum class Overdue { Move, Wait, Fail };
    virtual Overdue overdue(const CurlTransfer &) const { return Overdue::Move; }

    // Puts the sheet in its place; false when it could not be written (localError()).
    bool commit(CurlTransfer &t);
    void answer(int id, const FetchResult &result);
    void answerProbe(const FetchResult &result);
    // The job goes to the front of the queue, for another try.
    void again(CurlJob job) { m_queue.push_front(std::move(job)); }
    // The server answered: whatever outage there was is over.
    void answered();
    // A try that failed for want of the server: none could connect, the connection was
    // lost, or nothing was heard. Tries that fail together (begun before the last
    // strike) are one strike; each strike pauses the queue a little longer than the
    // last. Three strikes over the stall limit without an answer between them end the
    // fetching with why. False when the job failed in an earlier outage already: the
    // caller answers it.
    bool outage(const CurlTransfer &t, const SourceLoss &why);
    // Answers every job, active or queued, as lost. A job that makes the source give up is
    // put back in the queue first, so that it is answered with the others.
    void giveUp(const SourceLoss &why);
    void setCapacity(int capacity);
    // No transfer starts before then: the server asked for a pause.
    void holdUntil(CurlClock::time_point until) { m_resumeAt = qMax(m_resumeAt, until); }
    int capacity() const { return m_capacity; }
    qsizetype activeCount() const { return m_active.size(); }
    int stallSeconds() const { return m_stallMs / 1000; }
    bool isLost() const { return m_lost; }

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
    void noteWait(qint64 ms);
    qint64 pace() const;

    QList<CURL *> m_idle;  // easy handles kept for their connections and DNS cache
    QList<qint64> m_waits; // the last waits for a reply or the first data, in ms
    bool m_lost = false;
    int m_strikes = 0;
    int m_outages = 0;                   // counted, to tell one outage from the next
    CurlClock::time_point m_outageSince; // the first strike of the present outage
    CurlClock::time_point m_lastStrike;
    CurlClock::time_point m_resumeAt; // the queue waits until then
    qint64 m_pauseMs = 0;
};
