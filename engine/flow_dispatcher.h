// The flow thread's queue of calls: the stand-in for the window messages through which engine
// threads reach the batch flow. Any thread may post (queued, fire and forget) or send (blocks until
// the call ran on the flow thread). The flow thread runs the queue with drain() from its own loop
// (the front end's wake-up hook tells it when), and every wait of the flow thread for an engine
// thread goes through waitWhileServing(), which keeps running queued calls while it waits; so an
// engine thread blocked in send() and the flow thread waiting for that engine thread never meet.
// After close() nothing is queued any more: send() returns false at once without running the call
// (a closing window never leaves an engine thread waiting for ever), post() drops the call.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FlowDispatcher {
  public:
    using Call = std::function<void()>;

    FlowDispatcher();
    ~FlowDispatcher();
    FlowDispatcher(const FlowDispatcher&) = delete;
    FlowDispatcher& operator=(const FlowDispatcher&) = delete;

    // Makes the calling thread the flow thread (the constructor binds the constructing thread).
    void bindToCurrentThread();
    bool isFlowThread() const;

    // Called (from any thread, without the queue's lock held) whenever a call was queued, so the
    // front end can schedule drain() on the flow thread. May be empty (a loop that polls drain()).
    void setWakeup(std::function<void()> hook);

    // Queues `fn`; false (and `fn` dropped) when closed.
    bool post(Call fn);

    // Runs `fn` on the flow thread and returns true once it has run. On the flow thread itself it runs
    // at once. Returns false without running `fn` when the dispatcher is closed, also when close()
    // comes while the call is still waiting in the queue.
    bool send(Call fn);

    // Flow thread: runs every queued call (also calls queued while draining). Returns how many ran.
    int drain();

    // Flow thread: waits until `done()` holds, running queued calls meanwhile. `done` is polled at
    // least every pollMs milliseconds and after every drained call.
    void waitWhileServing(const std::function<bool()>& done, int pollMs = 10);

    // Flow thread: stop accepting calls; queued sends return false to their senders, queued posts are
    // dropped. Idempotent.
    void close();
    bool closed() const;

    // Reopens a closed dispatcher (a flow that is initialised again after OnDestroy, in tests).
    void reopen();

  private:
    struct Pending;
    mutable std::mutex mutex_;                    // guards queue_, closed_, wakeup_
    std::condition_variable changed_;             // queue_ grew, a send completed, or closed_ changed
    std::deque<std::shared_ptr<Pending>> queue_;  // guard: mutex_
    bool closed_ = false;                         // guard: mutex_
    std::function<void()> wakeup_;                // guard: mutex_ (copied out before calling)
    std::thread::id flowThread_;                  // guard: mutex_
};
