// ss_socket: UDP listener, client records, datagram and fragment sends, receives, error texts.
#include "ss/ss_socket.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ss/ss_ip.h"
#include "ss/ss_log.h"

const char* const SS_SOCKET_STATE_NAMES[8] = {
    "SS_SOCKET_STATE_NOTINUSE",          "SS_SOCKET_STATE_LISTENING", "SS_SOCKET_STATE_CONNECTING",
    "SS_SOCKET_STATE_SENDING",           "SS_SOCKET_STATE_RECEIVING", "SS_SOCKET_STATE_MULTICAST_LISTENING",
    "SS_SOCKET_STATE_MULTICAST_SENDING", "SS_SOCKET_STATE_CLOSING",
};

const char SS_SOCKET_MULTIDATA_MARKER[17] = "__SS_MULTIDATA__";

namespace {

// Set once by the first descriptor creation (before any worker thread exists); never cleared.
std::atomic<bool> g_networkStarted{false};

// Guards g_sequence.
std::mutex g_sequenceLock;
uint16_t g_sequence = 1000;  // guarded by g_sequenceLock; the last number handed out

// The texts of the shared error codes of the ss_ modules.
const char* sharedErrorText(int code) {
    switch (code) {
        case 5000:
            return "NULL_POINTER_EXCEPTION";
        case 5001:
            return "INVALIDE_PARAMETER_EXCEPTION";
        case 5002:
            return "EMPTY_STRING_EXCEPTION";
        case 5003:
            return "CAN_NOT_OPEN_CONFIG_FILE_EXCEPTION";
        case 5004:
            return "CAN_NOT_OPEN_LOG_FILE_EXCEPTION";
        case 5005:
            return "NOT_SUPPORT_FOR_THIS_PLATFORM";
        default:
            return "Please check the log message!";
    }
}

void logSharedError(int code) {
    SS_LOG(SS_LOG_ERROR, "Error[%d] %s\n", code, sharedErrorText(code));
}

// The invalid-text rule of the device protocol (absent, empty, "(null)", "NULL"), kept here because
// the protocol library builds on this one and not the reverse.
bool isValidPlainText(const char* text) {
    return text != nullptr && text[0] != '\0' && std::strcmp(text, "(null)") != 0 &&
           std::strcmp(text, "NULL") != 0;
}

std::string dottedText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return "0.0.0.0";
    return text;
}

int setReuseAddress(int descriptor) {
    int on = 1;
    return ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
}

// select for writing on one descriptor, up to `milliseconds`. 1 ready, 0 time-out, -1 error.
int waitWritable(int descriptor, int milliseconds) {
    if (!ss_platform_selectable(descriptor)) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(descriptor, &set);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(descriptor + 1, nullptr, &set, nullptr, &timeout);
}

// A datagram from a socket that stays open (the caller's listener): the answer comes back to it.
// A non-blocking socket whose send buffer is full is given a short wait (its wait timeout, a few
// times) before the send counts as failed.
int sendFromOwnSocket(const SS_Socket& from, const sockaddr_in& destination, int length, const char* bytes) {
    for (int attempt = 0;; ++attempt) {
        const auto sent = ::sendto(from.descriptor, bytes, length, 0,
                                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        if (sent == length) return 0;
        const int error = sent < 0 ? ss_platform_lastSocketError() : 0;
        const bool wouldBlock =
            error == SS_PLATFORM_SOCKET_WOULD_BLOCK || error == SS_PLATFORM_SOCKET_INTERRUPTED;
        if (!wouldBlock || attempt >= 5 || waitWritable(from.descriptor, from.waitTimeoutMs) < 0) break;
    }
    SS_LOG(SS_LOG_ERROR, "Can not send msg to %s:%d", dottedText(destination).c_str(),
           static_cast<int>(ntohs(destination.sin_port)));
    return -1;
}

void putLittleEndian16(std::string& out, size_t offset, uint16_t value) {
    out[offset] = static_cast<char>(value & 0xFF);
    out[offset + 1] = static_cast<char>(value >> 8);
}

}  // namespace

void initializeNetworkDriver() {
    if (g_networkStarted.load()) return;
    if (ss_platform_startNetwork() != 0) {
        SS_LOG(SS_LOG_ERROR, "Can't initialize socket library\n");
        std::exit(-1);
    }
    g_networkStarted.store(true);
}

SS_SocketPtr _SS_Socket_new(int kind) {
    SS_SocketPtr socket(new SS_Socket);
    socket->kind = kind;
    socket->errorReporter = _SS_Socket_logLastError;
    return socket;
}

void SS_Socket_free(SS_Socket* socket) {
    if (socket == nullptr) return;
    if (socket->descriptor >= 0) ss_platform_closeSocket(socket->descriptor);
    delete socket;
}

int _SS_Socket_open(SS_Socket* socket, int kind) {
    if (socket == nullptr) return -1;
    initializeNetworkDriver();
    socket->descriptor =
        static_cast<int>(::socket(AF_INET, kind == SS_SOCKET_UDP ? SOCK_DGRAM : SOCK_STREAM, 0));
    if (socket->descriptor < 0) {
        SS_LOG(SS_LOG_ERROR,
               "Can not create socket, check network config and make sure the driver is loaded.");
        return -1;
    }
    socket->kind = kind;
    if (setReuseAddress(socket->descriptor) != 0) {
        SS_LOG(SS_LOG_ERROR, "Can not set REUSEADDR option");
        return -1;
    }
    return 0;
}

int _SS_Socket_setBlockMode(SS_Socket* socket, int nonBlocking) {
    if (socket == nullptr || ss_platform_setNonBlocking(socket->descriptor, nonBlocking) != 0) {
        SS_LOG(SS_LOG_ERROR, "Error setting sock to non-block\n");
        return -1;
    }
    return 0;
}

int _SS_Socket_initAddress(sockaddr_in* address, const char* host) {
    if (address == nullptr || host == nullptr) return 0;
    address->sin_family = AF_INET;  // callers may hand a zeroed address
    // Canonical dotted text only: a host name is never looked up, and the old numeric forms
    // ("010", "3221225996", "1.2.3") are no addresses. "255.255.255.255" is refused as it always was.
    uint32_t value = 0;
    if (!ss_ip_parseCanonical(host, value) || value == 0xFFFFFFFFu) {
        SS_LOG(SS_LOG_ERROR, "Not a dotted IPv4 address [%s]\n", host);
        address->sin_addr.s_addr = 0;
        return 0;
    }
    address->sin_addr.s_addr = htonl(value);
    return 1;
}

SS_SocketPtr _SS_Socket_newClientSocket(const char* host, int port, int kind) {
    SS_SocketPtr socket = _SS_Socket_new(kind);
    // A UDP record without a descriptor still serves as an address holder; a TCP record fails below.
    if (_SS_Socket_open(socket.get(), kind) != 0) logSharedError(-1);

    socket->port = port;
    socket->address.sin_family = AF_INET;
    socket->address.sin_port = htons(static_cast<uint16_t>(port));
    _SS_Socket_initAddress(&socket->address, host);
    socket->addressText = dottedText(socket->address);

    if (kind == SS_SOCKET_TCP) {
        // 0.0.0.0 (a failed look-up) is no destination; Linux would connect it to this host.
        if (socket->descriptor < 0 || socket->address.sin_addr.s_addr == htonl(INADDR_ANY) ||
            ::connect(socket->descriptor, reinterpret_cast<const sockaddr*>(&socket->address),
                      sizeof socket->address) != 0) {
            SS_LOG(SS_LOG_ERROR, "Unable to connect to host [%s]\n", host ? host : "");
            if (socket->descriptor >= 0) ss_platform_shutdown(socket->descriptor);
            return nullptr;
        }
    }
    if (socket->descriptor >= 0 && _SS_Socket_setBlockMode(socket.get(), 1) != 0) logSharedError(-1);
    socket->state = SS_SOCKET_STATE_CONNECTING;
    return socket;
}

SS_SocketPtr SS_Socket_newUdpServerSocket(int port) {
    SS_SocketPtr socket = _SS_Socket_new(SS_SOCKET_UDP);
    initializeNetworkDriver();
    socket->descriptor = static_cast<int>(::socket(AF_INET, SOCK_DGRAM, 0));
    if (socket->descriptor < 0) {
        SS_LOG(SS_LOG_ERROR,
               "Can not create socket, check network config and make sure the driver is loaded.");
        logSharedError(-1);
    } else if (ss_platform_setListenerOptions(socket->descriptor) != 0) {
        // SO_REUSEADDR on Linux (a port that another socket of this process holds still binds; the
        // newest such socket then receives the unicast datagrams sent to the port); on Windows
        // SO_EXCLUSIVEADDRUSE, so the port is the listener's own (ss_platform_net.h).
        SS_LOG(SS_LOG_ERROR, "Can not set REUSEADDR option");
        logSharedError(-1);
    }
    socket->port = port;
    socket->address.sin_family = AF_INET;
    socket->address.sin_addr.s_addr = htonl(INADDR_ANY);
    socket->address.sin_port = htons(static_cast<uint16_t>(port));
    socket->addressText = "127.0.0.1";
    if (socket->descriptor < 0 ||
        ::bind(socket->descriptor, reinterpret_cast<const sockaddr*>(&socket->address),
               sizeof socket->address) != 0) {
        SS_LOG(SS_LOG_ERROR, "Bind socket error");
        return nullptr;
    }
    _SS_Socket_setBlockMode(socket.get(), 1);
    socket->state = SS_SOCKET_STATE_LISTENING;
    return socket;
}

int _SS_Socket_waitReadable(SS_Socket* socket) {
    return socket == nullptr ? 0 : SS_Socket_waitReadableFor(socket, socket->waitTimeoutMs);
}

int SS_Socket_waitReadableFor(SS_Socket* socket, int milliseconds) {
    if (socket == nullptr) return 0;
    if (!ss_platform_selectable(socket->descriptor)) {
        socket->state = -1;
        return 0;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket->descriptor, &set);
    const int wait = milliseconds > 0 ? milliseconds : 0;
    timeval timeout{wait / 1000, (wait % 1000) * 1000};
    const int result = ::select(socket->descriptor + 1, &set, nullptr, nullptr, &timeout);
    if (result == 1) return 1;
    if (result < 0) socket->state = -1;
    return 0;
}

int _SS_Socket_recvUDPData_plain(SS_Socket* socket, std::optional<std::string>& data, int& length) {
    if (socket == nullptr) return -1;
    data.reset();
    length = 0;
    if (!_SS_Socket_waitReadable(socket)) return 0;

    char buffer[SS_SOCKET_BUFFER_SIZE] = {};
    sockaddr_in sender{};
    // A datagram longer than the buffer is an error (10040), never a cut message.
    const int received = ss_platform_recvFrom(socket->descriptor, buffer, sizeof buffer, &sender);
    if (received < 0 && ss_platform_lastSocketError() == SS_PLATFORM_SOCKET_WOULD_BLOCK)
        return 0;  // taken meanwhile
    if (received <= 0) {
        SS_LOG(SS_LOG_ERROR, "Receive message error.");
        socket->state = -1;
        return -1;
    }
    socket->address = sender;
    socket->addressText = dottedText(sender);
    data.emplace(buffer, static_cast<size_t>(received));
    length = static_cast<int>(received);
    return 0;
}

int SS_Socket_receive_plain(SS_Socket* socket, std::optional<std::string>& text) {
    if (socket == nullptr) return -1;
    text.reset();

    if (socket->kind == SS_SOCKET_UDP) {
        std::optional<std::string> data;
        int length = 0;
        _SS_Socket_recvUDPData_plain(socket, data, length);
        // The datagram is a text with its terminating zero: what a reader sees ends at the first zero.
        if (data) text.emplace(data->c_str());
        return 0;
    }

    // TCP: one byte per call, so nothing after the end of a message is consumed.
    std::string received;
    received.reserve(SS_SOCKET_BUFFER_SIZE);
    while (_SS_Socket_waitReadable(socket)) {
        char byte = 0;
        const int result = ss_platform_recv(socket->descriptor, &byte, 1);
        const int error = result < 0 ? ss_platform_lastSocketError() : 0;
        if (error == SS_PLATFORM_SOCKET_WOULD_BLOCK || error == SS_PLATFORM_SOCKET_INTERRUPTED) continue;
        if (result <= 0) {
            if (received.empty()) {
                socket->state = -1;
                return -1;
            }
            break;
        }
        received.push_back(byte);
        if (received.size() >= 4 && received.compare(received.size() - 4, 4, "\r\n\r\n") == 0) {
            received.resize(received.size() - 2);
            break;
        }
    }
    if (received.empty()) return -1;
    text = std::move(received);
    return 0;
}

int SS_Socket_send_plain(const sockaddr_in* destination, const char* text, const SS_Socket* from) {
    if (destination == nullptr || !isValidPlainText(text)) return -1;
    const size_t length = std::strlen(text) + 1;  // the terminating zero travels too
    if (length > static_cast<size_t>(SS_SOCKET_BUFFER_SIZE)) {
        // Beyond 65535 bytes the fragment fields cannot describe the text: refused there.
        const int clamped = length > 0x10000 ? 0x10000 : static_cast<int>(length);
        return _SS_Socket_sendMultiData(destination, clamped, from, text);
    }
    return _SS_Socket_sendUDPData_plain(from, destination, static_cast<int>(length), text);
}

int SS_Socket_sendTo(const char* host, int port, const char* text, const SS_Socket* from) {
    sockaddr_in destination{};
    _SS_Socket_initAddress(&destination, host);
    destination.sin_port = htons(static_cast<uint16_t>(port));
    return SS_Socket_send_plain(&destination, text, from);
}

int _SS_Socket_sendUDPData_plain(const SS_Socket* from, const sockaddr_in* destination, int length,
                                 const char* bytes) {
    if (destination == nullptr || length <= 0 || bytes == nullptr) return -1;
    if (destination->sin_addr.s_addr == htonl(INADDR_ANY)) {
        // A record whose host could not be resolved holds 0.0.0.0. Winsock refuses to send there;
        // Linux would deliver the datagram to this host (possibly the program's own listener).
        SS_LOG(SS_LOG_ERROR, "Can not send msg to %s:%d", dottedText(*destination).c_str(),
               static_cast<int>(ntohs(destination->sin_port)));
        return -1;
    }
    if (from != nullptr && from->descriptor >= 0)
        return sendFromOwnSocket(*from, *destination, length, bytes);

    // A throw-away socket. Bound to `from`'s address (a record without a descriptor) it leaves from
    // that port; note that on Linux it then also takes the answers to that port until it is closed.
    initializeNetworkDriver();
    const int descriptor = static_cast<int>(::socket(AF_INET, SOCK_DGRAM, 0));
    if (descriptor < 0) {
        SS_LOG(SS_LOG_ERROR, "Can not create socket.");
        return -1;
    }
    if (from != nullptr) {
        if (setReuseAddress(descriptor) != 0 ||
            ::bind(descriptor, reinterpret_cast<const sockaddr*>(&from->address), sizeof from->address) !=
                0) {
            SS_LOG(SS_LOG_WARN, "Can not bind sending to %s:%d.", dottedText(from->address).c_str(),
                   static_cast<int>(ntohs(from->address.sin_port)));
        }
    } else {
        ss_platform_setNonBlocking(descriptor, 1);
    }
    int result = 0;
    if (::sendto(descriptor, bytes, static_cast<size_t>(length), 0,
                 reinterpret_cast<const sockaddr*>(destination), sizeof *destination) != length) {
        SS_LOG(SS_LOG_ERROR, "Can not send msg to %s:%d", dottedText(*destination).c_str(),
               static_cast<int>(ntohs(destination->sin_port)));
        result = -1;
    }
    ss_platform_closeSocket(descriptor);
    return result;
}

std::string _SS_Socket_newMultiData(uint16_t sequence, uint16_t index, uint16_t totalLength,
                                    uint16_t pieceLength, const char* piece) {
    std::string fragment(SS_SOCKET_FRAGMENT_HEADER + pieceLength, '\0');
    std::memcpy(fragment.data(), SS_SOCKET_MULTIDATA_MARKER, 16);
    putLittleEndian16(fragment, 16, sequence);
    putLittleEndian16(fragment, 18, index);
    putLittleEndian16(fragment, 20, totalLength);
    putLittleEndian16(fragment, 22, pieceLength);
    if (pieceLength > 0 && piece != nullptr)
        std::memcpy(fragment.data() + SS_SOCKET_FRAGMENT_HEADER, piece, pieceLength);
    return fragment;
}

uint16_t _SS_Socket_nextSequence() {
    std::lock_guard<std::mutex> guard(g_sequenceLock);
    ++g_sequence;  // unsigned: 65535 + 1 wraps to 0
    if (g_sequence == 0) g_sequence = 1000;
    return g_sequence;
}

void _SS_Socket_setSequence(uint16_t last) {
    std::lock_guard<std::mutex> guard(g_sequenceLock);
    g_sequence = last;
}

int _SS_Socket_sendMultiData(const sockaddr_in* destination, int length, const SS_Socket* from,
                             const char* bytes) {
    if (bytes == nullptr || length <= SS_SOCKET_FRAGMENT_PIECE)
        return _SS_Socket_sendUDPData_plain(from, destination, length, bytes);
    if (length > 0xFFFF) {  // the 16-bit total and index fields cannot describe it
        SS_LOG(SS_LOG_ERROR, "Message too long to send: %d bytes\n", length);
        return -1;
    }
    const uint16_t sequence = _SS_Socket_nextSequence();
    const int remainder = length % SS_SOCKET_FRAGMENT_PIECE;
    const int count = length / SS_SOCKET_FRAGMENT_PIECE + (remainder != 0 ? 1 : 0);
    for (int index = 0; index < count; ++index) {
        const bool last = index == count - 1;
        const int piece = last && remainder != 0 ? remainder : SS_SOCKET_FRAGMENT_PIECE;
        const std::string fragment =
            _SS_Socket_newMultiData(sequence, static_cast<uint16_t>(index), static_cast<uint16_t>(length),
                                    static_cast<uint16_t>(piece), bytes + index * SS_SOCKET_FRAGMENT_PIECE);
        // A payload with a fragment missing cannot be put together again: stop and report it.
        if (_SS_Socket_sendUDPData_plain(from, destination, static_cast<int>(fragment.size()),
                                         fragment.data()) != 0)
            return -1;
        if (!last) std::this_thread::sleep_for(std::chrono::milliseconds(SS_SOCKET_FRAGMENT_PAUSE_MS));
    }
    return 0;
}

const char* _SS_Socket_errorFormat(int code) {
    switch (code) {
        case 10004:
            return "Socket[%d] Error: The socket was closed.\n";
        case 10013:
            return "Socket[%d] Error: The requested address is a broadcast address, but the appropriate flag "
                   "was "
                   "not set. Call setsockopt (Windows Sockets) with the SO_BROADCAST parameter to allow the "
                   "use of "
                   "the broadcast address.\n";
        case 10014:
            return "Socket[%d] Error: The buf parameter is not completely contained in a valid part of the "
                   "user "
                   "address space.\n";
        case 10022:
            return "Socket[%d] Error: The socket has not been bound with bind (Windows Sockets), an unknown "
                   "flag "
                   "was specified, or MSG_OOB was specified for a socket with SO_OOBINLINE enabled.\n";
        case 10035:
            return "Socket[%d] Error: The socket is marked as nonblocking and the requested operation would "
                   "block.\n";
        case 10036:
            return "Socket[%d] Error: A blocking Winsock call is in progress, or the service provider is "
                   "still "
                   "processing a callback function.\n";
        case 10038:
            return "Socket[%d] Error: The descriptor is not a socket.\n";
        case 10040:
            return "Socket[%d] Error: The socket is message-oriented, and the message is larger than the "
                   "maximum "
                   "supported by the underlying transport.\n";
        case 10043:
            return "Socket[%d] Error: Protocol is not supported. For example, for raw sockets, if the "
                   "IP_HDRINCL "
                   "option set for the socket, and in the header the protocol field is set to TCP.\n";
        case 10045:
            return "Socket[%d] Error: MSG_OOB was specified, but the socket is not stream style such as type "
                   "SOCK_STREAM, out of band (OOB) data is not supported in the communication domain "
                   "associated "
                   "with this socket, or the socket is unidirectional and supports only receive "
                   "operations.\n";
        case 10050:
            return "Socket[%d] Error: The network subsystem has failed.\n";
        case 10052:
            return "Socket[%d] Error: The connection has been broken due to the keep-alive activity "
                   "detecting a "
                   "failure while the operation was in progress.\n";
        case 10053:
            return "Socket[%d] Error: The virtual circuit was terminated due to a time-out or other failure. "
                   "The "
                   "application should close the socket because it is no longer usable. \n";
        case 10054:
            return "Socket[%d] Error: The virtual circuit was reset by the remote side executing a hard or "
                   "abortive close. For UDP sockets, the remote host was unable to deliver a previously sent "
                   "UDP "
                   "datagram and responded with a \"Port Unreachable\" ICMP packet. The application should "
                   "close "
                   "the socket because it is no longer usable.\n";
        case 10055:
            return "Socket[%d] Error: No buffer space is available.\n";
        case 10057:
            return "Socket[%d] Error: The socket is not connected.\n";
        case 10058:
            return "Socket[%d] Error: The socket has been shut down. It is not possible to send on a socket "
                   "after "
                   "shutdown has been invoked with how set to SD_SEND or SD_BOTH.\n";
        case 10060:
            return "Socket[%d] Error: The connection has been dropped because of a network failure or "
                   "because the "
                   "system on the other end went down without notice. \n";
        case 10065:
            return "Socket[%d] Error: The remote host cannot be reached from this host at this time.\n";
        case 10093:
            return "Socket[%d] Error: A successful WSAStartup call must occur before using this function. \n";
        default:
            return nullptr;
    }
}

int _SS_Socket_logLastError(SS_Socket* socket) {
    if (socket == nullptr) return 0;
    const int code = ss_platform_lastSocketError();
    const char* format = _SS_Socket_errorFormat(code);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"  // the formats are the fixed texts of the table above
    if (format != nullptr) {
        ss_log_write(SS_LOG_ERROR, __FILE__, __LINE__, __func__, format, socket->descriptor);
    } else {
        SS_LOG(SS_LOG_ERROR, "Socket[%d] Error: Unknow error %d.\n", socket->descriptor, code);
    }
#pragma GCC diagnostic pop
    return 0;
}
