#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class StopToken;

// An external command: the program and its arguments, kept apart so that no
// argument can ever be re-split or change the command.
struct ShellCommand {
    QString program; // a path: it is not looked for in PATH
    QStringList arguments;

    // For display and logs only; never parsed back.
    QString text() const;
};

struct ShellResult {
    static constexpr int Finished = 0;
    static constexpr int TimedOut = 258; // a text run given up on
    static constexpr int WaitFailed = -1;
    static constexpr int Stopped = -2;
    static constexpr int StartErrorBase = -2147221504;
    static constexpr int FileNotFound = 53;
    static constexpr int PermissionDenied = 70;
    // What is kept of the tool's standard error; the rest is read and dropped.
    static constexpr qsizetype ErrorOutputKept = 4096;

    int result = WaitFailed;
    int exitCode = -1;      // the child's exit status, when it ended normally
    bool crashed = false;   // the child ended by a signal
    qint64 pid = 0;         // the child's process id, when it started
    QByteArray errorOutput; // the start of what it wrote to standard error

    // The command ran to its end and reported success.
    bool succeeded() const { return result == Finished && !crashed && exitCode == 0; }
};

// Starts the command (ToolProcess::spawn: no input, standard output to /dev/null, its
// own process group) and blocks until it ends or stop is stopped. A stop ends it with
// everything it started at once (result Stopped) and returns as soon as it has gone,
// 50 ms at most: a tool that does not go (stuck in the kernel) is left to the
// program's reaper.
ShellResult ShellAndWait(const ShellCommand &jobToDo, const StopToken *stop = nullptr);

// What every tool runs with: the user's environment, with file names as UTF-8
// whatever the locale (under LANG=C a station name such as "ÉCOLE" would make the
// merge tool fail).
QProcessEnvironment toolEnvironment();
