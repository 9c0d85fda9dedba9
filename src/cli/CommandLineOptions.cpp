#include "CommandLineOptions.h"

#include "Version.h"
#include "startup/Settings.h"

#include <QProcessEnvironment>

namespace {

QString refusalHint(const QString &what)
{
    return what + QStringLiteral("; see brindlewick --help");
}

} // namespace

CommandLineOptions CommandLineOptions::parse(const QStringList &arguments)
{
    CommandLineOptions options;
    bool outputGiven = false;
    const auto refuse = [&options](const QString &why) {
        options.action = Refuse;
        options.error = refusalHint(why);
        return options;
    };
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        // "-" alone names standard input; after "--" every argument is a list file, so a
        // file whose name begins with "-" can still be named.
        if (optionsEnd || arg == standardInput() || !arg.startsWith(QLatin1Char('-'))) {
            options.listFiles << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            options.action = ShowHelp;
            return options;
        }
        if (arg == QLatin1String("--version")) {
            options.action = ShowVersion;
            return options;
        }
        if (arg == QLatin1String("--metric")) {
            options.metric = true;
            continue;
        }
        QString value;
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (i + 1 == arguments.size())
                return refuse(QStringLiteral("the option ") + arg +
                              QStringLiteral(" needs the output file's name"));
            value = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--output="))) {
            value = arg.mid(9);
        } else if (arg.startsWith(QLatin1String("-o")) && !arg.startsWith(QLatin1String("--"))) {
            value = arg.mid(2);
        } else {
            return refuse(QStringLiteral("unknown option '") + arg + QLatin1Char('\''));
        }
        // Two outputs in one command are a slip: which one was meant cannot be known.
        if (outputGiven)
            return refuse(QStringLiteral("the output file is named more than once"));
        outputGiven = true;
        options.output = value;
    }
    if (!outputGiven) {
        if (options.metric)
            return refuse(QStringLiteral("--metric is for a build with --output"));
        return options;
    }
    options.action = Build;
    if (options.listFiles.isEmpty())
        return refuse(QStringLiteral("no list file given (- reads the list from standard input)"));
    // A build takes one list; dropping the rest silently would leave sheets out unseen.
    if (options.listFiles.size() > 1)
        return refuse(QStringLiteral("one list file only, not ") +
                      QString::number(options.listFiles.size()));
    return options;
}

QString CommandLineOptions::helpText(const QProcessEnvironment &env)
{
    const QStringList files = settingsFiles(env);
    QString text = QStringLiteral(
        "Usage: brindlewick [LIST-FILE]\n"
        "       brindlewick --output OUT.pdf [--metric] [--] LIST-FILE\n"
        "\n"
        "Collects the data sheets of the GSIDs (station numbers) in LIST-FILE into one\n"
        "PDF. Without --output it opens its window with the list loaded. With --output\n"
        "it builds OUT.pdf without a window or a display, and ends; LIST-FILE - reads\n"
        "the list from standard input:  cut -f1 stations.tsv | brindlewick -o out.pdf -\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT.pdf  build OUT.pdf (its name must end in .pdf); an existing\n"
        "                        file is replaced only by a complete new one\n"
        "      --metric          the Metric edition (default: English)\n"
        "  -h, --help            show this help and end\n"
        "      --version         show the version and end\n"
        "\n"
        "Progress and messages go to standard error. The GSIDs whose sheets are not in\n"
        "the output go to standard output, one per line, to be fed back in.\n"
        "\n"
        "Settings (the data-sheet share, web server and FTP server, tried in that\n"
        "order), first match wins:\n"
        "  the environment: BRINDLEWICK_SHARE_DIR, BRINDLEWICK_WEB_URL,\n"
        "                   BRINDLEWICK_WEB_CONNECTIONS, BRINDLEWICK_CA_FILE,\n"
        "                   BRINDLEWICK_FTP_HOST, BRINDLEWICK_FTP_CONNECTIONS,\n"
        "                   BRINDLEWICK_FTP_MODE\n");
    for (const QString &file : files)
        text += QStringLiteral("  ") + file + QLatin1Char('\n');
    text += QStringLiteral(
        "The workspace is made in $TMPDIR (or /tmp).\n"
        "\n"
        "Exit status of a build with --output:\n"
        "  0    every sheet is in the output\n"
        "  1    the output was written; the GSIDs missing from it are on standard output\n"
        "  2    nothing was written (an empty or unreadable list, a bad output name, no\n"
        "       data-sheet source, a tool that cannot run, a failed merge, an output that\n"
        "       cannot be replaced, a mistake on the command line); an old output is kept\n"
        "  130  stopped by SIGINT, 143 by SIGTERM, 129 by SIGHUP; an old output is kept\n");
    return text;
}

QString CommandLineOptions::versionText()
{
    return QStringLiteral("brindlewick %1.%2.%3\n")
        .arg(BRINDLEWICK_VERSION_MAJOR)
        .arg(BRINDLEWICK_VERSION_MINOR)
        .arg(BRINDLEWICK_VERSION_PATCH);
}
