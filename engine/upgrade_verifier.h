// Verification after the reboot: one watcher thread for every device of a run that accepted its
// package. It asks each watched device "GetSystemInfo" from one private UDP port every few seconds
// until the device answers with the package's version, or the verification time (from its reboot)
// runs out, and reports each device once through a callback that applies the result on the flow
// thread. The flow hands a device over when its upload job ends; the job's worker goes on with the
// next device at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/failure_reason.h"
#include "ss/ss_socket.h"

inline constexpr int kVerifyTimeoutDefaultMs = 300000;  // from the reboot
inline constexpr int kVerifyIntervalDefaultMs = 3000;   // between two questions to one device
// A device that answers its old version right after RebootOK may not have started its reboot yet:
// such an answer is final only after the device was seen silent once, or this long after the reboot.
inline constexpr int kVerifySettleDefaultMs = 60000;

struct VerifyResult {
    std::uint32_t ownerKey = 0;
    int row = -1;
    bool ok = false;            // answered with the expected version
    std::string narrowVersion;  // the version it answered with (GBK); empty without answer
    RowReason reason;           // otherVersion / noAnswerAfterReboot when not ok
};

class UpgradeVerifier {
  public:
    // Applies one result; called on the watcher thread, returns once applied (false: the flow has
    // closed and nothing was applied).
    using Report = std::function<bool(const VerifyResult&)>;

    explicit UpgradeVerifier(Report report);
    ~UpgradeVerifier();  // stop()
    UpgradeVerifier(const UpgradeVerifier&) = delete;
    UpgradeVerifier& operator=(const UpgradeVerifier&) = delete;

    void setTiming(int intervalMs, int settleMs);

    // A run starts: watch() accepts devices again.
    void begin();
    // Any thread. Watches one device until its version is `narrowVersion` or `timeoutMs` passed.
    // false when the watcher does not accept (the run was cancelled, stopped, or no private port
    // could be bound): the caller settles the row itself.
    bool watch(std::uint32_t ownerKey, int row, const std::string& narrowIp, const std::string& narrowVersion,
               int timeoutMs);
    // The run is cancelled: no device is accepted any more until begin(); returns the devices still
    // watched (their results will never be reported). A result being reported right now is not among
    // them and is still applied.
    std::vector<VerifyResult> cancel();
    // Devices watched or being reported.
    int pending() const;
    // No private port could be bound: watch() refuses every device for good.
    bool portFailed() const;
    // Ends the watcher thread (no result is reported afterwards). Idempotent.
    void stop();

  private:
    struct Watched {
        std::uint32_t ownerKey;
        int row;
        std::string ip, version;  // GBK
        std::int64_t rebootMs, deadlineMs, nextAskMs, lastAskMs;
        bool answeredSinceAsk = true;
        bool sawSilent = false;
        std::optional<std::string> lastVersion;
    };
    // The watcher thread: round after round, nextRound, sendQuestions, deliver the timed-out
    // devices, receiveAnswers (one slice), until stop().
    struct Round {
        std::vector<std::string> asks;      // GBK addresses whose question is due
        std::vector<VerifyResult> settled;  // devices whose time ran out
    };
    void run();
    // Waits while nothing is watched; false once stopping. Otherwise fills `round` and counts its
    // settled devices in reporting_. Takes mutex_.
    bool nextRound(Round& round);
    static void sendQuestions(SS_Socket* socket, const std::string& request,
                              const std::vector<std::string>& narrowIps);
    // Listens for one slice, settling the watched devices that answered.
    void receiveAnswers(SS_Socket* socket);
    // One answer of the device at `ipValue`: its settled result (counted in reporting_), if any.
    // Takes mutex_.
    std::vector<VerifyResult> takeAnswer(std::uint32_t ipValue, const std::string& narrowVersion);
    // Reports settled results without holding mutex_, then uncounts them from reporting_.
    void deliver(std::vector<VerifyResult>& results);
    static VerifyResult resultFor(const Watched& watched);  // its key and row

    Report report_;
    mutable std::mutex mutex_;         // guards everything below
    std::condition_variable changed_;  // watched_ grew, or stopping_
    std::vector<Watched> watched_;
    int reporting_ = 0;  // results taken off watched_ and not yet applied
    bool accepting_ = true;
    bool stopping_ = false;
    bool socketFailed_ = false;
    SS_SocketPtr socket_;  // the private port; made by the first watch(), then the thread's
    int intervalMs_ = kVerifyIntervalDefaultMs;
    int settleMs_ = kVerifySettleDefaultMs;
    std::thread thread_;  // started by the first watch(); joined by stop()
};
