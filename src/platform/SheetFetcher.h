#pragma once

#include "FileSystem.h"

#include <QObject>

// Fetches data sheets into local files, several at a time, without blocking the
// event loop. Each requested fetch ends in exactly one fetched() signal, unless the
// fetcher is stopped first. The source is the sheet's name within the edition.
class SheetFetcher : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void fetch(int id, const QString &source, const QString &target) = 0;
    // Ends every transfer in flight and forgets the queue; no signal follows.
    virtual void stop() = 0;

signals:
    void fetched(int id, const FsResult &result);
};
