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

// The workspace lies in a folder every user can write: use it only when it is a real
// folder (no symbolic link) of ours, or absent.
bool workspaceIsSafe(const QString &workspaceDir);
// Empties (files only, read-only ones too; sub-folders stay) or creates it.
bool prepareWorkspace(FileSystem &fso, const QString &workspaceDir);
// Removes it with everything in it; errors are ignored.
void removeWorkspace(FileSystem &fso, const QString &workspaceDir);

// The text-extraction command: the program folder's pdftotext, from the
// workspace's Temp.pdf to its Text.txt.
ShellCommand pdfToTextCommand(const QString &programDir, const QString &workspaceDir);

QString sourceFailureMessage();
QString workspaceFailureMessage(const QString &workspaceDir);
