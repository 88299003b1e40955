// UpgradeFlow: a verified run in stages. The first device of every model goes first; the rest follow
// within each model's cap, and a model whose devices fail too often stops (its brake). The decisions
// are RolloutPlan's; this room turns them into rows, boxes and report texts.
#include "engine/upgrade_flow.h"

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/upgrade_flow_internal.h"
#include "package/package_load.h"
#include "protocol/ss_pair.h"

using namespace upgrade_flow_internal;

namespace {

// "设备重启后没有应答 2台、…": the reasons of failures with their counts.
std::string reasonsText(const std::vector<std::pair<std::string, int>>& reasons) {
    std::string text;
    for (const auto& [reason, count] : reasons) {
        if (!text.empty()) text += "；";
        text +=
            (reason.empty() ? std::string("未知") : reason) + (count > 1 ? formatString(" %d台", count) : "");
    }
    return text;
}

}  // namespace

void UpgradeFlow::setStages(bool on) {
    state_.setChecked(IDC_STAGES, on);
    notify(kChangedControls);
}

void UpgradeFlow::beginStages() {
    plan_.reset();
    planCancelled_ = false;
    askPosted_ = false;
    if (!state_.checked(IDC_STAGES)) return;
    if (!state_.checked(IDC_VERIFY)) {
        // Without a verdict nothing can hold the rest back: the run goes in one, as the operator is told.
        ui_.messageBox(flowtext::kStagesNeedVerify, flowtext::kNoticeTitle, BoxIcon::information,
                       BoxButtons::ok);
        return;
    }
    std::vector<RolloutPlan::Device> devices;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (!list_->GetCheck(row) || rowStatus(*list_, row) != DEVICE_STATUS_CONNECTED) continue;
        const uint32_t key = list_->GetOwnerKey(row);
        if (key == 0) continue;
        devices.push_back({key, list_->GetItemText(row, DEVICE_COLUMN_MODEL)});
    }
    plan_ = std::make_unique<RolloutPlan>(rolloutSettings_, devices);
    // Every device of the run shows 等待升级 from the start, as in a run in one go.
    for (const auto& device : devices) {
        const int row = list_->FindRowByOwnerKey(device.key);
        setRowStatus(*list_, row, DEVICE_STATUS_WAIT_UPGRADE);
        records_[device.key].reason = RowReason{};
    }
}

FlowHost::NextJob UpgradeFlow::takeNextForUpgrade(UploadJobTarget& target) {
    if (!upgrading.load() || !plan_ || !package_) return NextJob::none;
    const RolloutPlan::Next next = plan_->next();
    if (next.step == RolloutPlan::Step::done) return NextJob::none;
    if (next.step == RolloutPlan::Step::wait) return NextJob::wait;
    plan_->started(next.key);
    const int row = list_->FindRowByOwnerKey(next.key);
    if (row < 0 || rowStatus(*list_, row) != DEVICE_STATUS_WAIT_UPGRADE) {
        // The row is gone or changed hands: it counts as ended without a verdict.
        plan_->ended(next.key, RolloutEnd::unverified);
        return NextJob::wait;
    }
    fillJobTarget(row, target);
    return NextJob::start;
}

void UpgradeFlow::stagedDeviceEnded(uint32_t ownerKey, int status, const RowReason& reason) {
    if (!plan_ || !plan_->wasStarted(ownerKey)) return;
    RolloutEnd end = RolloutEnd::failed;
    if (status == DEVICE_STATUS_UPGRADE_DONE)
        end = reason.reason == FailureReason::none ? RolloutEnd::good : RolloutEnd::unverified;
    const std::string model = [&] {
        const int row = list_->FindRowByOwnerKey(ownerKey);
        return row >= 0 ? list_->GetItemText(row, DEVICE_COLUMN_MODEL) : std::string();
    }();
    if (plan_->ended(ownerKey, end, failureReasonText(reason))) {
        haltRows(plan_->notStartedOf(model));
        dispatcher_.post([this, model] {
            if (!destroyed_ && plan_) announceBrake(model);
        });
    }
    if (plan_->awaitingDecision() && !askPosted_) {
        askPosted_ = true;
        // Asked from the dispatcher, not from inside the report that ended the device: the verifier
        // and the jobs go on while the question is open.
        dispatcher_.post([this] {
            if (!destroyed_) askAfterFirstFailure();
        });
    }
}

void UpgradeFlow::askAfterFirstFailure() {
    if (!plan_ || !plan_->awaitingDecision()) return;
    if (phase_ != FlowPhase::running) return;  // cancelled meanwhile: nothing more starts anyway
    const std::string text = formatString(flowtext::kFirstFailureAsk, plan_->firstFailures(),
                                          reasonsText(plan_->firstFailureReasons()).c_str());
    const bool goOn =
        ui_.messageBox(text, flowtext::kAskTitle, BoxIcon::exclamation, BoxButtons::yesNoDefaultNo) == IDYES;
    if (destroyed_ || !plan_) return;
    plan_->decide(goOn && phase_ == FlowPhase::running);
    if (plan_->stoppedAfterFirstFailure()) haltRows(plan_->notStarted());
}

void UpgradeFlow::announceBrake(const std::string& model) {
    auto found = plan_->models().find(model);
    if (found == plan_->models().end()) return;
    const RolloutPlan::ModelState& state = found->second;
    const int left = static_cast<int>(plan_->notStartedOf(model).size());
    ui_.messageBox(formatString(flowtext::kBrakeNotice, model.c_str(), state.ended, state.failed,
                                reasonsText(state.reasons).c_str(), left),
                   flowtext::kNoticeTitle, BoxIcon::exclamation, BoxButtons::ok);
}

void UpgradeFlow::haltRows(const std::vector<uint32_t>& keys) {
    for (uint32_t key : keys) {
        records_[key].reason = RowReason{FailureReason::halted};
        const int row = list_->FindRowByOwnerKey(key);
        if (row < 0 || rowStatus(*list_, row) != DEVICE_STATUS_WAIT_UPGRADE) continue;
        // Ticked, so that 升级 (or a retry) takes it up again once someone has looked.
        setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
        list_->SetCheck(row, true);
    }
}

void UpgradeFlow::endStages() {
    if (!plan_) return;
    haltRows(plan_->notStarted());
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (rowStatus(*list_, row) != DEVICE_STATUS_WAIT_UPGRADE) continue;
        setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
        list_->SetCheck(row, true);
    }
}

bool UpgradeFlow::wasFirstDevice(int row) const {
    return plan_ && row >= 0 && row < list_->RowCount() && plan_->isFirstDevice(list_->GetOwnerKey(row)) &&
           plan_->wasStarted(list_->GetOwnerKey(row));
}

std::string UpgradeFlow::whyNotStarted(int row) const {
    if (!plan_ || row < 0 || row >= list_->RowCount()) return {};
    const uint32_t key = list_->GetOwnerKey(row);
    if (!plan_->contains(key) || plan_->wasStarted(key)) return {};
    switch (plan_->whyNotStarted(key)) {
        case NotStartedWhy::firstFailure:
            return formatString(flowtext::kStopFirstFailure, plan_->firstFailures());
        case NotStartedWhy::brake:
            return formatString(flowtext::kStopBrake, list_->GetItemText(row, DEVICE_COLUMN_MODEL).c_str());
        case NotStartedWhy::none:
            break;
    }
    return planCancelled_ ? std::string(flowtext::kStopCancelled) : std::string();
}

std::string UpgradeFlow::runStopText() const {
    if (!plan_) return {};
    std::string text;
    auto add = [&text](const std::string& piece) { text += (text.empty() ? "" : "；") + piece; };
    if (plan_->stoppedAfterFirstFailure())
        add(formatString(flowtext::kStopFirstFailure, plan_->firstFailures()));
    for (const std::string& model : plan_->brakedModels())
        add(formatString(flowtext::kStopBrake, model.c_str()));
    if (planCancelled_) add(flowtext::kStopCancelled);
    return text;
}

std::string UpgradeFlow::stagesEndNote() const {
    if (!plan_ || (!plan_->stoppedAfterFirstFailure() && plan_->brakedModels().empty())) return {};
    const int left = static_cast<int>(plan_->notStarted().size());
    std::string note = "\n" + formatString(flowtext::kStoppedLine, runStopText().c_str());
    // A cancelled run's summary counts the devices never started already.
    if (!runCancelled_) note += "\n" + formatString(flowtext::kNotStartedLine, left);
    return note;
}
