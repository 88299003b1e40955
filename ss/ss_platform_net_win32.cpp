// Windows implementation of the socket shims (ss_platform_net.h) over Windows Sockets 2.2.
//
// Facts that differ from Linux and are settled here:
// - Winsock must be started (WSAStartup 2.2) before the first socket; ss_socket does it once, at the
//   first socket it creates. The last error is the thread's WSAGetLastError value, already in the
//   Winsock numbering that the error text table uses.
// - A socket is a SOCKET handle, not a small descriptor. The program keeps it in an int (handles
//   are small even on 64-bit Windows; INVALID_SOCKET becomes -1), and an fd_set is a list of up to
//   64 handles rather than a bit map, so any handle can go into a set.
// - After a datagram to a port nobody listens on, Windows reports the ICMP "port unreachable" to
//   the sender's next recvfrom as WSAECONNRESET. That is no datagram and no fault of the socket:
//   recvFrom reports it as "nothing to read" (WSAEWOULDBLOCK), as Linux does.
// - There is no SIGPIPE: a send to a peer that has gone fails with an error by itself.
// - SO_REUSEADDR lets a second socket bind a port that another process holds (see
//   ss_platform_setListenerOptions).
// winsock2.h before the headers that build on it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <memory>
#include <mutex>
#include <unordered_set>

#include "ss/ss_platform_net.h"

const int SS_PLATFORM_SEND_FLAGS = 0;
const int SS_PLATFORM_LISTENER_PORT_EXCLUSIVE = 1;

int ss_platform_startNetwork() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return -1;
    }
    return 0;
}

namespace {

// Sockets known to be in non-blocking mode. Winsock has no call that reads the mode and no per-call
// "do not wait" flag; switching the mode costs a call into the system (under wine a round trip to
// its server), which sendNow would otherwise pay twice for every 2048-byte chunk.
class NonBlockingSockets {
  public:
    bool contains(SOCKET socket) {
        std::lock_guard<std::mutex> guard(lock_);
        return sockets_.count(socket) != 0;
    }
    void set(SOCKET socket, bool nonBlocking) {
        std::lock_guard<std::mutex> guard(lock_);
        if (nonBlocking)
            sockets_.insert(socket);
        else
            sockets_.erase(socket);
    }

  private:
    std::mutex lock_;
    std::unordered_set<SOCKET> sockets_;
};

NonBlockingSockets& nonBlockingSockets() {
    static NonBlockingSockets sockets;
    return sockets;
}

}  // namespace

int ss_platform_closeSocket(int descriptor) {
    nonBlockingSockets().set(static_cast<SOCKET>(descriptor), false);  // the handle may come back
    return ::closesocket(static_cast<SOCKET>(descriptor)) == 0 ? 0 : -1;
}

int ss_platform_setNonBlocking(int descriptor, int nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    if (::ioctlsocket(static_cast<SOCKET>(descriptor), FIONBIO, &mode) != 0) return -1;
    nonBlockingSockets().set(static_cast<SOCKET>(descriptor), nonBlocking != 0);
    return 0;
}

// Windows SO_REUSEADDR lets a socket take over a port that another process holds, so "the first
// port of 5360-5459 that binds" would always be 5360, even beside a running tool whose listener would
// then lose its datagrams. The listener takes SO_EXCLUSIVEADDRUSE instead: no other socket may bind
// its port, and a second tool (or a second listener) binds the next port. The listener needs no
// port sharing: requests that must be answered to it leave from its own socket.
int ss_platform_setListenerOptions(int descriptor) {
    BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(descriptor), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0
               ? 0
               : -1;
}

int ss_platform_sendNow(int descriptor, const void* bytes, int length) {
    if (length <= 0) return 0;
    const SOCKET socket = static_cast<SOCKET>(descriptor);
    // Winsock has no per-call "do not wait" flag: the socket is switched to non-blocking at its
    // first such send and stays so. Its only user (the file transfer) waits for readiness with
    // select before every other send and receive and takes "would block" as "try again".
    if (!nonBlockingSockets().contains(socket) && ss_platform_setNonBlocking(descriptor, 1) != 0) return -1;
    const int sent = ::send(socket, static_cast<const char*>(bytes), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

// Winsock sets the idle time and the interval per socket with SIO_KEEPALIVE_VALS (milliseconds); the
// number of probes is the system's own (10 since Vista), so `probes` is not used here.
// Windows fixes the number of unanswered probes (10); only the idle time and the interval are set.
int ss_platform_setKeepAlive(int descriptor, int idleSeconds, int intervalSeconds, int /*probes*/) {
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<u_long>(idleSeconds) * 1000u;
    values.keepaliveinterval = static_cast<u_long>(intervalSeconds) * 1000u;
    DWORD returned = 0;
    return ::WSAIoctl(static_cast<SOCKET>(descriptor), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
                      &returned, nullptr, nullptr) == 0
               ? 0
               : -1;
}

int ss_platform_lastSocketError() {
    return WSAGetLastError();
}

void ss_platform_setLastSocketError(int winsockCode) {
    WSASetLastError(winsockCode);
}

int ss_platform_winsockCodeOf(int posixErrno) {
    return posixErrno;  // Winsock reports its own numbers
}

int ss_platform_selectable(int descriptor) {
    return descriptor >= 0 ? 1 : 0;
}

int ss_platform_recv(int descriptor, void* buffer, int length) {
    const int received = ::recv(static_cast<SOCKET>(descriptor), static_cast<char*>(buffer), length, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

int ss_platform_send(int descriptor, const void* bytes, int length) {
    const int sent = ::send(static_cast<SOCKET>(descriptor), static_cast<const char*>(bytes), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int ss_platform_recvFrom(int descriptor, void* buffer, int length, sockaddr_in* sender) {
    int senderLength = sizeof *sender;
    const int received = ::recvfrom(static_cast<SOCKET>(descriptor), static_cast<char*>(buffer), length, 0,
                                    reinterpret_cast<sockaddr*>(sender), &senderLength);
    if (received != SOCKET_ERROR) return received;
    // A longer datagram already fails with WSAEMSGSIZE (its first bytes are dropped with it).
    if (WSAGetLastError() == WSAECONNRESET) WSASetLastError(WSAEWOULDBLOCK);  // an ICMP report, see above
    return -1;
}

int ss_platform_shutdown(int descriptor) {
    return ::shutdown(static_cast<SOCKET>(descriptor), SD_BOTH) == 0 ? 0 : -1;
}

int ss_platform_localIpv4Networks(std::vector<SS_PlatformIpv4Network>& out) {
    out.clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls: a few tries with the size the system asked for.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.reset(new (std::nothrow) unsigned char[size]);
        if (!buffer) return -1;
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == ERROR_NO_DATA) return 0;
    if (result != NO_ERROR) return -1;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = adapter->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const SOCKET_ADDRESS& a = u->Address;
            if (a.lpSockaddr == nullptr || a.lpSockaddr->sa_family != AF_INET) continue;
            SS_PlatformIpv4Network network;
            network.address = ntohl(reinterpret_cast<const sockaddr_in*>(a.lpSockaddr)->sin_addr.s_addr);
            const unsigned prefix = u->OnLinkPrefixLength > 32 ? 32 : u->OnLinkPrefixLength;
            network.mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
            out.push_back(network);
        }
    }
    return 0;
}
