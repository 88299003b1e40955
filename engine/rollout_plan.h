// The order in which a verified run starts its devices, so that a package that is bad for a model
// reaches as few devices of that model as possible:
//   - first devices: one device per model (the first in list order) is upgraded and verified before
//     any other device starts;
//   - a cap per model on devices that have the package but no verdict yet: kRolloutBaseCap plus
//     kRolloutCapPerGood for every device of that model verified good so far;
//   - a brake per model: once at least brakeMin of its devices have ended and more than brakePercent
//     of them failed, none of its devices starts any more (those in progress finish).
// A first device that fails holds the rest until someone decides (continueAfterFirstFailure or
// stop). Pure bookkeeping on the flow thread: no engine, no list, no text shown to anyone.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline constexpr int kRolloutBaseCap = 8;
inline constexpr int kRolloutCapPerGood = 2;
inline constexpr int kBrakePercentDefault = 10;
inline constexpr int kBrakeMinDefault = 3;

struct RolloutSettings {
    int brakePercent = kBrakePercentDefault;  // 0: no brake
    int brakeMin = kBrakeMinDefault;          // ended devices of a model before the brake may act
};

// How one device of the plan ended.
enum class RolloutEnd {
    good,        // verified with the new version
    failed,      // transfer refused or broken, other version or no answer after the reboot
    unverified,  // accepted, but no verdict (no port for the verifier): neither good nor failed
};

// Why a device of the plan was never started.
enum class NotStartedWhy { none, firstFailure, brake };

class RolloutPlan {
  public:
    struct Device {
        std::uint32_t key = 0;
        std::string model;  // UTF-8, as the list shows it
    };
    // `devices` in list order; a key given twice counts once.
    RolloutPlan(const RolloutSettings& settings, const std::vector<Device>& devices);

    enum class Step {
        start,  // `key` may start now (call started)
        wait,   // a result or a decision is due before anything more may start
        done,   // nothing will start any more
    };
    struct Next {
        Step step = Step::done;
        std::uint32_t key = 0;
    };
    // The first device in list order that may start now.
    Next next() const;
    void started(std::uint32_t key);
    // A started device ended; `reason` (UTF-8, may be empty) is counted per model. Returns true when
    // this end engaged the model's brake.
    bool ended(std::uint32_t key, RolloutEnd end, const std::string& reason = {});

    // Every first device has ended, at least one failed and other devices wait; nothing starts until
    // decide().
    bool awaitingDecision() const { return awaiting_; }
    // The operator's answer: continue with the rest, or stop (the devices not started stay so).
    void decide(bool continueRest);
    bool stoppedAfterFirstFailure() const { return stopped_; }
    bool firstStageOver() const { return firstStageOver_; }
    int firstFailures() const;
    // The reasons of the failed first devices, each with its count, in the order first seen.
    std::vector<std::pair<std::string, int>> firstFailureReasons() const;

    struct ModelState {
        int devices = 0, started = 0, inFlight = 0, ended = 0, good = 0, failed = 0;
        bool braked = false;
        std::vector<std::pair<std::string, int>> reasons;  // failures by reason, in the order first seen
    };
    const std::map<std::string, ModelState>& models() const { return models_; }
    // The cap of a model now: devices of it that may have the package without a verdict.
    int cap(const std::string& model) const;
    // Models braked, in the order it happened.
    const std::vector<std::string>& brakedModels() const { return brakedOrder_; }

    bool contains(std::uint32_t key) const { return index_.count(key) != 0; }
    bool isFirstDevice(std::uint32_t key) const;
    bool wasStarted(std::uint32_t key) const;
    // Why a device of the plan was not started (none for a started one, or one that may still start).
    NotStartedWhy whyNotStarted(std::uint32_t key) const;
    // Devices of the plan never started and never to start (stopped or braked).
    std::vector<std::uint32_t> notStarted() const;
    // Devices of one model never started (after its brake).
    std::vector<std::uint32_t> notStartedOf(const std::string& model) const;

  private:
    enum class State { waiting, running, ended };
    struct Entry {
        Device device;
        bool first = false;
        State state = State::waiting;
        RolloutEnd end = RolloutEnd::good;
        std::string reason;
    };
    bool mayStart(const Entry& entry) const;
    bool blocked(const Entry& entry) const;  // never to start
    void updateFirstStage();

    RolloutSettings settings_;
    std::vector<Entry> entries_;
    std::map<std::uint32_t, size_t> index_;
    std::map<std::string, ModelState> models_;
    std::vector<std::string> brakedOrder_;
    bool firstStageOver_ = false;
    bool awaiting_ = false;
    bool stopped_ = false;
};
