#pragma once

#include "BuildReport.h"

#include <QObject>
#include <QStringList>

#include <functional>

struct BuildConfig;

// One Continue run as the window sees it: started, stopped, counting, then reporting
// once. SheetBuild is the real one; the window is given a factory for it, so that its
// own part (busy state, Stop, what it does with each outcome) can be tried on its own.
class Build : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // progress() counts the GSIDs dealt with ("1", "2", …), then says "Writing";
    // finished() reports the end, once.
    virtual void start(const QStringList &gsids, const QString &outputPath) = 0;
    // Returns at once, having reported Stopped (unless the build had ended already).
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

signals:
    void progress(const QString &text);
    void finished(const BuildReport &report);
};

// Makes the build for one run, owned by parent.
using BuildFactory = std::function<Build *(const BuildConfig &config, QObject *parent)>;
