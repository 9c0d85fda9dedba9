#pragma once

#include <QString>

class FileSystem;
struct AppSettings;

enum class SourceMode : quint8 { Undecided = 0, Ftp = 1, Share = 2 };

struct SourceChoice {
    SourceMode mode = SourceMode::Undecided;
    QString detail; // why neither source could be used: what was tried
};

// The share is tried first; FTP only when the share cannot be seen. The FTP server's
// log-in is closed again once it has answered: a server may allow one connection per
// address, and every build connects anew.
SourceChoice discoverSource(const AppSettings &settings, FileSystem &fso);

QString sourceFailureMessage();
