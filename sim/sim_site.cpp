// The simulated site: one epoll loop plays the address box and every device of a SimConfig.
// Threads: the loop runs either on the site's own thread (start) or in the caller's (run); every
// socket and every peer's protocol state belongs to that loop alone. The record and the peers'
// reported SoftVersion are shared with readers on other threads and guarded by Impl::mutex.
#include "sim/sim_site.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "sim/package_maker.h"
#include "sim/sha256.h"

namespace {

constexpr int kMaxRecordedText = 2048;
constexpr int kMaxNameLength = 4096;
constexpr int64_t kMaxUploadSize = 419430400;  // 400 MiB, the transfer's own limit
constexpr size_t kHeadBytes = 4096;            // stored start of an upload kept for its version text
// Commands of the TCP file transfer (little-endian 32-bit integers).
constexpr int32_t kCommandPut = 1;
constexpr int32_t kCommandClose = 4;
constexpr int32_t kCommandOk = 5;
constexpr int32_t kCommandError = 255;

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
int64_t monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
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

std::string endpointText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

sockaddr_in makeAddress(const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

// A non-blocking socket with SO_REUSEADDR bound to ip:port (port 0: any free port).
UniqueFd bindSocket(int type, const std::string& ip, int port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::string("socket: ") + std::strerror(errno);
        return UniqueFd();
    }
    int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = makeAddress(ip, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

// The text of a datagram: its bytes up to the first zero byte (at most `limit` of them).
std::string textOf(const char* bytes, size_t length, size_t limit = SIZE_MAX) {
    size_t end = 0;
    while (end < length && bytes[end] != '\0') ++end;
    if (end > limit) end = limit;
    return std::string(bytes, end);
}

std::string actionOf(const std::string& text) {
    SS_PairList list;
    stringToPairList(text.c_str(), list);
    std::optional<std::string> action;
    pairListGetString(&list, QNKEY_ACTION, action);
    return action.value_or("");
}

int kindOf(SimAnswerForm form) {
    switch (form) {
        case SimAnswerForm::Xor:
            return MARKED_TEXT_XOR;
        case SimAnswerForm::Des:
            return MARKED_TEXT_DES;
        case SimAnswerForm::Plain:
            break;
    }
    return MARKED_TEXT_NONE;
}

// splitmix64's finaliser: a well-spread 64-bit value for every input.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t fnv1a(const std::string& text) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

void putInteger(std::string& out, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Record queries and JSON

int SimRecord::countReceived(const std::string& ip, const char* action) const {
    int count = 0;
    for (const auto& d : datagrams)
        if (d.received && !d.lost && d.peerIp == ip && (action == nullptr || d.action == action)) ++count;
    return count;
}

int SimRecord::countSent(const std::string& ip, const char* action) const {
    int count = 0;
    for (const auto& d : datagrams)
        if (!d.received && !d.lost && d.peerIp == ip && (action == nullptr || d.action == action)) ++count;
    return count;
}

std::vector<SimUploadRecord> SimRecord::uploadsTo(const std::string& ip) const {
    std::vector<SimUploadRecord> out;
    for (const auto& u : uploads)
        if (u.deviceIp == ip) out.push_back(u);
    return out;
}

namespace {

using Json = nlohmann::ordered_json;  // members in the order written

// A GBK text as JSON: "key": UTF-8 text, or "keyHex": the bytes in hex when they are not GBK.
void setText(Json& object, const std::string& key, const std::string& gbk) {
    std::string utf8;
    if (simGbkToUtf8(gbk, utf8)) {
        object[key] = utf8;
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : gbk) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    object[key + "Hex"] = hex;
}

}  // namespace

std::string simRecordToJson(const SimRecord& record) {
    Json root = Json::object();
    root["startedMs"] = record.startedMs;
    root["endedMs"] = record.endedMs;
    root["maxConcurrentTransfers"] = record.maxConcurrentTransfers;
    Json datagrams = Json::array();
    for (const auto& d : record.datagrams) {
        Json item = Json::object();
        item["timeMs"] = d.timeMs;
        item["peer"] = d.peerIp + ":" + std::to_string(d.peerPort);
        item["direction"] = d.received ? "received" : "sent";
        item[d.received ? "from" : "to"] = d.remote;
        setText(item, "action", d.action);
        item["size"] = d.size;
        if (d.garbage) item["garbage"] = true;
        if (d.lost) item["lost"] = true;
        setText(item, "text", d.text);
        datagrams.push_back(std::move(item));
    }
    Json uploads = Json::array();
    for (const auto& u : record.uploads) {
        Json item = Json::object();
        item["device"] = u.deviceIp;
        item["client"] = u.client;
        item["acceptedMs"] = u.acceptedMs;
        item["endedMs"] = u.endedMs;
        setText(item, "remoteName", u.remoteName);
        item["declaredSize"] = u.declaredSize;
        item["receivedSize"] = u.receivedSize;
        item["complete"] = u.complete;
        item["sha256"] = u.sha256;
        item["reply"] = u.reply;
        item["closeCommand"] = u.closeCommand;
        if (u.payloadVersion) setText(item, "payloadVersion", *u.payloadVersion);
        uploads.push_back(std::move(item));
    }
    Json reboots = Json::array();
    for (const auto& r : record.reboots) {
        Json item = Json::object();
        item["device"] = r.deviceIp;
        item["timeMs"] = r.timeMs;
        setText(item, "oldVersion", r.oldVersion);
        setText(item, "newVersion", r.newVersion);
        reboots.push_back(std::move(item));
    }
    root["datagrams"] = std::move(datagrams);
    root["uploads"] = std::move(uploads);
    root["reboots"] = std::move(reboots);
    // Every text is valid UTF-8 (converted, or hex); `replace` keeps a slip from throwing anyway.
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// ---------------------------------------------------------------------------------------------
// The site

struct SimSite::Impl {
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
        bool counted = false;  // counts in activeTransfers
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

    mutable std::mutex mutex;  // guards record and every Peer::softVersion
    SimRecord record;

    std::thread thread;  // the site's own loop thread (start/stop; one caller at a time)
    std::atomic<bool> stopping{false};

    explicit Impl(SimConfig c) : config(std::move(c)) {}

    // --- recording --------------------------------------------------------------------------
    void recordDatagram(const Peer& peer, int port, bool received, const sockaddr_in& remote,
                        const char* bytes, size_t length, std::string action, bool garbage,
                        bool lost = false) {
        SimDatagramRecord d;
        d.timeMs = nowMs();
        d.peerIp = peer.config.ip;
        d.peerPort = port;
        d.received = received;
        d.remote = endpointText(remote);
        d.action = std::move(action);
        d.size = static_cast<int>(length);
        d.text = textOf(bytes, length, kMaxRecordedText);
        d.garbage = garbage;
        d.lost = lost;
        std::lock_guard<std::mutex> lock(mutex);
        record.datagrams.push_back(std::move(d));
    }

    template <typename F>
    void updateUpload(size_t index, F&& change) {
        std::lock_guard<std::mutex> lock(mutex);
        if (index < record.uploads.size()) change(record.uploads[index]);
    }

    // --- epoll ------------------------------------------------------------------------------
    bool watch(int fd, SourceKind kind, Peer* peer, uint32_t events = EPOLLIN) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        if (epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) return false;
        sources[fd] = Source{kind, peer};
        return true;
    }
    void unwatch(int fd) {
        epoll_ctl(epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
        sources.erase(fd);
    }

    // --- opening ----------------------------------------------------------------------------
    int open(std::string& error) {
        if (opened) {
            error = "the site is already open";
            return -1;
        }
        std::vector<std::unique_ptr<Peer>> made;
        if (config.addressBox) {
            box = std::make_unique<SimAddressBoxConfig>(*config.addressBox);
            auto peer = std::make_unique<Peer>();
            peer->config = box->device;
            peer->box = box.get();
            made.push_back(std::move(peer));
        }
        for (const SimDeviceConfig& device : config.devices) {
            auto peer = std::make_unique<Peer>();
            peer->config = device;
            made.push_back(std::move(peer));
        }
        for (const auto& peer : made) {
            if (simCheckBindAddress(peer->config.ip, error) != 0) return -1;
            peer->softVersion = peer->config.softVersion;
            peer->loss = peer->config.faults.loss.value_or(config.loss);
            peer->listLoss = peer->box != nullptr ? peer->box->listFaults.loss.value_or(config.loss) : 0;
            peer->lossKey = mix(config.lossSeed ^ mix(fnv1a(peer->config.ip)));
        }
        // Two sockets per peer at most, plus upload services: raise the descriptor limit if needed.
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            rlim_t want = static_cast<rlim_t>(made.size()) * 3 + 256;
            if (limit.rlim_cur < want && limit.rlim_cur < limit.rlim_max) {
                limit.rlim_cur = want < limit.rlim_max ? want : limit.rlim_max;
                setrlimit(RLIMIT_NOFILE, &limit);
            }
        }
        epoll.reset(epoll_create1(EPOLL_CLOEXEC));
        stopEvent.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!epoll || !stopEvent) {
            error = std::string("epoll/eventfd: ") + std::strerror(errno);
            return -1;
        }
        for (const auto& peer : made) {
            peer->udp = bindSocket(SOCK_DGRAM, peer->config.ip, QN_PORT_DEVICE, error);
            if (!peer->udp) return closeAll(made);
            if (peer->box != nullptr) {
                peer->list = bindSocket(SOCK_DGRAM, peer->config.ip, QN_PORT_ADDRESS_BOX, error);
                if (!peer->list) return closeAll(made);
            }
        }
        sources.clear();
        if (!watch(stopEvent.get(), SourceKind::Stop, nullptr)) {
            error = std::string("epoll_ctl: ") + std::strerror(errno);
            return closeAll(made);
        }
        for (const auto& peer : made) {
            bool ok = watch(peer->udp.get(), SourceKind::DeviceUdp, peer.get());
            if (ok && peer->list) ok = watch(peer->list.get(), SourceKind::BoxList, peer.get());
            if (!ok) {
                error = std::string("epoll_ctl: ") + std::strerror(errno);
                return closeAll(made);
            }
        }
        peers = std::move(made);
        opened = true;
        std::lock_guard<std::mutex> lock(mutex);
        record.startedMs = nowMs();
        return 0;
    }

    int closeAll(std::vector<std::unique_ptr<Peer>>& made) {
        for (auto& peer : made) {
            if (peer->udp) unwatch(peer->udp.get());
            if (peer->list) unwatch(peer->list.get());
        }
        made.clear();
        sources.clear();
        return -1;
    }

    // --- loss -------------------------------------------------------------------------------
    // Is the next datagram this peer receives (or sends) on `port` lost? Each port and direction
    // draws from a stream of its own, so a seed loses the same datagrams whatever the other peers do.
    bool lose(Peer& peer, int port, bool received) {
        const double fraction = port == QN_PORT_ADDRESS_BOX ? peer.listLoss : peer.loss;
        if (fraction <= 0) return false;
        const int stream = (port == QN_PORT_ADDRESS_BOX ? 2 : 0) + (received ? 1 : 0);
        const uint64_t draw = peer.lossDraws[stream]++;
        const uint64_t bits =
            mix(peer.lossKey + static_cast<uint64_t>(stream) * 0x9E3779B97F4A7C15ull + mix(draw));
        return static_cast<double>(bits >> 11) * 0x1.0p-53 < fraction;
    }

    // --- sending ----------------------------------------------------------------------------
    void sendNow(Outgoing& o) {
        if (lose(*o.peer, o.port, false)) {
            recordDatagram(*o.peer, o.port, false, o.to, o.bytes.data(), o.bytes.size(), o.action, o.garbage,
                           true);
            return;
        }
        ssize_t sent = ::sendto(o.fd, o.bytes.data(), o.bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&o.to), sizeof o.to);
        if (sent < 0) return;  // the peer's answer is lost, as on a real network
        recordDatagram(*o.peer, o.port, false, o.to, o.bytes.data(), o.bytes.size(), o.action, o.garbage);
    }

    void queue(Outgoing o, int delayMs) {
        if (delayMs <= 0) {
            sendNow(o);
            return;
        }
        scheduled.emplace(std::make_pair(monotonicMs() + delayMs, sequence++), std::move(o));
    }

    // Junk a garbage fault sends: random bytes, blank and colon lines, a marker with non-hex
    // payload, an unterminated long line, an unknown action.
    std::string junk(Peer& peer) {
        switch (peer.junkCounter++ % 5) {
            case 0: {
                std::string bytes;
                uint32_t x = 0x9E3779B9u ^ static_cast<uint32_t>(peer.junkCounter * 2654435761u);
                for (int i = 0; i < 64; ++i) {
                    x ^= x << 13;
                    x ^= x >> 17;
                    x ^= x << 5;
                    bytes += static_cast<char>(x & 0xFF);
                }
                return bytes;
            }
            case 1:
                return "\r\n\r\n:::\r\n: \r\nAction:\r\n\r\n";
            case 2:
                return std::string(kXorMarker) + "zz!!~~";
            case 3:
                return std::string(1500, 'A');
            default:
                return "Action: Garbage\r\nIP: 999.1.2.3\r\n\r\n";
        }
    }

    // Sends an answer text (plain, or marked per `form`) from `fd` to `to`, with the faults.
    void answer(Peer& peer, int fd, int port, const sockaddr_in& to, const std::string& plain,
                SimAnswerForm form, const SimFaults& faults) {
        if (faults.silent) return;
        const std::string action = actionOf(plain);
        std::string wire = form == SimAnswerForm::Plain ? plain : encodeMarkedText(plain, kindOf(form));
        if (form != SimAnswerForm::Plain && peer.config.upperCaseHex)
            for (size_t i = kMarkerLength; i < wire.size(); ++i)
                wire[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(wire[i])));
        wire += '\0';
        const int copies = faults.answerTwice ? 2 : 1;
        for (int i = 0; i < copies; ++i) {
            if (faults.garbage != SimGarbage::None)
                queue(Outgoing{fd, to, junk(peer), &peer, port, "", true}, faults.delayMs);
            if (faults.garbage != SimGarbage::Instead)
                queue(Outgoing{fd, to, wire, &peer, port, action, false}, faults.delayMs);
        }
    }

    void runDue() {
        const int64_t now = monotonicMs();
        while (!scheduled.empty() && scheduled.begin()->first.first <= now) {
            Outgoing o = std::move(scheduled.begin()->second);
            scheduled.erase(scheduled.begin());
            sendNow(o);
        }
    }

    // --- UDP requests -----------------------------------------------------------------------
    std::string systemInfo(const Peer& peer) {
        const SimDeviceConfig& c = peer.config;
        SS_PairList fields;
        pairListSet(QNKEY_IP, fields, c.ip.c_str());
        pairListSet(QNKEY_MODEL, fields, c.model.c_str());
        if (c.master) pairListSet(QNKEY_MASTER, fields, std::to_string(*c.master).c_str());
        if (c.slave) pairListSet(QNKEY_SLAVE, fields, std::to_string(*c.slave).c_str());
        pairListSet(QNKEY_HARD_VERSION, fields, c.hardVersion.c_str());
        pairListSet(QNKEY_PLATFORM, fields, c.platform.c_str());
        pairListSet(QNKEY_KERNEL_VERSION, fields, c.kernelVersion.c_str());
        std::string soft;
        {
            std::lock_guard<std::mutex> lock(mutex);
            soft = peer.softVersion;
        }
        pairListSet(QNKEY_SOFT_VERSION, fields, soft.c_str());
        if (!c.faults.noSerialNum) pairListSet(QNKEY_SERIAL_NUM, fields, c.serialNum.c_str());
        pairListSet(QNKEY_TCP_SUPPORT, fields, tcpSupport(peer) ? "1" : "0");
        pairListSet(QNKEY_UPLOAD_PATH, fields, c.uploadPath.c_str());
        return buildActionMessage(QNACTION_GET_SYSTEM_INFO_OK, fields);
    }

    static bool tcpSupport(const Peer& peer) {
        return peer.config.tcpSupport && !peer.config.faults.noTcpSupport;
    }

    void onDeviceRequest(Peer& peer, const sockaddr_in& from, const std::string& action) {
        const SimDeviceConfig& c = peer.config;
        if (c.faults.silent) return;
        if (peer.downForever || monotonicMs() < peer.downUntilMs) return;  // rebooting
        if (action == QNACTION_GET_SYSTEM_INFO) {
            answer(peer, peer.udp.get(), QN_PORT_DEVICE, from, systemInfo(peer), c.systemInfoForm, c.faults);
        } else if (action == QNACTION_START_UPLOAD_SERVICE) {
            int port = 0;
            if (!c.faults.portZero) port = openUploadService(peer);
            SS_PairList fields;
            pairListSet(QNKEY_PORT, fields, std::to_string(port).c_str());
            pairListSet(QNKEY_TCP_SUPPORT, fields, tcpSupport(peer) ? "1" : "0");
            answer(peer, peer.udp.get(), QN_PORT_DEVICE, from,
                   buildActionMessage(QNACTION_START_UPLOAD_SERVICE_OK, fields), c.answerForm, c.faults);
        } else if (action == QNACTION_REBOOT) {
            answer(peer, peer.udp.get(), QN_PORT_DEVICE, from, buildActionRequest(QNACTION_REBOOT_OK),
                   c.answerForm, c.faults);
            reboot(peer);
        }
    }

    void onListRequest(Peer& peer, const sockaddr_in& from, const std::string& text) {
        const SimAddressBoxConfig& b = *peer.box;
        SS_PairList list;
        stringToPairList(text.c_str(), list);
        std::optional<std::string> action, auth, account;
        pairListGetString(&list, QNKEY_ACTION, action);
        pairListGetString(&list, QNKEY_AUTH, auth);
        pairListGetString(&list, QNKEY_ACCOUNT, account);
        if (action.value_or("") != QNACTION_GET_MODEL_IP_LIST || !account) return;
        std::optional<std::string> expected = makeAuthToken(account->c_str());
        if (!expected || !auth || *auth != *expected) return;  // refused: no answer at all
        std::vector<std::string> models = splitString(account->c_str(), ",");
        auto asked = [&](const std::string& model) {
            for (const auto& m : models)
                if (m == model) return true;
            return false;
        };
        std::vector<std::string> addresses;
        for (const auto& p : peers)
            if (p.get() != &peer && p->config.listed && asked(p->config.model))
                addresses.push_back(p->config.ip);
        for (const auto& phantom : b.phantoms)
            if (phantom.model == "*" || asked(phantom.model)) addresses.push_back(phantom.ip);
        const size_t per = static_cast<size_t>(b.maxAddressesPerDatagram > 0 ? b.maxAddressesPerDatagram : 1);
        for (size_t first = 0; first < addresses.size(); first += per) {
            std::string ips;
            for (size_t i = first; i < addresses.size() && i < first + per; ++i) {
                if (!ips.empty()) ips += ",";
                ips += addresses[i];
            }
            SS_PairList fields;
            pairListSet(QNKEY_IP, fields, ips.c_str());
            answer(peer, peer.list.get(), QN_PORT_ADDRESS_BOX, from,
                   buildActionMessage(QNACTION_UPDATE_IP_ADDRESS, fields), SimAnswerForm::Plain,
                   b.listFaults);
        }
    }

    void onDatagrams(Peer& peer, bool listPort) {
        const int fd = listPort ? peer.list.get() : peer.udp.get();
        const int port = listPort ? QN_PORT_ADDRESS_BOX : QN_PORT_DEVICE;
        static thread_local std::vector<char> buffer(65536);
        for (int i = 0; i < 64; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t length = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (length < 0) return;  // EAGAIN: drained
            if (lose(peer, port, true)) {
                const std::string text = textOf(buffer.data(), static_cast<size_t>(length));
                recordDatagram(peer, port, true, from, buffer.data(), static_cast<size_t>(length),
                               actionOf(text), false, true);
                continue;
            }
            std::string whole;
            if (fragment(fd, from, buffer.data(), static_cast<size_t>(length), whole)) {
                recordDatagram(peer, port, true, from, buffer.data(), static_cast<size_t>(length), "", false);
                if (whole.empty()) continue;  // more pieces to come
                deliver(peer, listPort, port, from, whole.data(), whole.size());
                continue;
            }
            deliver(peer, listPort, port, from, buffer.data(), static_cast<size_t>(length));
        }
    }

    void deliver(Peer& peer, bool listPort, int port, const sockaddr_in& from, const char* bytes,
                 size_t length) {
        const std::string text = textOf(bytes, length);
        const std::string action = actionOf(text);
        recordDatagram(peer, port, true, from, bytes, length, action, false);
        if (listPort)
            onListRequest(peer, from, text);
        else
            onDeviceRequest(peer, from, action);
    }

    // True when the datagram is a fragment; `whole` is then the reassembled payload once its last
    // piece arrived (empty before). Malformed fragments are dropped; unfinished payloads are
    // forgotten after 10 s, and at most 256 are pending.
    bool fragment(int fd, const sockaddr_in& from, const char* bytes, size_t length, std::string& whole) {
        static constexpr char kMarker[] = "__SS_MULTIDATA__";
        constexpr size_t kHeader = 24, kPiece = 1440;
        if (length < kHeader || std::memcmp(bytes, kMarker, 16) != 0) return false;
        auto u16 = [&](size_t at) {
            return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                         (static_cast<uint8_t>(bytes[at + 1]) << 8));
        };
        const uint16_t sequence = u16(16), index = u16(18);
        const size_t total = u16(20), piece = u16(22);
        if (piece != length - kHeader || piece == 0 || piece > kPiece || total == 0 ||
            static_cast<size_t>(index) * kPiece + piece > total)
            return true;
        const int64_t now = monotonicMs();
        for (auto it = reassembly.begin(); it != reassembly.end();)
            it = now - it->second.startedMs > 10000 ? reassembly.erase(it) : std::next(it);
        const std::string key =
            std::to_string(fd) + " " + endpointText(from) + " " + std::to_string(sequence);
        auto found = reassembly.find(key);
        if (found == reassembly.end()) {
            if (reassembly.size() >= 256) return true;
            found = reassembly.emplace(key, Reassembly{now, total, 0, {}}).first;
        }
        Reassembly& r = found->second;
        if (r.total != total || r.pieces.count(index) != 0) return true;
        r.pieces.emplace(index, std::string(bytes + kHeader, piece));
        r.have += piece;
        if (r.have < r.total) return true;
        for (const auto& [i, p] : r.pieces) whole += p;
        reassembly.erase(found);
        if (whole.size() != total) whole.clear();  // pieces that overlap: dropped
        return true;
    }

    // --- the upload service -----------------------------------------------------------------
    int openUploadService(Peer& peer) {
        if (peer.tcp) return peer.tcpPort;
        std::string error;
        UniqueFd fd = bindSocket(SOCK_STREAM, peer.config.ip, 0, error);
        if (!fd || ::listen(fd.get(), 16) != 0) return 0;
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
        if (!watch(fd.get(), SourceKind::TcpListen, &peer)) return 0;
        peer.tcp = std::move(fd);
        peer.tcpPort = ntohs(bound.sin_port);
        return peer.tcpPort;
    }

    void closeUploadService(Peer& peer) {
        if (!peer.tcp) return;
        unwatch(peer.tcp.get());
        peer.tcp.reset();
        peer.tcpPort = 0;
    }

    void reboot(Peer& peer) {
        std::string next;
        {
            std::lock_guard<std::mutex> lock(mutex);
            next = peer.softVersion;
        }
        const SimFaults& faults = peer.config.faults;
        if (faults.bootsOldVersion)
            ;  // the old image boots again
        else if (peer.acceptedUpload && peer.acceptedVersion)
            next = *peer.acceptedVersion;
        else if (peer.config.versionAfterReboot)
            next = *peer.config.versionAfterReboot;
        if (faults.rebootDownMs > 0) peer.downUntilMs = monotonicMs() + faults.rebootDownMs;
        if (faults.staysDown) peer.downForever = true;
        peer.acceptedUpload = false;
        peer.acceptedVersion.reset();
        closeUploadService(peer);
        std::lock_guard<std::mutex> lock(mutex);
        record.reboots.push_back(SimRebootRecord{peer.config.ip, nowMs(), peer.softVersion, next});
        peer.softVersion = next;
    }

    void onAccept(Peer& peer) {
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            int fd = ::accept4(peer.tcp.get(), reinterpret_cast<sockaddr*>(&from), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            auto connection = std::make_unique<Connection>();
            connection->fd.reset(fd);
            connection->peer = &peer;
            connection->client = endpointText(from);
            if (!watch(fd, SourceKind::TcpConnection, &peer)) continue;  // closed by its UniqueFd
            connection->counted = true;
            ++activeTransfers;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (activeTransfers > record.maxConcurrentTransfers)
                    record.maxConcurrentTransfers = activeTransfers;
                SimUploadRecord upload;
                upload.deviceIp = peer.config.ip;
                upload.client = connection->client;
                upload.acceptedMs = nowMs();
                record.uploads.push_back(upload);
                connection->upload = record.uploads.size() - 1;
            }
            connections[fd] = std::move(connection);
        }
    }

    void endTransfer(Connection& c) {
        if (!c.counted) return;
        c.counted = false;
        --activeTransfers;
        updateUpload(c.upload, [](SimUploadRecord& u) { u.endedMs = nowMs(); });
    }

    void closeConnection(int fd) {
        auto it = connections.find(fd);
        if (it == connections.end()) return;
        endTransfer(*it->second);
        unwatch(fd);
        connections.erase(it);  // closes the descriptor
    }

    // Queues reply bytes; the connection is closed once they are written when `thenClose`.
    void reply(Connection& c, const std::string& bytes, bool thenClose) {
        c.out += bytes;
        c.closeAfterWrite = c.closeAfterWrite || thenClose;
        flush(c);
    }

    // Writes what is pending; false when the connection was closed.
    bool flush(Connection& c) {
        while (!c.out.empty()) {
            ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c.out.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                epoll_event event{};
                event.events = EPOLLIN | EPOLLOUT;
                event.data.fd = c.fd.get();
                epoll_ctl(epoll.get(), EPOLL_CTL_MOD, c.fd.get(), &event);
                return true;
            }
            closeConnection(c.fd.get());
            return false;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = c.fd.get();
        epoll_ctl(epoll.get(), EPOLL_CTL_MOD, c.fd.get(), &event);
        if (c.closeAfterWrite) {
            closeConnection(c.fd.get());
            return false;
        }
        return true;
    }

    // The verdict on a complete put.
    void finishPut(Connection& c) {
        const SimFaults& faults = c.peer->config.faults;
        const std::string digest = c.sha.finishHex();
        std::optional<std::string> version = simPackageVersion(c.head);
        std::string bytes;
        int code = kCommandOk;
        const bool refuseThisPut = faults.failFirstPut && c.peer->puts++ == 0;
        if (refuseThisPut && !faults.tcpErrorText) {
            static const std::string text = "\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC";  // GBK 写入失败
            code = kCommandError;
            putInteger(bytes, kCommandError);
            putInteger(bytes, static_cast<int32_t>(text.size()));
            bytes += text;
        } else if (faults.tcpErrorText && (refuseThisPut || !faults.failFirstPut)) {
            code = kCommandError;
            putInteger(bytes, kCommandError);
            putInteger(bytes, static_cast<int32_t>(faults.tcpErrorText->size()));
            bytes += *faults.tcpErrorText;
        } else if (faults.tcpReplyCode && !faults.failFirstPut) {
            code = *faults.tcpReplyCode;
            putInteger(bytes, code);
        } else {
            putInteger(bytes, kCommandOk);
            c.peer->acceptedUpload = true;
            c.peer->acceptedVersion = version;
        }
        updateUpload(c.upload, [&](SimUploadRecord& u) {
            u.complete = true;
            u.sha256 = digest;
            u.reply = code;
            u.payloadVersion = version;
        });
        endTransfer(c);
        c.stage = Stage::Command;
        reply(c, bytes, false);
    }

    void refuse(Connection& c, const std::string& why) {
        std::string bytes;
        putInteger(bytes, kCommandError);
        putInteger(bytes, static_cast<int32_t>(why.size()));
        bytes += why;
        updateUpload(c.upload, [](SimUploadRecord& u) {
            if (!u.complete) u.reply = kCommandError;  // a finished put keeps its own verdict
        });
        endTransfer(c);
        c.stage = Stage::Done;
        reply(c, bytes, true);
    }

    // Feeds received bytes to the put parser; false when the connection was closed.
    bool consume(Connection& c, const char* data, size_t length) {
        const int fd = c.fd.get();  // `c` is gone once the connection is closed
        size_t at = 0;
        while (at < length) {
            if (c.stage == Stage::Done) return true;  // ignore whatever follows a refusal
            if (c.stage == Stage::Name) {
                size_t take = std::min(length - at, static_cast<size_t>(c.nameLength) - c.name.size());
                c.name.append(data + at, take);
                at += take;
                if (c.name.size() == static_cast<size_t>(c.nameLength)) {
                    updateUpload(c.upload, [&](SimUploadRecord& u) { u.remoteName = c.name; });
                    c.stage = Stage::Size;
                }
                continue;
            }
            if (c.stage == Stage::Content) {
                int64_t want = c.size - c.received;
                if (c.peer->config.faults.closeHalfway) want = std::max<int64_t>(0, c.size / 2 - c.received);
                size_t take = std::min(length - at, static_cast<size_t>(want));
                c.sha.update(data + at, take);
                if (c.head.size() < kHeadBytes)
                    c.head.append(data + at, std::min(take, kHeadBytes - c.head.size()));
                c.received += static_cast<int64_t>(take);
                at += take;
                const int64_t received = c.received;
                updateUpload(c.upload, [&](SimUploadRecord& u) { u.receivedSize = received; });
                if (c.peer->config.faults.closeHalfway && c.received >= c.size / 2) {
                    closeConnection(fd);  // half-way: no reply
                    return false;
                }
                if (c.received == c.size) {
                    finishPut(c);
                    if (connections.count(fd) == 0) return false;
                }
                continue;
            }
            // An integer field.
            c.integer[c.integerHave++] = static_cast<uint8_t>(data[at++]);
            if (c.integerHave < 4) continue;
            c.integerHave = 0;
            const int32_t value =
                static_cast<int32_t>(uint32_t(c.integer[0]) | (uint32_t(c.integer[1]) << 8) |
                                     (uint32_t(c.integer[2]) << 16) | (uint32_t(c.integer[3]) << 24));
            switch (c.stage) {
                case Stage::Command:
                    if (value == kCommandPut) {
                        if (c.upload == SIZE_MAX || startedPut(c)) newUpload(c);
                        c.stage = Stage::NameLength;
                    } else if (value == kCommandClose) {
                        updateUpload(c.upload, [](SimUploadRecord& u) { u.closeCommand = true; });
                        closeConnection(c.fd.get());
                        return false;
                    } else {
                        refuse(c, "unknown command " + std::to_string(value));
                        return connections.count(fd) != 0;
                    }
                    break;
                case Stage::NameLength:
                    if (value <= 0 || value > kMaxNameLength) {
                        refuse(c, "bad file name length");
                        return connections.count(fd) != 0;
                    }
                    c.nameLength = value;
                    c.name.clear();
                    c.stage = Stage::Name;
                    break;
                case Stage::Size:
                    if (value <= 0 || value > kMaxUploadSize) {
                        refuse(c, "bad file size");
                        return connections.count(fd) != 0;
                    }
                    c.size = value;
                    c.received = 0;
                    c.head.clear();
                    c.sha = Sha256();
                    updateUpload(c.upload, [&](SimUploadRecord& u) { u.declaredSize = value; });
                    c.stage = Stage::Content;
                    if (c.peer->config.faults.closeHalfway && c.size / 2 == 0) {
                        closeConnection(c.fd.get());
                        return false;
                    }
                    break;
                default:
                    break;
            }
        }
        return true;
    }

    bool startedPut(const Connection& c) {
        std::lock_guard<std::mutex> lock(mutex);
        return c.upload < record.uploads.size() && record.uploads[c.upload].declaredSize >= 0;
    }

    // A second put on one connection gets a record of its own.
    void newUpload(Connection& c) {
        std::lock_guard<std::mutex> lock(mutex);
        SimUploadRecord upload;
        upload.deviceIp = c.peer->config.ip;
        upload.client = c.client;
        upload.acceptedMs = nowMs();
        record.uploads.push_back(upload);
        c.upload = record.uploads.size() - 1;
        if (!c.counted) {
            c.counted = true;
            ++activeTransfers;
            if (activeTransfers > record.maxConcurrentTransfers)
                record.maxConcurrentTransfers = activeTransfers;
        }
    }

    void onConnection(int fd, uint32_t events) {
        auto it = connections.find(fd);
        if (it == connections.end()) return;
        Connection& c = *it->second;
        if ((events & EPOLLOUT) != 0 && !flush(c)) return;
        if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) == 0) return;
        static thread_local std::vector<char> buffer(65536);
        for (int i = 0; i < 16; ++i) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                closeConnection(fd);
                return;
            }
            if (n < 0) return;
            if (!consume(c, buffer.data(), static_cast<size_t>(n))) return;
        }
    }

    // --- the loop ---------------------------------------------------------------------------
    int loop(int durationMs, const std::atomic<bool>* stop) {
        if (!opened) return -1;
        const int64_t deadline = durationMs > 0 ? monotonicMs() + durationMs : INT64_MAX;
        epoll_event events[64];
        while (!stopping.load() && (stop == nullptr || !stop->load())) {
            int64_t now = monotonicMs();
            if (now >= deadline) break;
            int64_t wait = std::min<int64_t>(deadline - now, stop != nullptr ? 100 : 1000);
            if (!scheduled.empty())
                wait = std::min(wait, std::max<int64_t>(0, scheduled.begin()->first.first - now));
            int n = epoll_wait(epoll.get(), events, 64, static_cast<int>(wait));
            if (n < 0 && errno != EINTR) break;
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                auto it = sources.find(fd);
                if (it == sources.end()) continue;
                Source source = it->second;
                switch (source.kind) {
                    case SourceKind::Stop: {
                        uint64_t value = 0;
                        ssize_t ignored = ::read(fd, &value, sizeof value);
                        (void)ignored;
                        break;
                    }
                    case SourceKind::DeviceUdp:
                        onDatagrams(*source.peer, false);
                        break;
                    case SourceKind::BoxList:
                        onDatagrams(*source.peer, true);
                        break;
                    case SourceKind::TcpListen:
                        onAccept(*source.peer);
                        break;
                    case SourceKind::TcpConnection:
                        onConnection(fd, events[i].events);
                        break;
                }
            }
            runDue();
        }
        std::lock_guard<std::mutex> lock(mutex);
        record.endedMs = nowMs();
        return 0;
    }

    void wake() {
        if (!stopEvent) return;
        uint64_t one = 1;
        ssize_t ignored = ::write(stopEvent.get(), &one, sizeof one);
        (void)ignored;
    }
};

SimSite::SimSite(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SimSite::~SimSite() {
    stop();
}

int SimSite::open(std::string& error) {
    return impl_->open(error);
}

int SimSite::start() {
    if (!impl_->opened || impl_->thread.joinable()) return -1;
    impl_->stopping = false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->loop(0, nullptr); });
    return 0;
}

int SimSite::run(int durationMs, const std::atomic<bool>* stop) {
    return impl_->loop(durationMs, stop);
}

void SimSite::stop() {
    impl_->stopping = true;
    impl_->wake();
    if (impl_->thread.joinable()) impl_->thread.join();
}

SimRecord SimSite::record() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->record;
}

std::optional<std::string> SimSite::softVersion(const std::string& ip) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const auto& peer : impl_->peers)
        if (peer->config.ip == ip) return peer->softVersion;
    return std::nullopt;
}

int SimSite::peerCount() const {
    return static_cast<int>(impl_->config.devices.size()) + (impl_->config.addressBox ? 1 : 0);
}
