// UpgradeFlow: the device list through the address box (" 获取设备列表"), single devices ("添加"),
// the judgement of every answer against the package (UpdateIPList), the selection rules and the
// failed-device step.
#include "engine/upgrade_flow.h"

#include "devtypes/devtypes.h"
#include "engine/device_list.h"
#include "engine/device_query.h"
#include "engine/device_status.h"
#include "engine/network_address.h"
#include "engine/upgrade_flow_internal.h"
#include "package/compatibility.h"
#include "package/package_info.h"
#include "package/package_load.h"
#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "ss/ss_platform.h"

using namespace upgrade_flow_internal;

void UpgradeFlow::OnBnClickedButtonClear() {
    if (refuseWhileRunning()) return;
    list_->DeleteAllRows();
    clearIpRecords(server_.get());
    records_.clear();
    incompleteAnswers_.clear();
    runKeys_.clear();
    queried_ = false;
}

namespace {
// The pause between starting the three query threads and asking the address box.
constexpr int kThreadsStartPauseMs = 50;
}  // namespace

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

// The ticked models joined with "," (GBK): the query's account text.
std::string UpgradeFlow::queryAccount() const {
    std::string account;
    for (const auto& box : state_.modelBoxes) {
        if (!box.checked) continue;
        if (!account.empty()) account += ",";
        account += box.narrowLabel;
    }
    return account;
}

// The query's checks in the order they have always had; false when refused (message shown or not).
bool UpgradeFlow::queryAccepted(const std::string& account) {
    // No package (none loaded yet) leaves no model boxes and an empty path box: refused here too.
    if (account.empty()) return showError(flowtext::kNoModel), false;
    if (state_.addressBoxIp == kBlankIp) return showError(flowtext::kNoAddressBox), false;
    if (state_.text(IDC_PATH_BOX).empty() || !package_) return showError(flowtext::kNoPackage), false;
    const std::string addressBox = gbk(state_.addressBoxIp);
    if (!acceptTypedAddress(addressBox.c_str())) return showError(flowtext::kBadAddressBox), false;
    return checkAddressBox(addressBox) == 0;
}

// The server's dispatcher, handler and connect threads for a new query.
void UpgradeFlow::startDiscoveryThreads() {
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
}

// Asks the address box for the devices of the account's models and waits for the answers under the
// progress box (an address box or management server package lists the address box itself).
void UpgradeFlow::askAddressBox(const std::string& account) {
    const std::string addressBox = gbk(state_.addressBoxIp);
    std::optional<std::string> auth = makeAuthToken(account.c_str());
    std::string request = buildGetModelIPList(auth ? auth->c_str() : "", account.c_str());
    DLG_LOG(SS_LOG_DEBUG, 1398, "OnBnClickedButtonQuery", "Send QNACTION_GET_MODEL_IP_LIST command.\n%s\n",
            request.c_str());
    const SS_Socket* listener = server_->listener.get();
    if (package_->kind == PACKAGE_KIND_ADDRESS_BOX || package_->kind == PACKAGE_KIND_MANAGEMENT_SERVER) {
        serveFor(kThreadsStartPauseMs);
        SS_Socket_sendTo(addressBox.c_str(), QN_PORT_ADDRESS_BOX, request.c_str(), listener);
        DeviceInfo info;
        if (askDevice(flowtext::kProgressAddressBox, addressBox, info) == 0 && !destroyed_)
            UpdateIPList(info, true);
        return;
    }
    int64_t started = ss_platform_monotonicMs();
    // The threads' pause and the request go under the progress box, off the window's thread.
    runTask(
        flowtext::kProgressQuery,
        [this, addressBox, request, listener] {
            ss_platform_sleepMs(kThreadsStartPauseMs);
            SS_Socket_sendTo(addressBox.c_str(), QN_PORT_ADDRESS_BOX, request.c_str(), listener);
            return waitConnectDone();
        },
        true);
    if (destroyed_) return;
    static const std::string format = gbk("测试连接 %d ms\n");
    DLG_LOG(SS_LOG_DEBUG, 1415, "OnBnClickedButtonQuery", format.c_str(),
            static_cast<int>(ss_platform_monotonicMs() - started));
}

void UpgradeFlow::OnBnClickedButtonQuery() {
    if (!server_ || refuseWhileRunning()) return;
    OnBnClickedButtonClear();
    const std::string account = queryAccount();
    if (!queryAccepted(account)) return;
    startDiscoveryThreads();  // the request follows kThreadsStartPauseMs later (askAddressBox)
    setPhase(FlowPhase::querying);
    applyStep(EnablingStep::querying);
    notify(kChangedControls);
    askAddressBox(account);
    if (destroyed_) return;  // OnDestroy left the phase idle
    applyStep(EnablingStep::queried);
    queried_ = true;
    notify(kChangedControls);
    OnBnClickedCheckShowFailed();
    if (destroyed_) return;
    joinDiscoveryThreads();
    if (destroyed_) return;
    setPhase(FlowPhase::idle);  // the version prompt's "是" starts a run
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

int UpgradeFlow::askDevice(const char* utf8Line1, const std::string& narrowIp, DeviceInfo& info,
                           std::string* narrowMessage, bool* heard) {
    // Off the flow thread, under the progress box: a silent device takes up to three receive waits.
    int result = -1;
    bool anything = false;
    std::string message;
    runTask(
        utf8Line1,
        [&] {
            result = queryDeviceInfo(narrowIp, info, message, &anything);
            return 0;
        },
        false);
    if (narrowMessage != nullptr) *narrowMessage = message;
    if (heard != nullptr) *heard = anything;
    return destroyed_ ? -1 : result;
}

int UpgradeFlow::checkAddressBox(const std::string& narrowIp) {
    DeviceInfo info;
    bool heard = false;
    const int answered = askDevice(flowtext::kProgressAddressBox, narrowIp, info, nullptr, &heard);
    if (destroyed_) return -1;
    // Nothing came back at all: a wrong address or no network. An answer without the model and serial
    // number that tell an address box: the box gave no system information to go on.
    if (answered != 0 && !heard) {
        showError(flowtext::kAddressBoxNoAnswer);
        return -1;
    }
    if (answered != 0 || !info.model || !info.serialNum) {
        showError(flowtext::kAddressBoxSilent);
        return -1;
    }
    int type = classifySerialNumber(info.serialNum->c_str());
    if (type == SS_SN_TYPE_SERVER || type == SS_SN_TYPE_ADMINISTRATION_SERVER) return 0;
    showError(formatString(flowtext::kNotAddressBox, utf8(narrowIp).c_str(), utf8(*info.model).c_str()));
    return -1;
}

void UpgradeFlow::OnBnClickedButtonAdd() {
    if (refuseWhileRunning()) return;
    if (state_.singleIp == kBlankIp) return showError(flowtext::kNoSingleIp);
    const std::string ip = gbk(state_.singleIp);
    if (!package_) {
        showError(flowtext::kNoPackage);
    } else if (!acceptTypedAddress(ip.c_str())) {
        showError(flowtext::kBadSingleIp);
    } else {
        DeviceInfo info;
        std::string message;
        const int answered = askDevice(flowtext::kProgressAddDevice, ip, info, &message);
        if (destroyed_) return;
        if (answered != 0)
            showError(utf8(message));
        else
            UpdateIPList(info, true);
    }
    applyStep(EnablingStep::offered);
    notify(kChangedControls);
}

void UpgradeFlow::UpdateIPList(const DeviceInfo& info, bool /*lookupFirst*/) {
    if (!package_) return;  // never judged against a package that is not (or no longer) loaded
    if (!info.ip) return;
    const uint32_t key = ss_ip_toInteger(info.ip->c_str());
    if (!info.model || !info.softVersion || !info.hardVersion || !info.kernelVersion || !info.serialNum) {
        // No row (and no 连接失败 row either: it did answer); the report names it with its reason.
        incompleteAnswers_[key] = info;
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
        phase_ != FlowPhase::running)
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
    if (!dispatcher_.send([this] { list_->SetRedraw(false); })) return 0;
    for (size_t index = 0;; ++index) {
        IpRecord record;
        {
            // One step of the walk under the lock: the handler may still append records.
            ss_mutex_guard guard(server->lock.get());
            if (index >= server->ipList.size()) break;
            record = server->ipList[index];
        }
        if (record.state != IP_ANSWERED) {
            bool sent = dispatcher_.send([this, &record] {
                if (list_->FindRowByOwnerKey(record.value) >= 0) return;  // one row per address
                records_[record.value].reason.reason = FailureReason::neverAnswered;
                int row = list_->InsertRow(list_->RowCount());
                if (row < 0) return;
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
