#pragma once

#include <QString>
#include <functional>

class FileSystem;

// Reads a GSID input file as a stream and hands every token of every line to
// accept, which returns false to stop reading. A byte-order mark selects UTF-8 or
// UTF-16/32; otherwise the locale's encoding. Lines end in CR LF, LF or CR.
// Returns an empty text on success, else why the file could not be read.
QString readTokensFromFile(FileSystem &fso, const QString &path,
                           const std::function<bool(QStringView token)> &accept);
