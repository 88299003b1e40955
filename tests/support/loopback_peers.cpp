#include "tests/support/loopback_peers.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "ss/ss_log.h"
#include "ss/ss_platform_net.h"
#include "ss/ss_socket.h"

namespace quenta_test {

namespace {

constexpr int kSliceMs = 50;
constexpr auto kSessionLimit = std::chrono::seconds(60);

bool interrupted() {
    return ss_platform_lastSocketError() == SS_PLATFORM_SOCKET_INTERRUPTED;
}

// Waits up to one slice for the descriptor to become readable: 1 ready, 0 not yet, -1 error.
int pollReadable(int descriptor) {
    if (!ss_platform_selectable(descriptor)) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(descriptor, &set);
    timeval timeout{0, kSliceMs * 1000};
    const int result = ::select(descriptor + 1, &set, nullptr, nullptr, &timeout);
    if (result < 0) return interrupted() ? 0 : -1;
    return result;
}

bool sendAll(int descriptor, const std::string& bytes) {
    size_t offset = 0;
    while (offset < bytes.size()) {
        const int sent =
            ss_platform_send(descriptor, bytes.data() + offset, static_cast<int>(bytes.size() - offset));
        if (sent < 0 && interrupted()) continue;
        if (sent <= 0) return false;
        offset += static_cast<size_t>(sent);
    }
    return true;
}

int readLe32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<int>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                            (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

}  // namespace

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundPort(int descriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return ntohs(address.sin_port);
}

std::string le32(int value) {
    const auto bits = static_cast<uint32_t>(value);
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return bytes;
}

// ---------------------------------------------------------------------------------------------------
LoopbackUdpPeer::LoopbackUdpPeer(Answer answer) : answer_(std::move(answer)) {
    initializeNetworkDriver();
    descriptor_ = static_cast<int>(::socket(AF_INET, SOCK_DGRAM, 0));
    if (descriptor_ < 0) throw std::runtime_error("UDP peer: socket failed");
    int size = 4 * 1024 * 1024;  // room for bursts of datagrams while the thread is descheduled
    ::setsockopt(descriptor_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    const sockaddr_in address = loopbackAddress(0);
    if (::bind(descriptor_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("UDP peer: bind failed");
    port_ = boundPort(descriptor_);
    thread_ = std::thread([this] { serve(); });
}

LoopbackUdpPeer::~LoopbackUdpPeer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    ss_platform_closeSocket(descriptor_);
}

void LoopbackUdpPeer::serve() {
    std::vector<char> buffer(70000);
    while (!stop_.load()) {
        if (pollReadable(descriptor_) <= 0) continue;
        sockaddr_in sender{};
        const int received =
            ss_platform_recvFrom(descriptor_, buffer.data(), static_cast<int>(buffer.size()), &sender);
        if (received < 0) continue;
        std::string datagram(buffer.data(), static_cast<size_t>(received));
        // Answer first, at once: that is the case where a lost answer shows.
        if (answer_) {
            if (std::optional<std::string> reply = answer_(datagram)) {
                ::sendto(descriptor_, reply->c_str(), static_cast<int>(reply->size() + 1), 0,
                         reinterpret_cast<const sockaddr*>(&sender), sizeof sender);
            }
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            received_.push_back(std::move(datagram));
        }
        arrived_.notify_all();
    }
}

std::vector<std::string> LoopbackUdpPeer::datagrams() const {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

bool LoopbackUdpPeer::waitForDatagrams(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return received_.size() >= count; });
}

bool LoopbackUdpPeer::sendRaw(const sockaddr_in& to, const std::string& bytes) const {
    return ::sendto(descriptor_, bytes.data(), static_cast<int>(bytes.size()), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(bytes.size());
}

// ---------------------------------------------------------------------------------------------------
LoopbackTcpFileServer::LoopbackTcpFileServer(TcpFileScript script) : script_(std::move(script)) {
    initializeNetworkDriver();
    listener_ = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    if (listener_ < 0) throw std::runtime_error("TCP server: socket failed");
    const sockaddr_in address = loopbackAddress(0);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0)
        throw std::runtime_error("TCP server: bind/listen failed");
    port_ = boundPort(listener_);
    thread_ = std::thread([this] { serve(); });
}

LoopbackTcpFileServer::~LoopbackTcpFileServer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    ss_platform_closeSocket(listener_);
}

TcpFileSession LoopbackTcpFileServer::finish() {
    if (thread_.joinable()) thread_.join();
    return session_;
}

bool LoopbackTcpFileServer::readExactly(int descriptor, char* bytes, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kSessionLimit;
    size_t offset = 0;
    while (offset < count) {
        if (stop_.load() || std::chrono::steady_clock::now() > deadline) return false;
        const int ready = pollReadable(descriptor);
        if (ready < 0) return false;
        if (ready == 0) continue;
        const int received = ss_platform_recv(descriptor, bytes + offset, static_cast<int>(count - offset));
        if (received < 0 && interrupted()) continue;
        if (received <= 0) return false;
        offset += static_cast<size_t>(received);
    }
    return true;
}

std::string LoopbackTcpFileServer::readUntilClosed(int descriptor) {
    const auto deadline = std::chrono::steady_clock::now() + kSessionLimit;
    std::string bytes;
    char buffer[4096];
    while (!stop_.load() && std::chrono::steady_clock::now() < deadline) {
        const int ready = pollReadable(descriptor);
        if (ready < 0) break;
        if (ready == 0) continue;
        const int received = ss_platform_recv(descriptor, buffer, sizeof buffer);
        if (received < 0 && interrupted()) continue;
        if (received <= 0) break;
        bytes.append(buffer, static_cast<size_t>(received));
    }
    return bytes;
}

void LoopbackTcpFileServer::serve() {
    int connection = -1;
    while (!stop_.load() && connection < 0) {
        if (pollReadable(listener_) <= 0) continue;
        connection = static_cast<int>(::accept(listener_, nullptr, nullptr));
    }
    if (connection < 0) return;
    session_.accepted = true;
    if (!script_.sendOnAccept.empty()) sendAll(connection, script_.sendOnAccept);

    using Reply = TcpFileScript::Reply;
    const Reply reply = script_.reply;
    bool closed = false;
    if (reply != Reply::None) {
        char word[4];
        if (readExactly(connection, word, 4)) {
            session_.request.append(word, 4);
            session_.command = readLe32(word);
        }
        if (session_.command == 1 && readExactly(connection, word, 4)) {
            session_.request.append(word, 4);
            const int nameLength = readLe32(word);
            std::string name(static_cast<size_t>(nameLength > 0 && nameLength < 65536 ? nameLength : 0),
                             '\0');
            if (readExactly(connection, name.data(), name.size()) && readExactly(connection, word, 4)) {
                session_.request += name;
                session_.request.append(word, 4);
                session_.name = name;
                session_.size = readLe32(word);
                int64_t wanted = session_.size > 0 ? session_.size : 0;
                if (reply == Reply::CloseMidContent && script_.value < wanted) wanted = script_.value;
                std::vector<char> chunk(64 * 1024);
                bool ok = true;
                while (ok && session_.contentBytes < wanted) {
                    const size_t part =
                        static_cast<size_t>(std::min<int64_t>(wanted - session_.contentBytes, chunk.size()));
                    ok = readExactly(connection, chunk.data(), part);
                    if (!ok) break;
                    session_.contentBytes += static_cast<int64_t>(part);
                    if (script_.keepContent) {
                        session_.content.append(chunk.data(), part);
                        session_.request.append(chunk.data(), part);
                    }
                }
                session_.requestComplete = ok && session_.contentBytes == session_.size;
            }
        }
        // A device that verifies and writes the package before it answers.
        if (script_.replyDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(script_.replyDelayMs));
        switch (reply) {
            case Reply::Ok:
                sendAll(connection, le32(5));
                break;
            case Reply::Error:
                sendAll(connection, le32(255) + le32(static_cast<int>(script_.text.size())) + script_.text);
                break;
            case Reply::Integer:
                sendAll(connection, le32(script_.value));
                break;
            case Reply::Size:
                sendAll(connection,
                        le32(3) + le32(static_cast<int>(script_.fileContent.size())) + script_.fileContent);
                break;
            case Reply::SizeOnly:
                sendAll(connection, le32(3) + le32(script_.value));
                break;
            case Reply::CloseMidContent:
                ss_platform_closeSocket(connection);
                closed = true;
                break;
            case Reply::HalfClose:
                ::shutdown(connection, 1);  // SHUT_WR on POSIX, SD_SEND on Windows
                break;
            case Reply::Raw:
                if (script_.trickleMs <= 0) {
                    sendAll(connection, script_.text);
                    break;
                }
                for (char byte : script_.text) {  // until the client gives up and closes
                    if (!sendAll(connection, std::string(1, byte))) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(script_.trickleMs));
                }
                break;
            case Reply::Silent:
            case Reply::None:
                break;
        }
    }
    if (!closed) {
        session_.afterReply = readUntilClosed(connection);
        ss_platform_closeSocket(connection);
    }
}

// ---------------------------------------------------------------------------------------------------
LogCapture::LogCapture() : path_(folder_.file("net-test.log")) {
    if (ss_log_open(path_.c_str()) != 0) throw std::runtime_error("cannot open the log at " + path_);
    offset_ = readTextFile(path_).size();
}

LogCapture::~LogCapture() {
    ss_log_close();
}

std::string LogCapture::takeNew() {
    const std::string all = readTextFile(path_);
    if (all.size() < offset_) return all;
    std::string fresh = all.substr(offset_);
    offset_ = all.size();
    return fresh;
}

}  // namespace quenta_test
