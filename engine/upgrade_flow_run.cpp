// UpgradeFlow: "升级" and "取消", the rows a run takes, and the engine's reports of a run (job
// started / finished, verified, run ended).
#include "engine/upgrade_flow.h"

#include <algorithm>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/list_glance.h"
#include "engine/upgrade_flow_internal.h"
#include "engine/upgrade_report.h"
#include "package/package_info.h"
#include "package/package_load.h"
#include "ss/ss_platform.h"

namespace {
constexpr int kTimerPeriodMs = 1000;  // the per-row upload timer
}  // namespace

using namespace upgrade_flow_internal;

void UpgradeFlow::OnBnClickedOk() {
    if (phase_ == FlowPhase::running) {
        // The question serves the dispatcher: the run may have ended meanwhile, and then there is
        // nothing left to cancel (and "升级" must not start the next run).
        if (confirm(flowtext::kConfirmCancel) && phase_ == FlowPhase::running) cancelUpgrade();
        return;
    }
    applyStep(EnablingStep::pressed);
    notify(kChangedControls);
    startUpgrade();
    if (destroyed_) return;
    if (phase_ == FlowPhase::idle) applyStep(EnablingStep::offered);
    notify(kChangedControls);
}

bool UpgradeFlow::confirm(const char* utf8Text) {
    return ui_.messageBox(utf8Text, flowtext::kAskTitle, BoxIcon::exclamation, BoxButtons::yesNo) == IDYES;
}

void UpgradeFlow::cancelUpgrade() {
    if (phase_ != FlowPhase::running) return;
    applyStep(EnablingStep::pressed);
    notify(kChangedControls);
    cancelRun();
    if (destroyed_) return;
    // After a cancel "升级" stays off until the run has sent its end (starting the next run would
    // have to wait for the previous run's thread).
    if (phase_ == FlowPhase::idle) applyStep(EnablingStep::offered);
    notify(kChangedControls);
}

void UpgradeFlow::startUpgrade() {
    if (state_.addressBoxIp == kBlankIp) return showError(flowtext::kNoAddressBox);
    if (state_.addressBoxIp.size() < 7 || state_.addressBoxIp.size() > 15)
        return showError(flowtext::kBadAddressBox);
    if (state_.text(IDC_PATH_BOX).empty() || !package_) return showError(flowtext::kNoPackage);
    if (list_->RowCount() == 0) return showError(flowtext::kListEmpty);
    if (list_->CountRows(RC_ITEM_CHECKED) == 0) return showError(flowtext::kNoneTicked);
    QuentaUpgradeServer* server = server_.get();
    if (server == nullptr) return;
    if (runActive()) {
        // The version prompt's "是" right after a cancel: the window does not wait here for the
        // previous run; the new one starts when that run has sent its end.
        setPhase(FlowPhase::restartPending);
        return;
    }
    // The thread of an earlier run has sent its end and is returning; collect it.
    dispatcher_.waitWhileServing([server] { return ss_thread_finished(server->upgradeThread); });
    ss_thread_join(server->upgradeThread);
    beginStages();
    if (destroyed_) return;
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 1;
        setPhase(FlowPhase::running);
    }
    state_.setText(IDC_UPGRADE, flowtext::kCaptionCancel);
    applyStep(EnablingStep::running);
    notify(kChangedControls);
    runKeys_.clear();
    plannedKeys_.clear();
    for (int row = 0; row < list_->RowCount(); ++row)
        if (list_->GetCheck(row) && rowStatus(*list_, row) == DEVICE_STATUS_CONNECTED)
            plannedKeys_.insert(list_->GetOwnerKey(row));
    runCancelled_ = false;
    ownReportDue_ = true;
    lastReportPath_.clear();
    lastReportError_.clear();
    runStart_ = ss_platform_localTimeText();
    runEnd_.clear();
    glance_->beginRun();
    verifier_->begin();
    FlowHost* host = this;
    if (ss_thread_create(server->upgradeThread, _upgradeThreadProc, host) != 0) OnUpgradingEnd();
}

void UpgradeFlow::cancelRun() {
    setPhase(FlowPhase::cancelling);
    planCancelled_ = plan_ != nullptr;
    runCancelled_ = true;
    applyStep(EnablingStep::cancelling);
    // Watching stops: rows still watched end 未验证, their version column as it was.
    for (const VerifyResult& left : verifier_->cancel())
        settleRow(left.ownerKey, rowOfJob(left.row, left.ownerKey), DEVICE_STATUS_UNVERIFIED, left.reason);
    runTask(
        flowtext::kProgressCancel, [this] { return waitUploadsIdle(); }, false);
    if (destroyed_) return;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (rowStatus(*list_, row) != DEVICE_STATUS_WAIT_UPGRADE) continue;
        setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
        list_->SetCheck(row, true);
    }
    state_.setText(IDC_UPGRADE, flowtext::kCaptionUpgrade);
    // " 获取设备列表" and "  清空列表" clear the list: they come back with the run's end, when no job
    // reports to a row any more.
    applyStep(EnablingStep::cancelled);
    notify(kChangedControls);
}

int UpgradeFlow::waitUploadsIdle() {
    return _waitUploadsIdle(*this);
}

void UpgradeFlow::OnBnClickedCancel() {
    if (phase_ == FlowPhase::running) {
        if (!confirm(flowtext::kConfirmClose)) return;  // the window stays open, the run goes on
        if (phase_ == FlowPhase::running) cancelRun();
    }
    ui_.closeWindow();
}

std::vector<uint32_t> UpgradeFlow::rowKeys() {
    std::vector<uint32_t> keys;
    for (int row = 0; row < list_->RowCount(); ++row) keys.push_back(list_->GetOwnerKey(row));
    return keys;
}

bool UpgradeFlow::takeRowForUpgrade(int index, uint32_t ownerKey, UploadJobTarget& target) {
    if (!upgrading.load() || !package_) return false;  // the engine's flag: set exactly while running
    int row = ownerKey != 0 ? list_->FindRowByOwnerKey(ownerKey) : index;
    if (row < 0 || row >= list_->RowCount()) return false;
    if (!list_->GetCheck(row) || rowStatus(*list_, row) != DEVICE_STATUS_CONNECTED) return false;
    setRowStatus(*list_, row, DEVICE_STATUS_WAIT_UPGRADE);
    fillJobTarget(row, target);
    return true;
}

void UpgradeFlow::fillJobTarget(int row, UploadJobTarget& target) {
    target.row = row;
    target.ownerKey = list_->GetOwnerKey(row);
    target.narrowIp = gbk(list_->GetItemText(row, DEVICE_COLUMN_IP));
    target.narrowPackagePath = package_->narrowPath;
    target.narrowUploadPath = sharedUploadPath_;
    target.verifyTimeoutMs = state_.checked(IDC_VERIFY) ? std::max(1, verifyTimeoutMs_) : 0;
    DeviceRunRecord& record = records_[target.ownerKey];
    record = DeviceRunRecord{};
    record.versionBefore = list_->GetItemText(row, DEVICE_COLUMN_SOFT_VERSION);
    runKeys_.insert(target.ownerKey);
}

int UpgradeFlow::rowOfJob(int row, uint32_t ownerKey) {
    if (ownerKey != 0) {
        int found = list_->FindRowByOwnerKey(ownerKey);
        if (found >= 0) return found;
    }
    if (row >= 0 && row < list_->RowCount() && (ownerKey == 0 || list_->GetOwnerKey(row) == 0)) return row;
    return -1;
}

// A row's upload timer is identified by the row's owner key (its IPv4 value), never by its index:
// rows move when the list is sorted.
void UpgradeFlow::OnUploadStart(int row, uint32_t ownerKey) {
    DLG_LOG(SS_LOG_DEBUG, 1589, "OnUploadStart", "Start uploading[%d]\n", row);
    int current = rowOfJob(row, ownerKey);
    if (current < 0) return;
    records_[list_->GetOwnerKey(current)].startTime = ss_platform_localTimeText();
    setRowStatus(*list_, current, DEVICE_STATUS_UPGRADING);
    list_->StartCellProgress(current);
    const uint32_t key = list_->GetOwnerKey(current);
    if (key != 0) ui_.startTimer(key, kTimerPeriodMs);
}

void UpgradeFlow::OnTimer(uint32_t ownerKey) {
    int current = list_->FindRowByOwnerKey(ownerKey);
    if (current < 0) return;
    int percent = uploadSlotProgress(server_.get(), ownerKey);
    if (percent < 0) return;
    list_->SetCellProgressPercent(current, percent);
    list_->RefreshStatusCell(current);
}

void UpgradeFlow::settleRow(uint32_t ownerKey, int row, int status, const RowReason& reason) {
    DeviceRunRecord& record = records_[row >= 0 ? list_->GetOwnerKey(row) : ownerKey];
    record.reason = reason;
    record.endTime = ss_platform_localTimeText();
    if (plan_) stagedDeviceEnded(row >= 0 ? list_->GetOwnerKey(row) : ownerKey, status, reason);
    if (row < 0) return;
    setRowStatus(*list_, row, status);
    list_->SetCheck(row, false);
}

void UpgradeFlow::OnUploadFinish(int row, uint32_t ownerKey, int result, const UploadOutcome& outcome) {
    int current = rowOfJob(row, ownerKey);
    const uint32_t timerKey = ownerKey != 0 ? ownerKey : (current >= 0 ? list_->GetOwnerKey(current) : 0);
    if (timerKey != 0) ui_.stopTimer(timerKey);
    if (current >= 0) list_->StopCellProgress(current);
    records_[current >= 0 ? list_->GetOwnerKey(current) : ownerKey].bytesSent = outcome.bytesSent;
    // Rebooting: the verifier settles the row when the device is back (OnVerified). Refused (a cancel
    // came, or no port for the watcher): the row ends 未验证 and says why; its version stays.
    const bool watched = result == 0 && outcome.watched && current >= 0 && package_ &&
                         verifier_->watch(list_->GetOwnerKey(current), current,
                                          gbk(list_->GetItemText(current, DEVICE_COLUMN_IP)),
                                          package_->version, std::max(1, verifyTimeoutMs_));
    if (watched) {
        records_[list_->GetOwnerKey(current)].reason = RowReason{};
        setRowStatus(*list_, current, DEVICE_STATUS_VERIFYING);
        list_->SetCheck(current, false);
    } else if (result == 0 && outcome.watched) {
        RowReason reason = outcome.reason;
        reason.reason = verifier_->portFailed() ? FailureReason::noVerifyPort : FailureReason::notVerified;
        settleRow(ownerKey, current, DEVICE_STATUS_UNVERIFIED, reason);
    } else if (result == 0) {
        // Verification off: the operator takes the transfer's success for the upgrade.
        settleRow(ownerKey, current, DEVICE_STATUS_UPGRADE_DONE, outcome.reason);
        if (current >= 0 && package_)
            list_->SetCellText(current, DEVICE_COLUMN_SOFT_VERSION, utf8(package_->version));
    } else {
        // The device did not take the package: it keeps its version and shows the failure.
        settleRow(ownerKey, current, DEVICE_STATUS_UPGRADE_FAILED, outcome.reason);
    }
    DLG_LOG(SS_LOG_DEBUG, 1601, "OnUploadFinish", "Finished uploading[%d]\n", row);
}

void UpgradeFlow::OnVerified(const VerifyResult& result) {
    int current = rowOfJob(result.row, result.ownerKey);
    if (current >= 0 && rowStatus(*list_, current) != DEVICE_STATUS_VERIFYING) current = -1;
    settleRow(result.ownerKey, current, result.ok ? DEVICE_STATUS_UPGRADE_DONE : DEVICE_STATUS_UPGRADE_FAILED,
              result.reason);
    if (current >= 0 && !result.narrowVersion.empty())
        list_->SetCellText(current, DEVICE_COLUMN_SOFT_VERSION, utf8(result.narrowVersion));
}

void UpgradeFlow::OnUpgradingEnd() {
    const bool startNext = phase_ == FlowPhase::restartPending;
    setPhase(FlowPhase::idle);
    endStages();
    state_.setText(IDC_UPGRADE, flowtext::kCaptionUpgrade);
    applyStep(modeStep());
    applyStep(EnablingStep::runEnded);
    notify(kChangedControls);
    runEnded_ = true;
    runEnd_ = ss_platform_localTimeText();
    glance_->endRun();
    // Rows that settled late take their places under the operator's sort before the box shows.
    list_->ReapplyChosenSort();
    saveOwnReport();
    ui_.messageBox(runSummaryText(lastRunSummary(), ui_.retryWay()) + stagesEndNote(), flowtext::kInfoTitle,
                   BoxIcon::none, BoxButtons::ok);
    DLG_LOG(SS_LOG_DEBUG, 1613, "OnUpgradingEnd", "Upgrading end!\n");
    if (startNext && !destroyed_) {
        // Queued only now: the box above serves the dispatcher, and the next run must not start
        // before this call has returned to the ended run's thread.
        dispatcher_.post([this] {
            if (destroyed_ || phase_ != FlowPhase::idle) return;
            OnBnClickedOk();
        });
    }
}

void UpgradeFlow::postProgressSearch(std::optional<std::string> narrowAddress, int count) {
    std::optional<std::string> address;
    if (narrowAddress) address = utf8(*narrowAddress);
    dispatcher_.post([this, address, count] {
        if (progressCurrent.load()) ui_.progressSearch(address, count);
    });
}

void UpgradeFlow::postProgressFailed(int total, int done) {
    dispatcher_.post([this, total, done] {
        if (progressCurrent.load()) ui_.progressFailed(total, done);
    });
}
