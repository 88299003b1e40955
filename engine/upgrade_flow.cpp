// UpgradeFlow: construction, lifecycle, the helpers its rooms share, click routing and the use
// cases. The rest of the class lives beside it: upgrade_flow_package.cpp (package and mode),
// upgrade_flow_query.cpp (query, 添加 and the row judgement), upgrade_flow_run.cpp (the run and the
// engine's callbacks), upgrade_flow_results.cpp (verification, reasons, retry, recovery, report).
#include "engine/upgrade_flow.h"

#include <set>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/list_glance.h"
#include "engine/upgrade_flow_internal.h"
#include "package/package_load.h"
#include "ss/ss_platform.h"

using namespace upgrade_flow_internal;

UpgradeFlow::UpgradeFlow(FlowUi& ui) : ui_(ui), list_(std::make_unique<DeviceList>()) {
    list_->BindToCurrentThread();
    glance_ = std::make_unique<ListGlance>(*list_);
    verifier_ = std::make_unique<UpgradeVerifier>([this](const VerifyResult& result) {
        return dispatcher_.send([this, &result] { OnVerified(result); });
    });
}

UpgradeFlow::~UpgradeFlow() {
    OnDestroy();
}

bool UpgradeFlow::upgradeThreadActive() const {
    return server_ && server_->upgradeThread && !ss_thread_finished(server_->upgradeThread);
}

int UpgradeFlow::rowsWithStatus(int code) const {
    return glance_->count(code);
}

bool UpgradeFlow::runFinished() const {
    return runEnded_ && !upgradeThreadActive() && rowsWithStatus(DEVICE_STATUS_UPGRADING) == 0;
}

void UpgradeFlow::setPhase(FlowPhase phase) {
    phase_ = phase;
    upgrading = phase == FlowPhase::running ? 1 : 0;
}

EnablingStep UpgradeFlow::modeStep() const {
    if (state_.checked(IDC_RADIO_BATCH)) return EnablingStep::batchMode;
    return batchAllowed_ ? EnablingStep::singleMode : EnablingStep::singleOnly;
}

void UpgradeFlow::showError(const std::string& utf8Text) {
    ++errorsShown_;
    ui_.messageBox(utf8Text, flowtext::kErrorTitle, BoxIcon::stop, BoxButtons::ok);
}

void UpgradeFlow::notify(unsigned what) {
    ui_.stateChanged(what);
}

int UpgradeFlow::runTask(const std::string& line1, std::function<int()> task, bool makeCurrent) {
    taskActive_ = true;
    if (makeCurrent) progressCurrent = 1;
    int result = ui_.runProgress(
        line1,
        [this, task = std::move(task)] {
            int value = task();
            taskActive_ = false;
            return value;
        },
        makeCurrent);
    // A front end whose progress box failed to start never ran the task.
    taskActive_ = false;
    if (makeCurrent) progressCurrent = 0;
    return result;
}

bool UpgradeFlow::OnInitDialog() {
    if (destroyed_) {  // a flow opened again after OnDestroy (tests)
        destroyed_ = false;
        stopTasks_ = 0;
        dispatcher_.reopen();
    }
    list_->DefineColumns(buildDeviceColumnDescription());
    list_->EnableChecks();
    state_.setChecked(IDC_SELECT_ALL, false);
    state_.setChecked(IDC_VERSION_DIFF, false);
    state_.setChecked(IDC_SHOW_FAILED, false);
    state_.setChecked(IDC_VERIFY, true);
    state_.setText(IDC_VERIFY, flowtext::kVerifyCaption);
    state_.setChecked(IDC_STAGES, true);
    state_.setText(IDC_STAGES, flowtext::kStagesCaption);
    applyStep(EnablingStep::afterInit);
    server_.reset(QuentaUpgradeServer_new());
    notify(kChangedControls | kRebuiltModelBoxes | kChangedPackage);
    if (!server_) {
        ui_.messageBox(flowtext::kServerStartFailed, flowtext::kErrorTitle, BoxIcon::stop, BoxButtons::ok);
        ui_.closeWindow();
        return false;
    }
    initialised_ = true;
    return true;
}

void UpgradeFlow::OnDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    setPhase(FlowPhase::idle);
    // Stop the engine first, so that a progress task still running (a close during a query or a
    // cancel) ends; engine threads now get "closed" for their sends and never wait for this thread.
    if (server_) {
        ss_mutex_guard guard(server_->lock.get());
        server_->running = 0;
    }
    stopTasks_ = 1;
    dispatcher_.close();
    dispatcher_.waitWhileServing([this] { return !taskActive_.load(); });
    verifier_->stop();  // its sends now fail at once, so the join is short
    state_.modelBoxes.clear();
    // Every engine thread (upload jobs included) reads server() until it ends: join them all while
    // the pointer still stands, then drop it.
    QuentaUpgradeServer_stop(server_.get());
    // A run ended by closing the window saves its report too (its end never reached the flow).
    if (ownReportDue_) {
        runEnd_ = ss_platform_localTimeText();
        saveOwnReport();
    }
    server_.reset();
    sharedUploadPath_.clear();
    package_.reset();
    initialised_ = false;
}

void UpgradeFlow::click(int id) {
    if (id >= kFirstModelBoxId) return clickModelBox(id);
    if (!state_.enabled(id)) return;
    switch (id) {
        case IDC_UPGRADE:
            return OnBnClickedOk();
        case IDC_EXIT:
            return OnBnClickedCancel();
        case IDC_QUERY:
            return OnBnClickedButtonQuery();
        case IDC_BROWSE:
            return loadPackage();
        case IDC_ADD:
            return OnBnClickedButtonAdd();
        case IDC_CLEAR:
            return OnBnClickedButtonClear();
        case IDC_RADIO_BATCH:
            return OnBnClickedRadioBatch();
        case IDC_RADIO_SINGLE:
            return OnBnClickedRadioSingle();
        case IDC_SELECT_ALL:
            return selectAllUpgradable(!state_.checked(id));
        case IDC_MODELS_ALL:
            state_.setChecked(id, !state_.checked(id));
            return OnBnClickedCheckModelsAll();
        case IDC_VERSION_DIFF:
            state_.setChecked(id, !state_.checked(id));
            return OnBnClickedCheckVersionDiff();
        case IDC_SHOW_FAILED:
            return showFailedDevices(!state_.checked(id));
        case IDC_VERIFY:
            return setVerify(!state_.checked(id));
        case IDC_STAGES:
            return setStages(!state_.checked(id));
        default:
            return;
    }
}

bool UpgradeFlow::chooseModels(const std::vector<std::string>& utf8Models, std::string& unknown) {
    std::set<std::string> wanted(utf8Models.begin(), utf8Models.end());
    for (const auto& box : state_.modelBoxes) wanted.erase(box.utf8Label);
    if (!wanted.empty()) {
        unknown = *wanted.begin();
        return false;
    }
    wanted.insert(utf8Models.begin(), utf8Models.end());
    for (auto& box : state_.modelBoxes) box.checked = wanted.count(box.utf8Label) != 0;
    notify(kTickedModelBoxes);
    return true;
}

int UpgradeFlow::queryDevices(const QueryOptions& options) {
    const int errors = errorsShown_;
    if (!package_) {
        showError(flowtext::kNoPackage);
    } else if (!batchMode()) {
        showError(kMultimediaFilePackageNotice);
    } else {
        state_.setChecked(IDC_SHOW_FAILED, options.showFailed);
        notify(kChangedControls);
        OnBnClickedButtonQuery();
    }
    return refusedSince(errors);
}

int UpgradeFlow::addDevices(const std::vector<std::string>& dottedIps) {
    const int errors = errorsShown_;
    if (!package_) {
        showError(flowtext::kNoPackage);
        return -1;
    }
    OnBnClickedRadioSingle();
    for (const std::string& ip : dottedIps) {
        setSingleIp(ip);
        OnBnClickedButtonAdd();
        if (refusedSince(errors) != 0) return -1;
    }
    return 0;
}

void UpgradeFlow::selectAllUpgradable(bool on) {
    state_.setChecked(IDC_SELECT_ALL, on);
    OnBnClickedCheckSelectAll();
}

void UpgradeFlow::showFailedDevices(bool on) {
    state_.setChecked(IDC_SHOW_FAILED, on);
    notify(kChangedControls);
    OnBnClickedCheckShowFailed();
}

void UpgradeFlow::setVerify(bool on) {
    state_.setChecked(IDC_VERIFY, on);
    notify(kChangedControls);
}

int UpgradeFlow::startRun(const UpgradeOptions& options) {
    const int errors = errorsShown_;
    setVerify(options.verify);
    setVerifyTimeoutMs(options.verifyTimeoutMs);
    setStages(options.stages);
    setRolloutSettings(options.rollout);
    clearRunEnded();
    OnBnClickedOk();
    return refusedSince(errors);
}

FieldRow UpgradeFlow::listRow(int row) const {
    FieldRow values;
    values.emplace_back(list_->GetCheck(row));
    for (int column = 1; column < DEVICE_COLUMN_COUNT; ++column)
        values.emplace_back(list_->GetItemText(row, column));
    const RowReason reason = rowReason(row);
    values.emplace_back(std::string(failureReasonCode(reason.reason)));
    values.emplace_back(failureReasonText(reason));
    return values;
}
