#pragma once

#include <QString>

// Where the program looks for everything. main() fills it from the build settings;
// tests fill it with their own folders and servers.
struct AppSettings {
    QString shareDir;     // the data-sheet share: holds "PDF Single Sheet/" and "PDF Metric Sheet/"
    QString ftpHost;      // "host" or "host:port"
    QString workspaceDir; // ends with "/"
    QString programDir;   // holds pdftotext, pdftk and the help file
    QString commandLine;  // the text after the program name
};
