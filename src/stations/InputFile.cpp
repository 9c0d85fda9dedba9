#include "InputFile.h"

#include "LeadingValue.h"
#include "StationList.h"
#include "Tokens.h"
#include "platform/FileSystem.h"

#include <QFile>
#include <QStringDecoder>

QString readTokensFromFile(FileSystem &fso, const QString &path,
                           const std::function<bool(QStringView token)> &accept)
{
    QString error;
    const auto file = fso.openForReading(path, &error);
    if (!file)
        return error;
    return readTokens(*file, accept);
}

QString readTokens(QFile &file, const std::function<bool(QStringView token)> &accept)
{
    QByteArray chunk = file.read(64 * 1024);
    auto encoding = QStringConverter::encodingForData(chunk);
    // The decoder drops the byte-order mark, so it never sticks to the first GSID.
    QStringDecoder decoder(encoding.value_or(QStringConverter::System));
    // Streaming equivalent of cutting each line at commas and white space: line ends
    // are white space too, so a token never spans one.
    QString token;
    bool overlong = false;
    bool go = true;
    auto flush = [&] {
        if (!token.isEmpty() && !overlong)
            go = accept(token);
        token.clear();
        overlong = false;
    };
    while (go && !chunk.isEmpty()) {
        const QString text = decoder.decode(chunk);
        for (QChar c : text) {
            if (isSeparator(c)) {
                flush();
                if (!go)
                    break;
            } else if (token.size() < MaxTokenLength) {
                token += c;
            } else {
                overlong = true;
            }
        }
        chunk = file.read(64 * 1024);
    }
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (go)
        flush();
    return QString();
}

namespace {

ImportedEntries
collect(const StationList &list,
        const std::function<QString(const std::function<bool(QStringView)> &)> &read)
{
    EntryBatch batch(list);
    ImportedEntries imported;
    imported.error = read([&](QStringView token) {
        return !isStationNumber(token) || batch.offer(token.toString());
    });
    if (imported.error.isEmpty()) {
        imported.entries = batch.entries();
        imported.full = batch.full();
    }
    return imported;
}

} // namespace

ImportedEntries importEntries(FileSystem &fso, const QString &path, const StationList &list)
{
    return collect(list, [&](const auto &accept) { return readTokensFromFile(fso, path, accept); });
}

ImportedEntries importEntries(QFile &file, const StationList &list)
{
    return collect(list, [&](const auto &accept) { return readTokens(file, accept); });
}

QString unreadableFileMessage(const QString &path)
{
    return QStringLiteral("Unable to read the file ") + path + QLatin1Char('.');
}
