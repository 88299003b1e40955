// Private to the simulated site: the state of SimSite::Impl and the helpers its parts share.
// The parts: sim_site.cpp (opening, the event loop, the public API), sim_site_record.cpp (the
// record and its JSON), sim_site_udp.cpp (UDP answers, faults, loss, junk, fragments, reboot) and
// sim_site_upload.cpp (each device's TCP upload service).
// Threads: the loop runs either on the site's own thread (start) or in the caller's (run); every
// socket and every peer's protocol state belongs to that loop alone. The record and the peers'
// reported SoftVersion are shared with readers on other threads and guarded by Impl::mutex.
#pragma once

#include <netinet/in.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sim/sha256.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"

namespace sim_internal {

inline int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
inline int64_t monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// splitmix64's finaliser: a well-spread 64-bit value for every input.
inline uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// "ip:port" of an address.
std::string endpointText(const sockaddr_in& address);
// A non-blocking socket with SO_REUSEADDR bound to ip:port (port 0: any free port).
UniqueFd bindSocket(int type, const std::string& ip, int port, std::string& error);
// The text of a datagram: its bytes up to the first zero byte (at most `limit` of them).
std::string textOf(const char* bytes, size_t length, size_t limit = SIZE_MAX);

}  // namespace sim_internal

struct SimSite::Impl {
    using UniqueFd = sim_internal::UniqueFd;

    struct Peer {
        SimDeviceConfig config;
        const SimAddressBoxConfig* box = nullptr;  // set for the address box
        UniqueFd udp;                              // ip:5360
        UniqueFd list;                             // the box's ip:5160
        UniqueFd tcp;                              // the upload service while it is open
        int tcpPort = 0;
        std::string softVersion;                     // guarded by Impl::mutex
        std::optional<std::string> acceptedVersion;  // loop only: version of the last accepted upload
        bool acceptedUpload = false;                 // loop only
        unsigned junkCounter = 0;                    // loop only
        int64_t downUntilMs = 0;                     // loop only: rebooting until then (monotonic)
        bool downForever = false;                    // loop only: never back after its reboot
        int puts = 0;                                // loop only: complete puts so far
        double loss = 0;                             // fraction of 5360 datagrams lost each way (set at open)
        double listLoss = 0;                         // the same on the box's 5160
        uint64_t lossKey = 0;                        // the peer's own loss stream (seed and address)
        uint64_t lossDraws[4] = {};                  // loop only: draws per port and direction
    };

    enum class Stage { Command, NameLength, Name, Size, Content, Done };

    struct Connection {
        UniqueFd fd;
        Peer* peer = nullptr;
        std::string client;
        size_t upload = SIZE_MAX;  // index into record.uploads of the current put
        Stage stage = Stage::Command;
        uint8_t integer[4] = {};
        int integerHave = 0;
        int32_t nameLength = 0;
        std::string name;
        int64_t size = 0;
        int64_t received = 0;
        Sha256 sha;
        std::string head;
        std::string out;  // reply bytes not yet written
        bool closeAfterWrite = false;
        bool counted = false;    // counts in activeTransfers
        int64_t fillerLeft = 0;  // 'x' bytes still to write after `out` (a long error reply)
        int64_t nextByteMs = 0;  // trickling: when the next reply byte leaves (monotonic); 0 not
    };

    struct Outgoing {
        int fd = -1;
        sockaddr_in to{};
        std::string bytes;  // with the terminating zero
        Peer* peer = nullptr;
        int port = 0;
        std::string action;
        bool garbage = false;
    };

    // A long request that arrives as fragments (marker "__SS_MULTIDATA__", sequence, index, total
    // length, piece length, all 16-bit little-endian, then the piece of at most 1440 bytes).
    struct Reassembly {
        int64_t startedMs = 0;
        size_t total = 0;
        size_t have = 0;
        std::map<uint16_t, std::string> pieces;
    };

    enum class SourceKind { Stop, DeviceUdp, BoxList, TcpListen, TcpConnection };
    struct Source {
        SourceKind kind;
        Peer* peer;
    };

    SimConfig config;
    std::vector<std::unique_ptr<Peer>> peers;
    std::unique_ptr<SimAddressBoxConfig> box;

    UniqueFd epoll;
    UniqueFd stopEvent;
    bool opened = false;
    std::unordered_map<int, Source> sources;                           // loop only (fd -> role)
    std::unordered_map<int, std::unique_ptr<Connection>> connections;  // loop only
    std::multimap<std::pair<int64_t, uint64_t>, Outgoing> scheduled;   // loop only, by due time
    uint64_t sequence = 0;                                             // loop only
    int activeTransfers = 0;                                           // loop only
    std::map<std::string, Reassembly> reassembly;                      // loop only, by "fd remote sequence"
    std::set<int> trickling;  // loop only: connections writing their reply byte by byte

    mutable std::mutex mutex;  // guards record and every Peer::softVersion
    SimRecord record;

    std::thread thread;  // the site's own loop thread (start/stop; one caller at a time)
    std::atomic<bool> stopping{false};

    explicit Impl(SimConfig c) : config(std::move(c)) {}

    // --- recording (sim_site_record.cpp) ----------------------------------------------------
    void recordDatagram(const Peer& peer, int port, bool received, const sockaddr_in& remote,
                        const char* bytes, size_t length, std::string action, bool garbage,
                        bool lost = false);
    // Starts the record of a put on `c` and makes `c` count as an open transfer.
    void beginUploadRecord(Connection& c);
    template <typename F>
    void updateUpload(size_t index, F&& change) {
        std::lock_guard<std::mutex> lock(mutex);
        if (index < record.uploads.size()) change(record.uploads[index]);
    }

    // --- opening, epoll and the loop (sim_site.cpp) -----------------------------------------
    int open(std::string& error);
    int closeAll(std::vector<std::unique_ptr<Peer>>& made);
    bool watch(int fd, SourceKind kind, Peer* peer, uint32_t events = EPOLLIN);
    void unwatch(int fd);
    int loop(int durationMs, const std::atomic<bool>* stop);
    void wake();

    // --- UDP answers, faults and reboot (sim_site_udp.cpp) ----------------------------------
    bool lose(Peer& peer, int port, bool received);
    void sendNow(Outgoing& o);
    void queue(Outgoing o, int delayMs);
    std::string junk(Peer& peer);
    void answer(Peer& peer, int fd, int port, const sockaddr_in& to, const std::string& plain,
                SimAnswerForm form, const SimFaults& faults);
    void runDue();
    std::string systemInfo(const Peer& peer);
    static bool tcpSupport(const Peer& peer);
    void onDeviceRequest(Peer& peer, const sockaddr_in& from, const std::string& action);
    void onListRequest(Peer& peer, const sockaddr_in& from, const std::string& text);
    void onDatagrams(Peer& peer, bool listPort);
    void deliver(Peer& peer, bool listPort, int port, const sockaddr_in& from, const char* bytes,
                 size_t length);
    bool fragment(int fd, const sockaddr_in& from, const char* bytes, size_t length, std::string& whole);
    void reboot(Peer& peer);

    // --- the upload service (sim_site_upload.cpp) -------------------------------------------
    int openUploadService(Peer& peer, int port = 0);
    void closeUploadService(Peer& peer);
    void onAccept(Peer& peer);
    void endTransfer(Connection& c);
    void closeConnection(int fd);
    void reply(Connection& c, const std::string& bytes, bool thenClose);
    bool flush(Connection& c);
    bool refillFromFiller(Connection& c);
    int64_t nextTrickleDue() const;
    void runTrickles();
    void finishPut(Connection& c);
    void refuse(Connection& c, const std::string& why);
    bool consume(Connection& c, const char* data, size_t length);
    bool takeName(Connection& c, const char* data, size_t length, size_t& at);
    bool takeContent(Connection& c, const char* data, size_t length, size_t& at);
    bool takeIntegerByte(Connection& c, char byte);
    bool onCommand(Connection& c, int32_t value);
    bool onNameLength(Connection& c, int32_t value);
    bool onSize(Connection& c, int32_t value);
    bool startedPut(const Connection& c);
    void onConnection(int fd, uint32_t events);
};
