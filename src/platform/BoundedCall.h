#pragma once

#include "WorkerThread.h"

#include <QObject>
#include <QTimer>

#include <optional>

// A call that may block in the kernel for ever, such as a look at a folder on a network
// mount whose server is gone, made on a kept worker thread with a deadline, so that the
// window's thread never waits for it without a bound. A call given up on is let go (the
// keeper counts it stuck until it returns), and undo gets what it brought late, on its
// own thread, to take back what it did (a draft it made). With ThreadKeeper::MaxStuck
// threads stuck already, no further one is started: the call counts as unanswered.
// Whatever work and undo use must outlive them, stuck ones included.

namespace bounded {

template <typename R> struct State {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<R> result;
    bool givenUp = false;   // the deadline passed, or the caller cancelled
    bool delivered = false; // the answer reached the caller
    std::function<void(R &)> undo;
    std::shared_ptr<Mailbox> mailbox; // to the caller's thread, for BoundedCall
};

// Runs work and hands its result to the state, then calls then() under the state's
// lock; a call given up on meanwhile gets its result undone instead.
template <typename R, typename Then>
void run(const std::shared_ptr<State<R>> &state, std::function<R()> &work, Then then)
{
    R result = work();
    std::unique_lock lock(state->mutex);
    if (state->givenUp) {
        lock.unlock();
        if (state->undo)
            state->undo(result);
        ThreadKeeper::program().cameBack();
        return;
    }
    state->result = std::move(result);
    state->answered.notify_all();
    then();
}

} // namespace bounded

// Waits at most msecs for work's answer; none when it did not come in time. For the
// few places that cannot go on without it: start-up's look at the share, reading a
// list file.
template <typename R>
std::optional<R> callWithin(int msecs, std::function<R()> work, std::function<void(R &)> undo = {})
{
    ThreadKeeper &keeper = ThreadKeeper::program();
    if (keeper.stuck() >= ThreadKeeper::MaxStuck)
        return std::nullopt;
    auto state = std::make_shared<bounded::State<R>>();
    state->undo = std::move(undo);
    keeper.start([state, work = std::move(work)]() mutable { bounded::run(state, work, [] {}); });
    std::unique_lock lock(state->mutex);
    if (state->answered.wait_for(lock, std::chrono::milliseconds(msecs),
                                 [&] { return state->result.has_value(); }))
        return std::move(state->result);
    state->givenUp = true;
    keeper.letGo(); // under the state's lock: it cannot come back before
    return std::nullopt;
}

// The same for the window's thread, without waiting: answered(result) or timedOut()
// follows on the receiver's thread, from its event loop, once; nothing does after
// cancel(), nor once the receiver is gone.
class BoundedCall {
public:
    virtual ~BoundedCall() = default;
    virtual void cancel() = 0;

    template <typename R>
    static std::shared_ptr<BoundedCall>
    start(QObject *receiver, int msecs, std::function<R()> work, std::function<void(R)> answered,
          std::function<void()> timedOut, std::function<void(R &)> undo = {});
};

namespace bounded {

template <typename R> class Call : public BoundedCall {
public:
    explicit Call(std::shared_ptr<State<R>> state) : m_state(std::move(state)) {}
    ~Call() override { cancel(); }

    void cancel() override
    {
        std::unique_lock lock(m_state->mutex);
        if (m_state->delivered || m_state->givenUp)
            return;
        m_state->givenUp = true;
        m_state->mailbox->close();
        if (!m_state->result) {
            ThreadKeeper::program().letGo(); // still at work, perhaps stuck
            return;
        }
        // It answered, but the answer has not been taken: take back what it did, off
        // this thread (undoing may touch the same mount).
        if (m_state->undo)
            startWorkerThread([undo = m_state->undo,
                               result = std::move(*m_state->result)]() mutable { undo(result); });
        m_state->result.reset();
    }

private:
    std::shared_ptr<State<R>> m_state;
};

} // namespace bounded

template <typename R>
std::shared_ptr<BoundedCall>
BoundedCall::start(QObject *receiver, int msecs, std::function<R()> work,
                   std::function<void(R)> answered, std::function<void()> timedOut,
                   std::function<void(R &)> undo)
{
    auto state = std::make_shared<bounded::State<R>>();
    state->undo = std::move(undo);
    state->mailbox = Mailbox::create(receiver);
    auto call = std::make_shared<bounded::Call<R>>(state);
    ThreadKeeper &keeper = ThreadKeeper::program();
    if (keeper.stuck() >= ThreadKeeper::MaxStuck) {
        // Threads enough hang already: this call is not made, and counts as unanswered.
        state->givenUp = true;
        state->mailbox->close();
        QTimer::singleShot(0, receiver, std::move(timedOut));
        return call;
    }
    // The answer, on the receiver's thread.
    const auto deliver = [state, answered = std::move(answered)] {
        std::unique_lock lock(state->mutex);
        if (state->givenUp || state->delivered || !state->result)
            return;
        state->delivered = true;
        R result = std::move(*state->result);
        state->result.reset();
        lock.unlock();
        answered(std::move(result));
    };
    keeper.start([state, deliver, work = std::move(work)]() mutable {
        bounded::run(state, work, [&] { state->mailbox->post(deliver); });
    });
    QTimer::singleShot(msecs, receiver, [state, timedOut = std::move(timedOut)] {
        std::unique_lock lock(state->mutex);
        // An answer on its way wins: it arrived in time.
        if (state->givenUp || state->delivered || state->result)
            return;
        state->givenUp = true;
        ThreadKeeper::program().letGo();
        state->mailbox->close();
        lock.unlock();
        timedOut();
    });
    return call;
}
