#pragma once

#include <QObject>

#include <initializer_list>
#include <signal.h>

class QSocketNotifier;

// The signals that stop a build. While there is nothing to clean up (before the
// workspace is taken, and once it is gone) a signal ends the program at once with
// 128 + its number. While a build runs, the handler only writes the signal's number
// into a pipe (a self-pipe), and whatever is to happen happens on the event loop,
// where it is safe. A signal the caller set to be ignored (nohup, a background job)
// stays ignored. One at a time; the previous handlers come back when it goes.
class SignalPipe : public QObject {
    Q_OBJECT

public:
    enum class Mode { EndAtOnce, ToTheLoop };

    SignalPipe(std::initializer_list<int> signalNumbers, Mode mode, QObject *parent = nullptr);
    ~SignalPipe() override;

    bool isValid() const { return m_readFd >= 0; }
    void setMode(Mode mode);
    // The first signal received so far, 0 for none; also hands on what is waiting in
    // the pipe when the event loop has not run since.
    int received();

    // For a write that waits for room: whether a signal came, and a descriptor that
    // becomes readable when one comes (-1 without a pipe). Safe from any thread.
    static bool caught();
    static int wakeFd();

signals:
    void signalled(int signalNumber);

private:
    void drain();

    int m_readFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    struct Previous {
        int number;
        struct sigaction action;
    };
    Previous m_previous[8];
    int m_previousCount = 0;
};
