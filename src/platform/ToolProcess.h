#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <utility>

class QProcessEnvironment;
class QSocketNotifier;
class QTimer;

// One run of a command-line tool whose output the program reads, started the light
// way: posix_spawn shares this process's memory until the tool is loaded, where a
// fork would copy the page tables of the whole window process for every sheet. The
// tool runs in a process group of its own, with no input; its output arrives through
// a pipe and its end through a process file descriptor, both on the event loop.
class ToolProcess : public QObject {
    Q_OBJECT

public:
    explicit ToolProcess(QObject *parent = nullptr);
    // A tool still running is ended with everything it started, and never waited for.
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
    // Waits, without the event loop, until the tool has ended; false after msecs.
    bool waitForFinished(int msecs);
    // Ends every one of them, then waits once, at most msecs for them all; a tool that
    // will not go (stuck in the kernel) is left to a reaper of its own.
    static void endAll(const QList<ToolProcess *> &tools, int msecs);

signals:
    void readyRead();
    // All of the tool's output has been signalled by now.
    void finished(int exitCode, bool crashed);

private:
    void readOutput();
    bool reap(bool block);

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
