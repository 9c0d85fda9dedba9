#include "InputFile.h"

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

    QByteArray chunk = file->read(64 * 1024);
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
        chunk = file->read(64 * 1024);
    }
    if (file->error() != QFileDevice::NoError)
        return file->errorString();
    if (go)
        flush();
    return QString();
}
