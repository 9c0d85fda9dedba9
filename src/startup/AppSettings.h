#pragma once

#include "platform/FtpMode.h"

#include <QStringList>

// Where the program looks for everything. main() fills it from the settings;
// tests fill it with their own folders and servers.
struct AppSettings {
    QString shareDir; // the data-sheet share: holds "PDF Single Sheet/" and "PDF Metric Sheet/"
    QString ftpHost;  // "host" or "host:port"
    int ftpConnections = 4; // at most this many FTP connections in one build
    FtpMode ftpMode = FtpMode::Auto;
    int stallSeconds = 30;     // a transfer that hears nothing for this long has failed
    bool sampleSheets = false; // no source was set: the share is the bundled samples
    bool bookmarks = true;     // the output gets one bookmark per station
    QString tempRoot;          // where the workspace folder is made: $TMPDIR or /tmp
    QString programDir;        // holds pdftotext, pdftk and the help file
    QStringList arguments;     // the command line after the program name
};
