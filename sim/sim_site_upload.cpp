// The simulated site's TCP upload service: the listening socket a device opens on request, its
// connections, the put parser (command, name length, name, size, content; little-endian 32-bit
// integers), the verdict a put gets under the device's faults, and the replies written back.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "sim/package_maker.h"
#include "sim/sim_site_impl.h"

using namespace sim_internal;

namespace {

constexpr int kMaxNameLength = 4096;
constexpr int64_t kMaxUploadSize = 419430400;  // 400 MiB, the transfer's own limit
constexpr size_t kHeadBytes = 4096;            // stored start of an upload kept for its version text
// Commands of the TCP file transfer (little-endian 32-bit integers).
constexpr int32_t kCommandPut = 1;
constexpr int32_t kCommandClose = 4;
constexpr int32_t kCommandOk = 5;
constexpr int32_t kCommandError = 255;

void putInteger(std::string& out, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The reply that refuses a put: 255, the text's length, the text (GBK).
std::string errorReply(const std::string& text) {
    std::string bytes;
    putInteger(bytes, kCommandError);
    putInteger(bytes, static_cast<int32_t>(text.size()));
    bytes += text;
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The service and its connections

int SimSite::Impl::openUploadService(Peer& peer, int port) {
    if (peer.tcp) return peer.tcpPort;
    std::string error;
    UniqueFd fd = bindSocket(SOCK_STREAM, peer.config.ip, port, error);
    if (!fd || ::listen(fd.get(), 16) != 0) return 0;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    if (!watch(fd.get(), SourceKind::TcpListen, &peer)) return 0;
    peer.tcp = std::move(fd);
    peer.tcpPort = ntohs(bound.sin_port);
    return peer.tcpPort;
}

void SimSite::Impl::closeUploadService(Peer& peer) {
    if (!peer.tcp) return;
    unwatch(peer.tcp.get());
    peer.tcp.reset();
    peer.tcpPort = 0;
}

void SimSite::Impl::onAccept(Peer& peer) {
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
        beginUploadRecord(*connection);
        connections[fd] = std::move(connection);
    }
}

void SimSite::Impl::endTransfer(Connection& c) {
    if (!c.counted) return;
    c.counted = false;
    --activeTransfers;
    updateUpload(c.upload, [](SimUploadRecord& u) { u.endedMs = nowMs(); });
}

void SimSite::Impl::closeConnection(int fd) {
    auto it = connections.find(fd);
    if (it == connections.end()) return;
    trickling.erase(fd);
    endTransfer(*it->second);
    unwatch(fd);
    connections.erase(it);  // closes the descriptor
}

// Queues reply bytes; the connection is closed once they are written when `thenClose`. Under the
// replyTrickleMs fault they leave one byte at a time from the loop (runTrickles).
void SimSite::Impl::reply(Connection& c, const std::string& bytes, bool thenClose) {
    c.out += bytes;
    c.closeAfterWrite = c.closeAfterWrite || thenClose;
    if (c.peer->config.faults.replyTrickleMs > 0) {
        if (c.nextByteMs == 0) c.nextByteMs = monotonicMs();
        trickling.insert(c.fd.get());
        return;
    }
    flush(c);
}

// Moves the next piece of filler into `out` when it is empty; false when nothing is left to write.
bool SimSite::Impl::refillFromFiller(Connection& c) {
    if (!c.out.empty()) return true;
    if (c.fillerLeft <= 0) return false;
    const int64_t piece = std::min<int64_t>(c.fillerLeft, 65536);
    c.out.assign(static_cast<size_t>(piece), 'x');
    c.fillerLeft -= piece;
    return true;
}

int64_t SimSite::Impl::nextTrickleDue() const {
    int64_t due = INT64_MAX;
    for (int fd : trickling)
        if (auto it = connections.find(fd); it != connections.end())
            due = std::min(due, it->second->nextByteMs);
    return due;
}

// Writes one byte of every trickling reply that is due.
void SimSite::Impl::runTrickles() {
    const int64_t now = monotonicMs();
    const std::vector<int> fds(trickling.begin(), trickling.end());
    for (int fd : fds) {
        auto it = connections.find(fd);
        if (it == connections.end()) {
            trickling.erase(fd);
            continue;
        }
        Connection& c = *it->second;
        if (c.nextByteMs > now) continue;
        if (!refillFromFiller(c)) {  // the whole reply went out
            trickling.erase(fd);
            c.nextByteMs = 0;
            if (c.closeAfterWrite) closeConnection(fd);
            continue;
        }
        const ssize_t n = ::send(fd, c.out.data(), 1, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            closeConnection(fd);
            continue;
        }
        if (n == 1) c.out.erase(0, 1);
        c.nextByteMs = now + c.peer->config.faults.replyTrickleMs;
    }
}

// Writes what is pending; false when the connection was closed.
bool SimSite::Impl::flush(Connection& c) {
    if (trickling.count(c.fd.get()) != 0) return true;  // runTrickles writes it
    while (refillFromFiller(c)) {
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

void SimSite::Impl::onConnection(int fd, uint32_t events) {
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

// ---------------------------------------------------------------------------------------------
// Verdicts

// The verdict on a complete put.
void SimSite::Impl::finishPut(Connection& c) {
    const SimFaults& faults = c.peer->config.faults;
    const std::string digest = c.sha.finishHex();
    std::optional<std::string> version = simPackageVersion(c.head);
    std::string bytes;
    int code = kCommandOk;
    const bool refuseThisPut = faults.failFirstPut && c.peer->puts++ == 0;
    if (faults.tcpErrorLength && (refuseThisPut || !faults.failFirstPut)) {
        // 255 and a declared length the text is padded up to, however long (written as it goes).
        const std::string text = faults.tcpErrorText.value_or("\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC");
        const int64_t length = *faults.tcpErrorLength;
        code = kCommandError;
        putInteger(bytes, kCommandError);
        putInteger(bytes, *faults.tcpErrorLength);
        bytes += text.substr(0, static_cast<size_t>(std::min<int64_t>(length, text.size())));
        c.fillerLeft = length - std::min<int64_t>(length, text.size());
    } else if (refuseThisPut && !faults.tcpErrorText) {
        code = kCommandError;
        bytes = errorReply("\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC");  // GBK 写入失败
    } else if (faults.tcpErrorText && (refuseThisPut || !faults.failFirstPut)) {
        code = kCommandError;
        bytes = errorReply(*faults.tcpErrorText);
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

void SimSite::Impl::refuse(Connection& c, const std::string& why) {
    updateUpload(c.upload, [](SimUploadRecord& u) {
        if (!u.complete) u.reply = kCommandError;  // a finished put keeps its own verdict
    });
    endTransfer(c);
    c.stage = Stage::Done;
    reply(c, errorReply(why), true);
}

// ---------------------------------------------------------------------------------------------
// The put parser

// Feeds received bytes to the put parser; false when the connection was closed.
bool SimSite::Impl::consume(Connection& c, const char* data, size_t length) {
    size_t at = 0;
    while (at < length) {
        if (c.stage == Stage::Done) return true;  // ignore whatever follows a refusal
        bool alive = true;
        if (c.stage == Stage::Name)
            alive = takeName(c, data, length, at);
        else if (c.stage == Stage::Content)
            alive = takeContent(c, data, length, at);
        else
            alive = takeIntegerByte(c, data[at++]);
        if (!alive) return false;  // `c` is gone
    }
    return true;
}

// Bytes of the file name; on to the size once the name is whole. Never closes the connection.
bool SimSite::Impl::takeName(Connection& c, const char* data, size_t length, size_t& at) {
    size_t take = std::min(length - at, static_cast<size_t>(c.nameLength) - c.name.size());
    c.name.append(data + at, take);
    at += take;
    if (c.name.size() == static_cast<size_t>(c.nameLength)) {
        updateUpload(c.upload, [&](SimUploadRecord& u) { u.remoteName = c.name; });
        c.stage = Stage::Size;
    }
    return true;
}

// Bytes of the content; the verdict once all arrived (the closeHalfway fault closes half-way
// through instead). False when the connection was closed.
bool SimSite::Impl::takeContent(Connection& c, const char* data, size_t length, size_t& at) {
    const int fd = c.fd.get();  // `c` is gone once the connection is closed
    int64_t want = c.size - c.received;
    if (c.peer->config.faults.closeHalfway) want = std::max<int64_t>(0, c.size / 2 - c.received);
    size_t take = std::min(length - at, static_cast<size_t>(want));
    c.sha.update(data + at, take);
    if (c.head.size() < kHeadBytes) c.head.append(data + at, std::min(take, kHeadBytes - c.head.size()));
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
    return true;
}

// One byte of an integer field (command, name length or size); the field's step once it has its
// four bytes. False when the connection was closed.
bool SimSite::Impl::takeIntegerByte(Connection& c, char byte) {
    c.integer[c.integerHave++] = static_cast<uint8_t>(byte);
    if (c.integerHave < 4) return true;
    c.integerHave = 0;
    const int32_t value =
        static_cast<int32_t>(uint32_t(c.integer[0]) | (uint32_t(c.integer[1]) << 8) |
                             (uint32_t(c.integer[2]) << 16) | (uint32_t(c.integer[3]) << 24));
    switch (c.stage) {
        case Stage::Command:
            return onCommand(c, value);
        case Stage::NameLength:
            return onNameLength(c, value);
        case Stage::Size:
            return onSize(c, value);
        default:
            return true;
    }
}

// A command: put (a second put on one connection gets a record of its own), close, or anything
// else, which is refused.
bool SimSite::Impl::onCommand(Connection& c, int32_t value) {
    const int fd = c.fd.get();
    if (value == kCommandPut) {
        if (c.upload == SIZE_MAX || startedPut(c)) beginUploadRecord(c);
        c.stage = Stage::NameLength;
        return true;
    }
    if (value == kCommandClose) {
        updateUpload(c.upload, [](SimUploadRecord& u) { u.closeCommand = true; });
        closeConnection(fd);
        return false;
    }
    refuse(c, "unknown command " + std::to_string(value));
    return connections.count(fd) != 0;
}

bool SimSite::Impl::onNameLength(Connection& c, int32_t value) {
    const int fd = c.fd.get();
    if (value <= 0 || value > kMaxNameLength) {
        refuse(c, "bad file name length");
        return connections.count(fd) != 0;
    }
    c.nameLength = value;
    c.name.clear();
    c.stage = Stage::Name;
    return true;
}

bool SimSite::Impl::onSize(Connection& c, int32_t value) {
    const int fd = c.fd.get();
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
        closeConnection(fd);
        return false;
    }
    return true;
}

bool SimSite::Impl::startedPut(const Connection& c) {
    std::lock_guard<std::mutex> lock(mutex);
    return c.upload < record.uploads.size() && record.uploads[c.upload].declaredSize >= 0;
}
