#include "engine/quenta_upgrade_server.h"

#include <cstring>

#include "engine/flow_dispatcher.h"
#include "engine/flow_host.h"
#include "engine/network_address.h"
#include "engine/upgrade_verifier.h"
#include "protocol/des_variant.h"
#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "ss/ss_dir.h"
#include "ss/ss_ip.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

namespace {

// Private UDP ports of jobs and single-device queries: one counter for both, so a query made while
// a run is active never shares a port with a job. Counts the ports handed out.
std::atomic<unsigned> g_privatePortsUsed{0};
constexpr unsigned kPrivatePortCount = 65535 - kJobPortStart;  // 50001..65535
std::atomic<unsigned> g_privatePortTries{0};                   // 0: every port of the range

// Callers have logged a refused text already (acceptNetworkAddress); here it is only kept out.
// A usable text is canonical, so at most 15 characters: it fits the record and never spills into
// another address's value.
bool usableAddressText(const char* text) {
    return text != nullptr && ss_ip_judge(text) == SS_IpVerdict::usable;
}

IpRecord* findRecord(QuentaUpgradeServer* server, uint32_t value) {
    for (auto& record : server->ipList)
        if (record.value == value) return &record;
    return nullptr;
}

void appendRecord(QuentaUpgradeServer* server, const char* text, IpConnectState state) {
    IpRecord record;
    record.value = ss_ip_toInteger(text);
    std::strncpy(record.text, text, sizeof(record.text) - 1);
    record.state = state;
    server->ipList.push_back(record);
}

bool queueEmpty(QuentaUpgradeServer* server) {
    ss_mutex_guard guard(server->lock.get());
    return server->messages.empty();
}

// Sleeps `ms` in 20 ms steps; returns early once the server stops running, so a stopped query or
// a closing tool never waits out a pause.
void sleepWhileRunning(QuentaUpgradeServer* server, int ms) {
    for (int waited = 0; waited < ms && server->running.load(); waited += 20)
        ss_platform_sleepMs(ms - waited < 20 ? ms - waited : 20);
}

// The handler's pause on an empty queue: like sleepWhileRunning, but also ended by a queued message.
// An answer is then handled within a step, not up to 500 ms later, so the connect thread's next pass
// (300 ms after its last request) never asks a device again whose answer has already arrived. In
// silence the pause, and with it the handler's idle count, is what it always was.
void sleepUntilMessage(QuentaUpgradeServer* server, int ms) {
    for (int waited = 0; waited < ms && server->running.load() && queueEmpty(server); waited += 20)
        ss_platform_sleepMs(ms - waited < 20 ? ms - waited : 20);
}

// The listener's receive wait (its wait timeout) in 20 ms steps: true once a datagram can be read,
// false after the whole wait or as soon as the server stops, so a stopped query's dispatcher ends
// within a step instead of a whole wait.
bool datagramWithin(QuentaUpgradeServer* server, int ms) {
    for (int waited = 0; server->running.load(); waited += 20) {
        if (SS_Socket_waitReadableFor(server->listener.get(), ms - waited < 20 ? ms - waited : 20))
            return true;
        if (waited + 20 >= ms) break;
    }
    return false;
}

void setUploadDecryptorOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        void (*decryptor)(int, uint8_t*) = desDecryptBuffer;
        SS_TcpFile_setUploadDecryptor(decryptor);
    });
}

}  // namespace

int nextJobPort() {
    return kJobPortStart + 1 + static_cast<int>(g_privatePortsUsed.fetch_add(1) % kPrivatePortCount);
}

void setPrivatePortTriesForTesting(unsigned tries) {
    g_privatePortTries = tries;
}

SS_SocketPtr openJobSocket(const QuentaUpgradeServer* server) {
    const unsigned limit = g_privatePortTries.load() != 0 ? g_privatePortTries.load() : kPrivatePortCount;
    for (unsigned tried = 0; tried < limit; ++tried) {
        if (SS_SocketPtr socket = SS_Socket_newUdpServerSocket(nextJobPort())) return socket;
        if (server != nullptr && server->running.load() == 0) break;
    }
    return nullptr;
}

void QuentaUpgradeServerDeleter::operator()(QuentaUpgradeServer* server) const {
    QuentaUpgradeServer_destory(server);
}

QuentaUpgradeServer* QuentaUpgradeServer_new() {
    SS_LOG(SS_LOG_DEBUG, "Starting Quenta Server.....");
    auto server = std::make_unique<QuentaUpgradeServer>();
    for (int port = kListenerFirstPort; port - kListenerFirstPort < kListenerPortCount; ++port) {
        server->listener = SS_Socket_newUdpServerSocket(port);
        if (server->listener) {
            SS_LOG(SS_LOG_DEBUG, "pServer->listener port=%d\n", port);
            break;
        }
    }
    if (!server->listener) return nullptr;
    server->lock.reset(ss_mutex_new());
    _SS_Socket_setBlockMode(server->listener.get(), 1);
    server->localAddress = server->listener->address;
    server->pool.reset(ss_threadpool_new(kUploadWorkers));
    setUploadDecryptorOnce();
    SS_LOG(SS_LOG_DEBUG, ">>>>>>>QuentaVOIP Server started<<<<<<<<<");
    return server.release();
}

void QuentaUpgradeServer_stop(QuentaUpgradeServer* server) {
    if (server == nullptr) return;
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 0;
        // A closing tool stops transfers still running; their jobs then end on their own.
        for (auto& slot : server->uploadSlots)
            if (slot.client) SS_TcpFileClient_abort(slot.client.get());
    }
    ss_thread_join(server->connectThread);
    ss_thread_join(server->dispatcherThread);
    ss_thread_join(server->handlerThread);
    ss_thread_join(server->upgradeThread);
    // The pool goes before the lock is taken: a job finishing its transfer takes the lock to empty
    // its slot, so joining the workers under the lock could wait for ever.
    server->pool.reset();
}

void QuentaUpgradeServer_destory(QuentaUpgradeServer* server) {
    if (server == nullptr) return;
    SS_LOG(SS_LOG_DEBUG, "Stopping Quenta Server.....");
    std::unique_ptr<QuentaUpgradeServer> owned(server);
    QuentaUpgradeServer_stop(server);
    {
        ss_mutex_guard guard(server->lock.get());
        server->messages.clear();
        server->ipList.clear();
        for (auto& slot : server->uploadSlots) {
            slot.client.reset();
            slot.reserved = false;
        }
    }
    server->listener.reset();
    owned.reset();
    SS_LOG(SS_LOG_DEBUG, ">>>>>>>Quenta Server stopped. <<<<<<<<<");
}

// ---- IP records -------------------------------------------------------------------------------

void addIpRecord(QuentaUpgradeServer* server, const char* text) {
    if (server == nullptr || !usableAddressText(text)) return;
    ss_mutex_guard guard(server->lock.get());
    if (findRecord(server, ss_ip_toInteger(text)) != nullptr) return;
    appendRecord(server, text, IP_NOT_ASKED);
}

int markIpAnswered(QuentaUpgradeServer* server, const char* text) {
    if (server == nullptr || !usableAddressText(text)) return -1;
    ss_mutex_guard guard(server->lock.get());
    IpRecord* record = findRecord(server, ss_ip_toInteger(text));
    if (record != nullptr) {
        if (record->state == IP_ANSWERED) return -1;
        record->state = IP_ANSWERED;
        return 0;
    }
    appendRecord(server, text, IP_ANSWERED);
    return 0;
}

int ipRecordCount(QuentaUpgradeServer* server) {
    if (server == nullptr) return 0;
    ss_mutex_guard guard(server->lock.get());
    return static_cast<int>(server->ipList.size());
}

void clearIpRecords(QuentaUpgradeServer* server) {
    if (server == nullptr) return;
    ss_mutex_guard guard(server->lock.get());
    server->ipList.clear();
}

bool anyUploadSlotBusy(QuentaUpgradeServer* server) {
    if (server == nullptr) return false;
    ss_mutex_guard guard(server->lock.get());
    for (const auto& slot : server->uploadSlots)
        if (slot.reserved) return true;
    return false;
}

int uploadSlotProgress(QuentaUpgradeServer* server, uint32_t ownerKey) {
    if (server == nullptr) return -1;
    ss_mutex_guard guard(server->lock.get());
    for (const auto& slot : server->uploadSlots) {
        if (!slot.client || slot.ownerKey != ownerKey) continue;
        SS_FileSocket* file = slot.client->fileSocket.get();
        if (file == nullptr || file->size.load() <= 0) return 0;
        return _SS_FileSocket_progress(file);
    }
    return -1;
}

void QuentaUpgradeServer_dropMessages(QuentaUpgradeServer* server) {
    if (server == nullptr) return;
    {
        ss_mutex_guard guard(server->lock.get());
        server->messages.clear();
    }
    SS_Socket* listener = server->listener.get();
    const int wait = listener->waitTimeoutMs;
    listener->waitTimeoutMs = 0;
    int dropped = 0;
    // Bounded: a socket that kept failing must not hold the query.
    for (int attempt = 0; attempt < 100000; ++attempt) {
        std::optional<std::string> data;
        int length = 0;
        const int result = _SS_Socket_recvUDPData_plain(listener, data, length);
        if (result == 0 && !data) break;
        ++dropped;  // a datagram, or one refused (oversized): either way taken off the socket
    }
    listener->waitTimeoutMs = wait;
    if (dropped > 0) SS_LOG(SS_LOG_DEBUG, "Dropped %d late message(s) of an earlier query\n", dropped);
}

// ---- discovery threads ------------------------------------------------------------------------

int _messageDispatcherProc(void* arg) {
    auto& host = *static_cast<FlowHost*>(arg);
    QuentaUpgradeServer* server = host.server();
    while (server->running.load()) {
        std::optional<std::string> text;
        if (datagramWithin(server, server->listener->waitTimeoutMs))
            SS_Socket_receive_plain(server->listener.get(), text);
        if (!text || text->empty()) {
            sleepWhileRunning(server, 200);
            continue;
        }
        SS_LOG(SS_LOG_DEBUG, "Got message:%s\n", text->c_str());
        ss_mutex_guard guard(server->lock.get());
        server->messages.push_back(std::move(*text));
    }
    SS_LOG(SS_LOG_DEBUG, "------->1.THREAD _messageDispatcherProc exist!\n");
    return 0;
}

int _messageHandlerThreadProc(void* arg) {
    auto& host = *static_cast<FlowHost*>(arg);
    QuentaUpgradeServer* server = host.server();
    // The first message: up to 30 s, ended as soon as one is queued (looked at every 20 ms) or the
    // query is stopped.
    for (int waited = 0; waited < 30000 && queueEmpty(server) && server->running.load(); waited += 20)
        ss_platform_sleepMs(20);

    while (server->running.load()) {
        if (queueEmpty(server)) sleepUntilMessage(server, 500);
        if (server->msgHandleIdleTimes.load() >= 5 && queueEmpty(server)) break;
        std::string message;
        {
            ss_mutex_guard guard(server->lock.get());
            if (!server->messages.empty()) {
                message = std::move(server->messages.front());
                server->messages.pop_front();
            }
        }
        if (message.empty()) {
            sleepWhileRunning(server, 200);
            int idle = server->msgHandleIdleTimes.fetch_add(1) + 1;
            SS_LOG(SS_LOG_DEBUG, ">>>>>>>>>msgHandleIdleTimes=%d", idle);
            continue;
        }
        // A device or the address box may answer with a marked text: decoded as the request-and-answer
        // exchange does (a plain text never starts with a marker).
        int kind = 0;
        if (std::optional<std::string> decoded = decodeMarkedText(message.c_str(), kind))
            message = std::move(*decoded);
        SS_LOG(SS_LOG_DEBUG, "Handling Message[%s]\n", message.c_str());
        SS_PairList pairs;
        stringToPairList(message.c_str(), pairs);
        std::optional<std::string> action;
        pairListGetString(&pairs, QNKEY_ACTION, action);
        if (!action) continue;
        if (listenerActionIs(action->c_str(), QNACTION_UPDATE_IP_ADDRESS)) {
            std::optional<std::string> ip;
            pairListGetString(&pairs, QNKEY_IP, ip);
            if (ip && ip->size() >= 7) {
                for (const auto& piece : splitString(ip->c_str(), ","))
                    if (acceptNetworkAddress(piece.c_str(), "the address box's list"))
                        addIpRecord(server, piece.c_str());
                host.addressListArrived = 1;
            }
        } else if (listenerActionIs(action->c_str(), QNACTION_GET_SYSTEM_INFO_OK)) {
            // readDeviceInfo drops (and logs) an "IP" that is no usable address.
            DeviceInfo info = readDeviceInfo(pairs);
            if (info.ip && markIpAnswered(server, info.ip->c_str()) == 0) {
                // A blocking send: the row is written before the next message is handled. Refused
                // (and skipped) once the window closes.
                host.dispatcher().send([&host, &info] { host.UpdateIPList(info, false); });
            }
        }
    }
    SS_LOG(SS_LOG_DEBUG, "------->2.THREAD messageHandlerThread exist!\n");
    return 0;
}

int _ipConnectThreadProc(void* arg) {
    auto& host = *static_cast<FlowHost*>(arg);
    QuentaUpgradeServer* server = host.server();
    const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);

    // Up to 20 s for the address list, ended as soon as it arrived (looked at every 20 ms).
    for (int waited = 0; waited < 20000 && host.addressListArrived.load() == 0 && server->running.load();
         waited += 20)
        ss_platform_sleepMs(20);

    int lastCount = 0;
    int position = 0;
    bool sentInLastPass = true;
    for (;;) {
        if (!server->running.load()) break;
        if (!sentInLastPass) {
            if (server->connectIdleTimes.load() > 2 && queueEmpty(server)) break;
            sleepWhileRunning(server, 300);
        }
        int count = ipRecordCount(server);
        SS_LOG(SS_LOG_DEBUG, "Send IP Connect command. Current ip count = %d\n", count);
        if (count == lastCount) {
            SS_LOG(SS_LOG_DEBUG, "No new ip found. Current count=%d", count);
            position = 0;
            if (!sentInLastPass) {
                int idle = server->connectIdleTimes.fetch_add(1) + 1;
                SS_LOG(SS_LOG_DEBUG, ">>>>>>>>>ipConnectingIdleTimes=%d", idle);
            }
        } else {
            lastCount = count;
        }
        sentInLastPass = false;
        for (size_t index = static_cast<size_t>(position);; ++index) {
            if (!server->running.load()) break;
            char text[16] = {};
            bool send = false;
            {
                ss_mutex_guard guard(server->lock.get());
                if (index >= server->ipList.size()) break;
                IpRecord& record = server->ipList[index];
                std::memcpy(text, record.text, sizeof(text));
                ++position;
                switch (record.state) {
                    case IP_NOT_ASKED:
                        record.state = IP_ASKED_ONCE;
                        SS_LOG(SS_LOG_DEBUG, " Try 1 sent to ip: %s", text);
                        sentInLastPass = send = true;
                        break;
                    case IP_ASKED_ONCE:
                        record.state = IP_ASKED_TWICE;
                        SS_LOG(SS_LOG_DEBUG, " Try 2 sent to ip: %s", text);
                        sentInLastPass = send = true;
                        break;
                    case IP_ASKED_TWICE:
                        send = sentInLastPass;
                        break;
                    case IP_ANSWERED:
                        break;
                }
            }
            if (!send) {
                if (position % 20 == 0 && host.progressCurrent.load())
                    host.postProgressSearch(std::nullopt, count);
                continue;
            }
            SS_LOG(SS_LOG_DEBUG, "-------sent to ip: %s", text);
            SS_Socket_sendTo(text, QN_PORT_DEVICE, request.c_str(), server->listener.get());
            if (position % 20 == 0 && host.progressCurrent.load())
                host.postProgressSearch(std::string(text), count);
            ss_platform_sleepMs(10);
        }
    }
    int count = ipRecordCount(server);
    if (host.progressCurrent.load()) host.postProgressSearch(std::nullopt, count);
    SS_LOG(SS_LOG_DEBUG, "------->3.THREAD _ipConnectThreadProc exist!\n");
    return 0;
}

// ---- upgrade ----------------------------------------------------------------------------------

namespace {

// Held by a queued job (in its work function's captures): counts it in activeJobs from queuing
// until the job ran or was released unrun.
struct ActiveJobToken {
    QuentaUpgradeServer* server;
    explicit ActiveJobToken(QuentaUpgradeServer* s) : server(s) {
        ss_mutex_guard guard(server->lock.get());
        ++server->activeJobs;
    }
    ~ActiveJobToken() {
        ss_mutex_guard guard(server->lock.get());
        --server->activeJobs;
    }
    ActiveJobToken(const ActiveJobToken&) = delete;
    ActiveJobToken& operator=(const ActiveJobToken&) = delete;
};

// Nothing of the run is left: no job queued or active, no slot claimed, no device being verified.
bool runSettled(FlowHost& host) {
    if (uploadWorkPending(host.server())) return false;
    UpgradeVerifier* verifier = host.verifier();
    return verifier == nullptr || verifier->pending() == 0;
}

}  // namespace

bool uploadWorkPending(QuentaUpgradeServer* server) {
    if (server == nullptr) return false;
    ss_mutex_guard guard(server->lock.get());
    if (server->activeJobs > 0) return true;
    for (const auto& slot : server->uploadSlots)
        if (slot.reserved) return true;
    return false;
}

namespace {

// Queues one job for `target`; it counts in activeJobs until it ran or was released unrun.
void queueUploadJob(FlowHost& host, const UploadJobTarget& target) {
    QuentaUpgradeServer* server = host.server();
    FlowHost* hostPtr = &host;
    auto token = std::make_shared<ActiveJobToken>(server);
    ss_threadpool_add(server->pool.get(),
                      ss_job_fromFunction([hostPtr, target, token] { _uploadingHandler(*hostPtr, target); }));
}

int activeJobCount(QuentaUpgradeServer* server) {
    ss_mutex_guard guard(server->lock.get());
    return server->activeJobs;
}

// A run in stages: a job is queued only when a worker is free, and only for the device the flow
// names then, so a device whose model was stopped meanwhile never starts.
void queueInStages(FlowHost& host) {
    QuentaUpgradeServer* server = host.server();
    constexpr int kPollMs = 20;
    while (server->running.load() && host.upgrading.load()) {
        if (activeJobCount(server) >= kUploadWorkers) {
            ss_platform_sleepMs(kPollMs);
            continue;
        }
        UploadJobTarget target;
        FlowHost::NextJob next = FlowHost::NextJob::none;
        if (!host.dispatcher().send([&] { next = host.takeNextForUpgrade(target); })) break;
        if (next == FlowHost::NextJob::none) break;
        if (next == FlowHost::NextJob::wait) {
            ss_platform_sleepMs(kPollMs);
            continue;
        }
        queueUploadJob(host, target);
    }
}

}  // namespace

int _upgradeThreadProc(void* arg) {
    auto& host = *static_cast<FlowHost*>(arg);
    QuentaUpgradeServer* server = host.server();
    FlowDispatcher& dispatcher = host.dispatcher();
    bool staged = false;
    dispatcher.send([&] { staged = host.runInStages(); });
    if (staged) {
        queueInStages(host);
        while (server->running.load() && !runSettled(host)) ss_platform_sleepMs(100);
        dispatcher.send([&] { host.OnUpgradingEnd(); });
        return 0;
    }
    std::vector<uint32_t> keys;
    dispatcher.send([&] { keys = host.rowKeys(); });
    const int rows = static_cast<int>(keys.size());
    for (int row = 0; row < rows && server->running.load() && host.upgrading.load(); ++row) {
        UploadJobTarget target;
        bool take = false;
        if (!dispatcher.send([&] { take = host.takeRowForUpgrade(row, keys[row], target); })) break;
        if (!take) continue;
        queueUploadJob(host, target);
    }
    // The run ends once every job has finished (the exact count of queued and active jobs, so no
    // settle time is needed: a job in its StartUploadService or Reboot exchange holds the run open)
    // and every rebooted device is settled. A cancel stops the watching (the flow settles those rows).
    while (server->running.load() && !runSettled(host)) ss_platform_sleepMs(100);
    dispatcher.send([&] { host.OnUpgradingEnd(); });
    return 0;
}

void _uploadingHandler(FlowHost& host, const UploadJobTarget& target) {
    QuentaUpgradeServer* server = host.server();
    if (host.upgrading.load() == 0 || server == nullptr || server->running.load() == 0) return;
    const int row = target.row;
    const uint32_t key = target.ownerKey;
    UploadOutcome outcome;
    SS_SocketPtr jobSocket = openJobSocket(server);
    if (!jobSocket) {
        SS_LOG(SS_LOG_ERROR, "[%d][%s]No free UDP port for the job\n", row, target.narrowIp.c_str());
        outcome.reason.reason = server->running.load() ? FailureReason::noFreePort : FailureReason::stopped;
        host.dispatcher().send([&] { host.OnUploadFinish(row, key, -1, outcome); });
        return;
    }
    jobSocket->waitTimeoutMs = 200;
    if (!host.dispatcher().send([&] { host.OnUploadStart(row, key); })) return;  // the window closed
    SS_LOG(SS_LOG_DEBUG, "_upload_file [%d] ip:%s %s ==>%s\n", row, target.narrowIp.c_str(),
           target.narrowPackagePath.c_str(), target.narrowUploadPath.c_str());
    int result = _upload_file(host, target, jobSocket.get(), &outcome);
    // The flow hands the device to the verifier while it handles the finish, so the row shows
    // 正在验证 before any verdict can arrive; the job still counts as active until then.
    outcome.watched = result == 0 && target.verifyTimeoutMs > 0;
    host.dispatcher().send([&] { host.OnUploadFinish(row, key, result, outcome); });
}

namespace {

// Why a put that gave -1 failed, from what the connection saw.
void classifyTransferFailure(SS_FileSocket* file, UploadOutcome& outcome) {
    const int size = file->size.load();
    const int sent = file->transferred.load();
    if (file->replyInvalid) {  // too long an error text, or a reply that came too slowly
        outcome.reason.reason = FailureReason::invalidReply;
        return;
    }
    switch (file->replyCommand) {
        case 0:
            if (size > 0 && sent >= size) {
                outcome.reason.reason = FailureReason::noVerdict;
            } else {
                outcome.reason.reason = FailureReason::transferBroken;
                outcome.reason.percent = _SS_FileSocket_progress(file);
            }
            break;
        case SS_TCPFILE_CMD_ERROR:
            outcome.reason.reason = FailureReason::deviceError;
            outcome.reason.detail = ss_text_gbkToUtf8(file->errorText);
            break;
        default:
            outcome.reason.reason = FailureReason::invalidReply;
            break;
    }
}

}  // namespace

int _upload_file(FlowHost& host, const UploadJobTarget& target, SS_Socket* jobSocket,
                 UploadOutcome* outcomeOut) {
    QuentaUpgradeServer* server = host.server();
    UploadOutcome scratch;
    UploadOutcome& outcome = outcomeOut != nullptr ? *outcomeOut : scratch;
    outcome.reason.reason = FailureReason::noStartAnswer;
    SS_SocketPtr device = _SS_Socket_newClientSocket(target.narrowIp.c_str(), QN_PORT_DEVICE, SS_SOCKET_UDP);
    if (!device || server == nullptr) return -1;
    std::string answer;
    if (_requestAction(jobSocket, device.get(), QNACTION_START_UPLOAD_SERVICE,
                       QNACTION_START_UPLOAD_SERVICE_OK, answer) != 0)
        return -1;
    SS_PairList pairs;
    stringToPairList(answer.c_str(), pairs);
    int port = -1;
    pairListGetInt(QNKEY_PORT, port, &pairs);
    int tcpSupport = 0;
    getTcpSupport(tcpSupport, &pairs);
    // A port is a 16-bit number: anything outside 1..65535 names no port (never one it wraps to).
    if (port < SS_TCPFILE_MIN_PORT || port > SS_TCPFILE_MAX_PORT) {
        SS_LOG(SS_LOG_ERROR, "[%d][%s]No upload port: %d\n", target.row, target.narrowIp.c_str(), port);
        outcome.reason.reason = FailureReason::noUploadPort;
        return -1;
    }
    if (tcpSupport == 0) {
        outcome.reason.reason = FailureReason::tcpNotSupported;
        return -1;
    }

    // Claim the first free slot under the lock (first come, first served), then connect without it.
    // A stopped server (the tool closes) gets no new transfer.
    int slotIndex = -1;
    while (slotIndex < 0) {
        if (server->running.load() == 0) {
            outcome.reason.reason = FailureReason::stopped;
            return -1;
        }
        {
            ss_mutex_guard guard(server->lock.get());
            for (int i = 0; i < kUploadSlotCount && server->running.load(); ++i) {
                UploadSlot& slot = server->uploadSlots[i];
                if (slot.reserved) continue;
                slot.reserved = true;
                slot.row = target.row;
                slot.ownerKey = target.ownerKey;
                slotIndex = i;
                break;
            }
        }
        if (slotIndex < 0) ss_platform_sleepMs(100);
    }
    SS_TcpFileClientPtr client(SS_TcpFileClient_new(port, target.narrowIp.c_str()));
    if (!client) {
        ss_mutex_guard guard(server->lock.get());
        server->uploadSlots[slotIndex].reserved = false;
        outcome.reason.reason = FailureReason::connectionRefused;
        return -1;
    }
    client->tag = target.row;
    SS_TcpFileClient* transfer = client.get();
    {
        ss_mutex_guard guard(server->lock.get());
        server->uploadSlots[slotIndex].client = std::move(client);
    }
    int result = SS_TcpFileClient_putFile(target.narrowUploadPath.c_str(), transfer,
                                          target.narrowPackagePath.c_str()) == 0
                     ? 0
                     : -1;
    if (SS_FileSocket* file = transfer->fileSocket.get()) {
        if (file->replyCommand != SS_TCPFILE_CMD_SIZE) outcome.bytesSent = file->transferred.load();
        if (result == 0)
            outcome.reason = RowReason{};
        else
            classifyTransferFailure(file, outcome);
    }
    SS_TcpFileClientPtr finished;
    {
        ss_mutex_guard guard(server->lock.get());
        finished = std::move(server->uploadSlots[slotIndex].client);
        server->uploadSlots[slotIndex].reserved = false;
    }
    finished.reset();  // the goodbye goes out without the lock

    std::string rebootAnswer;
    if (_requestAction(jobSocket, device.get(), QNACTION_REBOOT, QNACTION_REBOOT_OK, rebootAnswer) != 0) {
        SS_LOG(SS_LOG_ERROR, "[%d][%s]Stop server error!", target.row, target.narrowIp.c_str());
        outcome.rebootMissing = true;
    }
    // Only an accepted transfer counts: a RebootOK never turns a failed transfer into success.
    return result;
}

int _waitUploadsIdle(FlowHost& host) {
    QuentaUpgradeServer* server = host.server();
    // Idle: the flag is clear, no job is queued or active and every slot is empty.
    while (host.upgrading.load() != 0 || uploadWorkPending(server)) {
        if (server == nullptr || server->running.load() == 0) break;
        ss_platform_sleepMs(200);
    }
    return 0;
}
