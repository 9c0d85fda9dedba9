#pragma once

#include <QObject>

#include <initializer_list>
#include <signal.h>

class QSocketNotifier;

// Turns the signals asked for into an event of the event loop: the handler only
// writes the signal's number into a pipe (a self-pipe), and whatever is to happen
// happens on the loop, where it is safe. One at a time; the previous handlers come
// back when it goes.
class SignalPipe : public QObject {
    Q_OBJECT

public:
    SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~SignalPipe() override;

    bool isValid() const { return m_readFd >= 0; }
    // The first signal received so far, 0 for none; also reads what is waiting in the
    // pipe when the event loop has not run since.
    int received();

signals:
    void signalled(int signalNumber);

private:
    void drain();

    int m_readFd = -1;
    int m_first = 0;
    QSocketNotifier *m_notifier = nullptr;
    struct Previous {
        int number;
        struct sigaction action;
    };
    Previous m_previous[8];
    int m_previousCount = 0;
};
