#include "engine/upgrade_verifier.h"

#include "engine/device_query.h"
#include "engine/quenta_upgrade_server.h"
#include "protocol/device_actions.h"
#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

namespace {
constexpr int kReceiveSliceMs = 100;  // one turn of the watcher listens this long
}

VerifyResult UpgradeVerifier::resultFor(const Watched& watched) {
    VerifyResult r;
    r.ownerKey = watched.ownerKey;
    r.row = watched.row;
    return r;
}

UpgradeVerifier::UpgradeVerifier(Report report) : report_(std::move(report)) {}

UpgradeVerifier::~UpgradeVerifier() {
    stop();
}

void UpgradeVerifier::setTiming(int intervalMs, int settleMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    intervalMs_ = intervalMs > 0 ? intervalMs : kVerifyIntervalDefaultMs;
    settleMs_ = settleMs >= 0 ? settleMs : kVerifySettleDefaultMs;
}

void UpgradeVerifier::begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) accepting_ = true;
}

bool UpgradeVerifier::watch(std::uint32_t ownerKey, int row, const std::string& narrowIp,
                            const std::string& narrowVersion, int timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_ || stopping_ || socketFailed_) return false;
    if (!socket_) {
        socket_ = openJobSocket(nullptr);
        if (!socket_) {
            socketFailed_ = true;
            SS_LOG(SS_LOG_ERROR, "No private port for the verification\n");
            return false;
        }
        socket_->waitTimeoutMs = 20;
        thread_ = std::thread([this] { run(); });
    }
    const std::int64_t now = ss_platform_monotonicMs();
    Watched w{ownerKey, row, narrowIp, narrowVersion, now, now + timeoutMs, now + intervalMs_, 0};
    watched_.push_back(std::move(w));
    changed_.notify_all();
    return true;
}

std::vector<VerifyResult> UpgradeVerifier::cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = false;
    std::vector<VerifyResult> left;
    for (const Watched& w : watched_) {
        VerifyResult r = resultFor(w);
        r.reason.reason = FailureReason::notVerified;
        left.push_back(r);
    }
    watched_.clear();
    return left;
}

int UpgradeVerifier::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(watched_.size()) + reporting_;
}

bool UpgradeVerifier::portFailed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return socketFailed_;
}

void UpgradeVerifier::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        accepting_ = false;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

// Locking: mutex_ is held only inside the steps below, never while sending, receiving or calling
// report_ (which waits for the flow thread, and the flow thread takes mutex_ in pending()/cancel()).
void UpgradeVerifier::run() {
    const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);
    SS_Socket* const socket = socket_.get();  // made before this thread started, never replaced
    Round round;
    while (nextRound(round)) {
        sendQuestions(socket, request, round.asks);
        deliver(round.settled);
        receiveAnswers(socket);
    }
}

bool UpgradeVerifier::nextRound(Round& round) {
    round.asks.clear();
    round.settled.clear();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || !watched_.empty(); });
    if (stopping_) return false;
    // Questions that are due, and devices whose time ran out.
    const std::int64_t now = ss_platform_monotonicMs();
    for (auto it = watched_.begin(); it != watched_.end();) {
        if (now >= it->deadlineMs) {
            VerifyResult r = resultFor(*it);
            if (it->lastVersion) {
                r.narrowVersion = *it->lastVersion;
                r.reason.reason = FailureReason::otherVersion;
            } else {
                r.reason.reason = FailureReason::noAnswerAfterReboot;
            }
            round.settled.push_back(std::move(r));
            it = watched_.erase(it);
            continue;
        }
        if (it->nextAskMs <= now) {
            if (it->lastAskMs != 0 && !it->answeredSinceAsk) it->sawSilent = true;
            it->answeredSinceAsk = false;
            it->lastAskMs = now;
            it->nextAskMs = now + intervalMs_;
            round.asks.push_back(it->ip);
        }
        ++it;
    }
    reporting_ += static_cast<int>(round.settled.size());
    return true;
}

void UpgradeVerifier::sendQuestions(SS_Socket* socket, const std::string& request,
                                    const std::vector<std::string>& narrowIps) {
    for (size_t i = 0; i < narrowIps.size(); ++i) {
        SS_Socket_sendTo(narrowIps[i].c_str(), QN_PORT_DEVICE, request.c_str(), socket);
        if (i % 10 == 9) ss_platform_sleepMs(1);
    }
}

void UpgradeVerifier::receiveAnswers(SS_Socket* socket) {
    const std::int64_t until = ss_platform_monotonicMs() + kReceiveSliceMs;
    while (ss_platform_monotonicMs() < until) {
        std::optional<std::string> text;
        SS_Socket_receive_plain(socket, text);
        if (!text) continue;
        std::optional<DeviceInfo> info = parseSystemInfoAnswer(*text);
        if (!info || !info->ip) continue;
        std::vector<VerifyResult> done =
            takeAnswer(ss_ip_toInteger(info->ip->c_str()), info->softVersion.value_or(""));
        deliver(done);
    }
}

std::vector<VerifyResult> UpgradeVerifier::takeAnswer(std::uint32_t ipValue,
                                                      const std::string& narrowVersion) {
    std::vector<VerifyResult> done;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t now = ss_platform_monotonicMs();
    for (auto it = watched_.begin(); it != watched_.end(); ++it) {
        if (ss_ip_toInteger(it->ip.c_str()) != ipValue) continue;
        it->answeredSinceAsk = true;
        it->lastVersion = narrowVersion;
        const bool same = narrowVersion == it->version;
        if (same || it->sawSilent || now - it->rebootMs >= settleMs_) {
            VerifyResult r = resultFor(*it);
            r.ok = same;
            r.narrowVersion = narrowVersion;
            if (!same) r.reason.reason = FailureReason::otherVersion;
            done.push_back(std::move(r));
            watched_.erase(it);
            ++reporting_;
        }
        break;
    }
    return done;
}

void UpgradeVerifier::deliver(std::vector<VerifyResult>& results) {
    if (results.empty()) return;
    for (VerifyResult& r : results) {
        if (!r.ok && r.reason.reason == FailureReason::otherVersion)
            r.reason.detail = ss_text_gbkToUtf8(r.narrowVersion);
        report_(r);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    reporting_ -= static_cast<int>(results.size());
    results.clear();
}
