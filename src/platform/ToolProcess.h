#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <utility>

class QProcessEnvironment;
class QSocketNotifier;
class QTimer;

// One run of a command-line tool whose output the program reads, on the event loop:
// its output arrives through a pipe and its end through a process file descriptor.
// Every tool the program runs, this way or blocking (ShellAndWait), is started by
// spawn(): posix_spawn shares this process's memory until the tool is loaded, where a
// fork would copy the page tables of the whole window process for every sheet.
class ToolProcess : public QObject {
    Q_OBJECT

public:
    // A tool started by spawn(). It runs in a process group of its own, with no input,
    // the signals at their defaults and no descriptor of this process's but the
    // standard streams; the stream asked for comes through a pipe.
    enum class Captured {
        Output, // standard output through the pipe; standard error stays this process's
        Errors, // standard error through the pipe; standard output goes to /dev/null
    };
    struct Child {
        qint64 pid = 0;  // 0: it did not start, and error says why
        int pidFd = -1;  // readable once it ended; -1 where the system has none
        int pipeFd = -1; // the pipe's read end, non-blocking
        int error = 0;   // errno of a failed start
    };
    // The program is a path; it is not looked for in PATH.
    static Child spawn(const QString &program, const QStringList &arguments,
                       const QProcessEnvironment &environment, Captured captured);
    // Ends the tool and everything it started, at once, without waiting.
    static void killGroup(qint64 pid);
    // The program's one reaper takes a tool nobody waits for any more (killed, but
    // perhaps not gone yet: stuck in the kernel), collects it whenever it ends so that
    // it leaves no zombie, and closes pidFd (-1: none).
    static void reapLater(qint64 pid, int pidFd);
    // At the program's end: waits at most msecs until the reaper holds no tool; false
    // when some are still stuck.
    static bool waitForReaped(int msecs);
    // Tools the reaper still holds.
    static int reaping();

    explicit ToolProcess(QObject *parent = nullptr);
    // A tool still running is abandoned.
    ~ToolProcess() override;

    // At most this much of the output is kept; the rest is read and counted only, so
    // a tool that pours out text without end cannot fill the memory.
    void setOutputLimit(qsizetype bytes) { m_limit = bytes; }

    // False when the tool could not be started; nothing is signalled then.
    bool start(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment);
    qint64 processId() const { return m_pid; }
    // The output that arrived since the last call.
    QByteArray readAll() { return std::exchange(m_output, {}); }
    // Form feeds in all of the output, kept or not: pdftotext ends each page with one.
    int formFeeds() const { return m_formFeeds; }
    // Ends the tool and what it started, at once; finished() follows.
    void kill();
    // Ends the tool and what it started, at once, and lets it go: nothing is signalled
    // any more, and the reaper collects it. Never waits.
    void abandon();

signals:
    void readyRead();
    // All of the tool's output has been signalled by now.
    void finished(int exitCode, bool crashed);

private:
    void readOutput();
    void reap();

    qint64 m_pid = 0;
    int m_outFd = -1;
    int m_pidFd = -1;
    QSocketNotifier *m_outNotifier = nullptr;
    QSocketNotifier *m_endNotifier = nullptr;
    QTimer *m_poll = nullptr; // where the system has no process file descriptors
    QByteArray m_output;
    qsizetype m_limit = -1; // no limit
    qsizetype m_kept = 0;
    int m_formFeeds = 0;
};
