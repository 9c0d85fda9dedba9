#include "SourceSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

struct Key {
    const char *variable; // the environment variable
    const char *name;     // the key under [Sources]
};
constexpr Key ShareDirKey{"BRINDLEWICK_SHARE_DIR", "ShareDir"};
constexpr Key FtpHostKey{"BRINDLEWICK_FTP_HOST", "FtpHost"};
constexpr Key FtpConnectionsKey{"BRINDLEWICK_FTP_CONNECTIONS", "FtpConnections"};

// A value that is set, and where it was set, for the message when it is unusable.
struct Found {
    bool set = false;
    QString text;
    QString where; // "in /etc/xdg/…", or "in the environment"
    QString key;
};

Found lookUp(const Key &key, const QProcessEnvironment &env, const QStringList &files)
{
    const QString variable = QLatin1String(key.variable);
    if (env.contains(variable))
        return {true, env.value(variable), QStringLiteral("in the environment"), variable};
    for (const QString &file : files) {
        if (!QFileInfo(file).isFile())
            continue;
        const QSettings ini(file, QSettings::IniFormat);
        const QString name = QStringLiteral("Sources/") + QLatin1String(key.name);
        if (!ini.contains(name))
            continue;
        // A value with commas reads as a list; it is still one text to check.
        const QVariant value = ini.value(name);
        const QString text = value.userType() == QMetaType::QStringList
                                 ? value.toStringList().join(QStringLiteral(", "))
                                 : value.toString();
        return {true, text, QStringLiteral("in ") + file, QLatin1String(key.name)};
    }
    return {};
}

QString refusal(const Found &found, const char *why)
{
    return QStringLiteral("The setting ") + found.key + QLatin1Char(' ') + found.where +
           QLatin1Char(' ') + QLatin1String(why) + QStringLiteral(": '") + found.text +
           QStringLiteral("'.");
}

// A host name, an IPv4 address or a bracketed IPv6 address, and an optional port.
QString hostProblem(const Found &found)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*)(:([0-9]{1,5}))?$"));
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
                                            const SourceSettings &defaults)
{
    Loaded loaded{defaults, QString()};
    const QStringList settingsFiles = files(env);

    if (const Found share = lookUp(ShareDirKey, env, settingsFiles); share.set) {
        if (!QDir::isAbsolutePath(share.text) || share.text.contains(QChar(0))) {
            loaded.error = refusal(share, "is not an absolute folder path");
            return loaded;
        }
        loaded.value.shareDir = share.text;
    }
    if (const Found host = lookUp(FtpHostKey, env, settingsFiles); host.set) {
        loaded.error = hostProblem(host);
        if (!loaded.error.isEmpty())
            return loaded;
        loaded.value.ftpHost = host.text;
    }
    if (const Found count = lookUp(FtpConnectionsKey, env, settingsFiles); count.set) {
        bool number = false;
        const int n = count.text.trimmed().toInt(&number);
        if (!number || n < 1 || n > MaxFtpConnections) {
            loaded.error = refusal(count, "is not a number from 1 to 8");
            return loaded;
        }
        loaded.value.ftpConnections = n;
    }
    return loaded;
}
