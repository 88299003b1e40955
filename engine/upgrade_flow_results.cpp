// UpgradeFlow: what a run leaves behind: reasons, the summary, retry of failed devices, recovery of
// unanswered ones, and the report.
#include "engine/upgrade_flow.h"

#include "engine/device_list.h"
#include "engine/device_recovery.h"
#include "engine/device_status.h"
#include "engine/upgrade_flow_internal.h"
#include "engine/upgrade_report.h"
#include "package/package_info.h"
#include "package/package_load.h"
#include "protocol/ss_pair.h"
#include "ss/ss_platform.h"

using namespace upgrade_flow_internal;

namespace {
// A report line's reason: code, text and kind.
void describeReason(ReportDevice& device, const RowReason& reason) {
    device.reason = failureReasonCode(reason.reason);
    device.reasonText = failureReasonText(reason);
    device.reasonKind = failureKindCode(failureKind(reason.reason));
    device.reasonKindText = failureKindText(failureKind(reason.reason));
}
}  // namespace

void UpgradeFlow::setVerifyTiming(int intervalMs, int settleMs) {
    verifier_->setTiming(intervalMs, settleMs);
}

RowReason UpgradeFlow::rowReason(int row) const {
    if (row < 0 || row >= list_->RowCount()) return {};
    auto it = records_.find(list_->GetOwnerKey(row));
    if (it == records_.end()) return {};
    // A reason belongs to the status it explains; a row that moved on (a retry) has none.
    const int code = rowStatus(*list_, row);
    if (code == DEVICE_STATUS_CONNECTED && it->second.reason.reason == FailureReason::halted)
        return it->second.reason;  // not started: the run stopped before it
    if (code != DEVICE_STATUS_UPGRADE_FAILED && code != DEVICE_STATUS_CONNECT_FAILED &&
        code != DEVICE_STATUS_UPGRADE_DONE && code != DEVICE_STATUS_UNVERIFIED)
        return {};
    return it->second.reason;
}

RunSummary UpgradeFlow::lastRunSummary() const {
    RunSummary summary;
    summary.cancelled = runCancelled_;
    summary.reportPath = lastReportPath_;
    summary.reportError = lastReportError_;
    for (int row = 0; row < list_->RowCount(); ++row) {
        const uint32_t key = list_->GetOwnerKey(row);
        const int code = rowStatus(*list_, row);
        if (plannedKeys_.count(key) != 0 &&
            (code == DEVICE_STATUS_CONNECTED || code == DEVICE_STATUS_WAIT_UPGRADE))
            ++summary.notStarted;
        if (runKeys_.count(key) == 0) continue;
        if (code == DEVICE_STATUS_UPGRADE_FAILED) {
            ++summary.failed;
            if (failureKind(rowReason(row).reason) == FailureKind::onSite) ++summary.onSite;
        } else if (code == DEVICE_STATUS_UNVERIFIED) {
            ++summary.notVerified;
        } else if (code == DEVICE_STATUS_UPGRADE_DONE) {
            ++summary.succeeded;
        }
    }
    return summary;
}

namespace {
// Nothing runs, nothing is pending: a retry may start a run.
bool mayStartRun(bool hasServer, FlowPhase phase, bool threadActive, bool taskActive) {
    return hasServer && phase == FlowPhase::idle && !threadActive && !taskActive;
}
}  // namespace

bool UpgradeFlow::canRetry() const {
    if (!mayStartRun(server_ != nullptr, phase_, upgradeThreadActive(), taskActive_.load())) return false;
    for (int row = 0; row < list_->RowCount(); ++row)
        if (rowStatus(*list_, row) == DEVICE_STATUS_UPGRADE_FAILED &&
            failureKind(rowReason(row).reason) != FailureKind::onSite)
            return true;
    for (int row = 0; row < list_->RowCount(); ++row)
        if (rowReason(row).reason == FailureReason::halted) return true;
    return false;
}

bool UpgradeFlow::retryRows(const std::function<bool(int row)>& take) {
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (take(row)) {
            setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
            list_->SetCheck(row, true);
        } else {
            list_->SetCheck(row, false);
        }
    }
    clearRunEnded();
    OnBnClickedOk();
    return phase_ == FlowPhase::running || runEnded_;
}

bool UpgradeFlow::retryFailed() {
    if (!canRetry()) return false;
    // Decided before any row changes: the reasons belong to the 升级失败 status.
    std::vector<bool> take(static_cast<size_t>(list_->RowCount()), false);
    int retried = 0, leftOut = 0;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (rowReason(row).reason == FailureReason::halted) {  // a run's stop left it: it goes on now
            take[static_cast<size_t>(row)] = true;
            ++retried;
            continue;
        }
        if (rowStatus(*list_, row) != DEVICE_STATUS_UPGRADE_FAILED) continue;
        if (failureKind(rowReason(row).reason) == FailureKind::onSite) {
            ++leftOut;
        } else {
            take[static_cast<size_t>(row)] = true;
            ++retried;
        }
    }
    if (leftOut > 0)
        ui_.messageBox(formatString(flowtext::kRetryLeftOut, retried, leftOut), flowtext::kInfoTitle,
                       BoxIcon::information, BoxButtons::ok);
    // The box served the dispatcher: nothing may have started meanwhile, but check as the menu does.
    if (destroyed_ || !canRetry() || list_->RowCount() != static_cast<int>(take.size())) return false;
    return retryRows([&take](int row) { return take[static_cast<size_t>(row)]; });
}

bool UpgradeFlow::canRetrySelected() const {
    if (!mayStartRun(server_ != nullptr, phase_, upgradeThreadActive(), taskActive_.load())) return false;
    for (int row = 0; row < list_->RowCount(); ++row) {
        const int code = rowStatus(*list_, row);
        if (list_->IsSelected(row) &&
            (code == DEVICE_STATUS_UPGRADE_FAILED || code == DEVICE_STATUS_UNVERIFIED))
            return true;
    }
    return false;
}

bool UpgradeFlow::retrySelected() {
    if (!canRetrySelected()) return false;
    return retryRows([this](int row) {
        const int code = rowStatus(*list_, row);
        return list_->IsSelected(row) &&
               (code == DEVICE_STATUS_UPGRADE_FAILED || code == DEVICE_STATUS_UNVERIFIED);
    });
}

bool UpgradeFlow::listHoldsRunResults() const {
    // Only a run gives a row these statuses (an earlier run's rows count as well as the last one's).
    for (int row = 0; row < list_->RowCount(); ++row) {
        const int code = rowStatus(*list_, row);
        if (code == DEVICE_STATUS_UPGRADE_DONE || code == DEVICE_STATUS_UPGRADE_FAILED ||
            code == DEVICE_STATUS_UNVERIFIED)
            return true;
    }
    return false;
}

std::string UpgradeFlow::reportFolder() const {
    if (!reportFolder_.empty()) return reportFolder_;
    return ss_platform_mapPath("C:\\Work/quenta/reports");
}

void UpgradeFlow::saveOwnReport() {
    ownReportDue_ = false;
    lastReportPath_.clear();
    lastReportError_.clear();
    if (saveRunReport(reportHead(), reportRows(), reportFolder(), lastReportPath_, lastReportError_) != 0) {
        lastReportPath_.clear();
        DLG_LOG(SS_LOG_ERROR, 1614, "OnUpgradingEnd", "Report not saved: %s\n",
                gbk(lastReportError_).c_str());
    }
}

bool UpgradeFlow::canRecover() const {
    return server_ && queried_ && phase_ == FlowPhase::idle && !upgradeThreadActive() && !taskActive_.load();
}

bool UpgradeFlow::canExportReport() const {
    return list_->RowCount() > 0 && !isUpgrading();
}

void UpgradeFlow::applyRecovered(const DeviceInfo& info) {
    if (!info.ip) return;
    const uint32_t key = ss_ip_toInteger(info.ip->c_str());
    int row = list_->FindRowByOwnerKey(key);
    if (row >= 0 && rowStatus(*list_, row) == DEVICE_STATUS_CONNECT_FAILED) {
        // The 连接失败 row is locked for good: a fresh row takes its place, then is judged.
        list_->DeleteRow(row);
        row = list_->InsertRow(row);
        if (row < 0) return;
        list_->SetOwnerKey(row, key);
        records_.erase(key);
    } else if (row >= 0) {
        return;  // listed meanwhile: the row stands as judged
    }
    UpdateIPList(info, true);
    row = list_->FindRowByOwnerKey(key);
    if (row < 0) return;  // answered without the keys a row needs: no row, the report says why
    // The version rule of the query, for this row only.
    if (rowStatus(*list_, row) == DEVICE_STATUS_CONNECTED && state_.checked(IDC_VERSION_DIFF) && package_ &&
        list_->GetItemText(row, DEVICE_COLUMN_SOFT_VERSION) == utf8(package_->version))
        list_->SetCheck(row, false);
}

int UpgradeFlow::recoverUnanswered(bool showResult) {
    if (!canRecover()) return 0;
    QuentaUpgradeServer* server = server_.get();
    std::vector<std::string> addresses;
    {
        ss_mutex_guard guard(server->lock.get());
        for (const IpRecord& record : server->ipList)
            if (record.state != IP_ANSWERED) addresses.push_back(record.text);
    }
    int recovered = 0;
    int missing = 0;
    runTask(
        flowtext::kProgressRecover,
        [this, server, &addresses, &recovered, &missing, options = recoveryOptions_] {
            std::vector<std::string> left = recoverDevices(
                addresses, options,
                [this, server, &recovered](const DeviceInfo& info) {
                    if (markIpAnswered(server, info.ip->c_str()) != 0) return;
                    if (dispatcher_.send([this, &info] { applyRecovered(info); })) ++recovered;
                },
                &stopTasks_);
            missing = static_cast<int>(left.size());
            return 0;
        },
        false);
    if (destroyed_) return recovered;
    notify(kChangedControls);
    if (showResult)
        ui_.messageBox(formatString(flowtext::kRecoverDone, recovered, missing), flowtext::kInfoTitle,
                       BoxIcon::information, BoxButtons::ok);
    return recovered;
}

RunReport UpgradeFlow::reportHead() const {
    RunReport report;
    if (package_) {
        report.packageFile = utf8(package_->narrowFileName);
        report.packageVersion = utf8(package_->version);
        report.packageKind = packageKindKey(package_->kind);
        report.packageMd5 = packageFileMd5Hex(package_->narrowPath);
    }
    report.addressBox = state_.addressBoxIp == kBlankIp ? std::string() : state_.addressBoxIp;
    report.startTime = runStart_;
    report.endTime = runEnd_;
    report.hostName = reportHostName();
    report.runStop = runStopText();
    return report;
}

ReportRows UpgradeFlow::reportRows() const {
    // Devices that answered without the keys a row needs have no row; the report still names them,
    // after the rows. So are the addresses the address box named that never answered and have no
    // 连接失败 row (the failed-device step was off), last.
    std::vector<std::uint32_t> unlisted;
    for (const auto& entry : incompleteAnswers_)
        if (list_->FindRowByOwnerKey(entry.first) < 0) unlisted.push_back(entry.first);
    std::vector<std::string> silent;  // GBK
    if (server_) {
        ss_mutex_guard guard(server_->lock.get());
        for (const IpRecord& record : server_->ipList)
            if (record.state != IP_ANSWERED && list_->FindRowByOwnerKey(record.value) < 0 &&
                incompleteAnswers_.count(record.value) == 0)
                silent.push_back(record.text);
    }
    const size_t rows = static_cast<size_t>(list_->RowCount());
    const size_t incomplete = rows + unlisted.size();
    const size_t count = incomplete + silent.size();
    auto device = [this, rows, incomplete, unlisted = std::move(unlisted),
                   silent = std::move(silent)](size_t index) {
        ReportDevice device;
        if (index >= incomplete) {
            device.ip = utf8(silent[index - incomplete]);
            device.status = deviceStatusEntry(DEVICE_STATUS_CONNECT_FAILED)->text;
            const RowReason reason{FailureReason::neverAnswered};
            describeReason(device, reason);
            return device;
        }
        if (index >= rows) {
            const DeviceInfo& info = incompleteAnswers_.at(unlisted[index - rows]);
            device.ip = utf8(info.ip.value_or(""));
            device.model = utf8(info.model.value_or(""));
            device.serialNum = utf8(info.serialNum.value_or(""));
            device.versionBefore = device.versionAfter = utf8(info.softVersion.value_or(""));
            const RowReason reason{FailureReason::missingKeys};
            describeReason(device, reason);
            return device;
        }
        const int row = static_cast<int>(index);
        device.ip = list_->GetItemText(row, DEVICE_COLUMN_IP);
        device.model = list_->GetItemText(row, DEVICE_COLUMN_MODEL);
        device.serialNum = list_->GetItemText(row, DEVICE_COLUMN_SERIAL);
        device.master = list_->GetItemText(row, DEVICE_COLUMN_MASTER);
        device.slave = list_->GetItemText(row, DEVICE_COLUMN_SLAVE);
        device.status = list_->GetItemText(row, DEVICE_COLUMN_STATUS);
        device.versionAfter = list_->GetItemText(row, DEVICE_COLUMN_SOFT_VERSION);
        device.versionBefore = device.versionAfter;
        auto it = records_.find(list_->GetOwnerKey(row));
        if (it != records_.end()) {
            if (!it->second.versionBefore.empty()) device.versionBefore = it->second.versionBefore;
            device.startTime = it->second.startTime;
            device.endTime = it->second.endTime;
            device.bytesSent = it->second.bytesSent;
        }
        device.firstDevice = wasFirstDevice(row);
        device.notStarted = whyNotStarted(row);
        RowReason reason = rowReason(row);
        describeReason(device, reason);
        return device;
    };
    return {count, device};
}

RunReport UpgradeFlow::buildReport() const {
    RunReport report = reportHead();
    const ReportRows rows = reportRows();
    for (size_t i = 0; i < rows.count; ++i) report.devices.push_back(rows.at(i));
    return report;
}

int UpgradeFlow::writeReport(const std::string& utf8Path, std::string& utf8Error) const {
    // The files themselves are compared: another spelling of the package's path is still the package.
    if (package_ && ss_platform_sameFile(utf8Path, package_->localPath)) {
        utf8Error = "报告不能写到升级包上：" + utf8Path;
        return -1;
    }
    return writeReportFile(reportHead(), reportRows(), utf8Path, utf8Error);
}

int UpgradeFlow::exportReport() {
    std::optional<std::string> path = ui_.chooseSaveFile(reportFileFilters());
    if (!path) return -1;
    std::string error;
    if (writeReport(*path, error) != 0) {
        showError(error);
        return -1;
    }
    ui_.messageBox(formatString(flowtext::kReportSaved, path->c_str()), flowtext::kInfoTitle,
                   BoxIcon::information, BoxButtons::ok);
    return 0;
}
