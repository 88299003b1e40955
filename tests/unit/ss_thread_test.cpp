// test-labels: threads
// Threads, the recursive mutex, the auto-reset event, the condition wait and the lock trace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_log.h"
#include "ss/ss_thread.h"
#include "tests/support/temp_dir.h"

using quenta_test::readTextFile;
using quenta_test::ScopedDriveRoot;

namespace {

int returnArgument(void* arg) {
    return *static_cast<int*>(arg);
}

TEST(Thread, CreateJoinAndFinished) {
    int value = 42;
    ss_thread_ptr thread;
    ASSERT_EQ(ss_thread_create(thread, returnArgument, &value), 0);
    ASSERT_TRUE(thread);
    EXPECT_EQ(ss_thread_join(thread), 42);
    EXPECT_FALSE(thread);
    EXPECT_TRUE(ss_thread_finished(thread));
    EXPECT_EQ(ss_thread_join(thread), 0);  // empty
    EXPECT_EQ(ss_thread_create(thread, nullptr, nullptr), -1);
}

TEST(Thread, FinishedTurnsTrueWhenTheFunctionReturned) {
    ss_event_ptr go(ss_event_new());
    ss_thread_ptr thread;
    ASSERT_EQ(ss_thread_create(
                  thread, [](void* event) { return ss_event_wait(static_cast<ss_event*>(event)); }, go.get()),
              0);
    EXPECT_FALSE(ss_thread_finished(thread));  // it waits for `go`
    ss_event_set(go.get());
    EXPECT_EQ(ss_thread_join(thread), 0);
}

TEST(Thread, DeleterJoins) {
    std::atomic<int> ran{0};
    {
        ss_thread_ptr thread;
        ASSERT_EQ(ss_thread_create(
                      thread,
                      [](void* counter) {
                          static_cast<std::atomic<int>*>(counter)->fetch_add(1);
                          return 0;
                      },
                      &ran),
                  0);
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(Mutex, NullAddressDoesNothing) {
    EXPECT_EQ(ss_mutex_lock(nullptr), 0);
    EXPECT_EQ(ss_mutex_unlock(nullptr), 0);
    ss_mutex_guard guard(nullptr);
}

struct Shared {
    ss_mutex* mutex;
    ss_event* event;
    int counter = 0;     // guarded by mutex
    bool ready = false;  // guarded by mutex
};

TEST(Mutex, RecursiveAndExclusive) {
    ss_mutex_ptr mutex(ss_mutex_new());
    Shared shared{mutex.get(), nullptr};
    ASSERT_EQ(ss_mutex_lock(mutex.get()), 0);
    ASSERT_EQ(ss_mutex_lock(mutex.get()), 0);  // the owner takes it again
    shared.counter = 1;
    ss_thread_ptr other;
    ASSERT_EQ(ss_thread_create(
                  other,
                  [](void* arg) {
                      auto* s = static_cast<Shared*>(arg);
                      ss_mutex_guard guard(s->mutex);
                      // Not before the owner unlocked twice.
                      return s->counter == 2 ? 0 : 1;
                  },
                  &shared),
              0);
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), 0);
    shared.counter = 2;  // still owned once
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), 0);
    EXPECT_EQ(ss_thread_join(other), 0);
}

TEST(Mutex, UnlockByANonOwnerIsRefused) {
    ss_mutex_ptr mutex(ss_mutex_new());
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), -1);  // nobody owns it
    ss_mutex_lock(mutex.get());
    ss_thread_ptr other;
    ss_thread_create(
        other, [](void* m) { return ss_mutex_unlock(static_cast<ss_mutex*>(m)); }, mutex.get());
    EXPECT_EQ(ss_thread_join(other), -1);
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), 0);
}

TEST(Event, KeepsAtMostOnePendingSignal) {
    ss_event_ptr event(ss_event_new());
    EXPECT_FALSE(ss_event_pending(event.get()));  // not signalled at creation
    ss_event_set(event.get());
    ss_event_set(event.get());  // lost: one is already pending
    EXPECT_TRUE(ss_event_pending(event.get()));
    EXPECT_EQ(ss_event_wait(event.get()), 0);
    EXPECT_FALSE(ss_event_pending(event.get()));  // auto-reset; the second set left nothing
    EXPECT_EQ(ss_event_wait(nullptr), -1);
    EXPECT_EQ(ss_event_set(nullptr), 0);
}

TEST(Event, ReleasesExactlyOneWaiterPerSet) {
    ss_event_ptr event(ss_event_new());
    ss_event_ptr done(ss_event_new());
    struct Waiters {
        ss_event* event;
        ss_event* done;
        std::atomic<int> woken{0};
    } waiters{event.get(), done.get()};
    auto wait = [](void* arg) {
        auto* w = static_cast<Waiters*>(arg);
        ss_event_wait(w->event);
        w->woken.fetch_add(1);
        ss_event_set(w->done);
        return 0;
    };
    ss_thread_ptr first, second;
    ASSERT_EQ(ss_thread_create(first, wait, &waiters), 0);
    ASSERT_EQ(ss_thread_create(second, wait, &waiters), 0);
    ss_event_set(event.get());
    ss_event_wait(done.get());
    EXPECT_EQ(waiters.woken.load(), 1);
    ss_event_set(event.get());
    ss_event_wait(done.get());
    EXPECT_EQ(waiters.woken.load(), 2);
    ss_thread_join(first);
    ss_thread_join(second);
}

// Two sets made before either woken waiter has run are two releases, not one: both waiters return.
TEST(Event, TwoSetsInARowReleaseTwoWaiters) {
    for (int round = 0; round < 50; ++round) {
        ss_event_ptr event(ss_event_new());
        std::atomic<int> woken{0};
        struct Shared {
            ss_event* event;
            std::atomic<int>* woken;
        } shared{event.get(), &woken};
        auto wait = [](void* arg) {
            auto* s = static_cast<Shared*>(arg);
            ss_event_wait(s->event);
            s->woken->fetch_add(1);
            return 0;
        };
        ss_thread_ptr first, second;
        ASSERT_EQ(ss_thread_create(first, wait, &shared), 0);
        ASSERT_EQ(ss_thread_create(second, wait, &shared), 0);
        while (ss_event_waiting(event.get()) < 2) std::this_thread::yield();
        ss_event_set(event.get());
        ss_event_set(event.get());
        EXPECT_EQ(0, ss_event_waiting(event.get()));
        EXPECT_FALSE(ss_event_pending(event.get())) << "a set was kept although a waiter was waiting";
        // Without two releases one waiter would still wait: one more set frees it so the test ends.
        for (int spin = 0; spin < 2000 && woken.load() < 2; ++spin)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int released = woken.load();
        if (released < 2) ss_event_set(event.get());
        ss_thread_join(first);
        ss_thread_join(second);
        ASSERT_EQ(2, released) << "round " << round;
    }
}

TEST(CondWait, ReleasesTheMutexWhileWaitingAndOwnsItAgainAfter) {
    ss_mutex_ptr mutex(ss_mutex_new());
    ss_event_ptr event(ss_event_new());
    Shared shared{mutex.get(), event.get()};
    ss_mutex_lock(mutex.get());
    ss_thread_ptr signaller;
    ASSERT_EQ(ss_thread_create(
                  signaller,
                  [](void* arg) {
                      auto* s = static_cast<Shared*>(arg);
                      ss_mutex_guard guard(s->mutex);  // only possible while the waiter waits
                      s->ready = true;
                      ss_event_set(s->event);
                      return 0;
                  },
                  &shared),
              0);
    while (!shared.ready) EXPECT_EQ(ss_cond_wait_timedwait(mutex.get(), event.get()), 0);
    EXPECT_TRUE(shared.ready);
    // Owned again: another thread cannot have it now; unlocking works once.
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), 0);
    ss_thread_join(signaller);
    EXPECT_EQ(ss_cond_wait_timedwait(mutex.get(), nullptr), -1);
}

TEST(CondWait, ASignalSetBeforeTheWaitIsNotLost) {
    ss_mutex_ptr mutex(ss_mutex_new());
    ss_event_ptr event(ss_event_new());
    ss_mutex_lock(mutex.get());
    ss_event_set(event.get());
    EXPECT_EQ(ss_cond_wait_timedwait(mutex.get(), event.get()), 0);
    EXPECT_EQ(ss_mutex_unlock(mutex.get()), 0);
}

TEST(LockTrace, OffByDefaultAndWritesTheTraceLinesWhenOn) {
    ScopedDriveRoot root;
    ASSERT_EQ(ss_log_open("C:\\trace.log"), 0);
    std::string path = ss_log_currentPath();
    ss_mutex_ptr mutex(ss_mutex_new());
    ss_event_ptr event(ss_event_new());
    EXPECT_EQ(ss_thread_lockTrace(), 0);
    ss_mutex_lock(mutex.get());
    ss_mutex_unlock(mutex.get());
    std::string before = readTextFile(path);
    EXPECT_EQ(before.find("Ask for"), std::string::npos);

    ss_thread_setLockTrace(1);
    ss_mutex_lock(mutex.get());
    ss_event_set(event.get());
    ss_cond_wait_timedwait(mutex.get(), event.get());
    ss_mutex_unlock(mutex.get());
    ss_thread_setLockTrace(0);
    std::string text = readTextFile(path).substr(before.size());
    ss_log_close();

    std::vector<std::string> got;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) got.push_back(line);
    const char* endings[] = {
        "--->Ask for Lock",
        "--->Locked",
        "<---ss_cond_wait Ask for UnLock",
        "<---ss_cond_wait UnLocked",
        "<---ss_cond_wait  Ask for Lock",
        "<---ss_cond_wait Locked",
        "<---Ask for UnLock",
        "<---UnLocked",
    };
    ASSERT_EQ(got.size(), std::size(endings)) << text;
    // %p is "0x55d0..." with glibc and "000055d0..." (16 digits) with MinGW: compare the value.
    const auto address = reinterpret_cast<std::uintptr_t>(mutex.get());
    const std::regex shape(
        R"(.*ss_thread\.cpp\|(ss_mutex_lock|ss_mutex_unlock|ss_cond_wait_timedwait):\d+\| \[(?:0x)?([0-9a-fA-F]+)\](.*))");
    for (size_t i = 0; i < got.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(got[i], m, shape)) << got[i];
        EXPECT_EQ(std::stoull(m[2].str(), nullptr, 16), address);
        EXPECT_EQ(m[3], endings[i]);
    }
}

}  // namespace
