#include "ss/ss_thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "ss/ss_log.h"

namespace {

std::atomic<int> g_lockTrace{0};

}  // namespace

// ---- threads ----

namespace {

// Shared by the handle and the running thread, so that neither outlives what it uses.
struct ThreadShared {
    std::atomic<bool> finished{false};
    int result = 0;  // written by the thread before `finished` is set; read after that
};

}  // namespace

struct ss_thread {
    std::thread thread;
    std::shared_ptr<ThreadShared> shared;
};

namespace {

// Waits for the thread unless it is the calling thread itself (a thread that drops its own handle
// leaves it running on its own).
void waitFor(ss_thread& handle) {
    if (!handle.thread.joinable()) return;
    if (handle.thread.get_id() == std::this_thread::get_id())
        handle.thread.detach();
    else
        handle.thread.join();
}

}  // namespace

void ss_thread_deleter::operator()(ss_thread* thread) const {
    if (thread == nullptr) return;
    waitFor(*thread);
    delete thread;
}

int ss_thread_create(ss_thread_ptr& out, ss_thread_proc proc, void* arg) {
    out.reset();
    if (proc == nullptr) return -1;
    auto handle = std::make_unique<ss_thread>();
    handle->shared = std::make_shared<ThreadShared>();
    try {
        handle->thread = std::thread([shared = handle->shared, proc, arg] {
            shared->result = proc(arg);
            shared->finished.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return -1;
    }
    out.reset(handle.release());
    return 0;
}

int ss_thread_join(ss_thread_ptr& thread) {
    if (!thread) return 0;
    waitFor(*thread);
    int result = thread->shared->finished.load(std::memory_order_acquire) ? thread->shared->result : 0;
    thread.reset();
    return result;
}

bool ss_thread_finished(const ss_thread_ptr& thread) {
    return !thread || thread->shared->finished.load(std::memory_order_acquire);
}

// ---- mutex ----

struct ss_mutex {
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};  // written only by the owning thread while it holds `mutex`
    int depth = 0;                         // guarded by mutex
};

namespace {

void lockRaw(ss_mutex* mutex) {
    mutex->mutex.lock();
    mutex->owner.store(std::this_thread::get_id());
    ++mutex->depth;
}

// Unlocking a mutex the caller does not own is refused with -1 (it would break the owner's lock).
int unlockRaw(ss_mutex* mutex) {
    if (mutex->owner.load() != std::this_thread::get_id()) return -1;
    if (--mutex->depth == 0) mutex->owner.store(std::thread::id());
    mutex->mutex.unlock();
    return 0;
}

}  // namespace

ss_mutex* ss_mutex_new() {
    return new ss_mutex;
}

void ss_mutex_free(ss_mutex* mutex) {
    delete mutex;
}

int ss_mutex_lock(ss_mutex* mutex) {
    if (mutex == nullptr) return 0;
    bool trace = g_lockTrace.load() != 0;
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]--->Ask for Lock\n", __FILE__, __func__, __LINE__, (void*)mutex);
    lockRaw(mutex);
    if (trace) ss_log_traceWrite("%s|%s:%d| [%p]--->Locked\n", __FILE__, __func__, __LINE__, (void*)mutex);
    return 0;
}

int ss_mutex_unlock(ss_mutex* mutex) {
    if (mutex == nullptr) return 0;
    bool trace = g_lockTrace.load() != 0;
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]<---Ask for UnLock\n", __FILE__, __func__, __LINE__, (void*)mutex);
    if (unlockRaw(mutex) != 0) return -1;
    if (trace) ss_log_traceWrite("%s|%s:%d| [%p]<---UnLocked\n", __FILE__, __func__, __LINE__, (void*)mutex);
    return 0;
}

// ---- event ----

// Win32 auto-reset semantics: a set releases exactly one waiting thread, the longest waiting one
// (a ticket each); only when nobody waits does it stay pending, at most once. A released waiter needs
// no further step to count as released, so two sets in a row release two waiters even when neither
// has run yet.
struct ss_event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;     // guarded by mutex; the one pending signal (nobody was waiting)
    uint64_t nextTicket = 0;    // guarded by mutex; tickets handed to waiters so far
    uint64_t releasedUpTo = 0;  // guarded by mutex; tickets below this value are released
};

ss_event* ss_event_new() {
    return new ss_event;
}

void ss_event_free(ss_event* event) {
    delete event;
}

int ss_event_set(ss_event* event) {
    if (event == nullptr) return 0;
    {
        std::lock_guard<std::mutex> lock(event->mutex);
        if (event->releasedUpTo < event->nextTicket) {
            ++event->releasedUpTo;
        } else {
            event->signalled = true;
            return 0;
        }
    }
    event->changed.notify_all();  // the released ticket's owner is among them
    return 0;
}

int ss_event_wait(ss_event* event) {
    if (event == nullptr) return -1;
    std::unique_lock<std::mutex> lock(event->mutex);
    if (event->signalled) {
        event->signalled = false;
        return 0;
    }
    const uint64_t ticket = event->nextTicket++;
    event->changed.wait(lock, [event, ticket] { return event->releasedUpTo > ticket; });
    return 0;
}

bool ss_event_pending(ss_event* event) {
    if (event == nullptr) return false;
    std::lock_guard<std::mutex> lock(event->mutex);
    return event->signalled;
}

int ss_event_waiting(ss_event* event) {
    if (event == nullptr) return 0;
    std::lock_guard<std::mutex> lock(event->mutex);
    return static_cast<int>(event->nextTicket - event->releasedUpTo);
}

int ss_cond_wait_timedwait(ss_mutex* mutex, ss_event* event) {
    bool trace = g_lockTrace.load() != 0;
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]<---ss_cond_wait Ask for UnLock\n", __FILE__, __func__, __LINE__,
                          (void*)mutex);
    if (mutex != nullptr) unlockRaw(mutex);
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]<---ss_cond_wait UnLocked\n", __FILE__, __func__, __LINE__,
                          (void*)mutex);
    int result = ss_event_wait(event);
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]<---ss_cond_wait  Ask for Lock\n", __FILE__, __func__, __LINE__,
                          (void*)mutex);
    if (mutex != nullptr) lockRaw(mutex);
    if (trace)
        ss_log_traceWrite("%s|%s:%d| [%p]<---ss_cond_wait Locked\n", __FILE__, __func__, __LINE__,
                          (void*)mutex);
    return result == 0 ? 0 : -1;
}

// ---- lock trace ----

void ss_thread_setLockTrace(int on) {
    g_lockTrace.store(on);
}

int ss_thread_lockTrace() {
    return g_lockTrace.load();
}
