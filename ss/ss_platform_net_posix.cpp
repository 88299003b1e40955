// POSIX implementation of the socket shims (ss_platform_net.h).
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <unistd.h>
#include <cerrno>

#include "ss/ss_platform_net.h"

namespace {

// Winsock numbers above this are stored in errno as they are by ss_platform_setLastSocketError; no
// POSIX errno value comes near it.
constexpr int kWinsockBase = 10000;

}  // namespace

const int SS_PLATFORM_SEND_FLAGS = MSG_NOSIGNAL;
const int SS_PLATFORM_LISTENER_PORT_EXCLUSIVE = 0;

int ss_platform_setListenerOptions(int descriptor) {
    int on = 1;
    return ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
}

int ss_platform_startNetwork() {
    return 0;
}

int ss_platform_closeSocket(int descriptor) {
    return ::close(descriptor) == 0 ? 0 : -1;
}

int ss_platform_setNonBlocking(int descriptor, int nonBlocking) {
    int flags = ::fcntl(descriptor, F_GETFL, 0);
    if (flags < 0) return -1;
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(descriptor, F_SETFL, flags) == 0 ? 0 : -1;
}

int ss_platform_sendNow(int descriptor, const void* bytes, int length) {
    if (length <= 0) return 0;
    for (;;) {
        const ssize_t sent =
            ::send(descriptor, bytes, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno != EINTR) return -1;
    }
}

// POSIX errno -> Winsock number. A send on a stream whose peer has reset it gives EPIPE here;
// Winsock reports the reset itself (WSAECONNRESET).
constexpr struct {
    int posixErrno;
    int winsockCode;
} kWinsockCodes[] = {
    {EINTR, 10004},         {EBADF, 10009},        {EACCES, 10013},          {EFAULT, 10014},
    {EINVAL, 10022},        {EMFILE, 10024},       {EAGAIN, 10035},          {EINPROGRESS, 10036},
    {EALREADY, 10037},      {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053},  {ECONNRESET, 10054},   {EPIPE, 10054},           {ENOBUFS, 10055},
    {EISCONN, 10056},       {ENOTCONN, 10057},     {ESHUTDOWN, 10058},       {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},  {ELOOP, 10062},        {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};  // EWOULDBLOCK is EAGAIN on Linux

int ss_platform_winsockCodeOf(int posixErrno) {
    for (const auto& entry : kWinsockCodes)
        if (entry.posixErrno == posixErrno) return entry.winsockCode;
    return posixErrno;  // 0, an errno without a Winsock counterpart, or already a Winsock number
}

int ss_platform_lastSocketError() {
    const int code = errno;
    if (code >= kWinsockBase) return code;  // stored by ss_platform_setLastSocketError
    return ss_platform_winsockCodeOf(code);
}

// errno is per thread, and the next failing call replaces it, as WSASetLastError's value is.
void ss_platform_setLastSocketError(int winsockCode) {
    errno = winsockCode;
}

int ss_platform_setKeepAlive(int descriptor, int idleSeconds, int intervalSeconds, int probes) {
    const int on = 1;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return -1;
    if (::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) != 0) return -1;
    if (::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) != 0)
        return -1;
    return ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 ? 0 : -1;
}

int ss_platform_selectable(int descriptor) {
    return descriptor >= 0 && descriptor < FD_SETSIZE ? 1 : 0;
}

int ss_platform_recv(int descriptor, void* buffer, int length) {
    const ssize_t received = ::recv(descriptor, buffer, static_cast<size_t>(length), 0);
    return received < 0 ? -1 : static_cast<int>(received);
}

int ss_platform_send(int descriptor, const void* bytes, int length) {
    const ssize_t sent = ::send(descriptor, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

// MSG_TRUNC makes recvfrom return the datagram's real length, so a longer datagram is seen as such
// (Winsock reports WSAEMSGSIZE for it) instead of arriving cut to the buffer.
int ss_platform_recvFrom(int descriptor, void* buffer, int length, sockaddr_in* sender) {
    socklen_t senderLength = sizeof *sender;
    const ssize_t received = ::recvfrom(descriptor, buffer, static_cast<size_t>(length), MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(sender), &senderLength);
    if (received < 0) return -1;
    if (received > length) {
        ss_platform_setLastSocketError(10040);
        return -1;
    }
    return static_cast<int>(received);
}

int ss_platform_shutdown(int descriptor) {
    return ::shutdown(descriptor, SHUT_RDWR) == 0 ? 0 : -1;
}

int ss_platform_localIpv4Networks(std::vector<SS_PlatformIpv4Network>& out) {
    out.clear();
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) return -1;
    for (const ifaddrs* a = first; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0)
            continue;
        SS_PlatformIpv4Network network;
        network.address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        if (a->ifa_netmask != nullptr)
            network.mask = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
        out.push_back(network);
    }
    ::freeifaddrs(first);
    return 0;
}
