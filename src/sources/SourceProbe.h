#pragma once

#include "SourceSettings.h"

#include <QString>

class FileSystem;

struct SourceChoice {
    SourceMode mode = SourceMode::Undecided;
    QString detail; // why no source could be used: what was tried, a line each
};

// Start-up's choice of the source: the share first, then the FTP server, each only
// when it is set. A share that gives no answer within answerMs (a network mount whose
// server is gone) counts as absent. The FTP server's log-in is closed again once it has answered: a
// server may allow one connection per address, and every build connects anew.
SourceChoice discoverSource(const SourceSettings &settings, FileSystem &fso, int answerMs);
