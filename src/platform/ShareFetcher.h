#pragma once

#include "SheetFetcher.h"

#include <QThreadPool>
#include <memory>

// Copies sheets from the share folder on a few worker threads, so that a slow share
// never stalls the window.
class ShareFetcher : public SheetFetcher {
    Q_OBJECT

public:
    static constexpr int Copiers = 4;

    ShareFetcher(QString folder, FileSystem &fso, QObject *parent = nullptr);
    ~ShareFetcher() override;

    void fetch(int id, const QString &source, const QString &target) override;
    void stop() override;

private:
    QString m_folder;
    FileSystem &m_fso;
    QThreadPool m_pool;
    // Shared with the copies in flight: a copy that ends after stop() reports nothing.
    std::shared_ptr<std::atomic<bool>> m_stopped = std::make_shared<std::atomic<bool>>(false);
};
