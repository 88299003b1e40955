// The socket shims of the platform layer: the few BSD-socket operations whose spelling differs
// between systems (closing a descriptor, the non-blocking switch, the last error of the calling
// thread, receiving and sending). ss_platform_net_posix.cpp implements them for Linux,
// ss_platform_net_win32.cpp over Winsock 2.2. Errors are reported in the Winsock numbering (10004 WSAEINTR
// ...), so the error text table of ss_socket is the same on every system.
#pragma once

#include <cstdint>
#include <vector>

// The socket types (sockaddr_in, socklen_t) come from different headers on each system.
#ifdef _WIN32  // Winsock declares the BSD socket types in its own header
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#endif

// Starts the system's socket library once per process (Winsock 2.2 on Windows; nothing to start on
// POSIX systems). 0, or -1 when it cannot be started.
int ss_platform_startNetwork();

// Closes a socket descriptor. 0, or -1 (the last socket error tells why).
int ss_platform_closeSocket(int descriptor);

// Switches a descriptor to non-blocking (nonBlocking != 0) or blocking mode. 0, or -1.
int ss_platform_setNonBlocking(int descriptor, int nonBlocking);

// The calling thread's last socket error in Winsock numbers: POSIX errno values are mapped
// (EINTR -> 10004, EAGAIN -> 10035, ECONNRESET -> 10054, ...); an errno without a Winsock
// counterpart is returned as it is; 0 when there is none.
int ss_platform_lastSocketError();

// Sets the calling thread's last socket error (the counterpart of WSASetLastError): a Winsock number
// is stored so that ss_platform_lastSocketError returns it until the next failing call replaces it.
void ss_platform_setLastSocketError(int winsockCode);

// Maps one POSIX errno value to its Winsock number (as ss_platform_lastSocketError does).
int ss_platform_winsockCodeOf(int posixErrno);

// The port option of a listening socket. POSIX: SO_REUSEADDR (a port that another socket of the
// process holds still binds; the newest such socket receives the unicast datagrams). Windows:
// SO_EXCLUSIVEADDRUSE, because there SO_REUSEADDR would let a socket take over a port that another
// process holds; no other socket can then bind the listener's port, and a second listener takes the
// next free port. 0, or -1.
int ss_platform_setListenerOptions(int descriptor);
// 1 where a listener keeps its port to itself (Windows), 0 where another socket may share it (POSIX).
extern const int SS_PLATFORM_LISTENER_PORT_EXCLUSIVE;

// Sends up to `length` bytes on a stream without waiting (whatever the descriptor's mode; Windows,
// which has no per-call flag for it, switches the descriptor to non-blocking at its first call and
// leaves it so: only the transfer's streams use this, and they wait with select before every other
// send and receive) and without a signal when the peer has gone. The count sent (possibly fewer than
// `length`), or -1: the last socket error is then 10035 (WSAEWOULDBLOCK) when the send buffer is full, else
// the failure.
int ss_platform_sendNow(int descriptor, const void* bytes, int length);

// Turns on TCP keep-alive probes on a stream: the first after `idleSeconds` without traffic, then
// every `intervalSeconds`; after `probes` unanswered probes the connection fails (ETIMEDOUT), so a
// peer that has vanished ends a wait that would otherwise last as long as the connection. 0, or -1.
int ss_platform_setKeepAlive(int descriptor, int idleSeconds, int intervalSeconds, int probes);

// The Winsock numbers callers test for (the same on every system, see ss_platform_lastSocketError).
constexpr int SS_PLATFORM_SOCKET_INTERRUPTED = 10004;   // WSAEINTR (EINTR)
constexpr int SS_PLATFORM_SOCKET_WOULD_BLOCK = 10035;   // WSAEWOULDBLOCK (EAGAIN)
constexpr int SS_PLATFORM_SOCKET_MESSAGE_SIZE = 10040;  // WSAEMSGSIZE

// 1 when the descriptor can go into an fd_set for select, else 0. POSIX: below FD_SETSIZE (the set
// is a bit map indexed by the descriptor); Windows: any socket (the set is a list of 64 sockets, and
// callers put one in).
int ss_platform_selectable(int descriptor);

// recv / send of up to `length` bytes on a stream (send never raises a signal). The count, 0 for end
// of stream (recv), or -1 with the last socket error set.
int ss_platform_recv(int descriptor, void* buffer, int length);
int ss_platform_send(int descriptor, const void* bytes, int length);

// Receives one datagram into `buffer`, the sender into `sender`. The count, or -1 with the last
// socket error set; a datagram longer than `length` gives -1 with 10040 (WSAEMSGSIZE) on every
// system, never a cut message.
int ss_platform_recvFrom(int descriptor, void* buffer, int length, sockaddr_in* sender);

// Shuts a stream down in both directions. 0, or -1.
int ss_platform_shutdown(int descriptor);

// Flags for send()/sendto() on stream sockets: a send to a peer that has gone must fail with an
// error, not end the process (MSG_NOSIGNAL on Linux; 0 on Windows, which has no SIGPIPE).
extern const int SS_PLATFORM_SEND_FLAGS;

// One IPv4 address of this PC's adapters with its subnet mask, both in host byte order
// (192.0.2.1/24 is 0xC0000201 with 0xFFFFFF00).
struct SS_PlatformIpv4Network {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
};
// The IPv4 addresses of every adapter that is up (loopback included) with their masks: getifaddrs
// on POSIX, GetAdaptersAddresses on Windows. 0, or -1 when the system would not tell (`out` empty).
int ss_platform_localIpv4Networks(std::vector<SS_PlatformIpv4Network>& out);
