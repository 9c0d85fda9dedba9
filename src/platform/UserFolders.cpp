#include "UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A value of user-dirs.dirs: "$HOME/Documents" or an absolute path, in double quotes;
// anything else is not used, as the desktop's own tools do not use it.
QString pathOf(QString value, const QString &home)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    if (value == QStringLiteral("$HOME") || value.startsWith(QStringLiteral("$HOME/")))
        return home + value.mid(5);
    return value.startsWith(QLatin1Char('/')) ? value : QString();
}

} // namespace

QString documentsFolder(const QProcessEnvironment &env)
{
    const QString home = QDir::cleanPath(env.value(QStringLiteral("HOME"), QDir::homePath()));
    QString config = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (!config.startsWith(QLatin1Char('/')))
        config = home + QStringLiteral("/.config");
    QString documents;
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    if (dirs.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString key = QStringLiteral("XDG_DOCUMENTS_DIR=");
        while (!dirs.atEnd()) {
            const QString line = QString::fromUtf8(dirs.readLine()).trimmed();
            if (line.startsWith(key))
                documents = pathOf(line.mid(key.size()), home); // the last one counts
        }
    }
    if (documents.isEmpty())
        documents = pathOf(env.value(QStringLiteral("XDG_DOCUMENTS_DIR")), home);
    if (documents.isEmpty() && QFileInfo(home + QStringLiteral("/Documents")).isDir())
        documents = home + QStringLiteral("/Documents");
    return QDir::cleanPath(documents.isEmpty() ? home : documents);
}
