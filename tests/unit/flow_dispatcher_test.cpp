// test-labels: threads
// FlowDispatcher: sends run on the flow thread and block until they ran; a closed dispatcher
// refuses at once (also sends already queued), so an engine thread never waits on a closing window;
// waitWhileServing keeps serving while it waits for a thread that is itself sending.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/flow_dispatcher.h"

TEST(FlowDispatcher, SendRunsOnTheFlowThreadAndPostKeepsOrder) {
    FlowDispatcher dispatcher;
    const auto flowId = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<bool> sent{false};
    std::thread engine([&] {
        dispatcher.post([&] { order.push_back(1); });
        bool ran = dispatcher.send([&] {
            EXPECT_EQ(flowId, std::this_thread::get_id());
            order.push_back(2);
        });
        EXPECT_TRUE(ran);
        sent = true;
    });
    dispatcher.waitWhileServing([&] { return sent.load(); });
    engine.join();
    EXPECT_EQ((std::vector<int>{1, 2}), order);
}

TEST(FlowDispatcher, SendFromTheFlowThreadRunsInline) {
    FlowDispatcher dispatcher;
    int value = 0;
    EXPECT_TRUE(dispatcher.send([&] { value = 7; }));
    EXPECT_EQ(7, value);
}

TEST(FlowDispatcher, CloseRefusesQueuedAndLaterSendsWithoutRunningThem) {
    FlowDispatcher dispatcher;
    std::atomic<int> ran{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> engines;
    for (int i = 0; i < 4; ++i)
        engines.emplace_back([&] {
            if (!dispatcher.send([&] { ++ran; })) ++refused;
        });
    // Let the sends queue up, then close without ever draining: every sender must come back.
    while (true) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!dispatcher.closed()) {
            dispatcher.close();
            break;
        }
    }
    for (auto& t : engines) t.join();
    EXPECT_EQ(0, ran.load());
    EXPECT_EQ(4, refused.load());
    std::thread late([&] { EXPECT_FALSE(dispatcher.send([&] { ++ran; })); });
    late.join();
    EXPECT_FALSE(dispatcher.post([&] { ++ran; }));
    EXPECT_EQ(0, dispatcher.drain());
    EXPECT_EQ(0, ran.load());
}

TEST(FlowDispatcher, JoiningAThreadThatSendsDoesNotDeadlock) {
    // The flow thread waits for an engine thread that makes 200 blocking sends to it.
    for (int round = 0; round < 20; ++round) {
        FlowDispatcher dispatcher;
        int counter = 0;  // flow thread only
        std::atomic<bool> done{false};
        std::thread engine([&] {
            for (int i = 0; i < 200; ++i) dispatcher.send([&] { ++counter; });
            done = true;
        });
        dispatcher.waitWhileServing([&] { return done.load(); });
        engine.join();
        EXPECT_EQ(200, counter);
    }
}

TEST(FlowDispatcher, WakeupHookIsCalledForEveryQueuedCall) {
    FlowDispatcher dispatcher;
    std::atomic<int> wakeups{0};
    dispatcher.setWakeup([&] { ++wakeups; });
    std::thread engine([&] {
        dispatcher.post([] {});
        dispatcher.post([] {});
    });
    engine.join();
    EXPECT_EQ(2, wakeups.load());
    EXPECT_EQ(2, dispatcher.drain());
}
