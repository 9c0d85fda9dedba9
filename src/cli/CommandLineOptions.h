#pragma once

#include <QString>
#include <QStringList>

class QProcessEnvironment;

// What the program was asked for on its command line. Without an option it opens its
// window, the first argument still the list file; --output builds without one.
struct CommandLineOptions {
    enum Action {
        OpenWindow, // no option: the window, with listFiles.value(0) imported
        Build,      // --output: build without a window
        ShowHelp,
        ShowVersion,
        ShowSources, // --sources: the source settings, and which source answers
        Refuse,      // a mistake on the command line: error says which
    };

    Action action = OpenWindow;
    QString output;        // as given, not trimmed
    bool metric = false;   // the Metric edition
    QString report;        // --report: the JSON summary's file, as given; empty: none
    QStringList listFiles; // the arguments that are not options; "-" is standard input
    QString error;

    static CommandLineOptions parse(const QStringList &arguments);

    // The list file named for a build: "-" for standard input.
    static QString standardInput() { return QStringLiteral("-"); }

    static QString helpText(const QProcessEnvironment &env);
    static QString versionText();
};
