// Concurrency primitives of the runtime library: threads started on a function and an argument, a
// recursive mutex, an auto-reset event that keeps at most one pending signal, and the condition wait
// built from the two. Built on the C++ standard library. An optional lock trace (off by default)
// writes every lock operation into the log.
#pragma once

#include <memory>

// ---- threads ----
using ss_thread_proc = int (*)(void* arg);

struct ss_thread;
struct ss_thread_deleter {
    void operator()(ss_thread* thread) const;  // joins (no time limit), then frees
};
using ss_thread_ptr = std::unique_ptr<ss_thread, ss_thread_deleter>;

// Starts proc(arg) on a new thread and stores it in `out` (empty when the start failed).
// 0, or -1 when the thread could not be started.
int ss_thread_create(ss_thread_ptr& out, ss_thread_proc proc, void* arg);
// Waits for the thread with no time limit, frees it and empties `thread`. An empty one gives 0 at
// once; otherwise the thread function's result.
int ss_thread_join(ss_thread_ptr& thread);
// True once the thread function returned (or the pointer is empty).
bool ss_thread_finished(const ss_thread_ptr& thread);

// ---- mutex (recursive: the owner may lock again and unlocks as often) ----
struct ss_mutex;
ss_mutex* ss_mutex_new();
void ss_mutex_free(ss_mutex* mutex);  // null does nothing
struct ss_mutex_deleter {
    void operator()(ss_mutex* mutex) const { ss_mutex_free(mutex); }
};
using ss_mutex_ptr = std::unique_ptr<ss_mutex, ss_mutex_deleter>;

int ss_mutex_lock(ss_mutex* mutex);    // waits with no time limit; null -> 0 at once
int ss_mutex_unlock(ss_mutex* mutex);  // null -> 0

// Locks an ss_mutex for the guard's lifetime (null does nothing).
class ss_mutex_guard {
  public:
    explicit ss_mutex_guard(ss_mutex* mutex) : mutex_(mutex) { ss_mutex_lock(mutex_); }
    ~ss_mutex_guard() { ss_mutex_unlock(mutex_); }
    ss_mutex_guard(const ss_mutex_guard&) = delete;
    ss_mutex_guard& operator=(const ss_mutex_guard&) = delete;

  private:
    ss_mutex* mutex_;
};

// ---- event (auto-reset, not signalled at creation) ----
// ss_event_set releases exactly one waiting thread (each set its own: two sets release two waiters);
// when nobody waits the event stays signalled until the next wait consumes it, and further sets
// before that are lost (at most one pending signal).
struct ss_event;
ss_event* ss_event_new();
void ss_event_free(ss_event* event);  // null does nothing
struct ss_event_deleter {
    void operator()(ss_event* event) const { ss_event_free(event); }
};
using ss_event_ptr = std::unique_ptr<ss_event, ss_event_deleter>;

int ss_event_set(ss_event* event);       // 0; null -> 0
int ss_event_wait(ss_event* event);      // waits with no time limit and consumes the signal; 0, null -> -1
bool ss_event_pending(ss_event* event);  // whether a signal waits to be consumed (tests, diagnostics)
int ss_event_waiting(ss_event* event);   // threads waiting and not yet released (tests, diagnostics)

// Releases `mutex` (owned by the caller), waits for `event` with no time limit, retakes `mutex`.
// 0 when the event came, -1 when the wait failed (null event). A set between the release and the wait
// is not lost. In spite of its name it has no time limit.
int ss_cond_wait_timedwait(ss_mutex* mutex, ss_event* event);

// ---- lock trace ----
// Off at start. When on, ss_mutex_lock, ss_mutex_unlock and ss_cond_wait_timedwait write trace lines
// into the log stream (standard output while the log is closed).
void ss_thread_setLockTrace(int on);
int ss_thread_lockTrace();
