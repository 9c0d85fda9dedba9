#pragma once

#include "SourceSettings.h"

#include <QList>
#include <QString>

class FileSystem;

struct SourceChoice {
    // One source as start-up tried it.
    struct Tried {
        SourceMode source = SourceMode::Undecided;
        QString where; // the folder, the address or the host, as set
        bool ok = false;
        QString why; // why it could not be used; empty when ok
    };

    SourceMode mode = SourceMode::Undecided;
    QString detail;     // why no source could be used: what was tried, a line each
    QList<Tried> tried; // in the order tried; the last is the choice, when there is one
};

// Start-up's choice of the source: the share first, then the web server, then the FTP
// server, each only when it is set. A share that gives no answer within answerMs (a
// network mount whose server is gone) counts as absent. The FTP server's log-in is
// closed again once it has answered: a server may allow one connection per address, and
// every build connects anew. So is the web server's look (probeWebServer).
SourceChoice discoverSource(const SourceSettings &settings, FileSystem &fso, int answerMs);
