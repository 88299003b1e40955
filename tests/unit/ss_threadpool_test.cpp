// test-labels: threads
// Thread pool: lazy worker start, bounded queue, flush, destroy, refused adds, released jobs.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "ss/ss_threadpool.h"
#include "tests/support/temp_dir.h"

using quenta_test::readTextFile;
using quenta_test::ScopedDriveRoot;

namespace {

// A flag that threads can wait for.
class Latch {
  public:
    void open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }
    bool isOpen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;  // guarded by mutex_
};

// Counts runs and releases of every job made by one test.
struct Counters {
    std::atomic<int> made{0}, ran{0}, released{0};
};

// A job that reports its start, waits for its gate, and counts its run and release.
class GatedJob : public ss_job {
  public:
    GatedJob(Counters& counters, Latch* started, Latch* gate)
        : counters_(counters), started_(started), gate_(gate) {
        counters_.made++;
    }
    ~GatedJob() override { counters_.released++; }
    void run() override {
        if (started_) started_->open();
        if (gate_) gate_->wait();
        counters_.ran++;
    }

  private:
    Counters& counters_;
    Latch* started_;
    Latch* gate_;
};

std::unique_ptr<ss_job> gated(Counters& counters, Latch* started = nullptr, Latch* gate = nullptr) {
    return std::make_unique<GatedJob>(counters, started, gate);
}

// Polls the pool's state until `ready` holds; the pool's own waits do the real work, this only
// watches them (no time is asserted).
template <typename Ready>
void waitUntil(ss_threadpool* pool, Ready ready) {
    while (!ready(ss_threadpool_inspect(pool))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class PoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ss_log_open("C:\\pool.log"), 0);
        logPath_ = ss_log_currentPath();
    }
    void TearDown() override { ss_log_close(); }
    std::string logText() const { return readTextFile(logPath_); }

    ScopedDriveRoot root_;
    std::string logPath_;
    Counters counters_;
};

TEST_F(PoolTest, WorkersStartLazily) {
    ss_threadpool* pool = ss_threadpool_new(8);
    ASSERT_NE(pool, nullptr);
    EXPECT_NE(logText().find("| Thread pool created. max threads[8]\n"), std::string::npos);
    EXPECT_EQ(ss_threadpool_inspect(pool).started, 0);  // no worker before the first job

    Latch firstStarted, gate;
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, &firstStarted, &gate)), 0);
    EXPECT_EQ(ss_threadpool_inspect(pool).started, 1);
    firstStarted.wait();  // worker 0 runs the first job
    EXPECT_NE(logText().find("| Start thread#0\n"), std::string::npos);

    // Second job while worker 0 is busy: queued, no new worker (1 started > 0 queued).
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, nullptr, &gate)), 0);
    ss_threadpool_state state = ss_threadpool_inspect(pool);
    EXPECT_EQ(state.started, 1);
    EXPECT_EQ(state.queued, 1);

    // Third job while the second still waits: 1 started <= 1 queued starts worker 1.
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, nullptr, &gate)), 0);
    EXPECT_EQ(ss_threadpool_inspect(pool).started, 2);

    gate.open();
    ss_threadpool_destroy(&pool);
    EXPECT_EQ(pool, nullptr);
    EXPECT_EQ(counters_.ran.load(), 3);
    EXPECT_EQ(counters_.released.load(), 3);
    std::string text = logText();
    EXPECT_NE(text.find("| Start thread#1\n"), std::string::npos);
    EXPECT_EQ(countOf(text, "| Start thread#"), 2u);
}

TEST_F(PoolTest, AddBlocksWhileMaxJobsAreQueued) {
    ss_threadpool_ptr pool(ss_threadpool_new(2));
    Latch gate, started0;
    // Worker 0 busy; the second job waits, the third starts worker 1, which takes the second.
    ASSERT_EQ(ss_threadpool_add(pool.get(), gated(counters_, &started0, &gate)), 0);
    started0.wait();
    Latch started1;
    ASSERT_EQ(ss_threadpool_add(pool.get(), gated(counters_, &started1, &gate)), 0);
    ASSERT_EQ(ss_threadpool_add(pool.get(), gated(counters_, nullptr, &gate)), 0);  // starts worker 1
    started1.wait();
    waitUntil(pool.get(), [](const ss_threadpool_state& s) { return s.running == 2; });
    // Worker 1 took the second job; the third waits: one more fills the queue.
    ASSERT_EQ(ss_threadpool_add(pool.get(), gated(counters_, nullptr, &gate)), 0);
    ASSERT_EQ(ss_threadpool_inspect(pool.get()).queued, 2);
    EXPECT_EQ(ss_threadpool_inspect(pool.get()).started, 2);  // never more than max

    std::atomic<int> result{1};
    std::thread producer([&] { result = ss_threadpool_add(pool.get(), gated(counters_, nullptr, &gate)); });
    waitUntil(pool.get(), [](const ss_threadpool_state& s) { return s.waitingProducers == 1; });
    EXPECT_EQ(result.load(), 1);  // still inside ss_threadpool_add
    EXPECT_EQ(ss_threadpool_inspect(pool.get()).queued, 2);

    gate.open();  // workers take jobs, making room
    producer.join();
    EXPECT_EQ(result.load(), 0);
    _ss_threadpool_flush(pool.get());
    pool.reset();
    EXPECT_EQ(counters_.ran.load(), 5);
    EXPECT_EQ(counters_.released.load(), 5);
}

TEST_F(PoolTest, FlushOnAnEmptyQueueReturnsAtOnceAndLogsBothLines) {
    ss_threadpool_ptr pool(ss_threadpool_new(4));
    _ss_threadpool_flush(pool.get());
    std::string text = logText();
    size_t requested = text.find("| Producer: flush requested\n");
    size_t completed = text.find("| Producer: flush completed\n");
    ASSERT_NE(requested, std::string::npos);
    ASSERT_NE(completed, std::string::npos);
    EXPECT_LT(requested, completed);
}

TEST_F(PoolTest, FlushWaitsUntilEveryQueuedJobWasTaken) {
    ss_threadpool_ptr pool(ss_threadpool_new(3));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(ss_threadpool_add(pool.get(), gated(counters_)), 0);
    _ss_threadpool_flush(pool.get());
    EXPECT_EQ(ss_threadpool_inspect(pool.get()).queued, 0);
    pool.reset();
    EXPECT_EQ(counters_.ran.load(), 20);
}

TEST_F(PoolTest, DestroyWakesAndJoinsIdleWorkers) {
    ss_threadpool* pool = ss_threadpool_new(0);  // below 1: 10
    EXPECT_EQ(ss_threadpool_inspect(pool).maxThreads, 10);
    // Two workers (the second starts for the third job while the second waits), idle afterwards.
    Latch gate, s0, s1;
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, &s0, &gate)), 0);
    s0.wait();
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, &s1, &gate)), 0);
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, nullptr, &gate)), 0);
    s1.wait();
    gate.open();
    waitUntil(pool, [](const ss_threadpool_state& s) { return s.running == 0 && s.queued == 0; });
    int started = ss_threadpool_inspect(pool).started;
    ASSERT_EQ(started, 2);

    ss_threadpool_destroy(&pool);
    std::string text = logText();
    EXPECT_NE(text.find("| Destroying thread pool.....\n"), std::string::npos);
    EXPECT_NE(text.find("| Thread pool destroyed!\n"), std::string::npos);
    EXPECT_EQ(countOf(text, "| Exist thread#"), static_cast<size_t>(started));
    for (int i = 0; i < started; ++i)
        EXPECT_NE(text.find("| Exist thread#" + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_LT(text.find("| Destroying thread pool.....\n"), text.find("| Exist thread#0\n"));
    EXPECT_LT(text.find("| Exist thread#0\n"), text.find("| Thread pool destroyed!\n"));
    ss_threadpool_destroy(&pool);  // null: nothing
}

TEST_F(PoolTest, AddAfterDestroyBeganIsRefusedAndTheJobReleasedUnrun) {
    ss_threadpool* pool = ss_threadpool_new(1);
    Latch gate, started;
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, &started, &gate)), 0);
    started.wait();
    ASSERT_EQ(ss_threadpool_add(pool, gated(counters_, nullptr, &gate)), 0);  // queued: the queue is full

    // A producer blocked on the full queue when destroy begins gives up too.
    std::atomic<int> blockedResult{1};
    std::thread blocked([&] { blockedResult = ss_threadpool_add(pool, gated(counters_)); });
    waitUntil(pool, [](const ss_threadpool_state& s) { return s.waitingProducers == 1; });

    ss_threadpool* observed = pool;  // `pool` itself is cleared by the destroying thread
    std::thread destroyer([&] { ss_threadpool_destroy(&pool); });
    // Destroy waits in its flush for the busy worker; adds are refused from now on.
    waitUntil(observed, [](const ss_threadpool_state& s) { return s.closing && s.waitingProducers == 0; });
    blocked.join();
    EXPECT_EQ(blockedResult.load(), -1);
    EXPECT_EQ(ss_threadpool_add(observed, gated(counters_)), -1);
    EXPECT_EQ(ss_threadpool_inspect(observed).queued, 1);  // only the job queued before

    gate.open();
    destroyer.join();
    EXPECT_EQ(pool, nullptr);
    EXPECT_EQ(counters_.made.load(), 4);
    EXPECT_EQ(counters_.ran.load(), 2);       // the two accepted jobs
    EXPECT_EQ(counters_.released.load(), 4);  // every job released, run or not
    EXPECT_EQ(ss_threadpool_add(nullptr, gated(counters_)), -1);
    EXPECT_EQ(counters_.released.load(), 5);
}

TEST_F(PoolTest, FunctionJobsRunInOrderOnOneWorker) {
    ss_threadpool_ptr pool(ss_threadpool_new(1));
    std::mutex orderLock;
    std::vector<int> order;  // guarded by orderLock
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(ss_threadpool_add(pool.get(), ss_job_fromFunction([&, i] {
                                        std::lock_guard<std::mutex> lock(orderLock);
                                        order.push_back(i);
                                    })),
                  0);
    }
    pool.reset();
    std::vector<int> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(order, expected);
}

TEST_F(PoolTest, AThrowingJobIsLoggedAndTheWorkerCarriesOn) {
    ss_threadpool_ptr pool(ss_threadpool_new(1));
    std::atomic<int> after{0};
    ASSERT_EQ(ss_threadpool_add(pool.get(), ss_job_fromFunction([] { throw 1; })), 0);
    ASSERT_EQ(ss_threadpool_add(pool.get(), ss_job_fromFunction([&] { after = 1; })), 0);
    pool.reset();
    EXPECT_EQ(after.load(), 1);
    EXPECT_NE(logText().find("Thread pool job failed with an exception"), std::string::npos);
}

}  // namespace
