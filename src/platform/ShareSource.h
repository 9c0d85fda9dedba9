#pragma once

#include "FileSystem.h"
#include "SheetSource.h"

// The sheets of one edition folder of the mounted share, copied by a few worker
// threads. A copy blocked in the kernel (a hung network mount) is never waited for:
// stop() lets its thread finish alone, and what it writes after the stop is removed.
class ShareSource : public SheetSource {
    Q_OBJECT

public:
    static constexpr int Copiers = 4;

    // folder ends with "/". fso must outlive every copier, blocked ones included.
    ShareSource(QString folder, FileSystem &fso, QObject *parent = nullptr);
    ~ShareSource() override;

    // The share is not tested again at each build: a missing sheet is reported as such.
    void open() override;
    void fetch(int id, const QString &name, const QString &target) override;
    void stop() override;

private:
    struct Shared;
    static void copier(std::shared_ptr<Shared> shared, ShareSource *source);

    QString m_folder;
    std::shared_ptr<Shared> m_shared;
};
