#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class FileSystem;
class QFile;
class StationList;

// Reads a GSID input file as a stream and hands every token of every line to
// accept, which returns false to stop reading. A byte-order mark selects UTF-8 or
// UTF-16/32; otherwise the locale's encoding. Lines end in CR LF, LF or CR.
// Returns an empty text on success, else why the file could not be read.
QString readTokensFromFile(FileSystem &fso, const QString &path,
                           const std::function<bool(QStringView token)> &accept);
// The same from a file already open, such as standard input.
QString readTokens(QFile &file, const std::function<bool(QStringView token)> &accept);

// What one import of a list file adds to a list: the tokens that pass the
// station-number test, without those the list holds already, and no more than it
// can take. The window and the command line both import this way.
struct ImportedEntries {
    QStringList entries;
    bool full = false; // the list's limit was reached; entries stop there
    QString error;     // why the file could not be read; nothing is added then

    explicit operator bool() const { return error.isEmpty(); }
};
ImportedEntries importEntries(FileSystem &fso, const QString &path, const StationList &list);
ImportedEntries importEntries(QFile &file, const StationList &list);

// What the user is told when a list file cannot be read.
QString unreadableFileMessage(const QString &path);
