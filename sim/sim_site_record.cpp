// The simulated site's record: what every peer received and sent, each upload connection and each
// reboot; the queries tests ask of it, its JSON form (format in sim/README.md), and the Impl
// members that write it under Impl::mutex.
#include <arpa/inet.h>

#include <nlohmann/json.hpp>

#include "sim/sim_site_impl.h"

using namespace sim_internal;

namespace {

constexpr int kMaxRecordedText = 2048;

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
// Writing the record

void SimSite::Impl::recordDatagram(const Peer& peer, int port, bool received, const sockaddr_in& remote,
                                   const char* bytes, size_t length, std::string action, bool garbage,
                                   bool lost) {
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

void SimSite::Impl::beginUploadRecord(Connection& c) {
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
        if (activeTransfers > record.maxConcurrentTransfers) record.maxConcurrentTransfers = activeTransfers;
    }
}

std::string sim_internal::textOf(const char* bytes, size_t length, size_t limit) {
    size_t end = 0;
    while (end < length && bytes[end] != '\0') ++end;
    if (end > limit) end = limit;
    return std::string(bytes, end);
}
