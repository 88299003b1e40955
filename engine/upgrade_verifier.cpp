#include "engine/upgrade_verifier.h"

#include "engine/device_recovery.h"
#include "engine/quenta_upgrade_server.h"
#include "protocol/device_actions.h"
#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

namespace {
constexpr int kReceiveSliceMs = 100;  // one turn of the watcher listens this long
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
        VerifyResult r;
        r.ownerKey = w.ownerKey;
        r.row = w.row;
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

void UpgradeVerifier::run() {
    const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (watched_.empty()) {
            changed_.wait(lock);
            continue;
        }
        // Questions that are due, and devices whose time ran out.
        std::int64_t now = ss_platform_monotonicMs();
        std::vector<std::string> asks;
        std::vector<VerifyResult> settled;
        for (auto it = watched_.begin(); it != watched_.end();) {
            if (now >= it->deadlineMs) {
                VerifyResult r;
                r.ownerKey = it->ownerKey;
                r.row = it->row;
                if (it->lastVersion) {
                    r.narrowVersion = *it->lastVersion;
                    r.reason.reason = FailureReason::otherVersion;
                } else {
                    r.reason.reason = FailureReason::noAnswerAfterReboot;
                }
                settled.push_back(std::move(r));
                it = watched_.erase(it);
                continue;
            }
            if (it->nextAskMs <= now) {
                if (it->lastAskMs != 0 && !it->answeredSinceAsk) it->sawSilent = true;
                it->answeredSinceAsk = false;
                it->lastAskMs = now;
                it->nextAskMs = now + intervalMs_;
                asks.push_back(it->ip);
            }
            ++it;
        }
        reporting_ += static_cast<int>(settled.size());
        SS_Socket* socket = socket_.get();
        lock.unlock();

        for (size_t i = 0; i < asks.size(); ++i) {
            sockaddr_in destination{};
            _SS_Socket_initAddress(&destination, asks[i].c_str());
            destination.sin_port = htons(QN_PORT_DEVICE);
            SS_Socket_send_plain(&destination, request.c_str(), socket);
            if (i % 10 == 9) ss_platform_sleepMs(1);
        }
        auto apply = [this, &lock](std::vector<VerifyResult>& results) {
            for (VerifyResult& r : results) {
                if (!r.ok && r.reason.reason == FailureReason::otherVersion)
                    r.reason.detail = ss_text_gbkToUtf8(r.narrowVersion);
                report_(r);
            }
            lock.lock();
            reporting_ -= static_cast<int>(results.size());
            lock.unlock();
            results.clear();
        };
        apply(settled);

        // Answers, for one slice.
        const std::int64_t until = ss_platform_monotonicMs() + kReceiveSliceMs;
        while (ss_platform_monotonicMs() < until) {
            std::optional<std::string> text;
            SS_Socket_receive_plain(socket, text);
            if (!text) continue;
            std::optional<DeviceInfo> info = parseSystemInfoAnswer(*text);
            if (!info || !info->ip) continue;
            const std::uint32_t value = ss_ip_toInteger(info->ip->c_str());
            const std::string version = info->softVersion.value_or("");
            std::vector<VerifyResult> done;
            lock.lock();
            now = ss_platform_monotonicMs();
            for (auto it = watched_.begin(); it != watched_.end(); ++it) {
                if (ss_ip_toInteger(it->ip.c_str()) != value) continue;
                it->answeredSinceAsk = true;
                it->lastVersion = version;
                const bool same = version == it->version;
                if (same || it->sawSilent || now - it->rebootMs >= settleMs_) {
                    VerifyResult r;
                    r.ownerKey = it->ownerKey;
                    r.row = it->row;
                    r.ok = same;
                    r.narrowVersion = version;
                    if (!same) r.reason.reason = FailureReason::otherVersion;
                    done.push_back(std::move(r));
                    watched_.erase(it);
                    ++reporting_;
                }
                break;
            }
            lock.unlock();
            apply(done);
        }
        lock.lock();
    }
}
