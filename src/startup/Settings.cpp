#include "Settings.h"

#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

namespace {

enum class Kind { Folder, WebAddress, Host, FtpConnections, WebConnections, Mode, Tls, File, Bool };

struct Key {
    const char *variable; // the environment variable
    const char *section;  // the file's section
    const char *name;     // the key in it
    Kind kind;
    const char *meaning; // for --help

    QString path() const { return QLatin1String(section) + QLatin1Char('/') + QLatin1String(name); }
    QString shown() const
    {
        return QLatin1Char('[') + QLatin1String(section) + QStringLiteral("] ") +
               QLatin1String(name);
    }
};

// In the order start-up tries the sources, then how it reaches them, then the output.
constexpr Key Keys[] = {
    {"BRINDLEWICK_SHARE_DIR", "Sources", "ShareDir", Kind::Folder, "the data-sheet share's folder"},
    {"BRINDLEWICK_WEB_URL", "Sources", "WebUrl", Kind::WebAddress, "the data-sheet web server"},
    {"BRINDLEWICK_FTP_HOST", "Sources", "FtpHost", Kind::Host, "the data-sheet FTP server"},
    {"BRINDLEWICK_FTP_CONNECTIONS", "Sources", "FtpConnections", Kind::FtpConnections,
     "FTP connections of one build, 1 to 8"},
    {"BRINDLEWICK_FTP_MODE", "Sources", "FtpMode", Kind::Mode, "auto, active or passive"},
    {"BRINDLEWICK_FTP_TLS", "Sources", "FtpTls", Kind::Tls, "off or required"},
    {"BRINDLEWICK_WEB_CONNECTIONS", "Sources", "WebConnections", Kind::WebConnections,
     "HTTP/1.1 connections of one build, 1 to 16"},
    {"BRINDLEWICK_CA_FILE", "Sources", "CaFile", Kind::File, "an office's own CA (PEM)"},
    {"BRINDLEWICK_BOOKMARKS", "Output", "Bookmarks", Kind::Bool, "one bookmark per station"},
};

const Key *keyNamed(const QString &name)
{
    for (const Key &key : Keys) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

// The unknown settings of one file named in a warning each; the rest are counted.
constexpr int UnknownNamed = 5;

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

struct Checker {
    QString key;
    QString value;
    QString shownKey;
    QString where;

    CheckedSetting refuse(const char *why) const
    {
        return {QString(), QStringLiteral("The setting ") + shownKey + QLatin1Char(' ') + where +
                               QLatin1Char(' ') + QLatin1String(why) + QStringLiteral(": '") +
                               shown(value) + QStringLiteral("'.")};
    }
};

// A host name, an IPv4 address or a bracketed IPv6 address, and an optional port.
CheckedSetting checkHost(const Checker &c)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*)(:([0-9]+))?")));
    const QRegularExpressionMatch match = form.match(c.value);
    if (!match.hasMatch())
        return c.refuse("is not a host name");
    if (match.hasCaptured(6)) {
        bool number = false;
        const int port = match.captured(6).toInt(&number);
        if (!number || port < 1 || port > 65535)
            return c.refuse("has a port out of range");
    }
    return {c.value, QString()};
}

CheckedSetting checkWebAddress(const Checker &c)
{
    const QUrl url(c.value, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return c.refuse("is not an https:// or http:// address of a folder");
    if (url.port() == 0)
        return c.refuse("has a port out of range");
    // The edition folders are named below it.
    return {c.value.endsWith(QLatin1Char('/')) ? c.value : c.value + QLatin1Char('/'), QString()};
}

CheckedSetting checkNumber(const Checker &c, int most, const char *why)
{
    bool number = false;
    const int n = c.value.toInt(&number);
    if (!number || n < 1 || n > most)
        return c.refuse(why);
    return {QString::number(n), QString()};
}

CheckedSetting checkWord(const Checker &c, std::initializer_list<const char *> words,
                         const char *why)
{
    const QString word = c.value.toLower();
    for (const char *w : words) {
        if (word == QLatin1String(w))
            return {word, QString()};
    }
    return c.refuse(why);
}

} // namespace

CheckedSetting checkSetting(const QString &key, const QString &value, const QString &shownKey,
                            const QString &where)
{
    const Checker c{key, value, shownKey, where};
    const Key *known = keyNamed(key);
    if (!known)
        return c.refuse("is unknown");
    // White space around a value or a control character in it is a slip of the hand (a
    // line feed from an editor, a pasted tab), never part of a path or a host name: it
    // would only fail later with a vaguer message.
    if (value != value.trimmed())
        return c.refuse("has white space around it");
    for (const QChar ch : value) {
        if (ch.category() == QChar::Other_Control)
            return c.refuse("holds a control character");
    }
    // Empty: not set here, and so not set at all; the places further down are not asked.
    if (value.isEmpty())
        return {};
    switch (known->kind) {
    case Kind::Folder:
        if (!QDir::isAbsolutePath(value))
            return c.refuse("is not an absolute folder path");
        return {value, QString()};
    case Kind::File: {
        if (!QDir::isAbsolutePath(value))
            return c.refuse("is not an absolute file path");
        QFile file(value);
        if (!QFileInfo(value).isFile() || !file.open(QIODevice::ReadOnly))
            return c.refuse("names a file that cannot be read");
        return {value, QString()};
    }
    case Kind::WebAddress:
        return checkWebAddress(c);
    case Kind::Host:
        return checkHost(c);
    case Kind::FtpConnections:
        return checkNumber(c, SourceSettings::MaxFtpConnections, "is not a number from 1 to 8");
    case Kind::WebConnections:
        return checkNumber(c, SourceSettings::MaxWebConnections, "is not a number from 1 to 16");
    case Kind::Mode:
        return checkWord(c, {"auto", "active", "passive"}, "is not auto, active or passive");
    case Kind::Tls:
        return checkWord(c, {"off", "required"}, "is not off or required");
    case Kind::Bool: {
        const CheckedSetting word = checkWord(
            c, {"true", "yes", "on", "1", "false", "no", "off", "0"}, "is not true or false");
        if (!word.error.isEmpty())
            return word;
        const bool on = word.value == QLatin1String("true") || word.value == QLatin1String("yes") ||
                        word.value == QLatin1String("on") || word.value == QLatin1String("1");
        return {on ? QStringLiteral("true") : QStringLiteral("false"), QString()};
    }
    }
    return {value, QString()};
}

QString placeholderHost()
{
    return QStringLiteral("ftp.geodesy.invalid");
}

QStringList settingsFiles(const QProcessEnvironment &env)
{
    const QString relative = QStringLiteral("/brindlewick/brindlewick.conf");
    QString user = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (!QDir::isAbsolutePath(user)) {
        QString home = env.value(QStringLiteral("HOME"));
        // A job started without HOME (cron, a service) still has an account.
        if (!QDir::isAbsolutePath(home)) {
            const passwd *account = ::getpwuid(::geteuid());
            home = account && account->pw_dir ? QFile::decodeName(account->pw_dir) : QString();
        }
        user = QDir::isAbsolutePath(home) ? home + QStringLiteral("/.config") : QString();
    }
    QStringList out;
    if (!user.isEmpty())
        out << QDir::cleanPath(user) + relative;
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

QList<std::pair<QString, QString>> environmentVariables()
{
    QList<std::pair<QString, QString>> out;
    for (const Key &key : Keys)
        out.append({QLatin1String(key.variable), QLatin1String(key.meaning)});
    out.append({QStringLiteral("TMPDIR"), QStringLiteral("where the workspace is made (/tmp)")});
    out.append({QStringLiteral("HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS"),
                QStringLiteral("where the settings files are")});
    out.append({QStringLiteral("XDG_DOCUMENTS_DIR"),
                QStringLiteral("where an output is proposed for a list in a folder of the "
                               "system's")});
    out.append({QStringLiteral("DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM"),
                QStringLiteral("the display the window opens on (--output needs none)")});
    return out;
}

namespace {

// One settings file as read: its known keys as "Section/Key", with their lines.
struct ReadFile {
    QString path;
    QHash<QString, SettingsFile::Entry> values;
};

// Reads a settings file that is there; an error when it is there but cannot be read,
// as skipping it could leave its sources unset without a word.
QString readSettingsFile(const QString &path, QList<ReadFile> &files, QStringList &warnings)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("The settings file ") + path + QStringLiteral(" cannot be read.");
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("The settings file ") + path + QStringLiteral(" cannot be read.");
    const SettingsFile parsed = SettingsFile::parse(text);
    ReadFile read{path, {}};
    QStringList unknown;
    qsizetype unknownCount = 0;
    for (const SettingsFile::Entry &entry : parsed.entries) {
        const Key *key = keyNamed(entry.key);
        if (key && entry.section == QLatin1String(key->section)) {
            read.values.insert(key->path(), entry); // the last one of a key wins
            continue;
        }
        if (++unknownCount > UnknownNamed)
            continue;
        unknown << (entry.section.isEmpty()
                        ? QString()
                        : QLatin1Char('[') + entry.section + QStringLiteral("] ")) +
                       entry.key;
    }
    for (const QString &name : std::as_const(unknown))
        warnings << QStringLiteral("The setting ") + name + QStringLiteral(" in ") + path +
                        QStringLiteral(" is unknown and was ignored.");
    if (unknownCount > UnknownNamed)
        warnings
            << QStringLiteral("%1 more unknown settings in ").arg(unknownCount - UnknownNamed) +
                   path + QStringLiteral(" were ignored.");
    if (!parsed.strayLines.isEmpty()) {
        const int first = parsed.strayLines.first();
        warnings << QStringLiteral("Line %1 of ").arg(first) + path +
                        (parsed.strayLines.size() > 1
                             ? QStringLiteral(" and %1 more lines are not settings and were "
                                              "ignored.")
                                   .arg(parsed.strayLines.size() - 1)
                             : QStringLiteral(" is not a setting and was ignored."));
    }
    files << read;
    return QString();
}

} // namespace

QString LoadedSettings::placesLooked() const
{
    QStringList places{QStringLiteral("the environment (BRINDLEWICK_SHARE_DIR, "
                                      "BRINDLEWICK_WEB_URL, BRINDLEWICK_FTP_HOST)")};
    for (const QString &file : filesLooked)
        places << file + (QFileInfo::exists(file) ? QString() : QStringLiteral(" (not there)"));
    places << QStringLiteral("the build's own settings");
    return QStringLiteral("Looked in:\n") + places.join(QLatin1Char('\n'));
}

LoadedSettings loadSettings(const QProcessEnvironment &env, const Settings &defaults,
                            SamplePolicy samples)
{
    LoadedSettings loaded;
    loaded.settings = defaults;
    loaded.filesLooked = settingsFiles(env);
    QList<ReadFile> files;
    for (const QString &path : std::as_const(loaded.filesLooked)) {
        loaded.error = readSettingsFile(path, files, loaded.warnings);
        if (!loaded.error.isEmpty())
            return loaded;
    }

    SourceSettings &sources = loaded.settings.sources;
    // The build's empty share and its placeholder host set nothing.
    if (sources.ftpHost == placeholderHost())
        sources.ftpHost.clear();
    // What stands when no place sets a key: the build's sources, the program's defaults.
    const auto buildValue = [&](const Key &key) -> QString {
        switch (key.kind) {
        case Kind::Folder:
            return sources.shareDir;
        case Kind::Host:
            return sources.ftpHost;
        case Kind::FtpConnections:
            return QString::number(sources.ftpConnections);
        case Kind::WebConnections:
            return QString::number(sources.webConnections);
        case Kind::Mode:
            return QStringLiteral("auto");
        case Kind::Tls:
            return QStringLiteral("off");
        case Kind::Bool:
            return QStringLiteral("true");
        case Kind::WebAddress:
        case Kind::File:
            break;
        }
        return QString();
    };
    for (const Key &key : Keys) {
        const QString variable = QLatin1String(key.variable);
        const bool byBuild = key.kind == Kind::Folder || key.kind == Kind::Host;
        LoadedSettings::Origin origin{key.shown(), buildValue(key),
                                      byBuild ? QStringLiteral("the build")
                                              : QStringLiteral("the program's default")};
        CheckedSetting checked;
        bool set = false;
        if (env.contains(variable)) {
            set = true;
            origin.value = env.value(variable);
            origin.where = QStringLiteral("the environment (") + variable + QLatin1Char(')');
            checked = checkSetting(QLatin1String(key.name), origin.value, variable,
                                   QStringLiteral("in the environment"));
        } else {
            for (const ReadFile &file : std::as_const(files)) {
                const auto found = file.values.constFind(key.path());
                if (found == file.values.cend())
                    continue;
                set = true;
                origin.value = found->value;
                origin.where = file.path + QStringLiteral(", line %1").arg(found->line);
                checked = checkSetting(QLatin1String(key.name), origin.value,
                                       QLatin1String(key.name), QStringLiteral("in ") + file.path);
                break;
            }
        }
        loaded.origins << origin;
        if (!set)
            continue;
        if (!checked.error.isEmpty()) {
            loaded.error = checked.error;
            return loaded;
        }
        const QString &v = checked.value;
        switch (key.kind) {
        case Kind::Folder:
            sources.shareDir = v;
            break;
        case Kind::WebAddress:
            sources.webUrl = v;
            break;
        case Kind::Host:
            sources.ftpHost = v;
            break;
        case Kind::FtpConnections:
            sources.ftpConnections = v.isEmpty() ? SourceSettings().ftpConnections : v.toInt();
            break;
        case Kind::WebConnections:
            sources.webConnections = v.isEmpty() ? SourceSettings().webConnections : v.toInt();
            break;
        case Kind::Mode:
            sources.ftpMode = v == QLatin1String("active")    ? FtpMode::Active
                              : v == QLatin1String("passive") ? FtpMode::Passive
                                                              : FtpMode::Auto;
            break;
        case Kind::Tls:
            sources.ftpTls = v == QLatin1String("required") ? FtpTls::Required : FtpTls::Off;
            break;
        case Kind::File:
            sources.caFile = v;
            break;
        case Kind::Bool:
            loaded.settings.bookmarks = v != QLatin1String("false");
            break;
        }
    }
    // Debian 12's libcurl cannot take an active-mode data connection over TLS.
    if (sources.ftpMode == FtpMode::Active && sources.ftpTls == FtpTls::Required) {
        loaded.error = QStringLiteral(
            "The settings FtpMode=active and FtpTls=required cannot go together: over TLS the "
            "data connections are passive. Set FtpMode to auto or passive.");
        return loaded;
    }
    if (!sources.anySet() && samples == SamplePolicy::WhenNoSourceIsSet) {
        sources.shareDir = loaded.settings.programDir + QStringLiteral("/demo/geod/");
        loaded.settings.sampleSheets = true;
    }
    return loaded;
}
