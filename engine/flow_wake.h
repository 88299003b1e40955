// FlowWake: ties a flow dispatcher's wake-up hook (called on engine threads) to a window's event
// loop. At most one wake-up is pending at a time; once detached, the hook is gone and a wake-up
// still under way drains nothing.
#pragma once

#include <functional>
#include <memory>

class FlowDispatcher;

class FlowWake {
  public:
    // post(serve): asks the window's thread to call `serve` (or this object's serve()) soon; false
    // when it cannot. Called on engine threads, possibly until shortly after detach() returned.
    using Post = std::function<bool(std::function<void()> serve)>;

    FlowWake(FlowDispatcher& dispatcher, Post post);
    ~FlowWake();  // detach()
    FlowWake(const FlowWake&) = delete;
    FlowWake& operator=(const FlowWake&) = delete;

    // On the window's thread, for a posted wake-up: clears the pending mark and drains the queue.
    void serve();
    // Removes the hook; later wake-ups and pending serves do nothing. Idempotent.
    void detach();

  private:
    struct Link;
    std::shared_ptr<Link> link_;
};
