#include "engine/flow_dispatcher.h"

#include <chrono>

struct FlowDispatcher::Pending {
    Call call;
    bool isSend = false;
    bool done = false;  // guard: the dispatcher's mutex_
    bool ran = false;   // guard: the dispatcher's mutex_
};

FlowDispatcher::FlowDispatcher() : flowThread_(std::this_thread::get_id()) {}

FlowDispatcher::~FlowDispatcher() {
    close();
}

void FlowDispatcher::bindToCurrentThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    flowThread_ = std::this_thread::get_id();
}

bool FlowDispatcher::isFlowThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flowThread_ == std::this_thread::get_id();
}

void FlowDispatcher::setWakeup(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeup_ = std::move(hook);
}

bool FlowDispatcher::post(Call fn) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        auto pending = std::make_shared<Pending>();
        pending->call = std::move(fn);
        queue_.push_back(std::move(pending));
        wake = wakeup_;
    }
    changed_.notify_all();
    if (wake) wake();
    return true;
}

bool FlowDispatcher::send(Call fn) {
    if (isFlowThread()) {
        if (closed()) return false;
        fn();
        return true;
    }
    auto pending = std::make_shared<Pending>();
    pending->call = std::move(fn);
    pending->isSend = true;
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        queue_.push_back(pending);
        wake = wakeup_;
    }
    changed_.notify_all();
    if (wake) wake();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pending->done; });
    return pending->ran;
}

int FlowDispatcher::drain() {
    int count = 0;
    for (;;) {
        std::shared_ptr<Pending> next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) break;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        if (next->call) next->call();
        ++count;
        if (next->isSend) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                next->done = true;
                next->ran = true;
            }
            changed_.notify_all();
        }
    }
    return count;
}

void FlowDispatcher::waitWhileServing(const std::function<bool()>& done, int pollMs) {
    if (pollMs < 1) pollMs = 1;
    for (;;) {
        drain();
        if (done()) return;
        std::unique_lock<std::mutex> lock(mutex_);
        if (!queue_.empty()) continue;
        changed_.wait_for(lock, std::chrono::milliseconds(pollMs), [&] { return !queue_.empty(); });
    }
}

void FlowDispatcher::close() {
    std::deque<std::shared_ptr<Pending>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        dropped.swap(queue_);
        for (auto& pending : dropped) {
            pending->done = true;
            pending->ran = false;
        }
    }
    changed_.notify_all();
    // The dropped calls (and what they captured) are released here, outside the lock.
}

bool FlowDispatcher::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

void FlowDispatcher::reopen() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
}
