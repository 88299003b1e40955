// What the engine threads (dispatcher, handler, connect thread, upgrade thread, upload jobs) need of
// the batch flow that owns them: the server, the flow's dispatcher, the shared flags, and the
// flow-thread handlers they reach with blocking sends. UpgradeFlow implements it; engine tests use a
// small fake.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/device_info.h"
#include "engine/failure_reason.h"

class FlowDispatcher;
class UpgradeVerifier;
struct QuentaUpgradeServer;

// One upgrade job's view of its row, taken on the flow thread when the job is queued.
struct UploadJobTarget {
    int row = -1;                // the row's index when queued (the fallback when the key is gone)
    std::uint32_t ownerKey = 0;  // the row's IPv4 value: how the job's messages find the row again
    std::string narrowIp;        // column 4 in GBK
    std::string narrowPackagePath;
    std::string narrowUploadPath;  // the shared upload path
    // Verification after the reboot: the time allowed per device; 0 = not verified.
    int verifyTimeoutMs = 0;
};

class FlowHost {
  public:
    virtual ~FlowHost() = default;

    virtual QuentaUpgradeServer* server() = 0;
    virtual FlowDispatcher& dispatcher() = 0;

    // --- flow-thread handlers (engine threads call them through dispatcher().send/post) ---
    // The row update of an answering device (lookupFirst false from the handler thread). An address
    // already listed has its row rewritten in place, whichever the caller.
    virtual void UpdateIPList(const DeviceInfo& info, bool lookupFirst) = 0;
    // Upgrade thread: the rows' owner keys in list order when the run starts; then, per entry, the
    // row with that key (or index `row` when the key is 0): when it is ticked and "已连接", set
    // "等待升级", fill `target` and return true. Keys make the walk immune to re-sorting.
    virtual std::vector<std::uint32_t> rowKeys() = 0;
    virtual bool takeRowForUpgrade(int row, std::uint32_t ownerKey, UploadJobTarget& target) = 0;
    virtual void OnUploadStart(int row, std::uint32_t ownerKey) = 0;
    // result 0: the device accepted the package; outcome says why not, or that it is to be verified
    // (the handler then hands it to verifier()).
    virtual void OnUploadFinish(int row, std::uint32_t ownerKey, int result,
                                const UploadOutcome& outcome = {}) = 0;
    virtual void OnUpgradingEnd() = 0;
    // Progress for the current progress box (posted; ignored when none is open).
    virtual void postProgressSearch(std::optional<std::string> narrowAddress, int count) = 0;
    virtual void postProgressFailed(int total, int done) = 0;
    // A run in stages: the upgrade thread asks for one device at a time, whenever a transfer slot is
    // free, instead of taking every row at once.
    virtual bool runInStages() { return false; }
    enum class NextJob {
        start,  // `target` is filled and its row shows 等待升级
        wait,   // ask again later (a result or the operator's decision is due)
        none,   // nothing will start any more in this run
    };
    virtual NextJob takeNextForUpgrade(UploadJobTarget& /*target*/) { return NextJob::none; }
    // The watcher of rebooted devices, or null when the host verifies nothing.
    virtual UpgradeVerifier* verifier() { return nullptr; }

    // --- shared flags (atomics: read by engine threads without a lock) ---
    std::atomic<int> addressListArrived{0};  // set by the handler on the first address list
    std::atomic<int> upgrading{0};           // written by the flow thread only
    std::atomic<int> progressCurrent{0};     // 1 while a query / failed-device progress box is open
};
