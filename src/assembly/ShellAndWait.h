#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <atomic>

// An external command: the program and its arguments, kept apart so that no
// argument can ever be re-split or change the command.
struct ShellCommand {
    QString program;
    QStringList arguments;

    // For display and logs only; never parsed back.
    QString text() const;
};

struct ShellResult {
    static constexpr int Finished = 0;
    static constexpr int TimedOut = 258;
    static constexpr int WaitFailed = -1;
    static constexpr int StartErrorBase = -2147221504;
    static constexpr int FileNotFound = 53;
    static constexpr int PermissionDenied = 70;

    int result = WaitFailed;
    int exitCode = -1;      // the child's exit status, when it ended normally
    bool crashed = false;   // the child ended by a signal
    qint64 pid = 0;         // the child's process id, when it started
    QByteArray errorOutput; // the start of what it wrote to standard error

    // The command ran to its end and reported success.
    bool succeeded() const { return result == Finished && !crashed && exitCode == 0; }
};

// Starts the command and blocks until it ends, timeOut milliseconds pass (-1: no
// limit) or stop becomes true. execMode is the window style; command-line tools open
// none, so it is accepted and ignored. A child still running at the time-out is left
// running; a stopped one is ended with everything it started (result TimedOut), and
// waited for a second at most.
ShellResult ShellAndWait(const ShellCommand &jobToDo, int execMode, int timeOut,
                         const std::atomic<bool> *stop = nullptr);

// Sets a tool up to run in a process group of its own, so that endTool() also ends
// what it started (pdftk is a shell script that runs Java as its child), with no
// descriptor of this process but the standard streams.
void runAsGroup(QProcess &process);
// Ends the tool at once with everything it started.
void endTool(QProcess &process);

// What every tool runs with: the user's environment, with file names as UTF-8
// whatever the locale (under LANG=C a station name such as "ÉCOLE" would make the
// merge tool fail).
QProcessEnvironment toolEnvironment();
