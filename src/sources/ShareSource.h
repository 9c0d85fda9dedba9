#pragma once

#include "SheetSource.h"
#include "platform/FileSystem.h"

#include <QDeadlineTimer>
#include <QSet>
#include <QTimer>

#include <deque>

// The sheets of one edition folder of the mounted share, copied by a few worker
// threads. A copy blocked in the kernel (a hung network mount) is never waited for:
// after the stall limit its sheet fails, and its thread is left to end alone (what it
// writes then is removed); three such in a row, and the share counts as gone. stop()
// lets every copy go the same way. Copiers let go and not yet back are counted for the
// whole program: a share that hangs again and again is gone once MaxStuckCopiers of
// them are stuck, rather than costing a thread per copy.
class ShareSource : public SheetSource {
    Q_OBJECT

public:
    static constexpr int Copiers = 4;
    static constexpr int StrikesToGiveUp = 3;
    static constexpr int MaxStuckCopiers = 2 * Copiers;
    // Copiers let go that have not come back yet, in every build.
    static int stuckCopiers();

    // folder ends with "/". fso must outlive every copier, blocked ones included.
    ShareSource(QString folder, FileSystem &fso, int stallSeconds = 30, QObject *parent = nullptr);
    ~ShareSource() override;

    // The share is not tested again at each build: a missing sheet is reported as such.
    void open() override;
    void fetch(int id, const QString &name, const QString &target) override;
    void stop() override;

private:
    struct Shared;
    static void copier(std::shared_ptr<Shared> shared, ShareSource *source);
    void startCopier();
    void answer(int id, const FetchResult &result);
    void copied(int id, const FetchResult &result);
    void watch(int id);
    void expireDue();
    void expire(int id);
    void loseShare(const QString &why);

    QString m_folder;
    int m_stallMs;
    std::shared_ptr<Shared> m_shared;
    QSet<int> m_pending; // fetched() not yet told
    // Each copy's stall deadline, in the order they fall due (all have the same length),
    // served by one timer: a timer per copy costs the event loop dearly on long lists.
    std::deque<std::pair<QDeadlineTimer, int>> m_deadlines;
    QTimer m_watchdog;
    int m_strikes = 0;
    bool m_lost = false;
};
