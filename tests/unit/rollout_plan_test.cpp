// The stage plan of a verified run: first devices, the per-model cap, the brake, the decision after
// failed first devices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/rollout_plan.h"

namespace {

// Keys 1.. in list order, models as given.
std::vector<RolloutPlan::Device> devicesOf(const std::vector<std::string>& models) {
    std::vector<RolloutPlan::Device> devices;
    for (size_t i = 0; i < models.size(); ++i)
        devices.push_back({static_cast<std::uint32_t>(i + 1), models[i]});
    return devices;
}

// Starts everything the plan allows now; returns the keys in order.
std::vector<std::uint32_t> startAll(RolloutPlan& plan) {
    std::vector<std::uint32_t> keys;
    for (RolloutPlan::Next next = plan.next(); next.step == RolloutPlan::Step::start; next = plan.next()) {
        plan.started(next.key);
        keys.push_back(next.key);
    }
    return keys;
}

TEST(RolloutPlanTest, FirstDevicesGoAloneThenTheRestWithinTheGrowingCap) {
    std::vector<std::string> models = {"A", "B", "A", "C"};
    for (int i = 0; i < 40; ++i) models.push_back("A");
    RolloutPlan plan({}, devicesOf(models));
    EXPECT_TRUE(plan.isFirstDevice(1) && plan.isFirstDevice(2) && plan.isFirstDevice(4));
    EXPECT_FALSE(plan.isFirstDevice(3));
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 4}), startAll(plan));
    EXPECT_EQ(RolloutPlan::Step::wait, plan.next().step);
    plan.ended(1, RolloutEnd::good);
    plan.ended(2, RolloutEnd::good);
    EXPECT_EQ(RolloutPlan::Step::wait, plan.next().step) << "C's first device has not ended";
    plan.ended(4, RolloutEnd::good);
    EXPECT_FALSE(plan.awaitingDecision());
    // A has one good device: 8 + 2 may be in flight.
    EXPECT_EQ(10, plan.cap("A"));
    EXPECT_EQ(10u, startAll(plan).size());
    EXPECT_EQ(RolloutPlan::Step::wait, plan.next().step);
    plan.ended(3, RolloutEnd::good);
    EXPECT_EQ(3u, startAll(plan).size()) << "one slot freed, two more for the good result";
    // Unverified ends neither grow the cap nor count as failures.
    const RolloutPlan::Next next = plan.next();
    EXPECT_EQ(RolloutPlan::Step::wait, next.step);
    EXPECT_EQ(0, plan.models().at("A").failed);
}

TEST(RolloutPlanTest, AFailedFirstDeviceHoldsEverythingUntilTheDecision) {
    for (bool goOn : {false, true}) {
        RolloutPlan plan({}, devicesOf({"A", "B", "A", "B", "B"}));
        startAll(plan);
        plan.ended(1, RolloutEnd::failed, "设备重启后没有应答");
        EXPECT_FALSE(plan.awaitingDecision()) << "B's first device is still running";
        plan.ended(2, RolloutEnd::good);
        ASSERT_TRUE(plan.awaitingDecision());
        EXPECT_EQ(1, plan.firstFailures());
        EXPECT_EQ("设备重启后没有应答", plan.firstFailureReasons().at(0).first);
        EXPECT_EQ(RolloutPlan::Step::wait, plan.next().step);
        plan.decide(goOn);
        if (goOn) {
            EXPECT_EQ((std::vector<std::uint32_t>{3, 4, 5}), startAll(plan));
            EXPECT_TRUE(plan.notStarted().empty());
        } else {
            EXPECT_TRUE(plan.stoppedAfterFirstFailure());
            EXPECT_EQ(RolloutPlan::Step::done, plan.next().step);
            EXPECT_EQ((std::vector<std::uint32_t>{3, 4, 5}), plan.notStarted());
            EXPECT_EQ(NotStartedWhy::firstFailure, plan.whyNotStarted(4));
            EXPECT_EQ(NotStartedWhy::none, plan.whyNotStarted(2));
        }
    }
}

TEST(RolloutPlanTest, TheBrakeStopsOneModelAfterEnoughFailuresAndTheOthersGoOn) {
    std::vector<std::string> models;
    for (int i = 0; i < 30; ++i) models.push_back(i % 3 == 0 ? "B" : "A");
    RolloutPlan plan({}, devicesOf(models));  // 10 %, at least 3 ended
    startAll(plan);                           // keys 1 (B) and 2 (A)
    plan.ended(1, RolloutEnd::good);
    plan.ended(2, RolloutEnd::good);
    std::vector<std::uint32_t> started = startAll(plan);
    // A's cap is 10: A's next 10 (and all of B's 9, B's cap is 10 as well).
    int a = 0;
    for (std::uint32_t key : started) a += models[key - 1] == "A" ? 1 : 0;
    EXPECT_EQ(10, a);
    // A: 1 good and now 1 failed: 2 ended, not yet enough to judge.
    EXPECT_FALSE(plan.ended(3, RolloutEnd::failed, "设备重启后的版本为2.3.9"));
    EXPECT_TRUE(plan.ended(5, RolloutEnd::failed, "设备重启后的版本为2.3.9"));
    EXPECT_TRUE(plan.models().at("A").braked);
    EXPECT_EQ((std::vector<std::string>{"A"}), plan.brakedModels());
    EXPECT_EQ(2, plan.models().at("A").reasons.at(0).second);
    // No new device of A starts; B's devices may.
    for (RolloutPlan::Next next = plan.next(); next.step == RolloutPlan::Step::start; next = plan.next()) {
        EXPECT_EQ("B", models[next.key - 1]);
        plan.started(next.key);
    }
    EXPECT_FALSE(plan.notStartedOf("A").empty());
    EXPECT_EQ(NotStartedWhy::brake, plan.whyNotStarted(plan.notStartedOf("A").front()));
    // A device of A already running still ends (and is counted).
    EXPECT_FALSE(plan.ended(6, RolloutEnd::good));
    EXPECT_EQ(4, plan.models().at("A").ended);
}

TEST(RolloutPlanTest, BrakeSettingsAndOddInput) {
    // 0 % disables the brake; a key given twice counts once; unknown keys are ignored.
    RolloutPlan plan({0, 3}, devicesOf({"A", "A", "A", "A", "A"}));
    RolloutPlan::Device again{1, "A"};
    RolloutPlan twice({}, {again, again});
    EXPECT_EQ(1, twice.models().at("A").devices);
    startAll(plan);
    plan.ended(1, RolloutEnd::good);
    startAll(plan);
    for (std::uint32_t key = 2; key <= 5; ++key) EXPECT_FALSE(plan.ended(key, RolloutEnd::failed));
    EXPECT_FALSE(plan.ended(99, RolloutEnd::failed));
    EXPECT_FALSE(plan.ended(2, RolloutEnd::failed)) << "ended twice";
    EXPECT_EQ(RolloutPlan::Step::done, plan.next().step);
    // A share exactly at the limit does not brake (more than 10 % must fail).
    std::vector<std::string> many(20, "A");
    RolloutPlan limit({10, 10}, devicesOf(many));
    startAll(limit);
    limit.ended(1, RolloutEnd::good);
    startAll(limit);
    for (std::uint32_t key = 2; key <= 10; ++key) EXPECT_FALSE(limit.ended(key, RolloutEnd::good));
    EXPECT_FALSE(limit.ended(11, RolloutEnd::failed)) << "1 of 11 ended";
    // A failed first device with nothing behind it asks nothing.
    RolloutPlan alone({}, devicesOf({"A", "B"}));
    startAll(alone);
    alone.ended(1, RolloutEnd::failed);
    alone.ended(2, RolloutEnd::good);
    EXPECT_FALSE(alone.awaitingDecision());
    EXPECT_EQ(RolloutPlan::Step::done, alone.next().step);
    // An empty plan has nothing to do.
    RolloutPlan none({}, {});
    EXPECT_EQ(RolloutPlan::Step::done, none.next().step);
    EXPECT_TRUE(none.firstStageOver());
}

}  // namespace
