#include "SourceSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

struct Key {
    const char *variable; // the environment variable
    const char *section;  // the file's section
    const char *name;     // the key in it

    QString path() const { return QLatin1String(section) + QLatin1Char('/') + QLatin1String(name); }
};
constexpr Key ShareDirKey{"BRINDLEWICK_SHARE_DIR", "Sources", "ShareDir"};
constexpr Key FtpHostKey{"BRINDLEWICK_FTP_HOST", "Sources", "FtpHost"};
constexpr Key FtpConnectionsKey{"BRINDLEWICK_FTP_CONNECTIONS", "Sources", "FtpConnections"};
constexpr Key FtpModeKey{"BRINDLEWICK_FTP_MODE", "Sources", "FtpMode"};
constexpr Key BookmarksKey{"BRINDLEWICK_BOOKMARKS", "Output", "Bookmarks"};
constexpr Key AllKeys[] = {ShareDirKey, FtpHostKey, FtpConnectionsKey, FtpModeKey, BookmarksKey};

// One settings file as read: its keys as "Section/Key".
struct SettingsFile {
    QString path;
    QHash<QString, QString> values;
};

// A value that is set, and where it was set, for the message when it is unusable.
struct Found {
    bool set = false;
    QString text;
    QString where; // "in /etc/xdg/…", or "in the environment"
    QString key;
};

Found lookUp(const Key &key, const QProcessEnvironment &env, const QList<SettingsFile> &files)
{
    const QString variable = QLatin1String(key.variable);
    if (env.contains(variable))
        return {true, env.value(variable), QStringLiteral("in the environment"), variable};
    const QString name = key.path();
    for (const SettingsFile &file : files) {
        const auto it = file.values.constFind(name);
        if (it != file.values.cend())
            return {true, *it, QStringLiteral("in ") + file.path, QLatin1String(key.name)};
    }
    return {};
}

// The value as it can be read in a message: control characters as escapes.
QString shown(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString refusal(const Found &found, const char *why)
{
    return QStringLiteral("The setting ") + found.key + QLatin1Char(' ') + found.where +
           QLatin1Char(' ') + QLatin1String(why) + QStringLiteral(": '") + shown(found.text) +
           QStringLiteral("'.");
}

// White space around a value or a control character in it is a slip of the hand (a
// line feed from an editor, a pasted tab), never part of a path or a host name: it
// would only fail later with a vaguer message.
QString textProblem(const Found &found)
{
    if (found.text != found.text.trimmed())
        return refusal(found, "has white space around it");
    for (const QChar c : found.text) {
        if (c.category() == QChar::Other_Control)
            return refusal(found, "holds a control character");
    }
    return QString();
}

// A host name, an IPv4 address or a bracketed IPv6 address, and an optional port.
QString hostProblem(const Found &found)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*)(:([0-9]{1,5}))?")));
    const QRegularExpressionMatch match = form.match(found.text);
    if (!match.hasMatch())
        return refusal(found, "is not a host name");
    if (match.hasCaptured(6)) {
        const int port = match.captured(6).toInt();
        if (port < 1 || port > 65535)
            return refusal(found, "has a port out of range");
    }
    return QString();
}

// Reads a settings file that is there; an error when it is there but cannot be read,
// as skipping it could leave its sources unset without a word.
QString readSettingsFile(const QString &path, QList<SettingsFile> &files, QStringList &warnings)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    QFile probe(path);
    if (!info.isFile() || !probe.open(QIODevice::ReadOnly))
        return QStringLiteral("The settings file ") + path + QStringLiteral(" cannot be read.");
    probe.close();
    const QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return QStringLiteral("The settings file ") + path + QStringLiteral(" cannot be read.");
    SettingsFile file{path, {}};
    QStringList known;
    for (const Key &key : AllKeys)
        known << key.path();
    const QStringList keys = ini.allKeys();
    for (const QString &key : keys) {
        // A value with commas reads as a list; it is still one text to check.
        const QVariant value = ini.value(key);
        file.values.insert(key, value.userType() == QMetaType::QStringList
                                    ? value.toStringList().join(QStringLiteral(", "))
                                    : value.toString());
        if (known.contains(key))
            continue;
        const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
        const QString named = slash < 0 ? key
                                        : QLatin1Char('[') + key.left(slash) +
                                              QStringLiteral("] ") + key.mid(slash + 1);
        warnings << QStringLiteral("The setting ") + named + QStringLiteral(" in ") + path +
                        QStringLiteral(" is unknown and was ignored.");
    }
    files << file;
    return QString();
}

} // namespace

QStringList SourceSettings::files(const QProcessEnvironment &env)
{
    const QString relative = QStringLiteral("/brindlewick/brindlewick.conf");
    QString user = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (!QDir::isAbsolutePath(user))
        user = env.value(QStringLiteral("HOME")) + QStringLiteral("/.config");
    QStringList out{user + relative};
    QString system = env.value(QStringLiteral("XDG_CONFIG_DIRS"));
    if (system.isEmpty())
        system = QStringLiteral("/etc/xdg");
    const QStringList folders = system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        if (QDir::isAbsolutePath(folder))
            out << QDir::cleanPath(folder) + relative;
    }
    return out;
}

SourceSettings::Loaded SourceSettings::load(const QProcessEnvironment &env,
                                            const SourceSettings &defaults,
                                            const QString &sampleShare)
{
    Loaded loaded{defaults, QString(), QStringList()};
    QList<SettingsFile> settingsFiles;
    for (const QString &path : files(env)) {
        loaded.error = readSettingsFile(path, settingsFiles, loaded.warnings);
        if (!loaded.error.isEmpty())
            return loaded;
    }
    auto find = [&](const Key &key) {
        Found found = lookUp(key, env, settingsFiles);
        if (found.set && loaded.error.isEmpty())
            loaded.error = textProblem(found);
        return found;
    };

    const Found share = find(ShareDirKey);
    if (share.set && loaded.error.isEmpty()) {
        if (!QDir::isAbsolutePath(share.text))
            loaded.error = refusal(share, "is not an absolute folder path");
        loaded.value.shareDir = share.text;
    }
    const Found host = find(FtpHostKey);
    if (host.set && loaded.error.isEmpty()) {
        loaded.error = hostProblem(host);
        loaded.value.ftpHost = host.text;
    }
    const Found count = find(FtpConnectionsKey);
    if (count.set && loaded.error.isEmpty()) {
        bool number = false;
        const int n = count.text.toInt(&number);
        if (!number || n < 1 || n > MaxFtpConnections)
            loaded.error = refusal(count, "is not a number from 1 to 8");
        loaded.value.ftpConnections = n;
    }
    const Found mode = find(FtpModeKey);
    if (mode.set && loaded.error.isEmpty()) {
        const QString m = mode.text.toLower();
        if (m == QLatin1String("auto"))
            loaded.value.ftpMode = FtpMode::Auto;
        else if (m == QLatin1String("active"))
            loaded.value.ftpMode = FtpMode::Active;
        else if (m == QLatin1String("passive"))
            loaded.value.ftpMode = FtpMode::Passive;
        else
            loaded.error = refusal(mode, "is not active, passive or auto");
    }
    const Found bookmarks = find(BookmarksKey);
    if (bookmarks.set && loaded.error.isEmpty()) {
        const QString b = bookmarks.text.toLower();
        if (b == QLatin1String("true") || b == QLatin1String("yes") || b == QLatin1String("1"))
            loaded.value.bookmarks = true;
        else if (b == QLatin1String("false") || b == QLatin1String("no") || b == QLatin1String("0"))
            loaded.value.bookmarks = false;
        else
            loaded.error = refusal(bookmarks, "is not true or false");
    }
    if (!loaded.error.isEmpty())
        return loaded;

    // Which sources are set: the build's empty share and its placeholder host are not.
    const bool shareSet = share.set || !defaults.shareDir.isEmpty();
    const bool hostSet =
        host.set || (!defaults.ftpHost.isEmpty() && defaults.ftpHost != placeholderHost());
    if (!shareSet && !hostSet && !sampleShare.isEmpty()) {
        loaded.value.shareDir = sampleShare;
        loaded.value.sampleSheets = true;
    }
    // Once a source is set, the other one left unset is not tried: never the samples.
    if (!shareSet && !loaded.value.sampleSheets)
        loaded.value.shareDir.clear();
    if (!hostSet)
        loaded.value.ftpHost.clear();
    return loaded;
}
