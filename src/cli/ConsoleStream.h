#pragma once

#include <QByteArray>

// Standard output or standard error as a build from the command line writes them,
// unbuffered. A write waits for room as long as it must, unless a signal has come: a
// reader that stopped reading (a full pipe, a stopped terminal) must not keep a signal
// from ending the program (SignalPipe).
class ConsoleStream {
public:
    explicit ConsoleStream(int fd);
    ~ConsoleStream();
    ConsoleStream(const ConsoleStream &) = delete;
    ConsoleStream &operator=(const ConsoleStream &) = delete;

    bool isTerminal() const { return m_terminal; }
    // False when not all of it was written: a signal came while it waited for room, or
    // the stream failed.
    bool write(const QByteArray &bytes);

private:
    bool waitForRoom() const;

    int m_fd;
    int m_own = -1;        // a non-blocking descriptor of its own for a pipe or terminal
    bool m_socket = false; // sent without waiting, call by call
    bool m_terminal = false;
};
