// The simulated site's UDP side: each device's answers on 5360 (system information, the upload
// service's port, reboot), the address box's lists on 5160, the faults that shape every answer
// (silence, delay, twice, junk, loss), long requests that arrive as fragments, and the reboot.
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "sim/sim_site_impl.h"

using namespace sim_internal;

namespace {

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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Loss, junk and sending

// Is the next datagram this peer receives (or sends) on `port` lost? Each port and direction
// draws from a stream of its own, so a seed loses the same datagrams whatever the other peers do.
bool SimSite::Impl::lose(Peer& peer, int port, bool received) {
    const double fraction = port == QN_PORT_ADDRESS_BOX ? peer.listLoss : peer.loss;
    if (fraction <= 0) return false;
    const int stream = (port == QN_PORT_ADDRESS_BOX ? 2 : 0) + (received ? 1 : 0);
    const uint64_t draw = peer.lossDraws[stream]++;
    const uint64_t bits =
        mix(peer.lossKey + static_cast<uint64_t>(stream) * 0x9E3779B97F4A7C15ull + mix(draw));
    return static_cast<double>(bits >> 11) * 0x1.0p-53 < fraction;
}

void SimSite::Impl::sendNow(Outgoing& o) {
    if (lose(*o.peer, o.port, false)) {
        recordDatagram(*o.peer, o.port, false, o.to, o.bytes.data(), o.bytes.size(), o.action, o.garbage,
                       true);
        return;
    }
    ssize_t sent = ::sendto(o.fd, o.bytes.data(), o.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&o.to),
                            sizeof o.to);
    if (sent < 0) return;  // the peer's answer is lost, as on a real network
    recordDatagram(*o.peer, o.port, false, o.to, o.bytes.data(), o.bytes.size(), o.action, o.garbage);
}

void SimSite::Impl::queue(Outgoing o, int delayMs) {
    if (delayMs <= 0) {
        sendNow(o);
        return;
    }
    scheduled.emplace(std::make_pair(monotonicMs() + delayMs, sequence++), std::move(o));
}

// Junk a garbage fault sends: random bytes, blank and colon lines, a marker with non-hex
// payload, an unterminated long line, an unknown action.
std::string SimSite::Impl::junk(Peer& peer) {
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
void SimSite::Impl::answer(Peer& peer, int fd, int port, const sockaddr_in& to, const std::string& plain,
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

void SimSite::Impl::runDue() {
    const int64_t now = monotonicMs();
    while (!scheduled.empty() && scheduled.begin()->first.first <= now) {
        Outgoing o = std::move(scheduled.begin()->second);
        scheduled.erase(scheduled.begin());
        sendNow(o);
    }
}

// ---------------------------------------------------------------------------------------------
// Requests and answers

std::string SimSite::Impl::systemInfo(const Peer& peer) {
    const SimDeviceConfig& c = peer.config;
    SS_PairList fields;
    pairListSet(QNKEY_IP, fields, c.reportedIp.value_or(c.ip).c_str());
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

bool SimSite::Impl::tcpSupport(const Peer& peer) {
    return peer.config.tcpSupport && !peer.config.faults.noTcpSupport;
}

void SimSite::Impl::onDeviceRequest(Peer& peer, const sockaddr_in& from, const std::string& action) {
    const SimDeviceConfig& c = peer.config;
    if (c.faults.silent) return;
    if (peer.downForever || monotonicMs() < peer.downUntilMs) return;  // rebooting
    if (action == QNACTION_GET_SYSTEM_INFO) {
        answer(peer, peer.udp.get(), QN_PORT_DEVICE, from, systemInfo(peer), c.systemInfoForm, c.faults);
    } else if (action == QNACTION_START_UPLOAD_SERVICE) {
        int port = 0;
        if (c.faults.uploadPort) {
            // The odd number goes out as it is; a tool that wraps it to 16 bits finds a service there.
            const int wrapped = static_cast<int>(static_cast<uint32_t>(*c.faults.uploadPort) & 0xFFFF);
            if (wrapped != 0) openUploadService(peer, wrapped);
            port = *c.faults.uploadPort;
        } else if (!c.faults.portZero) {
            port = openUploadService(peer);
        }
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

void SimSite::Impl::onListRequest(Peer& peer, const sockaddr_in& from, const std::string& text) {
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
        if (p.get() != &peer && p->config.listed && asked(p->config.model)) addresses.push_back(p->config.ip);
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
               buildActionMessage(QNACTION_UPDATE_IP_ADDRESS, fields), SimAnswerForm::Plain, b.listFaults);
    }
}

void SimSite::Impl::onDatagrams(Peer& peer, bool listPort) {
    const int fd = listPort ? peer.list.get() : peer.udp.get();
    const int port = listPort ? QN_PORT_ADDRESS_BOX : QN_PORT_DEVICE;
    static thread_local std::vector<char> buffer(65536);
    for (int i = 0; i < 64; ++i) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t length =
            ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) return;  // EAGAIN: drained
        if (lose(peer, port, true)) {
            const std::string text = textOf(buffer.data(), static_cast<size_t>(length));
            recordDatagram(peer, port, true, from, buffer.data(), static_cast<size_t>(length), actionOf(text),
                           false, true);
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

void SimSite::Impl::deliver(Peer& peer, bool listPort, int port, const sockaddr_in& from, const char* bytes,
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
bool SimSite::Impl::fragment(int fd, const sockaddr_in& from, const char* bytes, size_t length,
                             std::string& whole) {
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
    const std::string key = std::to_string(fd) + " " + endpointText(from) + " " + std::to_string(sequence);
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

// A Reboot request: the device takes the version of its last accepted upload (or the configured
// one), is down as its faults say, and its upload service closes.
void SimSite::Impl::reboot(Peer& peer) {
    std::string next;
    {
        std::lock_guard<std::mutex> lock(mutex);
        next = peer.softVersion;
    }
    const std::string old = next;
    const SimFaults& faults = peer.config.faults;
    if (!faults.bootsOldVersion) {  // otherwise the old image boots again
        if (peer.acceptedUpload && peer.acceptedVersion)
            next = *peer.acceptedVersion;
        else if (peer.config.versionAfterReboot)
            next = *peer.config.versionAfterReboot;
    }
    if (faults.rebootDownMs > 0) peer.downUntilMs = monotonicMs() + faults.rebootDownMs;
    if (faults.staysDown) peer.downForever = true;
    if (const auto& bad = peer.config.badPackage;
        bad && peer.acceptedUpload && (!bad->version || peer.acceptedVersion == bad->version)) {
        switch (bad->after) {
            case SimAfterBadPackage::neverBack:
                peer.downForever = true;
                break;
            case SimAfterBadPackage::oldVersion:
                next = old;
                break;
            case SimAfterBadPackage::longSilence:
                peer.downUntilMs = std::max(peer.downUntilMs, monotonicMs() + bad->silenceMs);
                break;
        }
    }
    peer.acceptedUpload = false;
    peer.acceptedVersion.reset();
    closeUploadService(peer);
    std::lock_guard<std::mutex> lock(mutex);
    record.reboots.push_back(SimRebootRecord{peer.config.ip, nowMs(), peer.softVersion, next});
    peer.softVersion = next;
}
