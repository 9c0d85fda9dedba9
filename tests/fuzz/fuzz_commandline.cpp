// The command line's options (the input cut into arguments at NUL bytes): parse either
// refuses with a message, or yields an action its arguments bear out. A build has one
// list file, one of the arguments, and the output an output option names; the window
// gets every argument but the first "--" as a list file, with no output and no edition.
#include "FuzzCheck.h"
#include "cli/CommandLineOptions.h"

namespace {

bool outputNamed(const QStringList &arguments, const QString &output)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (((a == "-o" || a == "--output") && i + 1 < arguments.size() &&
             arguments[i + 1] == output) ||
            a == "--output=" + output || a == "-o" + output)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList arguments = size > 0 ? utf8Text(data, size).split(QChar(0)) : QStringList();
    const CommandLineOptions o = CommandLineOptions::parse(arguments);
    const auto all = [&] { return shown(arguments.join(QChar(0))) + " gave " + shown(o.output); };
    using O = CommandLineOptions;
    FUZZ_CHECK((o.action == O::Refuse) != o.error.isEmpty(), all());
    QStringList windowFiles = arguments;
    windowFiles.removeOne("--");
    switch (o.action) {
    case O::Build:
        FUZZ_CHECK(o.listFiles.size() == 1 && arguments.contains(o.listFiles[0]), all());
        FUZZ_CHECK(outputNamed(arguments, o.output), all());
        break;
    case O::OpenWindow:
        FUZZ_CHECK(o.listFiles == windowFiles && o.output.isEmpty() && !o.metric, all());
        break;
    case O::ShowHelp:
        FUZZ_CHECK(arguments.contains("-h") || arguments.contains("--help"), all());
        break;
    case O::ShowVersion:
        FUZZ_CHECK(arguments.contains("--version"), all());
        break;
    case O::ShowSources:
        FUZZ_CHECK(arguments.contains("--sources"), all());
        break;
    case O::Refuse:
        break;
    }
    return 0;
}
