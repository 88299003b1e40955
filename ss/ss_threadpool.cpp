#include "ss/ss_threadpool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "ss/ss_log.h"
#include "ss/ss_thread.h"

struct ss_threadpool {
    int maxThreads = 0;  // fixed at creation
    std::mutex lock;
    int started = 0;                            // guarded by lock; workers started so far
    std::vector<ss_thread_ptr> workers;         // guarded by lock; slot i is worker i (maxThreads slots)
    std::deque<std::unique_ptr<ss_job>> queue;  // guarded by lock; first in, first out
    bool closing = false;                       // guarded by lock; destroy has begun: no more jobs
    bool exiting = false;                       // guarded by lock; the queue drained: workers leave
    int running = 0;                            // guarded by lock; jobs being run
    int waitingProducers = 0;                   // guarded by lock; adds blocked on a full queue
    std::condition_variable queueEmpty;         // with lock: a worker took the last queued job
    std::condition_variable jobAvailable;       // with lock: a job was queued, or exiting was set
    std::condition_variable room;               // with lock: fewer than maxThreads jobs queued, or closing
    std::condition_variable producersLeft;      // with lock: waitingProducers dropped
};

namespace {

struct WorkerStart {
    ss_threadpool* pool;
    int index;
};

struct FunctionJob : ss_job {
    explicit FunctionJob(std::function<void()> function) : work(std::move(function)) {}
    void run() override {
        if (work) work();
    }
    std::function<void()> work;
};

// Runs one job outside the pool's lock. A job must not throw; one that does is logged and dropped
// instead of ending the process from a worker thread.
void runJob(ss_job& job) {
    try {
        job.run();
    } catch (...) {
        SS_LOG(SS_LOG_ERROR, "Thread pool job failed with an exception\n");
    }
}

// The worker thread's function: takes jobs until the pool is exiting.
int ss_threadpool_consume(void* arg) {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(arg));
    ss_threadpool* pool = start->pool;
    const int index = start->index;
    SS_LOG(SS_LOG_DEBUG, "Start thread#%d\n", index);
    for (;;) {
        std::unique_ptr<ss_job> job;
        {
            std::unique_lock<std::mutex> lock(pool->lock);
            pool->jobAvailable.wait(lock, [pool] { return !pool->queue.empty() || pool->exiting; });
            if (pool->exiting) break;
            job = std::move(pool->queue.front());
            pool->queue.pop_front();
            ++pool->running;
            if (static_cast<int>(pool->queue.size()) < pool->maxThreads) pool->room.notify_one();
            if (pool->queue.empty()) pool->queueEmpty.notify_all();
        }
        runJob(*job);
        job.reset();  // the release, also outside the lock
        std::lock_guard<std::mutex> lock(pool->lock);
        --pool->running;
    }
    SS_LOG(SS_LOG_DEBUG, "Exist thread#%d\n", index);
    return 0;
}

// Waits (releasing `lock` meanwhile) until every queued job was taken. Without any worker nothing
// could take them: it returns then too, and the jobs are released by destroy.
void flushLocked(ss_threadpool* pool, std::unique_lock<std::mutex>& lock) {
    while (!pool->queue.empty() && pool->started > 0) {
        pool->jobAvailable.notify_all();
        pool->queueEmpty.wait(lock);
    }
}

}  // namespace

std::unique_ptr<ss_job> ss_job_fromFunction(std::function<void()> work) {
    return std::make_unique<FunctionJob>(std::move(work));
}

ss_threadpool* ss_threadpool_new(int maxThreads) {
    auto pool = std::make_unique<ss_threadpool>();
    pool->maxThreads = maxThreads < 1 ? 10 : maxThreads;
    pool->workers.resize(static_cast<size_t>(pool->maxThreads));
    SS_LOG(SS_LOG_DEBUG, "Thread pool created. max threads[%d]\n", pool->maxThreads);
    return pool.release();
}

int ss_threadpool_add(ss_threadpool* pool, std::unique_ptr<ss_job> job) {
    if (pool == nullptr || job == nullptr) return -1;
    std::unique_lock<std::mutex> lock(pool->lock);
    if (pool->closing || pool->exiting) return -1;
    auto hasRoom = [pool] {
        return static_cast<int>(pool->queue.size()) < pool->maxThreads || pool->closing;
    };
    if (!hasRoom()) {
        ++pool->waitingProducers;
        pool->room.wait(lock, hasRoom);
        --pool->waitingProducers;
        pool->producersLeft.notify_all();
        // Destroy began while this producer waited: the job is not queued.
        if (pool->closing) return -1;
    }
    const int queued = static_cast<int>(pool->queue.size());
    if (pool->started <= queued) {
        // queued < maxThreads here, so started never exceeds maxThreads.
        auto start = std::make_unique<WorkerStart>(WorkerStart{pool, pool->started});
        if (ss_thread_create(pool->workers[static_cast<size_t>(pool->started)], ss_threadpool_consume,
                             start.get()) == 0) {
            start.release();  // the worker frees it
            ++pool->started;
        } else {
            SS_LOG(SS_LOG_ERROR, "Can not start thread#%d\n", pool->started);
            // The job waits for the workers there are; with none it could never run.
            if (pool->started == 0) return -1;
        }
    }
    pool->queue.push_back(std::move(job));
    pool->jobAvailable.notify_one();
    return 0;
}

void _ss_threadpool_flush(ss_threadpool* pool) {
    if (pool == nullptr) return;
    SS_LOG(SS_LOG_DEBUG, "Producer: flush requested\n");
    {
        std::unique_lock<std::mutex> lock(pool->lock);
        flushLocked(pool, lock);
    }
    SS_LOG(SS_LOG_DEBUG, "Producer: flush completed\n");
}

// Must not be called from one of the pool's own jobs (the worker would wait for itself).
void ss_threadpool_destroy(ss_threadpool** poolAddress) {
    if (poolAddress == nullptr || *poolAddress == nullptr) return;
    ss_threadpool* pool = *poolAddress;
    SS_LOG(SS_LOG_INFO, "Destroying thread pool.....\n");
    std::deque<std::unique_ptr<ss_job>> unrun;
    int started = 0;
    {
        std::unique_lock<std::mutex> lock(pool->lock);
        pool->closing = true;
        pool->room.notify_all();  // blocked producers give up
        SS_LOG(SS_LOG_DEBUG, "Producer: flush requested\n");
        flushLocked(pool, lock);
        SS_LOG(SS_LOG_DEBUG, "Producer: flush completed\n");
        pool->exiting = true;
        pool->jobAvailable.notify_all();  // every idle worker wakes and leaves
        // No producer may still be inside ss_threadpool_add when the pool is freed.
        pool->producersLeft.wait(lock, [pool] { return pool->waitingProducers == 0; });
        started = pool->started;  // no worker starts once closing is set
    }
    // Workers are joined without the lock (they need it to leave).
    for (int i = 0; i < started; ++i) ss_thread_join(pool->workers[static_cast<size_t>(i)]);
    {
        std::lock_guard<std::mutex> lock(pool->lock);
        unrun.swap(pool->queue);
    }
    unrun.clear();  // jobs never run are released here
    delete pool;
    *poolAddress = nullptr;
    SS_LOG(SS_LOG_DEBUG, "Thread pool destroyed!\n");
}

ss_threadpool_state ss_threadpool_inspect(ss_threadpool* pool) {
    ss_threadpool_state state;
    if (pool == nullptr) return state;
    std::lock_guard<std::mutex> lock(pool->lock);
    state.maxThreads = pool->maxThreads;
    state.started = pool->started;
    state.queued = static_cast<int>(pool->queue.size());
    state.running = pool->running;
    state.waitingProducers = pool->waitingProducers;
    state.closing = pool->closing;
    return state;
}
