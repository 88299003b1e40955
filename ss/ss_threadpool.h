// A bounded pool of worker threads that runs queued jobs first in, first out. Workers start on
// demand (one whenever the backlog is at least as long as the number started) and are kept until
// the pool is destroyed. At most max-threads jobs wait in the queue: ss_threadpool_add blocks while
// the queue is full. Destroying the pool refuses new jobs, lets the workers take every queued job,
// then stops and joins them.
#pragma once

#include <functional>
#include <memory>

// A unit of work. run() is called once on a worker thread, outside the pool's lock; the destructor
// releases what the job holds, whether it ran or not.
struct ss_job {
    virtual ~ss_job() = default;
    virtual void run() = 0;
};

// A job that calls `work` (and owns whatever the function object captures).
std::unique_ptr<ss_job> ss_job_fromFunction(std::function<void()> work);

struct ss_threadpool;

// A pool of at most maxThreads workers (10 when maxThreads < 1). Null when it cannot be made.
ss_threadpool* ss_threadpool_new(int maxThreads);

// Queues a job, starting a worker when needed; blocks while max-threads jobs are queued.
// 0, or -1 when destroy has begun or no worker could be started (the job is then released unrun).
int ss_threadpool_add(ss_threadpool* pool, std::unique_ptr<ss_job> job);

// Returns once every queued job has been taken by a worker (jobs may still be running).
void _ss_threadpool_flush(ss_threadpool* pool);

// Stops the pool: refuses new jobs, flushes, wakes and joins every worker, releases any job that was
// never run, frees the pool and sets *pool to null. A null pool does nothing.
void ss_threadpool_destroy(ss_threadpool** pool);

struct ss_threadpool_deleter {
    void operator()(ss_threadpool* pool) const { ss_threadpool_destroy(&pool); }
};
using ss_threadpool_ptr = std::unique_ptr<ss_threadpool, ss_threadpool_deleter>;

// A consistent snapshot of the pool's counters, for tests and diagnostics.
struct ss_threadpool_state {
    int maxThreads = 0;
    int started = 0;           // workers started so far
    int queued = 0;            // jobs waiting in the queue
    int running = 0;           // jobs being run right now
    int waitingProducers = 0;  // ss_threadpool_add calls blocked on a full queue
    bool closing = false;      // destroy has begun
};
ss_threadpool_state ss_threadpool_inspect(ss_threadpool* pool);
