// The upgrade server: the engine object a window (or the command line) creates when it opens and
// destroys when it closes. It owns the UDP listener (first port of 5360-5459 that binds) on which
// devices and the address box send their messages, the one lock that guards the shared engine state,
// the received-message queue, the IP list, the 8 upload slots, the pool of 8 upload workers and the
// handles of the engine threads. The thread procedures of discovery and upgrade live here too.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ss/ss_socket.h"
#include "ss/ss_tcpfile.h"
#include "ss/ss_thread.h"
#include "ss/ss_threadpool.h"

class FlowHost;

inline constexpr int kListenerFirstPort = 5360;
inline constexpr int kListenerPortCount = 100;
inline constexpr int kUploadSlotCount = 8;
inline constexpr int kUploadWorkers = 8;
inline constexpr int kJobPortStart = 50000;

// How far the connect thread got with one address (the values are the ones the log has always used).
enum IpConnectState : int { IP_NOT_ASKED = 0, IP_ASKED_ONCE = 1, IP_ASKED_TWICE = 2, IP_ANSWERED = 3 };

// One address the address box reported or that answered.
struct IpRecord {
    std::uint32_t value = 0;  // ss_ip_toInteger of the text
    char text[16] = {};       // dotted text as received, at most 15 characters
    IpConnectState state = IP_NOT_ASKED;
};

// One of the 8 upload slots. Claimed (reserved) under the server lock before the job connects, so
// the connect runs without the lock; the client is stored under the lock once connected.
struct UploadSlot {
    bool reserved = false;       // claimed by a job (connecting or transferring)
    SS_TcpFileClientPtr client;  // the running transfer, once connected
    int row = -1;                // the job's row index when queued
    std::uint32_t ownerKey = 0;  // the job's row key (IPv4 value)
};

struct QuentaUpgradeServer {
    SS_SocketPtr listener;  // bound, non-blocking; read by the dispatcher only, sent from by anyone
    ss_mutex_ptr lock;      // the server lock

    // Thread handles: created, joined and reset only on the flow thread (or by destroy). A thread
    // "clears its field" by finishing: ss_thread_finished tells.
    ss_thread_ptr dispatcherThread, handlerThread, connectThread, upgradeThread;
    ss_threadpool_ptr pool;  // 8 workers for upload jobs

    std::atomic<int> connectIdleTimes{0};    // written by the connect thread (zeroed under lock at a query)
    std::atomic<int> msgHandleIdleTimes{0};  // written by the handler (zeroed under lock at a query)
    std::atomic<int> running{0};             // written under lock; read by the engine loops without it
    sockaddr_in localAddress{};              // copy of the listener's bound address; constant

    std::deque<std::string> messages;                      // guard: lock
    std::vector<IpRecord> ipList;                          // guard: lock
    std::array<UploadSlot, kUploadSlotCount> uploadSlots;  // guard: lock
    int activeJobs = 0;  // guard: lock. Upload jobs queued and not yet finished (or released unrun)
};

struct QuentaUpgradeServerDeleter {
    void operator()(QuentaUpgradeServer* server) const;  // QuentaUpgradeServer_destory
};
using QuentaUpgradeServerPtr = std::unique_ptr<QuentaUpgradeServer, QuentaUpgradeServerDeleter>;

// Binds the listener on the first port of 5360..5459 that binds, makes the lock, the slots and the
// pool. Null when no port binds. Also sets the transfer's upload decryptor (once per process).
QuentaUpgradeServer* QuentaUpgradeServer_new();
// Stops running loops, aborts running transfers, joins the engine threads (connect, dispatcher,
// handler, upgrade) and the upload workers. Afterwards no engine thread uses the server, so its
// owner may drop its pointer without racing with a job that reads it. Idempotent; null ignored.
// The caller must have cleared its upgrading flag, and must not be a thread an engine thread may
// wait for (see FlowDispatcher).
void QuentaUpgradeServer_stop(QuentaUpgradeServer* server);
// QuentaUpgradeServer_stop, then frees the queue, the IP list, the slots and the server.
void QuentaUpgradeServer_destory(QuentaUpgradeServer* server);

// IP records, under the server lock (both take it; the lock is recursive).
// Ignores null, "0.0.0.0", texts longer than 15 characters and addresses already listed.
void addIpRecord(QuentaUpgradeServer* server, const char* text);
// -1 for null / "0.0.0.0" / too long / already answered; else marks (or appends) it answered and 0.
int markIpAnswered(QuentaUpgradeServer* server, const char* text);
int ipRecordCount(QuentaUpgradeServer* server);
void clearIpRecords(QuentaUpgradeServer* server);
// Under lock: any slot claimed?
bool anyUploadSlotBusy(QuentaUpgradeServer* server);
// Under lock: progress 0..100 of the transfer of the slot whose owner key matches; -1 when no slot
// holds such a transfer.
int uploadSlotProgress(QuentaUpgradeServer* server, std::uint32_t ownerKey);
// The start of a query: drops the queued messages and every datagram waiting on the listener, so
// that late answers of an earlier query never reach the next one. Only while no dispatcher runs.
void QuentaUpgradeServer_dropMessages(QuentaUpgradeServer* server);
// Under lock: a job is queued or active, or a slot is claimed.
bool uploadWorkPending(QuentaUpgradeServer* server);

// Thread procedures; the argument is the FlowHost. Results 0.
int _messageDispatcherProc(void* host);
int _messageHandlerThreadProc(void* host);
int _ipConnectThreadProc(void* host);
int _upgradeThreadProc(void* host);

// One upload job's work (the pool's job procedure): port, WM_UPLOAD_START, _upload_file, the hand-over
// to the verifier (when the run verifies), WM_UPLOAD_FINISH with the result and the outcome. A job
// that cannot bind a port ends its row 升级失败 (no free port) without starting.
struct UploadJobTarget;
struct UploadOutcome;
void _uploadingHandler(FlowHost& host, const UploadJobTarget& target);
// The conversation with one device: StartUploadService, the TCP put into a claimed slot, Reboot.
// 0 only when the device accepted the transfer (putFile gave 0); -1 otherwise, with the reason in
// `outcome` when given. A missing RebootOK after a good transfer keeps 0 (logged, rebootMissing set).
// A job that finds the server stopped before it claims a slot gives up (reason stopped).
int _upload_file(FlowHost& host, const UploadJobTarget& target, SS_Socket* jobSocket,
                 UploadOutcome* outcome = nullptr);

// The next job port: the counter starts at 50000 and grows by one per call (atomic, process-wide);
// after 65535 it starts again at 50001, so a port never leaves the private range.
int nextJobPort();
// A bound UDP socket on the next job port that binds. Each port of the range is tried at most once;
// with a server given, the search also ends when it stops running. Null when none bound.
SS_SocketPtr openJobSocket(const QuentaUpgradeServer* server);
// Tests: how many ports openJobSocket tries (0 = the whole range).
void setPrivatePortTriesForTesting(unsigned tries);

// Progress tasks (run on the progress box's worker).
int _waitUploadsIdle(FlowHost& host);
