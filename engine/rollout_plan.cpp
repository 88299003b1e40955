#include "engine/rollout_plan.h"

#include <algorithm>

namespace {

void countReason(std::vector<std::pair<std::string, int>>& reasons, const std::string& reason) {
    for (auto& entry : reasons)
        if (entry.first == reason) {
            ++entry.second;
            return;
        }
    reasons.emplace_back(reason, 1);
}

}  // namespace

RolloutPlan::RolloutPlan(const RolloutSettings& settings, const std::vector<Device>& devices)
    : settings_(settings) {
    for (const Device& device : devices) {
        if (index_.count(device.key) != 0) continue;
        ModelState& model = models_[device.model];
        Entry entry;
        entry.device = device;
        entry.first = model.devices == 0;
        ++model.devices;
        index_[device.key] = entries_.size();
        entries_.push_back(std::move(entry));
    }
    updateFirstStage();
}

int RolloutPlan::cap(const std::string& model) const {
    auto found = models_.find(model);
    const int good = found == models_.end() ? 0 : found->second.good;
    // Beyond any real site the cap no longer grows (and never overflows).
    return kRolloutBaseCap + kRolloutCapPerGood * std::min(good, 1 << 20);
}

bool RolloutPlan::blocked(const Entry& entry) const {
    if (entry.state != State::waiting) return true;
    if (stopped_ && !entry.first) return true;
    return models_.at(entry.device.model).braked;
}

bool RolloutPlan::mayStart(const Entry& entry) const {
    if (blocked(entry)) return false;
    if (!firstStageOver_) return entry.first;
    if (awaiting_) return false;
    const ModelState& model = models_.at(entry.device.model);
    return model.inFlight < cap(entry.device.model);
}

RolloutPlan::Next RolloutPlan::next() const {
    bool anyLeft = false;
    for (const Entry& entry : entries_) {
        if (mayStart(entry)) return {Step::start, entry.device.key};
        if (!blocked(entry)) anyLeft = true;
    }
    if (!anyLeft) return {};
    // Something may start later: only a running device's end or the decision can allow it.
    bool running = false;
    for (const Entry& entry : entries_)
        if (entry.state == State::running) running = true;
    return running || awaiting_ ? Next{Step::wait, 0} : Next{};
}

void RolloutPlan::started(std::uint32_t key) {
    auto found = index_.find(key);
    if (found == index_.end()) return;
    Entry& entry = entries_[found->second];
    if (entry.state != State::waiting) return;
    entry.state = State::running;
    ModelState& model = models_[entry.device.model];
    ++model.started;
    ++model.inFlight;
}

bool RolloutPlan::ended(std::uint32_t key, RolloutEnd end, const std::string& reason) {
    auto found = index_.find(key);
    if (found == index_.end()) return false;
    Entry& entry = entries_[found->second];
    if (entry.state != State::running) return false;
    entry.state = State::ended;
    entry.end = end;
    entry.reason = reason;
    ModelState& model = models_[entry.device.model];
    --model.inFlight;
    ++model.ended;
    if (end == RolloutEnd::good) ++model.good;
    if (end == RolloutEnd::failed) {
        ++model.failed;
        countReason(model.reasons, reason);
    }
    updateFirstStage();
    const bool brake = settings_.brakePercent > 0 && !model.braked && model.ended >= settings_.brakeMin &&
                       static_cast<long long>(model.failed) * 100 >
                           static_cast<long long>(settings_.brakePercent) * model.ended;
    if (brake) {
        model.braked = true;
        brakedOrder_.push_back(entry.device.model);
    }
    return brake;
}

void RolloutPlan::updateFirstStage() {
    if (firstStageOver_) return;
    for (const Entry& entry : entries_)
        if (entry.first && entry.state != State::ended) return;
    firstStageOver_ = true;
    // Asked only when something is left to decide about.
    bool rest = false;
    for (const Entry& entry : entries_) rest = rest || entry.state == State::waiting;
    awaiting_ = rest && firstFailures() > 0;
}

void RolloutPlan::decide(bool continueRest) {
    if (!awaiting_) return;
    awaiting_ = false;
    stopped_ = !continueRest;
}

int RolloutPlan::firstFailures() const {
    int failures = 0;
    for (const Entry& entry : entries_)
        if (entry.first && entry.state == State::ended && entry.end == RolloutEnd::failed) ++failures;
    return failures;
}

std::vector<std::pair<std::string, int>> RolloutPlan::firstFailureReasons() const {
    std::vector<std::pair<std::string, int>> reasons;
    for (const Entry& entry : entries_)
        if (entry.first && entry.state == State::ended && entry.end == RolloutEnd::failed)
            countReason(reasons, entry.reason);
    return reasons;
}

bool RolloutPlan::isFirstDevice(std::uint32_t key) const {
    auto found = index_.find(key);
    return found != index_.end() && entries_[found->second].first;
}

bool RolloutPlan::wasStarted(std::uint32_t key) const {
    auto found = index_.find(key);
    return found != index_.end() && entries_[found->second].state != State::waiting;
}

NotStartedWhy RolloutPlan::whyNotStarted(std::uint32_t key) const {
    auto found = index_.find(key);
    if (found == index_.end()) return NotStartedWhy::none;
    const Entry& entry = entries_[found->second];
    if (entry.state != State::waiting) return NotStartedWhy::none;
    if (stopped_ && !entry.first) return NotStartedWhy::firstFailure;
    if (models_.at(entry.device.model).braked) return NotStartedWhy::brake;
    return NotStartedWhy::none;
}

std::vector<std::uint32_t> RolloutPlan::notStarted() const {
    std::vector<std::uint32_t> keys;
    for (const Entry& entry : entries_)
        if (entry.state == State::waiting && blocked(entry)) keys.push_back(entry.device.key);
    return keys;
}

std::vector<std::uint32_t> RolloutPlan::notStartedOf(const std::string& model) const {
    std::vector<std::uint32_t> keys;
    for (const Entry& entry : entries_)
        if (entry.device.model == model && entry.state == State::waiting && blocked(entry))
            keys.push_back(entry.device.key);
    return keys;
}
