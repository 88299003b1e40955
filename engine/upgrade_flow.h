// The batch upgrade flow behind the main window's controls, free of any toolkit: package load and
// mode, the device-list query through the address box, single devices, selection, upgrade and
// cancel, and the engine's reports (job started / finished, run ended). One instance per window; it
// owns the device list, the upgrade server, the loaded package and the dialog state. Every public
// handler runs on the flow thread (the thread that constructed it, or FlowDispatcher::
// bindToCurrentThread); engine threads reach it only through its dispatcher. A front end implements
// FlowUi, mirrors state() and list() into widgets, and passes every click to click(); the command
// line uses the use cases below. Its code lives in upgrade_flow.cpp and the upgrade_flow_*.cpp
// beside it (package, query, run, results).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/device_recovery.h"
#include "engine/dialog_state.h"
#include "engine/failure_reason.h"
#include "engine/flow_dispatcher.h"
#include "engine/flow_host.h"
#include "engine/flow_text.h"
#include "engine/flow_ui.h"
#include "engine/quenta_upgrade_server.h"
#include "engine/record_table.h"
#include "engine/rollout_plan.h"
#include "engine/upgrade_verifier.h"

class DeviceList;
class ListGlance;
class UpgradeVerifier;
struct LoadedPackage;
struct RunReport;
struct ReportRows;
struct RunSummary;

class UpgradeFlow : public FlowHost {
  public:
    explicit UpgradeFlow(FlowUi& ui);
    ~UpgradeFlow() override;  // calls OnDestroy when the front end did not
    UpgradeFlow(const UpgradeFlow&) = delete;
    UpgradeFlow& operator=(const UpgradeFlow&) = delete;

    // --- what the front end reads ---
    DialogState& state() { return state_; }
    DeviceList& list() { return *list_; }
    // The list's status counts, run line and view filter.
    ListGlance& glance() { return *glance_; }
    FlowDispatcher& dispatcher() override { return dispatcher_; }
    QuentaUpgradeServer* server() override { return server_.get(); }
    const LoadedPackage* package() const { return package_.get(); }  // null: none loaded (or refused)
    FlowPhase phase() const { return phase_; }
    bool isUpgrading() const { return phase_ == FlowPhase::running; }
    bool upgradeThreadActive() const;  // the run's thread has not ended yet
    // From "升级" until the run's end (OnUpgradingEnd), also after a cancel: the list belongs to
    // the run's jobs, so nothing clears it, and "升级" waits for that end.
    bool runActive() const {
        return phase_ == FlowPhase::running || phase_ == FlowPhase::cancelling ||
               phase_ == FlowPhase::restartPending;
    }
    // "升级" was pressed (through the version prompt) while the previous run had not yet sent its
    // end: the new run starts right after that end.
    bool startPending() const { return phase_ == FlowPhase::restartPending; }
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

    // --- use cases: the operator's actions by meaning. The command line drives the flow only through
    // these (and retryFailed, recoverUnanswered, writeReport); the windows' clicks reach the same
    // handlers through click(). A refusal shows its error box, as in the window, and returns -1.
    // Ticks exactly the named models (UTF-8 labels); false with the first name the package lacks
    // (nothing changes then).
    bool chooseModels(const std::vector<std::string>& utf8Models, std::string& unknown);
    struct QueryOptions {
        bool showFailed = false;  // "显示连接失败的设备"
    };
    int queryDevices(const QueryOptions& options);  // " 获取设备列表"
    // "指定IP升级", then each address typed into 1023 and "添加"; stops at the first refusal.
    int addDevices(const std::vector<std::string>& dottedIps);
    void selectAllUpgradable(bool on);  // "选取全部可升级设备"
    void showFailedDevices(bool on);    // "显示连接失败的设备"
    void setVerify(bool on);            // "升级后验证版本", read when the next run starts
    struct UpgradeOptions {
        bool verify = true;
        int verifyTimeoutMs = kVerifyTimeoutDefaultMs;
        bool stages = true;  // "分批升级（每个型号先升级一台）"
        RolloutSettings rollout;
    };
    int startRun(const UpgradeOptions& options);  // "升级"
    // "取消" without its question (the command line's Ctrl+C): queued devices go back, running ones
    // finish. Nothing when no run is under way.
    void cancelUpgrade();
    // The list as rows of the command line's key table (deviceListFields).
    FieldRow listRow(int row) const;

    // --- stages, cap and brake (upgrade_flow_stages.cpp) ---
    void setStages(bool on);  // "分批升级（每个型号先升级一台）", read when the next run starts
    void setRolloutSettings(const RolloutSettings& settings) { rolloutSettings_ = settings; }
    // The plan of the last run that went in stages, or null (stages off, verification off).
    const RolloutPlan* rolloutPlan() const { return plan_.get(); }
    // For the report: whether the row was a first device of the last run, why it was not started
    // (UTF-8, empty when it was or was not in the run), and whether and why the run stopped.
    bool wasFirstDevice(int row) const;
    std::string whyNotStarted(int row) const;
    std::string runStopText() const;

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
    // "重试失败的设备": the 升级失败 rows whose failure is worth retrying (failureKind retry) become
    // 已连接 and ticked (every other row unticked) and run again as a new run; an information box first
    // says how many were left out because they need a person on site. false when nothing was started.
    bool canRetry() const;
    bool retryFailed();
    // "重试选中的设备": the same for the selected 升级失败 and 未验证 rows, whatever their reason (the
    // operator chose them).
    bool canRetrySelected() const;
    bool retrySelected();
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
    // The same report's head (package, address box, times, host) and its devices one at a time:
    // what writeReport writes without copying a list of any length.
    RunReport reportHead() const;
    ReportRows reportRows() const;
    // "导出报告...": asks chooseSaveFile, writes; a failed write shows an error box. 0 written, -1 not.
    int exportReport();
    // Writes the report to a path (the command line's --report). 0, or -1 with the Chinese message.
    int writeReport(const std::string& utf8Path, std::string& utf8Error) const;
    // Every run saves its own report (CSV) in this folder when it ends, also when cancelled or ended by
    // closing the window: by default "reports" in the tool's work folder.
    void setReportFolder(const std::string& utf8Folder) { reportFolder_ = utf8Folder; }
    std::string reportFolder() const;
    // The last run's own report: its path, or (path empty) why it was not saved.
    const std::string& lastReportPath() const { return lastReportPath_; }
    const std::string& lastReportError() const { return lastReportError_; }

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
    bool runInStages() override { return plan_ != nullptr; }
    NextJob takeNextForUpgrade(UploadJobTarget& target) override;
    void postProgressSearch(std::optional<std::string> narrowAddress, int count) override;
    void postProgressFailed(int total, int done) override;

    // --- steps and tasks ---
    int checkAddressBox(const std::string& narrowIp);  // 0 accepted, -1 refused (message shown or not)
    // queryDeviceInfo on a worker under the progress box (utf8Line1); the window's thread never waits
    // on the network. -1 also when the window closed meanwhile.
    int askDevice(const char* utf8Line1, const std::string& narrowIp, DeviceInfo& info,
                  std::string* narrowMessage = nullptr, bool* heard = nullptr);
    int waitConnectDone();        // progress task of the query
    int listUnansweredDevices();  // progress task of the failed-device step
    int waitUploadsIdle();        // progress task of the cancel (_waitUploadsIdle)

    // The row of a job: found by owner key, else the index when it still holds that key or no key.
    int rowOfJob(int row, std::uint32_t ownerKey);

  private:
    void showError(const std::string& utf8Text);  // counts errorsShown_
    int refusedSince(int errors) const { return errorsShown_ > errors ? -1 : 0; }
    void notify(unsigned what);
    // The query's steps.
    std::string queryAccount() const;
    bool queryAccepted(const std::string& account);
    void startDiscoveryThreads();
    void askAddressBox(const std::string& account);
    void joinDiscoveryThreads();
    void cancelRun();
    void startUpgrade();
    // A yes/no question ("信息"); true for yes.
    bool confirm(const char* utf8Text);
    // Rows show results of a run (升级完成, 升级失败, 未验证).
    bool listHoldsRunResults() const;
    bool retryRows(const std::function<bool(int row)>& take);
    void saveOwnReport();       // the run's own report, once per run
    bool refuseWhileRunning();  // true (and nothing changes) while the run owns the list
    // The phase, and with it the engine's flag (upgrading is 1 exactly while running).
    void setPhase(FlowPhase phase);
    void applyStep(EnablingStep step) { state_.applyEnabling(step); }
    EnablingStep modeStep() const;  // the column of the current mode
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
    void fillJobTarget(int row, UploadJobTarget& target);
    // Stages: the plan of a run about to start (also the notice when verification is off), a device
    // that ended, the question after failed first devices, a model's brake, rows that will not start.
    void beginStages();
    void stagedDeviceEnded(std::uint32_t ownerKey, int status, const RowReason& reason);
    void askAfterFirstFailure();
    void announceBrake(const std::string& model);
    void haltRows(const std::vector<std::uint32_t>& keys);
    void endStages();  // the run's end: rows the run never took go back to 已连接, ticked
    std::string stagesEndNote() const;
    void applyRecovered(const DeviceInfo& info);

    FlowUi& ui_;
    FlowDispatcher dispatcher_;
    std::unique_ptr<UpgradeVerifier> verifier_;  // one watcher thread; its results come through dispatcher_
    std::map<std::uint32_t, DeviceRunRecord> records_;       // guard: flow thread; by owner key
    std::map<std::uint32_t, DeviceInfo> incompleteAnswers_;  // guard: flow thread; answered without the keys
    std::set<std::uint32_t> runKeys_;      // guard: flow thread; rows queued in the last run
    std::set<std::uint32_t> plannedKeys_;  // guard: flow thread; rows ticked when it started
    bool runCancelled_ = false;            // guard: flow thread; the last run was cancelled
    bool ownReportDue_ = false;            // guard: flow thread; a run has not saved its report
    std::string reportFolder_, lastReportPath_, lastReportError_;  // guard: flow thread
    std::string runStart_, runEnd_;                                // guard: flow thread
    int verifyTimeoutMs_ = kVerifyTimeoutDefaultMs;                // guard: flow thread
    bool queried_ = false;               // guard: flow thread; a query ran (recovery)
    RecoveryOptions recoveryOptions_;    // guard: flow thread
    std::unique_ptr<RolloutPlan> plan_;  // guard: flow thread; the last staged run's
    RolloutSettings rolloutSettings_;    // guard: flow thread
    bool planCancelled_ = false;         // guard: flow thread; that run was cancelled
    bool askPosted_ = false;             // guard: flow thread; the first-failure question
    std::atomic<int> stopTasks_{0};      // set by OnDestroy: long tasks give up
    DialogState state_;
    std::unique_ptr<DeviceList> list_;        // guard: flow thread
    std::unique_ptr<ListGlance> glance_;      // guard: flow thread; observes list_, goes before it
    QuentaUpgradeServerPtr server_;           // guard: flow thread, written only while no engine thread runs
    std::unique_ptr<LoadedPackage> package_;  // guard: flow thread
    std::string sharedUploadPath_;            // GBK; guard: flow thread
    std::atomic<bool> taskActive_{false};     // a progress task is running on its worker
    bool runEnded_ = false;                   // guard: flow thread; set by OnUpgradingEnd
    FlowPhase phase_ = FlowPhase::idle;       // guard: flow thread; see setPhase
    bool batchAllowed_ = true;                // guard: flow thread; false for a multimedia file package
    int errorsShown_ = 0;                     // guard: flow thread; error boxes shown so far
    bool destroyed_ = false;
    bool initialised_ = false;
};
