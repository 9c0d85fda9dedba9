#pragma once

#include "SheetSource.h"

#include <QByteArray>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

using CurlClock = std::chrono::steady_clock;

// One fetch as a network source's worker holds it, from the queue to its answer, over
// every try.
struct CurlJob {
    int id = -1; // -1: the probe of the edition's folder
    QByteArray url;
    QString target;
    bool retried = false;                 // a second try has been given
    bool reconnected = false;             // tried again after a kept connection had gone
    int thawed = 0;                       // tried again after the worker's freeze cost it its time
    bool fresh = false;                   // on a new connection
    int rescues = 0;                      // moved off a connection that fell silent
    int outage = 0;                       // the outage of the server it last failed in; 0: none
    CurlClock::time_point notBefore{};    // waiting for the server
    CurlClock::time_point refusedSince{}; // the first refusal of this fetch
};

// What the window's thread hands a source's worker.
struct CurlQueue {
    std::mutex mutex;
    std::deque<CurlJob> incoming;
    bool stopping = false;
    void *multi = nullptr; // the worker's multi handle, for waking it; cleared before it goes
};

class CurlWorker;

// A source whose sheets come over the network. libcurl's multi interface runs on a worker
// thread of the source's own (CurlWorker), which owns every connection and socket;
// fetches go in through a queue, reports come back posted, and stop() only tells the
// worker, which closes the connections on its own time.
class CurlSource : public SheetSource {
    Q_OBJECT

public:
    ~CurlSource() override;

    void open() override;
    void fetch(int id, const QString &name, const QString &target) override;
    void stop() override;

protected:
    explicit CurlSource(QObject *parent = nullptr);

    // The address of a sheet; of the edition's folder for an empty name.
    virtual QByteArray urlOf(const QString &name) const = 0;
    // The worker that runs the transfers, made once, at the first open() or fetch().
    virtual std::shared_ptr<CurlWorker> makeWorker(std::shared_ptr<CurlQueue> queue) = 0;

private:
    void post(int id, const QString &name, const QString &target);

    std::shared_ptr<CurlQueue> m_queue;
    bool m_started = false;
};
