#pragma once

#include "assembly/ShellAndWait.h"

#include <QString>
#include <memory>

class FileSystem;
class FtpConnection;
struct AppSettings;

enum class SourceMode : quint8 { Undecided = 0, Ftp = 1, Share = 2 };

struct SourceChoice {
    SourceMode mode = SourceMode::Undecided;
    std::unique_ptr<FtpConnection> ftp; // logged in; only in FTP mode
};

// The share is tried first; FTP only when the share cannot be seen.
SourceChoice discoverSource(const AppSettings &settings, FileSystem &fso);

// The text-extraction command: the program folder's pdftotext in layout mode, without
// messages; each run adds the sheet it reads and where the text goes.
ShellCommand pdfToTextCommand(const QString &programDir);

QString sourceFailureMessage();
