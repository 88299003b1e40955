// The simulated site: the address box and the devices of a SimConfig played by one event loop (epoll,
// one thread for the whole site). It answers the device protocol on UDP 5360 and 5160, runs each
// device's TCP upload service, applies the configured faults, and records every exchange.
// Used by the quenta-sim program and, in-process, by the end-to-end tests: open() binds everything,
// start() runs the loop on its own thread (or run() in the caller's), record() is a snapshot that
// may be taken at any time from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_config.h"

// One datagram a peer received or sent.
struct SimDatagramRecord {
    int64_t timeMs = 0;     // ms since 1970 UTC
    std::string peerIp;     // the simulated peer's own address
    int peerPort = 0;       // its port (5360 or 5160)
    bool received = false;  // true: received by the peer; false: sent by it
    std::string remote;     // the other side, "ip:port"
    std::string action;     // the "Action" value of the (decoded) text; empty for junk
    int size = 0;           // datagram length in bytes
    std::string text;       // the datagram's text up to its first zero byte, at most 2048 bytes
    bool garbage = false;   // junk sent by a fault
    bool lost = false;      // dropped by the loss fault: never delivered (received: never handled)
};

// One upload connection of a device's TCP service.
struct SimUploadRecord {
    std::string deviceIp;
    std::string client;  // "ip:port" of the connecting side
    int64_t acceptedMs = 0;
    int64_t endedMs = 0;        // reply sent, or connection closed
    std::string remoteName;     // GBK, as received
    int64_t declaredSize = -1;  // the size the put announced; -1 before it arrived
    int64_t receivedSize = 0;   // content bytes received
    std::string sha256;         // lowercase hex of the content as received; empty unless complete
    bool complete = false;      // all announced content arrived
    int reply = -1;             // command answered (5, 255, or the configured one); -1 none
    bool closeCommand = false;  // the client sent 4
    std::optional<std::string> payloadVersion;  // version text found in the payload's head
};

struct SimRebootRecord {
    std::string deviceIp;
    int64_t timeMs = 0;
    std::string oldVersion;
    std::string newVersion;
};

struct SimRecord {
    int64_t startedMs = 0;
    int64_t endedMs = 0;
    std::vector<SimDatagramRecord> datagrams;
    std::vector<SimUploadRecord> uploads;
    std::vector<SimRebootRecord> reboots;
    int maxConcurrentTransfers = 0;  // most upload connections open at the same moment

    // Datagrams received (or sent) by the peer at `ip` whose action is `action` (any when null);
    // lost datagrams do not count.
    int countReceived(const std::string& ip, const char* action = nullptr) const;
    int countSent(const std::string& ip, const char* action = nullptr) const;
    // Uploads to one device, in order.
    std::vector<SimUploadRecord> uploadsTo(const std::string& ip) const;
};

// The record as JSON (format in sim/README.md).
std::string simRecordToJson(const SimRecord& record);

class SimSite {
  public:
    explicit SimSite(SimConfig config);
    ~SimSite();  // stops the loop and closes every socket
    SimSite(const SimSite&) = delete;
    SimSite& operator=(const SimSite&) = delete;

    // Checks every address (simCheckBindAddress) and binds every UDP socket. 0, or -1 with `error`
    // (nothing stays bound then).
    int open(std::string& error);
    // Runs the loop on a thread of its own. 0, or -1 when not open or already running.
    int start();
    // Runs the loop in the calling thread until `stop` becomes true, stop() is called, or
    // `durationMs` (> 0) has passed. 0, or -1 when not open.
    int run(int durationMs, const std::atomic<bool>* stop = nullptr);
    // Ends the loop (from any thread) and joins the site's own thread.
    void stop();

    // A copy of the record so far.
    SimRecord record() const;
    // The SoftVersion the device at `ip` reports now (absent for an unknown address).
    std::optional<std::string> softVersion(const std::string& ip) const;
    // Number of peers (devices plus the address box).
    int peerCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
