#include "engine/upgrade_flow.h"

#include <cstring>

#include "devtypes/devtypes.h"
#include "engine/device_list.h"
#include "engine/device_recovery.h"
#include "engine/device_status.h"
#include "engine/model_box_layout.h"
#include "engine/upgrade_report.h"
#include "package/compatibility.h"
#include "package/package_info.h"
#include "package/package_load.h"
#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/md5.h"
#include "protocol/ss_pair.h"
#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

// The main window's log lines keep the source file and line the tool has always written.
#define DLG_LOG(level, line, function, ...) \
    ss_log_write(level, "quenta_upgradeDlg.cpp", line, "Cquenta_upgradeDlg::" function, __VA_ARGS__)

namespace {

std::string utf8(const std::string& gbk) {
    return ss_text_gbkToUtf8(gbk);
}
std::string gbk(const std::string& utf8Text) {
    return ss_text_utf8ToGbk(utf8Text);
}

constexpr int kTimerPeriodMs = 1000;

// Controls whose edits clear the list (address box IP, the mode radios) or rewrite a row ("添加"):
// off while a run's jobs report to the rows.
constexpr int kListControls[] = {IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP, IDC_ADD, IDC_RADIO_BATCH,
                                 IDC_RADIO_SINGLE};

}  // namespace

UpgradeFlow::UpgradeFlow(FlowUi& ui) : ui_(ui), list_(std::make_unique<DeviceList>()) {
    list_->BindToCurrentThread();
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
    int count = 0;
    for (int row = 0; row < list_->RowCount(); ++row)
        if (rowStatus(*list_, row) == code) ++count;
    return count;
}

bool UpgradeFlow::runFinished() const {
    return runEnded_ && !upgradeThreadActive() && rowsWithStatus(DEVICE_STATUS_UPGRADING) == 0;
}

void UpgradeFlow::showError(const std::string& utf8Text) {
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

// ---- lifecycle ----------------------------------------------------------------------------------

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
    state_.applyEnabling(FlowUiState::afterInit);
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
    upgrading = 0;
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
    server_.reset();
    sharedUploadPath_.clear();
    package_.reset();
    runActive_ = false;
    startAfterEnd_ = false;
    heldControls_.clear();
    initialised_ = false;
}

// ---- package and mode ---------------------------------------------------------------------------

void UpgradeFlow::loadPackage() {
    std::optional<std::string> path = ui_.chooseOpenFile(packageFileFilters());
    if (!path) return;
    loadPackageFile(*path);
}

int UpgradeFlow::loadPackageFile(const std::string& utf8Path) {
    if (!packageExtensionIsQuenta(utf8Path) &&
        ui_.messageBox(kPackageExtensionWarning, kPackageWarningTitle, BoxIcon::exclamation,
                       BoxButtons::yesNo) != IDYES)
        return -1;
    if (utf8Path == state_.text(IDC_PATH_BOX)) return -1;  // the same package is not loaded twice
    if (refuseWhileRunning()) return -1;
    std::string message;
    if (packagePrecheck(utf8Path, message) != 0) {
        showError(message);
        return -1;
    }
    // The previous package is discarded here: until a package loads completely, no device is judged
    // against it, and query, add and upgrade are refused with "请先选择升级文件".
    package_.reset();
    state_.modelBoxes.clear();
    state_.setText(IDC_PATH_BOX, "");
    state_.setText(IDC_PACKAGE_LABEL, "适用于以下产品型号");
    OnBnClickedButtonClear();
    notify(kRebuiltModelBoxes | kChangedPackage);
    auto loaded = std::make_unique<LoadedPackage>();
    if (packageRead(utf8Path, *loaded, message) != 0) {
        showError(message);
        return -1;
    }
    package_ = std::move(loaded);
    state_.setText(IDC_PACKAGE_LABEL, packageVersionLabel(*package_));
    state_.setText(IDC_PATH_BOX, utf8Path);
    notify(kChangedPackage);

    if (applyPackageKindRules(*package_)) {
        rebuildModelBoxes();
        ui_.messageBox(kMultimediaFilePackageNotice, flowtext::kNoticeTitle, BoxIcon::none, BoxButtons::ok);
        setMode(false);
        state_.setEnabled(IDC_RADIO_BATCH, false);
    } else {
        setMode(true);
        state_.setEnabled(IDC_RADIO_BATCH, true);
        rebuildModelBoxes();
    }
    state_.setEnabled(IDC_RADIO_SINGLE, true);
    notify(kChangedControls | kTickedModelBoxes);
    return 0;
}

void UpgradeFlow::rebuildModelBoxes() {
    state_.modelBoxes.clear();
    state_.setChecked(IDC_MODELS_ALL, true);
    if (package_) {
        std::vector<std::string> items = splitString(package_->modelList.c_str(), ",");
        const std::vector<ModelBoxRect> places = layoutModelBoxes(static_cast<int>(items.size()));
        for (size_t index = 0; index < items.size(); ++index) {
            ModelBox box;
            box.id = kFirstModelBoxId + static_cast<int>(index);
            box.narrowLabel = items[index];
            box.utf8Label = utf8(items[index]);
            box.checked = true;
            box.enabled = items.size() != 1;  // a single model can never be unticked
            box.x = places[index].x;
            box.y = places[index].y;
            box.width = places[index].width;
            box.height = places[index].height;
            state_.modelBoxes.push_back(std::move(box));
        }
    }
    notify(kRebuiltModelBoxes | kChangedControls);
}

void UpgradeFlow::clickModelBox(int id) {
    ModelBox* box = state_.modelBox(id);
    if (box == nullptr || !box->enabled) return;
    box->checked = !box->checked;
    notify(kTickedModelBoxes);
}

void UpgradeFlow::OnBnClickedCheckModelsAll() {
    if (state_.modelBoxes.size() < 2) return;
    for (auto& box : state_.modelBoxes) box.checked = state_.checked(IDC_MODELS_ALL);
    notify(kTickedModelBoxes);
}

void UpgradeFlow::setMode(bool batch) {
    state_.setChecked(IDC_RADIO_BATCH, batch);
    state_.setChecked(IDC_RADIO_SINGLE, !batch);
    state_.setEnabled(IDC_SINGLE_IP, !batch);
    state_.setEnabled(IDC_ADD, !batch);
    for (int id : {IDC_QUERY, IDC_SELECT_ALL, IDC_VERSION_DIFF, IDC_SHOW_FAILED})
        state_.setEnabled(id, batch);
    notify(kChangedControls);
}

bool UpgradeFlow::refuseWhileRunning() {
    if (!runActive_) return false;
    notify(kChangedControls);  // a front end that let the edit through shows the state again
    return true;
}

void UpgradeFlow::holdListControls(bool hold) {
    if (hold) {
        heldControls_.clear();
        for (int id : kListControls) {
            heldControls_[id] = state_.enabled(id);
            state_.setEnabled(id, false);
        }
    } else {
        for (const auto& [id, enabled] : heldControls_) state_.setEnabled(id, enabled);
        heldControls_.clear();
    }
}

void UpgradeFlow::OnBnClickedRadioBatch() {
    if (refuseWhileRunning()) return;
    if (state_.checked(IDC_RADIO_SINGLE)) list_->DeleteAllRows();
    setMode(true);
}

void UpgradeFlow::OnBnClickedRadioSingle() {
    if (refuseWhileRunning()) return;
    if (state_.checked(IDC_RADIO_BATCH)) list_->DeleteAllRows();
    setMode(false);
}

void UpgradeFlow::setAddressBoxIp(const std::string& dotted) {
    std::string text = dotted.empty() ? std::string(kBlankIp) : dotted;
    if (text == state_.addressBoxIp) return;
    if (refuseWhileRunning()) return;  // the field shows the run's address box again
    state_.addressBoxIp = text;
    OnIpFieldChangedAddressBox();
    notify(kChangedControls);
}

void UpgradeFlow::OnIpFieldChangedAddressBox() {
    if (runActive_) return;
    list_->DeleteAllRows();
}

void UpgradeFlow::setSingleIp(const std::string& dotted) {
    if (refuseWhileRunning()) return;
    state_.singleIp = dotted.empty() ? std::string(kBlankIp) : dotted;
    notify(kChangedControls);
}

// ---- list and selection -------------------------------------------------------------------------

void UpgradeFlow::OnBnClickedButtonClear() {
    if (refuseWhileRunning()) return;
    list_->DeleteAllRows();
    clearIpRecords(server_.get());
    records_.clear();
    incompleteAnswers_.clear();
    runKeys_.clear();
    queried_ = false;
}

void UpgradeFlow::serveFor(int milliseconds) {
    int64_t until = ss_platform_monotonicMs() + milliseconds;
    dispatcher_.waitWhileServing([until] { return ss_platform_monotonicMs() >= until; });
}

void UpgradeFlow::joinDiscoveryThreads() {
    QuentaUpgradeServer* server = server_.get();
    if (server == nullptr) return;
    if (server->running.load()) {
        ss_mutex_guard guard(server->lock.get());
        server->running = 0;
    }
    dispatcher_.waitWhileServing([server] {
        return ss_thread_finished(server->dispatcherThread) && ss_thread_finished(server->handlerThread) &&
               ss_thread_finished(server->connectThread);
    });
    ss_thread_join(server->dispatcherThread);
    ss_thread_join(server->handlerThread);
    ss_thread_join(server->connectThread);
}

void UpgradeFlow::OnBnClickedButtonQuery() {
    if (!server_ || refuseWhileRunning()) return;
    OnBnClickedButtonClear();
    std::string account;
    for (const auto& box : state_.modelBoxes) {
        if (!box.checked) continue;
        if (!account.empty()) account += ",";
        account += box.narrowLabel;
    }
    // No package (a load failed after the previous package was discarded) leaves no model boxes and
    // an empty path box: refused below, in the order the checks have always had.
    if (account.empty()) return showError(flowtext::kNoModel);
    if (state_.addressBoxIp == kBlankIp) return showError(flowtext::kNoAddressBox);
    if (state_.text(IDC_PATH_BOX).empty() || !package_) return showError(flowtext::kNoPackage);
    const std::string addressBox = gbk(state_.addressBoxIp);
    if (!ss_ip_isValid(addressBox.c_str())) return showError(flowtext::kBadAddressBox);
    if (checkAddressBox(addressBox) != 0) return;

    QuentaUpgradeServer* server = server_.get();
    // Answers and lists that arrived after the previous query's handler ended belong to that query:
    // this one starts from an empty queue and an empty listener.
    QuentaUpgradeServer_dropMessages(server);
    // A run that ended earlier may still hold its thread handle; it is finished or finishing.
    addressListArrived = 0;
    sharedUploadPath_.clear();
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 1;
        server->connectIdleTimes = 0;
        server->msgHandleIdleTimes = 0;
    }
    FlowHost* host = this;
    ss_thread_create(server->dispatcherThread, _messageDispatcherProc, host);
    ss_thread_create(server->handlerThread, _messageHandlerThreadProc, host);
    ss_thread_create(server->connectThread, _ipConnectThreadProc, host);
    serveFor(50);
    state_.setEnabled(IDC_UPGRADE, false);
    state_.setEnabled(IDC_QUERY, false);
    notify(kChangedControls);

    std::optional<std::string> auth = makeAuthToken(account.c_str());
    std::string request = buildGetModelIPList(auth ? auth->c_str() : "", account.c_str());
    DLG_LOG(SS_LOG_DEBUG, 1398, "OnBnClickedButtonQuery", "Send QNACTION_GET_MODEL_IP_LIST command.\n%s\n",
            request.c_str());
    sockaddr_in destination{};
    _SS_Socket_initAddress(&destination, addressBox.c_str());
    destination.sin_port = htons(QN_PORT_ADDRESS_BOX);
    SS_Socket_send_plain(&destination, request.c_str(), server->listener.get());

    if (package_->kind == PACKAGE_KIND_ADDRESS_BOX || package_->kind == PACKAGE_KIND_MANAGEMENT_SERVER) {
        DeviceInfo info;
        std::string message;
        if (queryDeviceInfo(addressBox, info, message) == 0) UpdateIPList(info, true);
        state_.setEnabled(IDC_UPGRADE, true);
    } else {
        int64_t started = ss_platform_monotonicMs();
        runTask(
            flowtext::kProgressQuery, [this] { return waitConnectDone(); }, true);
        if (destroyed_) return;
        static const std::string format = gbk("测试连接 %d ms\n");
        DLG_LOG(SS_LOG_DEBUG, 1415, "OnBnClickedButtonQuery", format.c_str(),
                static_cast<int>(ss_platform_monotonicMs() - started));
    }
    state_.setEnabled(IDC_UPGRADE, true);
    state_.setEnabled(IDC_QUERY, true);
    queried_ = true;
    notify(kChangedControls);
    OnBnClickedCheckShowFailed();
    if (destroyed_) return;
    joinDiscoveryThreads();
    if (destroyed_) return;
    state_.setChecked(IDC_VERSION_DIFF, true);
    notify(kChangedControls);
    OnBnClickedCheckVersionDiff();
}

int UpgradeFlow::waitConnectDone() {
    QuentaUpgradeServer* server = server_.get();
    // Looked at every 50 ms: the query ends as soon as either thread has ended.
    while (!ss_thread_finished(server->connectThread) && !ss_thread_finished(server->handlerThread))
        ss_platform_sleepMs(50);
    return 0;
}

int UpgradeFlow::checkAddressBox(const std::string& narrowIp) {
    DeviceInfo info;
    std::string message;
    if (queryDeviceInfo(narrowIp, info, message) != 0) {
        showError(flowtext::kAddressBoxSilent);
        return -1;
    }
    if (!info.model || !info.serialNum) return -1;
    int type = classifySerialNumber(info.serialNum->c_str());
    if (type == SS_SN_TYPE_SERVER || type == SS_SN_TYPE_ADMINISTRATION_SERVER) return 0;
    showError(formatString(flowtext::kNotAddressBox, utf8(narrowIp).c_str(), utf8(*info.model).c_str()));
    return -1;
}

int UpgradeFlow::queryDeviceInfo(const std::string& narrowIp, DeviceInfo& info, std::string& narrowMessage) {
    static const std::string format = gbk(flowtext::kDeviceSilent);
    SS_SocketPtr socket = openJobSocket(nullptr);
    if (!socket) {
        narrowMessage = formatString(format.c_str(), narrowIp.c_str());
        return -1;
    }
    sockaddr_in destination{};
    _SS_Socket_initAddress(&destination, narrowIp.c_str());
    destination.sin_port = htons(QN_PORT_DEVICE);
    const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);
    SS_Socket_send_plain(&destination, request.c_str(), socket.get());
    ss_platform_sleepMs(50);
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<std::string> text;
        SS_Socket_receive_plain(socket.get(), text);
        if (!text || text->empty()) {
            ss_platform_sleepMs(200);
            continue;
        }
        int kind = 0;
        std::optional<std::string> decoded = decodeMarkedText(text->c_str(), kind);
        const std::string& plain = decoded ? *decoded : *text;
        if (plain.compare(0, 6, "Action") != 0) continue;
        SS_PairList pairs;
        stringToPairList(plain.c_str(), pairs);
        std::optional<std::string> action;
        pairListGetString(&pairs, QNKEY_ACTION, action);
        if (action &&
            action->compare(0, std::strlen(QNACTION_GET_SYSTEM_INFO_OK), QNACTION_GET_SYSTEM_INFO_OK) == 0) {
            info = readDeviceInfo(pairs);
            return 0;
        }
    }
    narrowMessage = formatString(format.c_str(), narrowIp.c_str());
    return -1;
}

void UpgradeFlow::OnBnClickedButtonAdd() {
    if (refuseWhileRunning()) return;
    if (state_.singleIp == kBlankIp) return showError(flowtext::kNoSingleIp);
    const std::string ip = gbk(state_.singleIp);
    if (!package_) {
        showError(flowtext::kNoPackage);
    } else if (!ss_ip_isValid(ip.c_str())) {
        showError(flowtext::kBadSingleIp);
    } else {
        DeviceInfo info;
        std::string message;
        if (queryDeviceInfo(ip, info, message) != 0)
            showError(utf8(message));
        else
            UpdateIPList(info, true);
    }
    state_.setEnabled(IDC_UPGRADE, true);
    notify(kChangedControls);
}

void UpgradeFlow::UpdateIPList(const DeviceInfo& info, bool /*lookupFirst*/) {
    if (!package_) return;  // never judged against a package that is not (or no longer) loaded
    if (!info.ip) return;
    const uint32_t key = ss_ip_toInteger(info.ip->c_str());
    if (!info.model || !info.softVersion || !info.hardVersion || !info.kernelVersion || !info.serialNum) {
        incompleteAnswers_.insert(key);  // no row; the failed-device step shows why
        return;
    }
    incompleteAnswers_.erase(key);
    // An address never has two rows: an existing row is rewritten in place. Besides "添加"
    // (lookupFirst), the handler meets one when a device answered late, after the failed-device step
    // had listed it as 连接失败, or when the address box listed itself beside its own row (address box
    // packages); the row becomes the judged row, its check box unlocked before the judgement.
    int row = list_->FindRowByOwnerKey(key);
    if (row >= 0) list_->UnlockRowCheck(row);
    if (row < 0) {
        row = list_->InsertRow(list_->RowCount());
        if (row < 0) return;
        list_->SetItemData(row, key);
        list_->SetOwnerKey(row, key);
        DLG_LOG(SS_LOG_DEBUG, 1019, "UpdateIPList", "===>Insert IP[%s] to List[%d]\n", info.ip->c_str(),
                list_->RowCount());
    }
    const std::string platform = info.platform.value_or("");
    if (!modelFits(info.model->c_str(), package_->modelList.c_str())) {
        DLG_LOG(SS_LOG_ERROR, 1057, "UpdateIPList", "IP[%s] Model[%s] is not fit this soft package!\n",
                info.ip->c_str(), info.model->c_str());
        setRowStatus(*list_, row, DEVICE_STATUS_INVALID_MODEL);
        list_->LockRowCheck(row);
        list_->SetCheck(row, false);
    } else {
        if (sharedUploadPath_.empty() && info.uploadPath) sharedUploadPath_ = *info.uploadPath;
        if (!platformFits(platform.c_str(), package_->kind, package_->platformCode)) {
            setRowStatus(*list_, row, DEVICE_STATUS_PLATFORM_MISMATCH);
            list_->LockRowCheck(row);
            list_->SetCheck(row, false);
        } else {
            setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
            list_->SetCheck(row, true);
        }
    }
    list_->SetCellText(row, DEVICE_COLUMN_MASTER, info.master > 0 ? std::to_string(info.master) : "N/A");
    list_->SetCellText(row, DEVICE_COLUMN_SLAVE, info.slave >= 0 ? std::to_string(info.slave) : "N/A");
    list_->SetCellText(row, DEVICE_COLUMN_IP, utf8(*info.ip));
    std::string model = package_->kind == PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX
                            ? formatString("%s(%s)", info.model->c_str(), platform.c_str())
                            : *info.model;
    list_->SetCellText(row, DEVICE_COLUMN_MODEL, utf8(model));
    list_->SetCellText(row, DEVICE_COLUMN_SERIAL, utf8(*info.serialNum));
    list_->SetCellText(row, DEVICE_COLUMN_SOFT_VERSION, utf8(*info.softVersion));
    list_->SetCellText(row, DEVICE_COLUMN_HARD_VERSION, utf8(*info.hardVersion));
    list_->SetCellText(row, DEVICE_COLUMN_KERNEL_VERSION, utf8(*info.kernelVersion));
    list_->SetCellText(row, DEVICE_COLUMN_PROTOCOL, info.tcpSupport ? "TCP" : "UDP");
}

void UpgradeFlow::OnBnClickedCheckSelectAll() {
    bool on = state_.checked(IDC_SELECT_ALL);
    if (on) state_.setChecked(IDC_VERSION_DIFF, false);
    for (int row = 0; row < list_->RowCount(); ++row)
        if (rowStatus(*list_, row) == DEVICE_STATUS_CONNECTED) list_->SetCheck(row, on);
    notify(kChangedControls);
}

void UpgradeFlow::OnBnClickedCheckVersionDiff() {
    bool on = state_.checked(IDC_VERSION_DIFF);
    if (on) state_.setChecked(IDC_SELECT_ALL, false);
    notify(kChangedControls);
    const std::string version = package_ ? utf8(package_->version) : std::string();
    int count = 0;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (rowStatus(*list_, row) != DEVICE_STATUS_CONNECTED) continue;
        if (on && package_ && list_->GetItemText(row, DEVICE_COLUMN_SOFT_VERSION) != version) {
            list_->SetCheck(row, true);
            ++count;
        } else {
            list_->SetCheck(row, false);
        }
    }
    OnVersionDiffFound(count);
}

void UpgradeFlow::OnVersionDiffFound(int count) {
    if (count <= 0) {
        ui_.messageBox(flowtext::kNoVersionDiff, flowtext::kInfoTitle, BoxIcon::information, BoxButtons::ok);
        return;
    }
    std::string text = formatString(flowtext::kVersionDiffAsk, count);
    // "是" while an upgrade runs (1028 clicked during the run) must not turn into its "取消": the
    // running upgrade takes the newly ticked rows it has not passed yet.
    if (ui_.messageBox(text, flowtext::kAskTitle, BoxIcon::none, BoxButtons::yesNo) == IDYES &&
        upgrading.load() == 0)
        OnBnClickedOk();
}

void UpgradeFlow::OnBnClickedCheckShowFailed() {
    if (state_.checked(IDC_SHOW_FAILED)) {
        runTask(
            flowtext::kProgressFailed, [this] { return listUnansweredDevices(); }, true);
        return;
    }
    list_->SetRedraw(false);
    for (int row = list_->RowCount() - 1; row >= 0; --row)
        if (rowStatus(*list_, row) == DEVICE_STATUS_CONNECT_FAILED) list_->DeleteRow(row);
    list_->SetRedraw(true);
}

int UpgradeFlow::listUnansweredDevices() {
    QuentaUpgradeServer* server = server_.get();
    if (server == nullptr) return 0;
    const int total = ipRecordCount(server);
    std::set<uint32_t> incomplete;
    if (!dispatcher_.send([this, &incomplete] {
            incomplete = incompleteAnswers_;
            list_->SetRedraw(false);
        }))
        return 0;
    for (size_t index = 0;; ++index) {
        IpRecord record;
        {
            // One step of the walk under the lock: the handler may still append records.
            ss_mutex_guard guard(server->lock.get());
            if (index >= server->ipList.size()) break;
            record = server->ipList[index];
        }
        const bool answeredIncomplete = record.state == 3 && incomplete.count(record.value) != 0;
        if (record.state != 3 || answeredIncomplete) {
            bool sent = dispatcher_.send([this, &record, answeredIncomplete] {
                if (list_->FindRowByOwnerKey(record.value) >= 0) return;  // one row per address
                records_[record.value].reason.reason =
                    answeredIncomplete ? FailureReason::missingKeys : FailureReason::neverAnswered;
                int row = list_->InsertRow(list_->RowCount());
                if (row < 0) return;
                list_->SetItemData(row, record.value);
                list_->SetOwnerKey(row, record.value);
                list_->SetCellText(row, DEVICE_COLUMN_IP, utf8(record.text));
                setRowStatus(*list_, row, DEVICE_STATUS_CONNECT_FAILED);
                list_->LockRowCheck(row);
                list_->SetCheck(row, false);
            });
            if (!sent) return 0;  // the window closed
        }
        if (index % 20 == 0 && progressCurrent.load()) postProgressFailed(total, static_cast<int>(index));
    }
    if (progressCurrent.load()) postProgressFailed(total, total);
    dispatcher_.send([this] { list_->SetRedraw(true); });
    return 0;
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
            state_.setChecked(id, !state_.checked(id));
            return OnBnClickedCheckSelectAll();
        case IDC_MODELS_ALL:
            state_.setChecked(id, !state_.checked(id));
            return OnBnClickedCheckModelsAll();
        case IDC_VERSION_DIFF:
            state_.setChecked(id, !state_.checked(id));
            return OnBnClickedCheckVersionDiff();
        case IDC_SHOW_FAILED:
            state_.setChecked(id, !state_.checked(id));
            notify(kChangedControls);
            return OnBnClickedCheckShowFailed();
        case IDC_VERIFY:  // read when the next run starts
            state_.setChecked(id, !state_.checked(id));
            return notify(kChangedControls);
        default:
            return;
    }
}

// ---- upgrade ------------------------------------------------------------------------------------

void UpgradeFlow::OnBnClickedOk() {
    state_.setEnabled(IDC_UPGRADE, false);
    notify(kChangedControls);
    if (!upgrading.load())
        startUpgrade();
    else
        cancelRun();
    if (destroyed_) return;
    // After a cancel "升级" stays off until the run has sent its end (starting the next run would
    // have to wait for the previous run's thread).
    state_.setEnabled(IDC_UPGRADE, !runActive_ || upgrading.load() != 0);
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
    if (runActive_) {
        // The version prompt's "是" right after a cancel: the window does not wait here for the
        // previous run; the new one starts when that run has sent its end.
        startAfterEnd_ = true;
        return;
    }
    // The thread of an earlier run has sent its end and is returning; collect it.
    dispatcher_.waitWhileServing([server] { return ss_thread_finished(server->upgradeThread); });
    ss_thread_join(server->upgradeThread);
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 1;
        upgrading = 1;
    }
    state_.setText(IDC_UPGRADE, flowtext::kCaptionCancel);
    for (int id : {IDC_EXIT, IDC_QUERY, IDC_CLEAR, IDC_BROWSE}) state_.setEnabled(id, false);
    runActive_ = true;
    holdListControls(true);
    notify(kChangedControls);
    runKeys_.clear();
    runStart_ = ss_platform_localTimeText();
    runEnd_.clear();
    verifier_->begin();
    FlowHost* host = this;
    if (ss_thread_create(server->upgradeThread, _upgradeThreadProc, host) != 0) OnUpgradingEnd();
}

void UpgradeFlow::cancelRun() {
    upgrading = 0;
    // Watching stops: rows still watched end 升级完成 without verification.
    for (const VerifyResult& left : verifier_->cancel()) {
        int row = rowOfJob(left.row, left.ownerKey);
        settleRow(left.ownerKey, row, DEVICE_STATUS_UPGRADE_DONE, left.reason);
        if (row >= 0 && package_)
            list_->SetCellText(row, DEVICE_COLUMN_SOFT_VERSION, utf8(package_->version));
    }
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
    state_.setEnabled(IDC_EXIT, true);
    if (!runActive_)
        for (int id : {IDC_QUERY, IDC_CLEAR}) state_.setEnabled(id, true);
    notify(kChangedControls);
}

int UpgradeFlow::waitUploadsIdle() {
    return _waitUploadsIdle(*this);
}

void UpgradeFlow::OnBnClickedCancel() {
    if (upgrading.load()) cancelRun();
    ui_.closeWindow();
}

std::vector<uint32_t> UpgradeFlow::rowKeys() {
    std::vector<uint32_t> keys;
    for (int row = 0; row < list_->RowCount(); ++row) keys.push_back(list_->GetOwnerKey(row));
    return keys;
}

bool UpgradeFlow::takeRowForUpgrade(int index, uint32_t ownerKey, UploadJobTarget& target) {
    if (!upgrading.load() || !package_) return false;
    int row = ownerKey != 0 ? list_->FindRowByOwnerKey(ownerKey) : index;
    if (row < 0 || row >= list_->RowCount()) return false;
    if (!list_->GetCheck(row) || rowStatus(*list_, row) != DEVICE_STATUS_CONNECTED) return false;
    setRowStatus(*list_, row, DEVICE_STATUS_WAIT_UPGRADE);
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
    return true;
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
    // came, or no port for the watcher): the row ends 升级完成 and says it was not verified.
    const bool watched = result == 0 && outcome.watched && current >= 0 && package_ &&
                         verifier_->watch(list_->GetOwnerKey(current), current,
                                          gbk(list_->GetItemText(current, DEVICE_COLUMN_IP)),
                                          package_->version, std::max(1, verifyTimeoutMs_));
    if (watched) {
        records_[list_->GetOwnerKey(current)].reason = RowReason{};
        setRowStatus(*list_, current, DEVICE_STATUS_VERIFYING);
        list_->SetCheck(current, false);
    } else if (result == 0) {
        RowReason reason = outcome.reason;
        if (outcome.watched) reason.reason = FailureReason::notVerified;
        settleRow(ownerKey, current, DEVICE_STATUS_UPGRADE_DONE, reason);
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
    upgrading = 0;
    state_.setText(IDC_UPGRADE, flowtext::kCaptionUpgrade);
    for (int id : {IDC_EXIT, IDC_QUERY, IDC_CLEAR, IDC_BROWSE, IDC_UPGRADE}) state_.setEnabled(id, true);
    if (runActive_) holdListControls(false);
    runActive_ = false;
    notify(kChangedControls);
    runEnded_ = true;
    runEnd_ = ss_platform_localTimeText();
    ui_.messageBox(runSummaryText(lastRunSummary(), ui_.retryWay()), flowtext::kInfoTitle, BoxIcon::none,
                   BoxButtons::ok);
    DLG_LOG(SS_LOG_DEBUG, 1613, "OnUpgradingEnd", "Upgrading end!\n");
    if (startAfterEnd_ && !destroyed_) {
        // Queued only now: the box above serves the dispatcher, and the next run must not start
        // before this call has returned to the ended run's thread.
        dispatcher_.post([this] {
            if (!startAfterEnd_ || destroyed_) return;
            startAfterEnd_ = false;
            if (!upgrading.load()) OnBnClickedOk();
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

// ---- verification, reasons, retry, recovery, report ---------------------------------------------

void UpgradeFlow::setVerifyTiming(int intervalMs, int settleMs) {
    verifier_->setTiming(intervalMs, settleMs);
}

RowReason UpgradeFlow::rowReason(int row) const {
    if (row < 0 || row >= list_->RowCount()) return {};
    auto it = records_.find(list_->GetOwnerKey(row));
    if (it == records_.end()) return {};
    // A reason belongs to the status it explains; a row that moved on (a retry) has none.
    const int code = rowStatus(*list_, row);
    if (code != DEVICE_STATUS_UPGRADE_FAILED && code != DEVICE_STATUS_CONNECT_FAILED &&
        code != DEVICE_STATUS_UPGRADE_DONE)
        return {};
    return it->second.reason;
}

RunSummary UpgradeFlow::lastRunSummary() const {
    RunSummary summary;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (runKeys_.count(list_->GetOwnerKey(row)) == 0) continue;
        const int code = rowStatus(*list_, row);
        if (code == DEVICE_STATUS_UPGRADE_FAILED) {
            ++summary.failed;
        } else if (code == DEVICE_STATUS_UPGRADE_DONE) {
            if (rowReason(row).reason == FailureReason::notVerified)
                ++summary.notVerified;
            else
                ++summary.succeeded;
        }
    }
    return summary;
}

bool UpgradeFlow::canRetry() const {
    return server_ && !upgrading.load() && !upgradeThreadActive() && !taskActive_.load() &&
           rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED) > 0;
}

bool UpgradeFlow::retryFailed() {
    if (!canRetry()) return false;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (rowStatus(*list_, row) == DEVICE_STATUS_UPGRADE_FAILED) {
            setRowStatus(*list_, row, DEVICE_STATUS_CONNECTED);
            list_->SetCheck(row, true);
        } else {
            list_->SetCheck(row, false);
        }
    }
    clearRunEnded();
    OnBnClickedOk();
    return upgrading.load() != 0 || runEnded_;
}

bool UpgradeFlow::canRecover() const {
    return server_ && queried_ && !upgrading.load() && !upgradeThreadActive() && !taskActive_.load();
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
        list_->SetItemData(row, key);
        list_->SetOwnerKey(row, key);
        records_.erase(key);
    } else if (row >= 0) {
        return;  // listed meanwhile: the row stands as judged
    }
    UpdateIPList(info, true);
    row = list_->FindRowByOwnerKey(key);
    if (row < 0) {
        // Answered without the keys a row needs: it stays 连接失败, now saying so.
        if (state_.checked(IDC_SHOW_FAILED)) {
            row = list_->InsertRow(list_->RowCount());
            list_->SetItemData(row, key);
            list_->SetOwnerKey(row, key);
            list_->SetCellText(row, DEVICE_COLUMN_IP, utf8(*info.ip));
            setRowStatus(*list_, row, DEVICE_STATUS_CONNECT_FAILED);
            list_->LockRowCheck(row);
            list_->SetCheck(row, false);
            records_[key].reason.reason = FailureReason::missingKeys;
        }
        return;
    }
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
            if (record.state != 3) addresses.push_back(record.text);
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

RunReport UpgradeFlow::buildReport() const {
    RunReport report;
    if (package_) {
        report.packageFile = utf8(package_->narrowFileName);
        report.packageVersion = utf8(package_->version);
        report.packageKind = packageKindKey(package_->kind);
        if (FILE* file = ss_platform_fopen(package_->narrowPath.c_str(), "rb")) {
            Md5Context context;
            md5Init(context);
            unsigned char buffer[65536];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) md5Update(context, buffer, got);
            std::fclose(file);
            Md5Digest digest;
            md5Final(context, digest);
            report.packageMd5 = md5ToHex(digest);
        }
    }
    report.addressBox = state_.addressBoxIp == kBlankIp ? std::string() : state_.addressBoxIp;
    report.startTime = runStart_;
    report.endTime = runEnd_;
    report.hostName = reportHostName();
    for (int row = 0; row < list_->RowCount(); ++row) {
        ReportDevice device;
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
        RowReason reason = rowReason(row);
        device.reason = failureReasonCode(reason.reason);
        device.reasonText = failureReasonText(reason);
        report.devices.push_back(std::move(device));
    }
    return report;
}

int UpgradeFlow::writeReport(const std::string& utf8Path, std::string& utf8Error) const {
    if (package_ && utf8Path == package_->localPath) {
        utf8Error = "报告不能写到升级包上：" + utf8Path;
        return -1;
    }
    return writeReportFile(buildReport(), utf8Path, utf8Error);
}

int UpgradeFlow::exportReport() {
    std::optional<std::string> path = ui_.chooseSaveFile(reportFileFilters());
    if (!path) return -1;
    std::string error;
    if (writeReport(*path, error) != 0) {
        showError(error);
        return -1;
    }
    return 0;
}
