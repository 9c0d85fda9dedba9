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
    bool reportGiven = false;
    bool sources = false;
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
        if (arg == QLatin1String("--sources")) {
            sources = true;
            continue;
        }
        QString value;
        const bool report =
            arg == QLatin1String("--report") || arg.startsWith(QLatin1String("--report="));
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output") ||
            arg == QLatin1String("--report")) {
            if (i + 1 == arguments.size())
                return refuse(QStringLiteral("the option ") + arg +
                              (report ? QStringLiteral(" needs the report file's name")
                                      : QStringLiteral(" needs the output file's name")));
            value = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--output=")) || report) {
            value = arg.section(QLatin1Char('='), 1);
        } else if (arg.startsWith(QLatin1String("-o")) && !arg.startsWith(QLatin1String("--"))) {
            value = arg.mid(2);
        } else {
            return refuse(QStringLiteral("unknown option '") + arg + QLatin1Char('\''));
        }
        // Two files for one purpose are a slip: which one was meant cannot be known.
        bool &given = report ? reportGiven : outputGiven;
        if (given)
            return refuse(report ? QStringLiteral("the report file is named more than once")
                                 : QStringLiteral("the output file is named more than once"));
        given = true;
        (report ? options.report : options.output) = value;
    }
    if (sources) {
        if (outputGiven || reportGiven || options.metric || !options.listFiles.isEmpty())
            return refuse(QStringLiteral("--sources takes no list file and no other option"));
        options.action = ShowSources;
        return options;
    }
    if (!outputGiven) {
        if (options.metric || reportGiven)
            return refuse(options.metric ? QStringLiteral("--metric is for a build with --output")
                                         : QStringLiteral("--report is for a build with --output"));
        return options;
    }
    if (reportGiven && options.report.isEmpty())
        return refuse(QStringLiteral("the report file's name is empty"));
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
    QString text = QStringLiteral(
        "Usage: brindlewick [LIST-FILE]\n"
        "       brindlewick --output OUT.pdf [--metric] [--report FILE] [--] LIST-FILE\n"
        "       brindlewick --sources\n"
        "\n"
        "Collects the data sheets of the GSIDs (station numbers) in LIST-FILE into one\n"
        "PDF. Without --output it opens its window with the list loaded. With --output\n"
        "it builds OUT.pdf without a window or a display, and ends; LIST-FILE - reads\n"
        "the list from standard input:  cut -f1 stations.tsv | brindlewick -o out.pdf -\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT.pdf  build OUT.pdf (its name must end in .pdf); an existing\n"
        "                        file is replaced only by a complete new one. Its folder\n"
        "                        is checked before the first sheet is fetched\n"
        "      --metric          the Metric edition (default: English)\n"
        "      --report FILE     also write a JSON summary of the build to FILE, replaced\n"
        "                        whole: {\"output\", \"requested\", \"written\", \"missing\":\n"
        "                        [{\"gsid\", \"cause\", \"detail\"}]}; causes: not-on-source,\n"
        "                        refused, transfer-failed, source-lost, not-a-pdf,\n"
        "                        unreadable, merge-refused\n"
        "      --sources         show the source settings and where each comes from, try\n"
        "                        the sources as a build would, and say which it would use\n"
        "  -h, --help            show this help and end\n"
        "      --version         show the version and end\n"
        "\n"
        "Progress and messages go to standard error, and a build ends with one line\n"
        "there:  Wrote OUT.pdf: 298 of 303 data sheets (41 s).  or, when it wrote\n"
        "nothing,  Did not write OUT.pdf: 0 of 303 data sheets (2.5 s).  The GSIDs whose\n"
        "sheets are not in the output go to standard output, one per line, to be fed\n"
        "back in.\n"
        "\n"
        "Settings (the data-sheet share, web server and FTP server, tried in that\n"
        "order), first match wins: the environment (below), then these files:\n");
    for (const QString &file : settingsFiles(env))
        text += QStringLiteral("  ") + file + QLatin1Char('\n');
    text += QStringLiteral("\nEnvironment:\n");
    // A long name on a line of its own; the meanings in a column, wrapped at 80.
    const QString column(30, QLatin1Char(' '));
    for (const auto &[name, meaning] : environmentVariables()) {
        QString line = QStringLiteral("  ") + name;
        line += name.size() < 28 ? QString(28 - name.size(), QLatin1Char(' '))
                                 : QLatin1Char('\n') + column;
        qsizetype width = 30;
        for (const QString &word : meaning.split(QLatin1Char(' '))) {
            if (width > 30 && width + 1 + word.size() > 80) {
                line += QLatin1Char('\n') + column;
                width = 30;
            } else if (width > 30) {
                line += QLatin1Char(' ');
                ++width;
            }
            line += word;
            width += word.size();
        }
        text += line + QLatin1Char('\n');
    }
    text += QStringLiteral(
        "\n"
        "Exit status of a build with --output:\n"
        "  0    every sheet is in the output\n"
        "  1    the output was written; the GSIDs missing from it are on standard output\n"
        "  2    nothing was written (an empty or unreadable list, a bad output name or\n"
        "       folder, no data-sheet source, a tool that cannot run, a failed merge, an\n"
        "       output that cannot be replaced, a mistake on the command line); an old\n"
        "       output is kept\n"
        "  3    the output was written, but the --report file could not be\n"
        "  130  stopped by SIGINT, 143 by SIGTERM, 129 by SIGHUP, 141 when the reader of\n"
        "       its output went away (SIGPIPE); an old output is kept. A signal the\n"
        "       caller ignores (nohup) stays ignored\n"
        "Exit status of --sources: 0 when a source answers, 2 when none does.\n");
    return text;
}

QString CommandLineOptions::versionText()
{
    return QStringLiteral("brindlewick %1.%2.%3\n")
        .arg(BRINDLEWICK_VERSION_MAJOR)
        .arg(BRINDLEWICK_VERSION_MINOR)
        .arg(BRINDLEWICK_VERSION_PATCH);
}
