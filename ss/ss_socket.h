// ss_socket: the program's thin layer over BSD sockets, IPv4 only. It gives a UDP socket that
// listens on a local port, client records that hold a remote address (UDP) or a connected stream
// (TCP), sending a text as one UDP datagram (or a train of marked fragments when it is long),
// receiving with a short wait (200 ms), and the fixed English text of every socket error.
//
// Platform fact that shapes the send functions: on Linux, of several sockets bound with
// SO_REUSEADDR to one port, the newest receives the unicast datagrams. A throw-away socket bound to
// the listener's port to send a request would therefore catch (and lose, when it is closed) answers
// meant for the listener. So a send given a `from` socket goes out on that socket's own descriptor;
// only a send without one uses a throw-away socket.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ss/ss_platform_net.h"

enum { SS_SOCKET_TCP = 0, SS_SOCKET_UDP = 1 };

// Socket states; nothing takes decisions on them, they serve diagnosis. -1 (no name) after an error.
enum SS_SOCKET_STATE {
    SS_SOCKET_STATE_NOTINUSE = 0,
    SS_SOCKET_STATE_LISTENING = 1,
    SS_SOCKET_STATE_CONNECTING = 2,
    SS_SOCKET_STATE_SENDING = 3,
    SS_SOCKET_STATE_RECEIVING = 4,
    SS_SOCKET_STATE_MULTICAST_LISTENING = 5,
    SS_SOCKET_STATE_MULTICAST_SENDING = 6,
    SS_SOCKET_STATE_CLOSING = 7,
};
// The state names, indexed by the value (0..7).
extern const char* const SS_SOCKET_STATE_NAMES[8];

constexpr int SS_SOCKET_BUFFER_SIZE = 6144;        // UDP receive buffer; longer texts go as fragments
constexpr int SS_SOCKET_FRAGMENT_PIECE = 1440;     // payload bytes per fragment (the last may be less)
constexpr int SS_SOCKET_FRAGMENT_HEADER = 24;      // marker, sequence, index, total, piece length
constexpr int SS_SOCKET_FRAGMENT_PAUSE_MS = 5;     // pause between fragments, for the device's buffer
extern const char SS_SOCKET_MULTIDATA_MARKER[17];  // "__SS_MULTIDATA__" (16 bytes on the wire)

// One socket. Used by one thread at a time, except that other threads may send from a listening
// record (`from` below) while its owner receives: the descriptor does not change until it is freed.
struct SS_Socket {
    int descriptor = -1;      // -1 while there is none
    std::string addressText;  // dotted: the remote of a client, "127.0.0.1" for a listener, the
                              // sender of the last datagram after a UDP receive
    int port = -1;            // the port given at creation
    int kind = SS_SOCKET_TCP;
    int state = SS_SOCKET_STATE_NOTINUSE;
    sockaddr_in address{};    // remote of a client; bound local address of a listener; last sender
    int waitTimeoutMs = 200;  // receive wait
    int (*errorReporter)(SS_Socket*) = nullptr;  // _SS_Socket_logLastError
};

// Closes the descriptor (when there is one) and frees the record; null allowed.
void SS_Socket_free(SS_Socket* socket);
struct SS_SocketDeleter {
    void operator()(SS_Socket* socket) const { SS_Socket_free(socket); }
};
using SS_SocketPtr = std::unique_ptr<SS_Socket, SS_SocketDeleter>;

// Starts the socket library once per process; on failure logs "Can't initialize socket library\n"
// and ends the process with exit code -1.
void initializeNetworkDriver();

// A new record of the kind: state NOTINUSE, no descriptor, port -1, wait 200 ms, error reporter set.
SS_SocketPtr _SS_Socket_new(int kind);

// Creates the descriptor (datagram for kind 1, stream for kind 0) with SO_REUSEADDR. 0 or -1 (logged).
int _SS_Socket_open(SS_Socket* socket, int kind);

// Non-blocking (1) or blocking (0) mode. 0, or -1 after logging "Error setting sock to non-block\n".
int _SS_Socket_setBlockMode(SS_Socket* socket, int nonBlocking);

// Fills in the IPv4 address of a canonical dotted text (ss_ip_parseCanonical; never a name look-up).
// 1, or 0 for any other text and for 255.255.255.255 (logged; the address is then 0.0.0.0). The
// family is set to IPv4; the port is left alone.
int _SS_Socket_initAddress(sockaddr_in* address, const char* host);

// A client record for host and port: for UDP an address holder, for TCP a connected stream (blocking
// connect with the system's time-out). Non-blocking when handed out. Null when a TCP connect fails.
SS_SocketPtr _SS_Socket_newClientSocket(const char* host, int port, int kind);

// A non-blocking UDP socket bound to any local address on the port (SO_REUSEADDR, so a port that
// another socket of the process holds still binds). Null when the bind fails. Port 0 binds a port the
// system picks (the record keeps 0; getsockname tells the real one).
SS_SocketPtr SS_Socket_newUdpServerSocket(int port);

// 1 when data can be read within the record's wait timeout, else 0 (an error sets state -1).
int _SS_Socket_waitReadable(SS_Socket* socket);
// The same within `milliseconds` (0: a look without waiting).
int SS_Socket_waitReadableFor(SS_Socket* socket, int milliseconds);

// Receives one datagram of at most 6144 bytes when one arrives within the wait. `data` gets its bytes
// (std::string keeps a zero byte after them) and `length` their count; the sender goes into the
// record's address and address text. Nothing within the wait: `data` empty, result 0. A receive
// error, or a datagram longer than 6144 bytes (never cut into a different message), logs
// "Receive message error.", sets state -1 and gives -1. Null record -1.
int _SS_Socket_recvUDPData_plain(SS_Socket* socket, std::optional<std::string>& data, int& length);

// Receives a text. UDP: one datagram, result 0 whatever came; `text` is the datagram up to its first
// zero byte, or empty when nothing came. TCP: bytes one at a time while they arrive within the wait,
// stopping after "\r\n\r\n" (the last "\r\n" is cut, later bytes stay unread); -1 when nothing was
// read. Null record -1.
int SS_Socket_receive_plain(SS_Socket* socket, std::optional<std::string>& text);

// Sends a text with its terminating zero byte to `destination`: one datagram up to 6144 bytes, else
// fragments. Refuses (-1) a null destination and an invalid text (null, empty, "(null)", "NULL").
// Sends from `from`'s own descriptor when `from` is not null (so the peer's answer reaches that
// socket; a throw-away socket sharing its port could steal the answer on Linux), otherwise from a
// throw-away socket. Safe from any thread.
int SS_Socket_send_plain(const sockaddr_in* destination, const char* text, const SS_Socket* from);

// SS_Socket_send_plain to `port` of `host` (a dotted text, read as _SS_Socket_initAddress does;
// any other text is refused with -1 and logged).
int SS_Socket_sendTo(const char* host, int port, const char* text, const SS_Socket* from);

// Sends one datagram of `length` bytes, from `from`'s descriptor (waiting briefly when the
// non-blocking socket would block) or, when `from` is null or has no descriptor, from a throw-away
// socket (bound to `from`'s address when there is one). 0, or -1 (logged).
int _SS_Socket_sendUDPData_plain(const SS_Socket* from, const sockaddr_in* destination, int length,
                                 const char* bytes);

// Sends `length` bytes as one datagram (up to 1440 bytes) or as fragments of 1440 bytes paced 5 ms
// apart, all with one new sequence number. 0, or -1 when a send failed (the fragments after it are
// not sent) or the payload has 65536 bytes or more (the 16-bit fields cannot describe it).
int _SS_Socket_sendMultiData(const sockaddr_in* destination, int length, const SS_Socket* from,
                             const char* bytes);

// One fragment: marker, sequence, index, total length, piece length (little-endian u16) and the
// piece. Its size is 24 + pieceLength.
std::string _SS_Socket_newMultiData(uint16_t sequence, uint16_t index, uint16_t totalLength,
                                    uint16_t pieceLength, const char* piece);

// The next fragment sequence number (process-wide, own lock): 1001 first, 1000 after 65535.
uint16_t _SS_Socket_nextSequence();
// For tests: makes `last` the most recently handed-out sequence number.
void _SS_Socket_setSequence(uint16_t last);

// Logs the text of the calling thread's last socket error (Winsock numbering) with the record's
// descriptor, one ERROR line. Null record: nothing. Returns 0.
int _SS_Socket_logLastError(SS_Socket* socket);

// The format of the error text for a Winsock code (one "%d" for the descriptor), or null for a code
// without its own text (the unknown-error text "Socket[%d] Error: Unknow error %d.\n" is used then).
const char* _SS_Socket_errorFormat(int code);
