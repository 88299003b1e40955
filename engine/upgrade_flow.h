// The batch upgrade flow behind the main window's controls, free of any toolkit: package load and
// mode, the device-list query through the address box, single devices, selection, upgrade and
// cancel, and the engine's reports (job started / finished, run ended). One instance per window; it
// owns the device list, the upgrade server, the loaded package and the dialog state. Every public
// handler runs on the flow thread (the thread that constructed it, or FlowDispatcher::
// bindToCurrentThread); engine threads reach it only through its dispatcher. A front end implements
// FlowUi, mirrors state() and list() into widgets, and routes clicks to the handlers below.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <map>
#include <set>
#include "engine/device_recovery.h"
#include "engine/dialog_state.h"
#include "engine/failure_reason.h"
#include "engine/flow_dispatcher.h"
#include "engine/flow_host.h"
#include "engine/flow_ui.h"
#include "engine/quenta_upgrade_server.h"
#include "engine/upgrade_verifier.h"

class DeviceList;
class UpgradeVerifier;
struct LoadedPackage;
struct RunReport;
struct RunSummary;

// Texts the flow shows (UTF-8, byte for byte).
namespace flowtext {
inline constexpr char kErrorTitle[] = "错误提示";
inline constexpr char kInfoTitle[] = "信息提示";
inline constexpr char kNoticeTitle[] = "提示";
inline constexpr char kAskTitle[] = "信息";
inline constexpr char kServerStartFailed[] = "不能启动产品升级服务，系统将退出";
inline constexpr char kNoModel[] = "至少一个型号必须选择！";
inline constexpr char kNoAddressBox[] = "请先输入地址盒IP";
inline constexpr char kNoPackage[] = "请先选择升级文件";
inline constexpr char kBadAddressBox[] = "非法地址盒IP";
inline constexpr char kAddressBoxSilent[] = "不能从指定的地址盒IP获得系统信息，或许它的软件版本太老！";
inline constexpr char kNotAddressBox[] = "IP地址%s的设备型号是%s，不是地址盒类设备，不能用于批量升级!";
inline constexpr char kListEmpty[] = "升级IP列表为空，请点击<获取设备列表>";
inline constexpr char kNoneTicked[] = "请选择要升级的IP！";
inline constexpr char kNoSingleIp[] = "请先输入要升级设备的IP地址";
inline constexpr char kBadSingleIp[] = "非法IP地址";
inline constexpr char kDeviceSilent[] = "不能从%s获得系统信息，或许它的软件版本太老";
inline constexpr char kUpgradeDone[] = "升级完成！";
inline constexpr char kNoVersionDiff[] = "没有发现需要升级的设备";
inline constexpr char kVersionDiffAsk[] = "共发现%d个不同版本的设备可以升级, 现在立即升级吗？";
inline constexpr char kProgressQuery[] = "正在测试连接，请稍后...";
inline constexpr char kProgressFailed[] = "正在处理连接失败的设备，请稍后...";
inline constexpr char kProgressCancel[] = "正在取消，请等待当前文件传输完成...";
inline constexpr char kCaptionUpgrade[] = "升级";
inline constexpr char kCaptionCancel[] = "取消";
inline constexpr char kVerifyCaption[] = "升级后验证版本";
inline constexpr char kRetryFailed[] = "重试失败的设备";
inline constexpr char kRecoverUnanswered[] = "重新连接失败的设备";
inline constexpr char kExportReport[] = "导出报告...";
inline constexpr char kProgressRecover[] = "正在重新连接失败的设备，请稍后...";
inline constexpr char kRecoverDone[] = "重新连接完成：找回%d台设备，仍有%d台设备没有应答";
inline constexpr char kReportSaved[] = "报告已保存：%s";
}  // namespace flowtext

class UpgradeFlow : public FlowHost {
  public:
    explicit UpgradeFlow(FlowUi& ui);
    ~UpgradeFlow() override;  // calls OnDestroy when the front end did not
    UpgradeFlow(const UpgradeFlow&) = delete;
    UpgradeFlow& operator=(const UpgradeFlow&) = delete;

    // --- what the front end reads ---
    DialogState& state() { return state_; }
    DeviceList& list() { return *list_; }
    FlowDispatcher& dispatcher() override { return dispatcher_; }
    QuentaUpgradeServer* server() override { return server_.get(); }
    const LoadedPackage* package() const { return package_.get(); }  // null: none loaded (or refused)
    bool isUpgrading() const { return upgrading.load() != 0; }
    bool upgradeThreadActive() const;  // the run's thread has not ended yet
    // From "升级" until the run's end (OnUpgradingEnd), also after a cancel: the list belongs to
    // the run's jobs, so nothing clears it, and "升级" waits for that end.
    bool runActive() const { return runActive_; }
    // "升级" was pressed (through the version prompt) while the previous run had not yet sent its
    // end: the new run starts right after that end.
    bool startPending() const { return startAfterEnd_; }
    // True once OnUpgradingEnd ran since the last clearRunEnded() (for headless front ends).
    bool runEnded() const { return runEnded_; }
    void clearRunEnded() { runEnded_ = false; }
    // How many rows show the status `code`.
    int rowsWithStatus(int code) const;
    // The run is over: it ended (runEnded), its thread is gone and no row still shows "正在升级"
    // (jobs in their last exchange finish shortly after the run's end). What headless front ends
    // serve the dispatcher for after pressing "升级".
    bool runFinished() const;
    bool destroyed() const { return destroyed_; }
    bool batchMode() const { return state_.checked(IDC_RADIO_BATCH); }
    const std::string& sharedUploadPath() const { return sharedUploadPath_; }  // GBK

    // --- lifecycle ---
    // Builds the columns, sets the initial control states, creates the server. false: the server
    // could not start (message shown, closeWindow called).
    bool OnInitDialog();
    // Clears the upgrading flag, closes the dispatcher, destroys the server (joining every engine
    // thread). Idempotent.
    void OnDestroy();

    // --- package and mode ---
    void loadPackage();                                // "浏览": asks chooseOpenFile, then loadPackageFile
    int loadPackageFile(const std::string& utf8Path);  // the rest of loadPackage; 0 loaded, -1 not
    void rebuildModelBoxes();
    void clickModelBox(int id);        // toggles an enabled model box
    void OnBnClickedCheckModelsAll();  // 1012, after its checked state was toggled
    void setMode(bool batch);
    void OnBnClickedRadioBatch();                     // 1034
    void OnBnClickedRadioSingle();                    // 1033
    void setAddressBoxIp(const std::string& dotted);  // 1021 edit: stores and runs OnIpFieldChanged
    void OnIpFieldChangedAddressBox();                // 1021 field changed: DeleteAllRows
    void setSingleIp(const std::string& dotted);      // 1023

    // --- list and selection ---
    void OnBnClickedButtonQuery();       // 1009
    void OnBnClickedButtonAdd();         // 1016
    void OnBnClickedButtonClear();       // 1029
    void OnBnClickedCheckSelectAll();    // 1011, after its checked state was toggled
    void OnBnClickedCheckVersionDiff();  // 1028, after its checked state was toggled
    void OnBnClickedCheckShowFailed();   // 1030, after its checked state was toggled
    // Toggles the check box `id` (1011, 1012, 1028, 1030) or presses the button / radio `id` and runs
    // its handler; disabled controls do nothing. The simplest routing for a front end.
    void click(int id);

    // --- upgrade ---
    void OnBnClickedOk();      // 1 "升级" / "取消"
    void OnBnClickedCancel();  // 2 "退出", the close box
    void OnVersionDiffFound(int count);
    void OnTimer(std::uint32_t ownerKey);  // per-row upload timer; its id is the row's owner key

    // --- verification, reasons, retry, recovery, report ---
    // Verification after the reboot (check box IDC_VERIFY); the time allowed per device, and for
    // tests the interval between questions and the settle time of an early old-version answer.
    void setVerifyTimeoutMs(int ms) { verifyTimeoutMs_ = ms; }
    int verifyTimeoutMs() const { return verifyTimeoutMs_; }
    void setVerifyTiming(int intervalMs, int settleMs);
    // The reason of a row (by index), for the status tooltip and the command line.
    RowReason rowReason(int row) const;
    // The counts of the last run (the end-of-run box shows them).
    RunSummary lastRunSummary() const;
    // "重试失败的设备": the 升级失败 rows become 已连接 and ticked (every other row unticked) and run
    // again as a new run. false when nothing was started.
    bool canRetry() const;
    bool retryFailed();
    // "重新连接失败的设备": every address of the last query that has not answered is asked again with
    // single-device queries under the progress box; answers are judged as UpdateIPList does and
    // update the address's row in place. Returns how many answered. `showResult`: an information box.
    bool canRecover() const;
    // "导出报告...": the list has rows and no run is under way.
    bool canExportReport() const;
    void setRecoveryOptions(const RecoveryOptions& options) { recoveryOptions_ = options; }
    int recoverUnanswered(bool showResult = true);
    // The report of the list and the last run.
    RunReport buildReport() const;
    // "导出报告...": asks chooseSaveFile, writes; a failed write shows an error box. 0 written, -1 not.
    int exportReport();
    // Writes the report to a path (the command line's --report). 0, or -1 with the Chinese message.
    int writeReport(const std::string& utf8Path, std::string& utf8Error) const;

    // --- FlowHost (flow thread) ---
    void UpdateIPList(const DeviceInfo& info, bool lookupFirst) override;
    std::vector<std::uint32_t> rowKeys() override;
    bool takeRowForUpgrade(int row, std::uint32_t ownerKey, UploadJobTarget& target) override;
    void OnUploadStart(int row, std::uint32_t ownerKey) override;
    void OnUploadFinish(int row, std::uint32_t ownerKey, int result,
                        const UploadOutcome& outcome = {}) override;
    void OnVerified(const VerifyResult& result);  // a watched device is settled
    UpgradeVerifier* verifier() override { return verifier_.get(); }
    void OnUpgradingEnd() override;
    void postProgressSearch(std::optional<std::string> narrowAddress, int count) override;
    void postProgressFailed(int total, int done) override;

    // --- steps and tasks ---
    int checkAddressBox(const std::string& narrowIp);  // 0 accepted, -1 refused (message shown or not)
    // One-shot GetSystemInfo to ip:5360 from a fresh port (counter from 50000, three attempts).
    // 0 with `info`, or -1 with the narrow message "不能从%s获得系统信息，或许它的软件版本太老".
    static int queryDeviceInfo(const std::string& narrowIp, DeviceInfo& info, std::string& narrowMessage);
    int waitConnectDone();        // progress task of the query
    int listUnansweredDevices();  // progress task of the failed-device step
    int waitUploadsIdle();        // progress task of the cancel (_waitUploadsIdle)

    // The row of a job: found by owner key, else the index when it still holds that key or no key.
    int rowOfJob(int row, std::uint32_t ownerKey);

  private:
    void showError(const std::string& utf8Text);
    void notify(unsigned what);
    void joinDiscoveryThreads();
    void cancelRun();
    void startUpgrade();
    bool refuseWhileRunning();  // true (and nothing changes) while the run owns the list
    void holdListControls(bool hold);
    // Runs a progress task through the front end; taskActive_ tells OnDestroy when it returned.
    int runTask(const std::string& line1, std::function<int()> task, bool makeCurrent);
    void serveFor(int milliseconds);  // waits on the flow thread while serving the dispatcher

    // What the list does not show of a device: its reason and its part in the last run.
    struct DeviceRunRecord {
        RowReason reason;
        std::string versionBefore;       // UTF-8, when queued
        std::string startTime, endTime;  // local time texts
        std::int64_t bytesSent = 0;
    };
    void settleRow(std::uint32_t ownerKey, int row, int status, const RowReason& reason);
    void applyRecovered(const DeviceInfo& info);

    FlowUi& ui_;
    FlowDispatcher dispatcher_;
    std::unique_ptr<UpgradeVerifier> verifier_;  // one watcher thread; its results come through dispatcher_
    std::map<std::uint32_t, DeviceRunRecord> records_;  // guard: flow thread; by owner key
    std::set<std::uint32_t> incompleteAnswers_;         // guard: flow thread; answered without the keys
    std::set<std::uint32_t> runKeys_;                   // guard: flow thread; rows queued in the last run
    std::string runStart_, runEnd_;                     // guard: flow thread
    int verifyTimeoutMs_ = kVerifyTimeoutDefaultMs;     // guard: flow thread
    bool queried_ = false;                              // guard: flow thread; a query ran (recovery)
    RecoveryOptions recoveryOptions_;                   // guard: flow thread
    std::atomic<int> stopTasks_{0};                     // set by OnDestroy: long tasks give up
    DialogState state_;
    std::unique_ptr<DeviceList> list_;        // guard: flow thread
    QuentaUpgradeServerPtr server_;           // guard: flow thread, written only while no engine thread runs
    std::unique_ptr<LoadedPackage> package_;  // guard: flow thread
    std::string sharedUploadPath_;            // GBK; guard: flow thread
    std::atomic<bool> taskActive_{false};     // a progress task is running on its worker
    bool runEnded_ = false;                   // guard: flow thread; set by OnUpgradingEnd
    bool runActive_ = false;                  // guard: flow thread; see runActive()
    bool startAfterEnd_ = false;              // guard: flow thread; see startPending()
    std::map<int, bool> heldControls_;        // guard: flow thread; enabled states before the run
    bool destroyed_ = false;
    bool initialised_ = false;
};
